#include "store/DbfResultStore.h"

#include "engine/DataSet.h"
#include "engine/DbfFieldCodec.h"
#include "engine/DbfFile.h"
#include "store/PeriodQuery.h"
#include "store/ResultTable.h"
#include "store/Statements.h"

#include <QFile>
#include <QHash>

#include <deque>
#include <sys/stat.h>

// The keys (date, time, sample number, the eighteen values as the record holds them) of the
// undeleted rows among the table's last kRecentRows records.
class DbfResultStore::RecentRows {
public:
    explicit RecentRows(QString path) : path_(std::move(path)) {}

    // Brings the keys up to the file as it is now. Raises EStoreAway when it cannot be read.
    void catchUp()
    {
        try {
            // The name may point at another file since the last insert (a table restored from a
            // copy), and a handle kept open would go on reading the old one. When the name cannot
            // be looked at, opening it says why in the engine's words.
            struct stat now {};
            const bool named = ::stat(QFile::encodeName(path_).constData(), &now) == 0;
            if (named && file_ && now.st_ino == opened_.st_ino && now.st_dev == opened_.st_dev) {
                file_->refresh();
            } else {
                file_.reset();
                file_ = std::make_unique<DbfFile>(path_, DbfFile::Access::ReadOnly);
                opened_ = now;
                if (!resolveFields())
                    clear();
            }
            const int count = file_->recordCount();
            if (count < scanned_)
                clear();
            // The last row read is read again with the new ones, in the same read: if its key
            // changed, the file was replaced or rewritten and every recent row is read anew.
            // Staff typing into that row leave its key alone.
            if (!scanFrom(std::max(scanned_ - 1, count - kRecentRows), count)) {
                clear();
                scanFrom(std::max(0, count - kRecentRows), count);
            }
            forgetBefore(count - kRecentRows);
        } catch (const EStoreAway&) {
            forget();
            throw;
        } catch (const Exception& e) {
            forget();
            throw EStoreAway(e.message());
        }
    }

    // The key the row would make; raises ERowRefused when the fields refuse a value.
    QByteArray keyOf(const ImportedRow& row) const
    {
        QByteArray record = file_->blankRecord();
        auto put = [&](size_t i, const QString& text) {
            try {
                dbfcodec::put(*fields_[i], record.data(), DbfValue(text));
            } catch (const Exception& e) {
                throw ERowRefused(e.message());
            }
        };
        put(0, row.date);
        put(1, row.time);
        put(2, row.num);
        for (size_t i = 0; i < row.values.size(); ++i)
            put(3 + i, row.values[i]);
        return key(record.constData());
    }

    // True when an undeleted recent row has this key, as the file holds it now.
    bool contains(const QByteArray& k)
    {
        const auto found = latest_.constFind(k);
        if (found == latest_.constEnd())
            return false;
        const QByteArray now = file_->readFresh(found.value());
        if (!now.isEmpty() && now[0] != '*' && key(now.constData()) == k)
            return true;
        // Changed since it was read (deleted or edited by staff): read the recent rows again.
        clear();
        const int count = file_->recordCount();
        scanFrom(count - kRecentRows, count);
        return latest_.contains(k);
    }

private:
    static constexpr int kKeyFieldCount = 21;

    // Points fields_ at the key fields of the file opened; false when they stand elsewhere in
    // the record than in the file read before.
    bool resolveFields()
    {
        const QStringList& names = resulttable::keyFields();
        bool same = true;
        for (qsizetype i = 0; i < names.size(); ++i) {
            const int index = file_->fieldIndex(names[i]);
            if (index < 0)
                throw EStoreAway(QStringLiteral("The result table %1 has no field %2").arg(path_, names[i]));
            const DbfField* field = &file_->fields()[size_t(index)];
            const std::pair shape{field->offset, field->length};
            same = same && fieldShape_[size_t(i)] == shape;
            fieldShape_[size_t(i)] = shape;
            fields_[size_t(i)] = field;
        }
        return same;
    }

    // Reads records from..to-1 into the keys; records before scanned_ were read before and are
    // only compared. False when the last of those no longer has the key it had.
    bool scanFrom(int from, int to)
    {
        from = std::max(from, 0);
        if (from >= to)
            return true;
        bool same = true;
        const int before = scanned_;
        file_->scan(from, to, [&](int index, const char* record) {
            QByteArray k = key(record);
            if (index < before) {
                if (index == before - 1 && k != lastKey_)
                    same = false;
                return;
            }
            if (index == to - 1)
                lastKey_ = k;
            if (record[0] != '*') {
                latest_.insert(k, index);
                window_.emplace_back(index, std::move(k));
            }
        });
        if (!same)
            return false;
        scanned_ = std::max(scanned_, to);
        return true;
    }

    void forgetBefore(int index)
    {
        while (!window_.empty() && window_.front().first < index) {
            const auto& [at, k] = window_.front();
            const auto found = latest_.find(k);
            if (found != latest_.end() && found.value() == at)
                latest_.erase(found);
            window_.pop_front();
        }
    }

    // After an error nothing read before can be trusted: the next insert opens the file anew.
    void forget()
    {
        file_.reset();
        fieldShape_ = {};
        clear();
    }

    void clear()
    {
        latest_.clear();
        window_.clear();
        scanned_ = 0;
        lastKey_.clear();
    }

    QByteArray key(const char* record) const
    {
        QByteArray k;
        k.reserve(256);
        for (const DbfField* f : fields_)
            k.append(record + f->offset, f->length);
        return k;
    }

    QString path_;
    std::unique_ptr<DbfFile> file_;
    struct stat opened_ {};                      // the file file_ was opened on
    std::array<const DbfField*, kKeyFieldCount> fields_{};
    std::array<std::pair<int, int>, kKeyFieldCount> fieldShape_{};
    QHash<QByteArray, int> latest_;              // key -> the last record holding it
    std::deque<std::pair<int, QByteArray>> window_;  // (record, key) in file order
    int scanned_ = 0;                            // records read so far
    QByteArray lastKey_;                         // the key of the last of them, as read
};

DbfResultStore::DbfResultStore(QString programFolder, TQuery* statements)
    : folder_(std::move(programFolder)),
      ownQuery_(statements ? nullptr : std::make_unique<TQuery>()),
      statements_(statements ? statements : ownQuery_.get()),
      recent_(std::make_unique<RecentRows>(resulttable::tableFile(folder_)))
{
}

DbfResultStore::~DbfResultStore() = default;

QString DbfResultStore::location() const { return resulttable::tableFile(folder_); }

ResultStore::Insert DbfResultStore::insert(const ImportedRow& row)
{
    recent_->catchUp();
    const QByteArray key = recent_->keyOf(row);
    try {
        if (recent_->contains(key))
            return Insert::AlreadyStored;
    } catch (const Exception& e) {
        throw EStoreAway(e.message());
    }
    try {
        statements_->Close();
        statements_->SQL.clear();
        statements_->SQL = insertStatement(folder_, row);
        statements_->ExecSQL();
    } catch (const Exception& e) {
        // The values fit the table's fields, so what failed is the table.
        throw EStoreAway(e.message());
    } catch (const std::exception& e) {
        throw EStoreAway(QString::fromLocal8Bit(e.what()));
    }
    return Insert::Stored;
}

void DbfResultStore::selectPeriod(TQuery& query, const QDate& first, const QDate& last)
{
    query.Close();
    query.SQL.clear();
    query.SQL << (periodquery::isOneDay(first, last) ? singleDaySelect(folder_, first)
                                                     : rangeSelect(folder_, first, last));
    query.Open();
}

void DbfResultStore::attachRows(TTable& table) { table.SetTableName(location()); }
