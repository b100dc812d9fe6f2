#include "app/TableRows.h"

#include "engine/DbfFieldCodec.h"
#include "engine/DbfFile.h"

TableRows::TableRows() = default;
TableRows::~TableRows() = default;

bool TableRows::open(const QString& fileName)
{
    close();
    try {
        file_ = std::make_unique<DbfFile>(fileName, DbfFile::Access::ReadOnly);
        return true;
    } catch (const EDatabaseError&) {
        file_.reset();
        return false;
    }
}

void TableRows::close() { file_.reset(); }

void TableRows::refresh()
{
    if (file_)
        file_->refresh();
}

int TableRows::recordCount() const { return file_ ? file_->recordCount() : 0; }

bool TableRows::isDeleted(int recNo)
{
    if (!file_ || recNo < 1 || recNo > file_->recordCount())
        return false;
    return file_->isDeleted(recNo - 1);
}

QString TableRows::text(int recNo, const QString& fieldName)
{
    if (!file_ || recNo < 1 || recNo > file_->recordCount())
        return {};
    const int f = file_->fieldIndex(fieldName);
    if (f < 0)
        return {};
    try {
        return dbfcodec::text(file_->fields()[size_t(f)], file_->record(recNo - 1), file_->memo());
    } catch (const EDatabaseError&) {
        return {};
    }
}

int TableRows::displayWidth(const QString& fieldName) const
{
    if (!file_)
        return 10;
    const int f = file_->fieldIndex(fieldName);
    if (f < 0)
        return 10;
    const DbfField& field = file_->fields()[size_t(f)];
    return field.type == 'D' ? 10 : std::max(1, field.length);
}
