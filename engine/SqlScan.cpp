#include "engine/SqlScan.h"

#include "engine/DbfFieldCodec.h"
#include "engine/DbfSqlTable.h"

#include <cstring>
#include <mutex>
#include <optional>

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

// Memory for kept records, in blocks that go back to a small pool when a result is closed: a
// query run again (the period query is, day after day) then writes into pages already mapped
// instead of having the system hand out and clear fresh ones.
class BlockPool {
public:
    static constexpr qsizetype kBlockBytes = 1 << 20;
    static constexpr size_t kMaxPooled = 128;   // as much as one result may keep

    static BlockPool& instance()
    {
        // Never destroyed: a result held by a static object may give its blocks back at exit.
        static BlockPool* pool = new BlockPool;
        return *pool;
    }

    std::unique_ptr<char[]> take()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!free_.empty()) {
                auto b = std::move(free_.back());
                free_.pop_back();
                return b;
            }
        }
        return std::make_unique_for_overwrite<char[]>(kBlockBytes);
    }

    void give(std::unique_ptr<char[]> block)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (free_.size() < kMaxPooled)
            free_.push_back(std::move(block));
    }

private:
    std::mutex mutex_;
    std::vector<std::unique_ptr<char[]>> free_;
};

// Copies of the found records, decoded when the result is read. Reading them again from the
// file would read every block that holds one, which for a selective query is most of the file.
class KeptRecords final : public SqlKeptRows {
public:
    KeptRecords(const std::vector<DbfField>& fields, const DbfMemo* memo, int recordLength, qsizetype limit)
        : fields_(fields), memo_(memo), recordLength_(recordLength), limit_(limit),
          pooled_(recordLength <= BlockPool::kBlockBytes),
          perBlock_(pooled_ ? BlockPool::kBlockBytes / recordLength : 1)
    {
    }

    ~KeptRecords() override
    {
        if (pooled_)
            for (auto& b : blocks_)
                BlockPool::instance().give(std::move(b));
    }

    bool keep(const char* record)
    {
        if ((qsizetype(count_) + 1) * recordLength_ > limit_)
            return false;
        const qsizetype slot = count_ % perBlock_;
        if (slot == 0)
            blocks_.push_back(pooled_ ? BlockPool::instance().take() : std::make_unique_for_overwrite<char[]>(size_t(recordLength_)));
        char* copy = blocks_.back().get() + slot * recordLength_;
        std::memcpy(copy, record, size_t(recordLength_));
        records_.push_back(copy);
        ++count_;
        return true;
    }

    SqlValue value(int resultRow, int column) const override
    {
        if (resultRow < 0 || resultRow >= count_)
            return std::monostate{};
        return dbfcodec::value(fields_[static_cast<size_t>(column)], records_[size_t(resultRow)], memo_);
    }

    void text(int resultRow, int column, QString& out) const override
    {
        if (resultRow < 0 || resultRow >= count_) {
            out.clear();
            return;
        }
        // A String column is a C field or one of a type this engine reads as raw text.
        dbfcodec::rawText(fields_[static_cast<size_t>(column)], records_[size_t(resultRow)], out);
    }

private:
    const std::vector<DbfField>& fields_;
    const DbfMemo* memo_;
    qsizetype recordLength_;
    qsizetype limit_;
    bool pooled_;
    qsizetype perBlock_;
    qsizetype count_ = 0;
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::vector<const char*> records_;   // each kept record, so that reading one divides nothing
};

// A condition on one date field, tested on the field's stored digits instead of a date built for
// every record; agrees with SqlCondition::matches.
class StoredDayTest {
public:
    StoredDayTest(const SqlCondition::DateRange& range, const DbfField& field) : range_(range), field_(field) {}

    // The field as the codec reads dates: eight bytes at its offset.
    static bool fits(const DbfField& field) { return field.type == 'D' && field.length == 8; }

    bool matches(const char* record) const
    {
        const int n = dbfcodec::dateDigits(field_, record);
        if (n < 0 || (n >= range_.from && n <= range_.to) == range_.negated)
            return false;
        // Digits that name no day (20230231, 00000000) match nothing; checked only for the rows
        // that pass the range test.
        return QDate::isValid(n / 10000, n / 100 % 100, n % 100);
    }

private:
    SqlCondition::DateRange range_;
    const DbfField& field_;
};

SqlSelection scanFile(DbfFile& file, const SqlCondition* where, qsizetype keepLimit)
{
    SqlSelection found;
    RecordRow row(file.fields(), file.memo());
    std::optional<StoredDayTest> dayTest;
    if (where)
        if (const auto range = where->dateRange(); range && StoredDayTest::fits(file.fields()[size_t(range->column)]))
            dayTest.emplace(*range, file.fields()[size_t(range->column)]);
    auto kept = std::make_unique<KeptRecords>(file.fields(), file.memo(), file.recordLength(), keepLimit);
    bool keeping = true;
    file.scan(0, file.recordCount(), [&](int index, const char* record) {
        // The same test as DbfFile::isDeleted, without a lookup per row.
        if (record[0] == '*')
            return;
        if (dayTest) {
            if (!dayTest->matches(record))
                return;
        } else if (where) {
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
