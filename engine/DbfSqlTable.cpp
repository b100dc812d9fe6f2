#include "engine/DbfSqlTable.h"

#include "engine/DbfFieldCodec.h"
#include "engine/DbfMemo.h"

#include <map>

DbfSqlTable::DbfSqlTable(const QString& path) : file_(path, DbfFile::Access::ReadWrite)
{
    for (const DbfField& f : file_.fields())
        columns_.push_back({f.name, dbfcodec::fieldType(f), f.length, f.decimals});
}

SqlValue DbfSqlTable::value(int row, int column)
{
    const auto& fields = file_.fields();
    if (column < 0 || column >= int(fields.size()))
        throw EDatabaseError(QStringLiteral("Table '%1' has no column %2").arg(file_.path()).arg(column + 1));
    return dbfcodec::value(fields[size_t(column)], file_.record(row), file_.memo());
}

void DbfSqlTable::append(const std::vector<SqlValue>& row)
{
    const auto& fields = file_.fields();
    if (row.size() != fields.size())
        throw EDatabaseError(QStringLiteral("Table '%1': a row of %2 values for %3 columns")
                                 .arg(file_.path()).arg(row.size()).arg(fields.size()));
    // Every value is converted before anything is written: a refused value writes nothing.
    QByteArray record = file_.blankRecord();
    std::map<size_t, QByteArray> memos;
    for (size_t i = 0; i < fields.size(); ++i) {
        std::optional<QByteArray> memo;
        dbfcodec::put(fields[i], record.data(), row[i], &memo);
        if (memo)
            memos.emplace(i, std::move(*memo));
    }
    DbfFile::WriteLock lock(file_);
    for (auto& [i, bytes] : memos) {
        if (!file_.memo())
            throw EDatabaseError(QStringLiteral("Table '%1': no memo file for field '%2'").arg(file_.path(), fields[i].name));
        dbfcodec::putMemoBlock(fields[i], record.data(), file_.memo()->append(bytes));
    }
    file_.append(record);
}

std::unique_ptr<SqlTable> DbfTableOpener::open(const QString& fullPath)
{
    return std::make_unique<DbfSqlTable>(fullPath);
}
