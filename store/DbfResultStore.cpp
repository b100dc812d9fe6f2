#include "store/DbfResultStore.h"

#include "engine/DataSet.h"
#include "engine/DbfFieldCodec.h"
#include "engine/DbfFile.h"
#include "audit/RecordStory.h"
#include "store/PeriodQuery.h"
#include "store/ResultTable.h"
#include "store/Statements.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cstring>
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

    // The record (from 1) of an undeleted recent row with this key, as the file holds it now;
    // 0 when none.
    int find(const QByteArray& k)
    {
        const auto found = latest_.constFind(k);
        if (found == latest_.constEnd())
            return 0;
        const QByteArray now = file_->readFresh(found.value());
        if (!now.isEmpty() && now[0] != '*' && key(now.constData()) == k)
            return found.value() + 1;
        // Changed since it was read (deleted or edited by staff): read the recent rows again.
        clear();
        const int count = file_->recordCount();
        scanFrom(count - kRecentRows, count);
        return latest_.value(k, -1) + 1;
    }

    // True when record's date and time are the key's (its first two fields).
    bool sameWhen(const QByteArray& record, const QByteArray& k) const
    {
        qsizetype at = 0;
        for (int i = 0; i < 2; ++i) {
            const DbfField* f = fields_[size_t(i)];
            if (record.size() < f->offset + f->length || k.size() < at + f->length
                || std::memcmp(record.constData() + f->offset, k.constData() + at, size_t(f->length)) != 0)
                return false;
            at += f->length;
        }
        return true;
    }

    // Records in the file as last read.
    int count() const { return file_ ? file_->recordCount() : 0; }

    // The record as the file holds it now (empty past its end).
    QByteArray fresh(int index) { return file_->readFresh(index); }

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
      recent_(std::make_unique<RecentRows>(resulttable::tableFile(folder_))),
      archive_(std::make_unique<audit::MessageArchive>(folder_)),
      history_(std::make_unique<audit::ChangeHistory>(folder_)),
      rowHistory_(std::make_unique<RowHistory>(*history_)),
      index_(std::make_unique<DbfNameIndex>(resulttable::tableFile(folder_)))
{
    rowHistory_->setOnWritten([this](int record) { index_->noteWritten(record); });
}

// The index is kept for the next start only when the program ends as it should.
DbfResultStore::~DbfResultStore()
{
    index_->save();
}

RowFinder& DbfResultStore::finder() { return *index_; }

void DbfResultStore::openFinder() { index_->open(); }

QString DbfResultStore::location() const { return resulttable::tableFile(folder_); }

audit::Identity DbfResultStore::identityOf(const ImportedRow& row)
{
    audit::Identity id;
    const QStringList& names = resulttable::keyFields();
    id.append({names[0], row.date});
    id.append({names[1], row.time});
    id.append({names[2], row.num});
    for (size_t i = 0; i < row.values.size(); ++i)
        id.append({names[qsizetype(3 + i)], row.values[i]});
    return id;
}

bool DbfResultStore::stillHolds(int record, const QByteArray& key)
{
    // The row must be there, undeleted, with the message's date and time: a table put back from
    // an older copy may hold another row under that number. Staff correct values, never when
    // the analyser measured.
    const QByteArray now = recent_->fresh(record - 1);
    if (now.isEmpty() || now[0] == '*')
        return false;
    // keyOf's first two fields are DAT and TIM, in the record's own layout.
    return recent_->sameWhen(now, key);
}

ResultStore::Stored DbfResultStore::store(const ImportedRow& row, const audit::ReceivedMessage& message)
{
    recent_->catchUp();
    const QByteArray key = recent_->keyOf(row);
    const bool archiving = !message.bytes.isEmpty();
    const audit::Identity identity = identityOf(row);
    try {
        if (archiving) {
            const int known = archive_->recordOf(audit::identityId(identity));
            if (known > 0 && stillHolds(known, key)) {
                if (!archive_->archived(message.captureKey()))
                    archive_->archive(message, audit::MessageArchive::Outcome::Resend, identity, known);
                return {Insert::AlreadyStored, known};
            }
        }
        if (const int found = recent_->find(key)) {
            // Stored before: a crash came between the row and its archive entry, or the analyser
            // sent the result again (a row older than the archive, or one it never archived).
            if (archiving && !archive_->archived(message.captureKey())) {
                // Its own row when that is the table's last and no message claims it: the crash
                // came between the row and its entry (the import takes waiting messages first,
                // before anything else appends). Otherwise the row has its origin elsewhere (an
                // adoption, an earlier message) and this is the result sent again.
                const bool itsOwn = found == recent_->count()
                                    && archive_->recordOf(audit::identityId(identity)) != found;
                archive_->archive(message,
                                  itsOwn ? audit::MessageArchive::Outcome::Stored
                                         : audit::MessageArchive::Outcome::Resend,
                                  identity, found);
            }
            return {Insert::AlreadyStored, found};
        }
    } catch (const audit::AuditError& e) {
        throw EStoreAway(QStringLiteral("The message archive cannot be written: %1").arg(e.text()));
    } catch (const ERowRefused&) {
        throw;
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
    int record = 0;
    try {
        recent_->catchUp();
        record = recent_->find(key);
        if (archiving)
            archive_->archive(message, audit::MessageArchive::Outcome::Stored, identity, record);
        index_->noteWritten(record);
    } catch (const audit::AuditError& e) {
        // The row is stored; the message waits, and the next try finds its row and archives it.
        throw EStoreAway(QStringLiteral("The message archive cannot be written: %1").arg(e.text()));
    } catch (const Exception& e) {
        throw EStoreAway(e.message());
    }
    return {Insert::Stored, record};
}

void DbfResultStore::setAside(const audit::ReceivedMessage& message, const ImportedRow* row, const QString& reason)
{
    try {
        if (!archive_->archived(message.captureKey()))
            archive_->archive(message, audit::MessageArchive::Outcome::Rejected, row ? identityOf(*row) : audit::Identity{},
                              0, reason);
    } catch (const audit::AuditError& e) {
        throw EStoreAway(QStringLiteral("The message archive cannot be written: %1").arg(e.text()));
    }
}

ResultStore::AuditOpened DbfResultStore::openAudit(int keepDays)
{
    AuditOpened told;
    try {
        archive_->prune(keepDays, QDate::currentDate());
        // Without a table there is nothing to adopt or compare; opening it says why, once.
        if (!QFileInfo::exists(location()))
            return told;
        DbfFile file(location(), DbfFile::Access::ReadOnly);
        const std::vector<DbfField>& fields = file.fields();
        const qint64 adopted = history_->adoptIfNew([&](int from, const audit::ChangeHistory::RowSink& sink) {
            const int count = file.recordCount();
            file.scan(std::max(from - 1, 0), count, [&](int index, const char* record) {
                if (record[0] != '*')
                    sink(index + 1, RowHistory::valuesOf(fields, record));
            });
        });
        told.adopted = adopted;
        for (const audit::ChangeHistory::Pending& p : history_->unresolved(30)) {
            const QByteArray now = file.readFresh(p.record - 1);
            bool inTable = false;
            if (!now.isEmpty()) {
                const bool deleted = now[0] == '*';
                QHash<QString, QString> texts;
                for (const auto& [field, text] : RowHistory::valuesOf(fields, now.constData()))
                    texts.insert(field, text);
                auto holds = [&](const audit::RowValues& values) {
                    for (const auto& [field, text] : values)
                        if (texts.value(field) != text)
                            return false;
                    return true;
                };
                switch (p.kind) {
                case audit::ChangeHistory::Kind::Edit: {
                    audit::RowValues after;
                    for (const audit::FieldChange& c : p.changes)
                        after.append({c.field, c.after});
                    inTable = !deleted && holds(after);
                    break;
                }
                case audit::ChangeHistory::Kind::Entered:
                case audit::ChangeHistory::Kind::Restored:
                    inTable = !deleted && holds(p.values);
                    break;
                case audit::ChangeHistory::Kind::Deleted:
                    inTable = deleted;
                    break;
                }
            }
            history_->resolve(p, inTable);
            if (!inTable)
                told.notApplied << QStringLiteral("A change to row %1 was not made: the program stopped before it reached the table.")
                            .arg(p.record);
        }
    } catch (const audit::AuditError& e) {
        throw EStoreAway(QStringLiteral("The audit trail cannot be written: %1").arg(e.text()));
    } catch (const Exception& e) {
        throw EStoreAway(e.message());
    }
    return told;
}

audit::VerifyReport DbfResultStore::checkRecent(int days, const std::atomic_bool* cancel) const
{
    audit::VerifyOptions options;
    options.tableFile = location();
    options.days = days;
    options.cancel = cancel;
    return audit::verify(folder_, options);
}

void DbfResultStore::noteChangedOutside(const QList<int>& records)
{
    rowHistory_->setChangedOutside(records);
    rowHistory_->setExpected([folder = folder_](int record, const std::vector<DbfField>& fields) {
        QHash<QString, QString> texts;
        const auto rows = audit::expectedRows(folder, fields, {record});
        if (const auto it = rows.constFind(record); it != rows.constEnd())
            for (const auto& [field, text] : it->values)
                texts.insert(field, text);
        return texts;
    });
}

void DbfResultStore::restore(int record)
{
    DbfFile file(location(), DbfFile::Access::ReadWrite);
    DbfFile::WriteLock lock(file);
    const QByteArray now = file.readFresh(record - 1);
    if (now.isEmpty())
        throw EDatabaseError(QStringLiteral("Row %1 is not in the table").arg(record));
    if (now[0] != '*')
        throw EDatabaseError(QStringLiteral("Row %1 is not deleted").arg(record));
    const audit::RecordStory story = audit::storyOf(folder_, record);
    qint64 seq = 0;
    try {
        seq = history_->restored(record, RowHistory::valuesOf(file.fields(), now.constData()), story.deletedEntry);
    } catch (const audit::AuditError& e) {
        throw EDatabaseError(QStringLiteral("Row %1 is not restored: its history entry cannot be written: %2")
                                 .arg(record)
                                 .arg(e.text()));
    }
    file.setDeleted(record - 1, false);
    index_->noteWritten(record);
    try {
        history_->applied(seq, record);
    } catch (const audit::AuditError& e) {
        qWarning("History: row %d is restored but its entry cannot be completed: %s", record, qUtf8Printable(e.text()));
    }
}

void DbfResultStore::selectPeriod(TQuery& query, const QDate& first, const QDate& last)
{
    query.Close();
    query.SQL.clear();
    query.SQL << (periodquery::isOneDay(first, last) ? singleDaySelect(folder_, first)
                                                     : rangeSelect(folder_, first, last));
    query.Open();
}

void DbfResultStore::attachRows(TTable& table)
{
    table.SetTableName(location());
    table.SetWriteObserver(rowHistory_.get());
}
