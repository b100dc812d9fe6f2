#include "store/pg/PgRowHistory.h"

#include "engine/DbfFieldCodec.h"
#include "store/RowHistory.h"
#include "store/pg/PgRecordSource.h"
#include "store/pg/PgVerify.h"

PgRowHistory::PgRowHistory(pgchain::Chain history, audit::Author author)
    : history_(std::move(history)), author_(std::move(author))
{
}

void PgRowHistory::setChangedOutside(const QList<int>& records)
{
    for (int r : records)
        changedOutside_.insert(r);
}

qint64 PgRowHistory::beforeWrite(Change change, int recNo, const std::vector<DbfField>& fields, const QByteArray& before,
                                 const QByteArray& after)
{
    if (!source_)
        throw EDatabaseError(QStringLiteral("Row %1 is not changed: its history has no connection").arg(recNo));
    using Kind = audit::ChangeHistory::Kind;
    audit::JsonLine body;
    QString kind;
    switch (change) {
    case Change::Insert:
        recNo = source_->reserveAppend();
        body = audit::ChangeHistory::valuesBody(Kind::Entered, recNo, author_, false, RowHistory::valuesOf(fields, after.constData()));
        kind = QStringLiteral("entered");
        break;
    case Change::Delete:
        body = audit::ChangeHistory::valuesBody(Kind::Deleted, recNo, author_, false, RowHistory::valuesOf(fields, before.constData()));
        kind = QStringLiteral("deleted");
        break;
    case Change::Edit: {
        if (changedOutside_.contains(recNo))
            noteOutside(recNo, fields, before);
        QList<audit::FieldChange> changes;
        for (const DbfField& f : fields) {
            const QString old = dbfcodec::rawText(f, before.constData());
            const QString now = dbfcodec::rawText(f, after.constData());
            if (old != now)
                changes.append({f.name, old, now});
        }
        if (changes.isEmpty())
            return 0;  // written as it was: nothing to enter
        body = audit::ChangeHistory::changeBody(recNo, author_, false, changes);
        kind = QStringLiteral("edit");
        break;
    }
    }
    pg::Connection& c = source_->connection();
    const auto locked = history_.lock(c);
    return history_.append(c, locked, body, kind, recNo).seq;
}

void PgRowHistory::refused(int recNo, const std::vector<DbfField>& fields, const QByteArray& read,
                           const QByteArray& tried, const QByteArray& now) noexcept
{
    if (!source_)
        return;
    try {
        pg::Connection& c = source_->connection();
        const auto locked = history_.lock(c);
        history_.append(c, locked,
                        audit::ChangeHistory::refusedBody(recNo, author_, RowHistory::refusedChanges(fields, read, tried, now)),
                        QStringLiteral("refused"), recNo);
    } catch (const std::exception& e) {
        // The refusal stands and is said to the user; only its entry is missing.
        qWarning("History: the refused edit of row %d has no entry: %s", recNo, e.what());
    }
}

void PgRowHistory::noteOutside(int recNo, const std::vector<DbfField>& fields, const QByteArray& before)
{
    pg::Connection& c = source_->connection();
    PgTrail trail(c);
    const auto expected = audit::expectedRows(trail, fields, {recNo});
    const auto it = expected.constFind(recNo);
    QList<audit::FieldChange> outside;
    if (it != expected.constEnd())
        for (qsizetype f = 0; f < it->values.size() && size_t(f) < fields.size(); ++f) {
            const QString found = dbfcodec::rawText(fields[size_t(f)], before.constData());
            if (it->values[f].second != found)
                outside.append({fields[size_t(f)].name, it->values[f].second, found});
        }
    if (!outside.isEmpty()) {
        const auto locked = history_.lock(c);
        history_.append(c, locked, audit::ChangeHistory::outsideBody(recNo, author_, outside), QStringLiteral("outside"), recNo);
    }
    // Noted once; the transaction failing leaves it to the next check.
    changedOutside_.remove(recNo);
}

void PgRowHistory::attachTable(TTable& table, const QString& uri, const QString& name, PgRowHistory& history,
                               int answerWithinMs)
{
    table.SetRecordSource(name, [uri, &history, answerWithinMs] {
        auto source = std::make_unique<PgRecordSource>(uri, answerWithinMs);
        history.attach(source.get());
        return std::unique_ptr<TRecordSource>(std::move(source));
    });
    table.SetWriteObserver(&history);
}
