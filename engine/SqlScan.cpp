#include "engine/SqlScan.h"

#include "engine/DbfFieldCodec.h"
#include "engine/DbfSqlTable.h"

namespace {

// Values of a row read from its record bytes during a scan.
class RecordRow final : public SqlRowSource {
public:
    RecordRow(const std::vector<DbfField>& fields, const DbfMemo* memo) : fields_(fields), memo_(memo) {}
    void at(const char* record) { record_ = record; }
    SqlValue value(int column) override
    {
        return dbfcodec::value(fields_[static_cast<size_t>(column)], record_, memo_);
    }

private:
    const std::vector<DbfField>& fields_;
    const DbfMemo* memo_;
    const char* record_ = nullptr;
};

// Copies of the found records, decoded when the result is read. Reading them again from the
// file would read every block that holds one, which for a selective query is most of the file.
class KeptRecords final : public SqlKeptRows {
public:
    KeptRecords(const std::vector<DbfField>& fields, const DbfMemo* memo, int recordLength, qsizetype limit)
        : fields_(fields), memo_(memo), recordLength_(recordLength), limit_(limit) {}

    bool keep(const char* record)
    {
        if (bytes_.size() + recordLength_ > limit_)
            return false;
        bytes_.append(record, recordLength_);
        return true;
    }

    SqlValue value(int resultRow, int column) const override
    {
        const qsizetype at = qsizetype(resultRow) * recordLength_;
        if (resultRow < 0 || at + recordLength_ > bytes_.size())
            return std::monostate{};
        return dbfcodec::value(fields_[static_cast<size_t>(column)], bytes_.constData() + at, memo_);
    }

private:
    const std::vector<DbfField>& fields_;
    const DbfMemo* memo_;
    qsizetype recordLength_;
    qsizetype limit_;
    QByteArray bytes_;
};

SqlSelection scanFile(DbfFile& file, const SqlCondition* where, qsizetype keepLimit)
{
    SqlSelection found;
    RecordRow row(file.fields(), file.memo());
    auto kept = std::make_unique<KeptRecords>(file.fields(), file.memo(), file.recordLength(), keepLimit);
    bool keeping = true;
    file.scan(0, file.recordCount(), [&](int index, const char* record) {
        // The same test as DbfFile::isDeleted, without a lookup per row.
        if (record[0] == '*')
            return;
        if (where) {
            row.at(record);
            if (!where->matches(row))
                return;
        }
        found.rows.push_back(index);
        if (keeping && !kept->keep(record)) {
            keeping = false;
            kept.reset();
        }
    });
    if (keeping)
        found.kept = std::move(kept);
    return found;
}

} // namespace

SqlSelection selectSqlRows(SqlTable& table, const SqlCondition* where, qsizetype keepLimit)
{
    if (auto* dbf = dynamic_cast<DbfSqlTable*>(&table))
        return scanFile(dbf->file(), where, keepLimit);

    SqlSelection found;
    std::vector<int>& rows = found.rows;
    const int count = table.rowCount();
    for (int r = 0; r < count; ++r) {
        if (table.isDeleted(r))
            continue;
        if (!where || where->matches(table, r))
            rows.push_back(r);
    }
    return found;
}
