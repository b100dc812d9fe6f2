#include "store/RowHistory.h"

#include "engine/DbfFieldCodec.h"
#include "engine/DbfFile.h"

RowHistory::RowHistory(audit::ChangeHistory& history) : history_(history) {}

audit::RowValues RowHistory::valuesOf(const std::vector<DbfField>& fields, const char* record)
{
    audit::RowValues out;
    out.reserve(qsizetype(fields.size()));
    for (const DbfField& f : fields)
        out.append({f.name, dbfcodec::rawText(f, record)});
    return out;
}

QList<audit::FieldChange> RowHistory::refusedChanges(const std::vector<DbfField>& fields, const QByteArray& read,
                                                     const QByteArray& tried, const QByteArray& now)
{
    QList<audit::FieldChange> out;
    if (read.size() != tried.size() || read.size() != now.size())
        return out;
    for (const DbfField& f : fields) {
        const QString was = dbfcodec::rawText(f, read.constData());
        const QString mine = dbfcodec::rawText(f, tried.constData());
        const QString found = dbfcodec::rawText(f, now.constData());
        if (mine != was || found != was)
            out.append({f.name, mine, found});
    }
    return out;
}

void RowHistory::refused(int recNo, const std::vector<DbfField>& fields, const QByteArray& read, const QByteArray& tried,
                         const QByteArray& now) noexcept
{
    try {
        history_.refused(recNo, refusedChanges(fields, read, tried, now));
    } catch (const std::exception& e) {
        // The refusal stands and is said to the user; only its entry is missing.
        qWarning("History: the refused edit of record %d has no entry: %s", recNo, e.what());
    }
}

void RowHistory::setChangedOutside(const QList<int>& records)
{
    for (int r : records)
        changedOutside_.insert(r);
}

qint64 RowHistory::beforeWrite(Change change, int recNo, const std::vector<DbfField>& fields, const QByteArray& before,
                               const QByteArray& after)
{
    try {
        return enter(change, recNo, fields, before, after);
    } catch (const audit::AuditError& e) {
        throw EDatabaseError(QStringLiteral("Row %1 is not changed: its history entry cannot be written: %2")
                                 .arg(recNo)
                                 .arg(e.text()));
    }
}

qint64 RowHistory::enter(Change change, int recNo, const std::vector<DbfField>& fields, const QByteArray& before,
                         const QByteArray& after)
{
    pendingRecord_ = recNo;
    pendingBytes_ = after;
    switch (change) {
    case Change::Insert:
        return history_.entered(recNo, valuesOf(fields, after.constData()));
    case Change::Delete:
        return history_.deleted(recNo, valuesOf(fields, before.constData()));
    case Change::Edit:
        break;
    }
    // What the row should hold before this edit: what this program wrote last, else (for a row
    // the start-up check found changed) what the history says.
    QHash<QString, QString> known;
    if (const auto it = written_.constFind(recNo); it != written_.constEnd() && it->size() == before.size()) {
        for (const auto& [field, text] : valuesOf(fields, it->constData()))
            known.insert(field, text);
    } else if (changedOutside_.contains(recNo) && expected_) {
        known = expected_(recNo, fields);
    }
    QList<audit::FieldChange> outside;
    QList<audit::FieldChange> changes;
    for (const DbfField& f : fields) {
        const QString old = dbfcodec::rawText(f, before.constData());
        const QString now = dbfcodec::rawText(f, after.constData());
        if (const auto k = known.constFind(f.name); k != known.constEnd() && *k != old)
            outside.append({f.name, *k, old});
        if (old != now)
            changes.append({f.name, old, now});
    }
    if (!outside.isEmpty()) {
        history_.outside(recNo, outside);
        changedOutside_.remove(recNo);
    }
    if (changes.isEmpty())
        return 0;  // written as it was: nothing changed, nothing to enter
    return history_.edited(recNo, changes);
}

void RowHistory::afterWrite(qint64 token, bool written) noexcept
{
    if (written)
        written_.insert(pendingRecord_, pendingBytes_);
    if (token > 0) {
        try {
            if (written)
                history_.applied(token, pendingRecord_);
            else
                history_.notApplied(token, pendingRecord_, QStringLiteral("the table could not be written"));
        } catch (const std::exception& e) {
            // The pending entry stays; the next start compares it with the table and resolves it.
            qWarning("History: the change of record %d is made but its entry cannot be completed: %s",
                     pendingRecord_, e.what());
        }
    }
    if (written && onWritten_) {
        try {
            onWritten_(pendingRecord_);
        } catch (const std::exception&) {
            // What is kept beside the table is made again when it does not match.
        }
    }
}
