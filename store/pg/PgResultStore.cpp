#include "store/pg/PgResultStore.h"

#include "engine/DataSet.h"
#include "engine/DateFormat.h"
#include "store/DbfResultStore.h"
#include "store/ResultTable.h"
#include "store/PeriodQuery.h"
#include "store/pg/PgPeriod.h"
#include "store/pg/PgRecordSource.h"
#include "store/pg/PgRoles.h"
#include "store/pg/PgSchema.h"
#include "store/pg/PgVerify.h"

#include <QDateTime>
#include <atomic>
#include <chrono>
#include <thread>
#include <QDeadlineTimer>

namespace {

using Outcome = audit::MessageArchive::Outcome;

// The row's texts as hematix_store takes them first (pgschema::kRowArguments). A date that is no date
// is refused here, naming the field, as the dBase codec refuses it.
std::vector<pg::Value> rowParams(const ImportedRow& row)
{
    std::vector<pg::Value> p;
    p.reserve(23);
    if (row.date.trimmed().isEmpty()) {
        p.emplace_back();
    } else {
        QDate d = datefmt::parseMonthDayYear(row.date);
        if (!d.isValid())
            d = QDate::fromString(row.date.trimmed(), Qt::ISODate);
        if (!d.isValid() || d.year() < 1 || d.year() > 9999)
            throw ERowRefused(QStringLiteral("DAT: \"%1\" is not a valid date").arg(row.date));
        p.emplace_back(d.toString(Qt::ISODate));
    }
    p.emplace_back(row.time);
    p.emplace_back(row.num);
    for (const QString& v : row.values)
        p.emplace_back(v);
    return p;
}

// The archive entry of a message after its "record" (hematix_store writes what comes before,
// once it knows the outcome and the row).
QByteArray entryRest(const audit::ReceivedMessage& message, const audit::Identity& identity, const QByteArray& captureKey)
{
    static const QByteArray head = R"({"kind":"message","outcome":"stored","record":null)";
    const QByteArray entry = audit::MessageArchive::entry(message, Outcome::Stored, identity, 0, {}, captureKey).object();
    if (!entry.startsWith(head))
        throw EDatabaseError(QStringLiteral("A message's archive entry does not begin as the database writes it"));
    return entry.mid(head.size());
}

qint64 number(const pg::Value& v) { return v ? v->toLongLong() : 0; }

} // namespace

PgResultStore::PgResultStore(QString programFolder, QString uri, audit::Chain::Clock clock)
    : folder_(std::move(programFolder)),
      uri_(std::move(uri)),
      archive_(QStringLiteral("archive"), clock),
      history_(QStringLiteral("history"), clock),
      finder_(uri_)
{
}

PgResultStore::~PgResultStore() = default;

QString PgResultStore::location() const { return pg::maskedUri(uri_); }

void PgResultStore::setAnswerWithin(int ms)
{
    answerWithinMs_ = ms;
    finder_.setAnswerWithin(ms);
    connection_.reset();
}

bool PgResultStore::reachable(QString* why)
{
    try {
        guarded(QStringLiteral("Asking the server"), [&] { connection().exec(QStringLiteral("SELECT 1")); });
        return true;
    } catch (const EDatabaseError& e) {
        if (why)
            *why = e.message();
        return false;
    }
}

bool PgResultStore::writable(QString* who)
{
    try {
        guarded(QStringLiteral("Reading the user's rights"), [&] { connection(); });
    } catch (const EDatabaseError&) {
        return true;  // not known yet: asked again when the server answers
    }
    if (who)
        *who = user_;
    return writable_;
}

bool PgResultStore::rowsOffline() const
{
    return rowHistory_ && rowHistory_->source() && rowHistory_->source()->offline();
}

pg::Connection& PgResultStore::connection()
{
    if (!connection_) {
        auto c = std::make_unique<pg::Connection>(uri_, 10, answerWithinMs_);
        pgschema::check(*c);
        writable_ = pgroles::userMayWrite(*c, &user_);
        connection_ = std::move(c);
        ++connections_;
    }
    return *connection_;
}

template <class F> auto PgResultStore::guarded(const QString& what, F work) -> decltype(work())
{
    try {
        return work();
    } catch (const ERowRefused&) {
        throw;
    } catch (const EStoreAway&) {
        connection_.reset();
        throw;
    } catch (const EDatabaseError& e) {
        // Not the row's fault (a schema missing or newer, a statement refused): the message waits.
        throw EStoreAway(QStringLiteral("%1 in %2: %3").arg(what, location(), e.message()));
    }
}

ResultStore::Stored PgResultStore::store(const ImportedRow& row, const audit::ReceivedMessage& message)
{
    return storeRow(row, message, true);
}

ResultStore::Stored PgResultStore::storeUnflushed(const ImportedRow& row, const audit::ReceivedMessage& message)
{
    return storeRow(row, message, false);
}

// A commit not yet on the disk goes with its server: a flush on a later connection (the server
// may have restarted since) says nothing of it.
bool PgResultStore::flushLost() const
{
    return flushOwedOn_ != 0 && (!connection_ || connections_ != flushOwedOn_);
}

EStoreAway PgResultStore::lostBeforeFlush() const
{
    return EStoreAway(QStringLiteral("The connection to %1 was lost before its rows were known to be on its disk")
                          .arg(location()));
}

void PgResultStore::waitForDisk()
{
    connection().execPrepared("hematix_flush", pgschema::storeFlush(), {},
                              QStringLiteral("Waiting for the server's disk to hold the rows"));
}

void PgResultStore::flush()
{
    if (flushOwedOn_ == 0)
        return;
    const bool lost = flushLost();
    flushOwedOn_ = 0;
    if (lost)
        throw lostBeforeFlush();
    guarded(QStringLiteral("Waiting for the server's disk"), [&] { waitForDisk(); });
}

ResultStore::Stored PgResultStore::storeRow(const ImportedRow& row, const audit::ReceivedMessage& message, bool onDisk)
{
    const audit::Identity identity = DbfResultStore::identityOf(row);
    const bool archiving = !message.bytes.isEmpty();
    std::vector<pg::Value> params = rowParams(row);
    if (archiving) {
        const QString time = archive_.now();
        const QByteArray capture = message.captureKey();
        const QByteArray rest = entryRest(message, identity, capture);
        // The entry names the identity's id first: taken from there rather than hashed again.
        const QByteArrayView id = audit::shortKey(rest, "\"id\":");
        params.emplace_back(QString::fromLatin1(id.size() == 64 ? id.toByteArray() : audit::identityId(identity)));
        params.emplace_back(QString::fromLatin1(capture));
        params.emplace_back(time);
        params.emplace_back(QString::fromUtf8(audit::JsonLine::quote(time)));
        params.emplace_back(QString::fromUtf8(rest));
    } else {
        params.emplace_back(QString::fromLatin1(audit::identityId(identity)));
        params.resize(params.size() + 4);
    }
    if (!onDisk && flushLost())
        throw lostBeforeFlush();
    return guarded(QStringLiteral("Storing a row"), [&]() -> Stored {
        // One statement, autocommit: the row and its archive entry commit together (hematix_store).
        const pg::Result r = onDisk
                                 ? connection().execPrepared("hematix_store", pgschema::storeCall(), params,
                                                             QStringLiteral("Storing a row"))
                                 : connection().execPrepared("hematix_store_unflushed", pgschema::storeCallUnflushed(),
                                                             params, QStringLiteral("Storing a row"));
        const pg::Row& got = r.rows.at(0);
        if (!got[0])
            throw EStoreAway(QStringLiteral("The row holding a message's identity went while it was stored"));
        const Insert answer = got[1] == QStringLiteral("t") ? Insert::Stored : Insert::AlreadyStored;
        if (!onDisk) {
            flushOwedOn_ = connections_;
            return {answer, int(number(got[0])), false};
        }
        // Committed, but perhaps not yet on the server's disk: the capture waits until it is.
        if (got[2] != QStringLiteral("t"))
            waitForDisk();
        return {answer, int(number(got[0]))};
    });
}

void PgResultStore::setAside(const audit::ReceivedMessage& message, const ImportedRow* row, const QString& reason)
{
    guarded(QStringLiteral("Archiving a message set aside"), [&] {
        pg::Connection& c = connection();
        pg::Connection::Transaction transaction(c);
        const auto locked = archive_.lock(c);
        const QByteArray capture = message.captureKey();
        if (c.exec(QStringLiteral("SELECT EXISTS (SELECT 1 FROM archive WHERE capture = $1)"), {QString::fromLatin1(capture)},
                   QStringLiteral("Looking for the capture in the archive"))
                .scalar()
            == QStringLiteral("t"))
            return;
        archive_.append(c, locked,
                        audit::MessageArchive::entry(message, Outcome::Rejected,
                                                     row ? DbfResultStore::identityOf(*row) : audit::Identity{}, 0, reason),
                        QStringLiteral("message"), std::nullopt, capture);
        transaction.commit();
    });
}

ResultStore::AuditOpened PgResultStore::openAudit(int keepDays)
{
    // Nothing to adopt (the rows came through this store, each with its entry) and nothing left
    // pending (a change and its entry commit together). What is left is pruning the archive.
    return guarded(QStringLiteral("Pruning the archive"), [&] {
        pg::Connection& c = connection();
        // A viewing desk may not remove entries; a program that may write prunes at its start.
        if (!writable_)
            return AuditOpened{};
        pg::Connection::Transaction transaction(c);
        const auto locked = archive_.lock(c);
        const QDate oldest = QDate::currentDate().addDays(-keepDays);
        const pg::Result gone = c.exec(
            QStringLiteral("SELECT max(seq), max(record), count(*) FROM archive WHERE time < $1 AND kind <> 'pruned'"),
            {audit::timeText(oldest.startOfDay())}, QStringLiteral("Finding the archive's old entries"));
        const qint64 lastSeq = number(gone.rows.at(0)[0]);
        if (lastSeq == 0)
            return AuditOpened{};
        const pg::Value lastLine = c.exec(QStringLiteral("SELECT entry FROM archive WHERE seq = $1"), {QString::number(lastSeq)},
                                          QStringLiteral("Reading the last old entry")).scalar();
        audit::JsonLine line;
        line.add("kind", QStringLiteral("pruned"));
        line.add("before", oldest.toString(Qt::ISODate));
        line.add("lastSeq", lastSeq);
        line.add("last", QString::fromLatin1(audit::sha256Hex(lastLine.value_or(QString()).toUtf8())));
        line.add("records", number(gone.rows[0][1]));
        line.add("entries", number(gone.rows[0][2]));
        archive_.append(c, locked, line, QStringLiteral("pruned"));
        c.exec(QStringLiteral("DELETE FROM archive WHERE seq <= $1"), {QString::number(lastSeq)},
               QStringLiteral("Removing the archive's old entries"));
        transaction.commit();
        return AuditOpened{};
    });
}

audit::VerifyReport PgResultStore::checkRecent(int days, const std::atomic_bool* cancel) const
{
    audit::VerifyOptions options;
    options.days = days;
    options.cancel = cancel;
    try {
        // A connection of its own (pgverify's): this runs beside the program, on another thread.
        return pgverify::verify(uri_, options);
    } catch (const Exception& e) {
        audit::VerifyReport report;
        report.rounds = 1;
        report.breaks << QStringLiteral("The audit trail in %1 cannot be read: %2").arg(location(), e.message());
        return report;
    }
}

PgRowHistory& PgResultStore::rowHistory()
{
    if (!rowHistory_)
        rowHistory_ = std::make_unique<PgRowHistory>(history_);
    return *rowHistory_;
}

void PgResultStore::noteChangedOutside(const QList<int>& records)
{
    rowHistory().setChangedOutside(records);
}

audit::RecordStory PgResultStore::storyOf(int record)
{
    return guarded(QStringLiteral("Reading the story of row %1").arg(record),
                   [&] { return pgverify::storiesOf(connection(), {record}).value(0); });
}

QList<QJsonObject> PgResultStore::messagesOfDay(const QDate& day)
{
    return guarded(QStringLiteral("Reading the archive"), [&] { return pgverify::messagesOfDay(connection(), day); });
}

void PgResultStore::restore(int record)
{
    const QString what = QStringLiteral("Restoring row %1").arg(record);
    try {
        pg::Connection& c = connection();
        if (!writable_)
            throw EDatabaseError(QStringLiteral("Row %1 is not restored: the database user %2 may only read the results")
                                     .arg(record)
                                     .arg(user_));
        pg::Connection::Transaction transaction(c);
        const auto locked = history_.lock(c);
        const pg::Result r = c.exec(QStringLiteral("SELECT deleted, %1 FROM results WHERE id = $1 FOR UPDATE").arg(PgFinder::valuesColumns()),
                                    {QString::number(record)}, what);
        if (r.rows.empty())
            throw EDatabaseError(QStringLiteral("Row %1 is not in the table").arg(record));
        if (r.rows[0][0] != QStringLiteral("t"))
            throw EDatabaseError(QStringLiteral("Row %1 is not deleted").arg(record));
        const qint64 deletedEntry = number(
            c.exec(QStringLiteral("SELECT max(seq) FROM history WHERE record = $1 AND kind = 'deleted'"), {QString::number(record)}, what)
                .scalar());
        // As ChangeHistory writes it, without "state": the entry and the row commit together, so
        // nothing is ever left pending.
        const audit::Author author = audit::Author::ofThisProcess();
        audit::JsonLine line;
        line.add("kind", QStringLiteral("restored"));
        line.add("record", record);
        if (deletedEntry > 0)
            line.add("of", deletedEntry);
        line.add("user", author.user).add("host", author.host).add("pid", author.pid);
        line.addRaw("values", audit::valuesJson(PgFinder::valuesOf(r.rows[0], 1)));
        history_.append(c, locked, line, QStringLiteral("restored"), record);
        try {
            c.exec(QStringLiteral("UPDATE results SET deleted = false WHERE id = $1"), {QString::number(record)}, what);
        } catch (const ERowRefused&) {
            // The unique index: the analyser sent the message again after the deletion.
            const pg::Value other = c.exec(QStringLiteral("SELECT r.id FROM results r JOIN results d ON d.identity_key = r.identity_key "
                                                          "WHERE d.id = $1 AND NOT r.deleted"),
                                           {QString::number(record)}, what).scalar();
            throw EDatabaseError(QStringLiteral("Row %1 is not restored: row %2 holds the same message").arg(record).arg(other.value_or(QStringLiteral("?"))));
        }
        transaction.commit();
    } catch (const EStoreAway& e) {
        connection_.reset();
        throw EDatabaseError(QStringLiteral("Row %1 is not restored: %2").arg(record).arg(e.message()));
    }
}

void PgResultStore::selectPeriod(TQuery& query, const QDate& first, const QDate& last)
{
    query.Close();
    // One day as the dBase store decides it: the dates read the same in the short date format.
    const QDate to = periodquery::isOneDay(first, last) ? first : last;
    std::shared_ptr<SqlRowSet> rows = guarded(QStringLiteral("Selecting a period's rows"), [&] {
        if (answerWithinMs_ <= 0)
            return pgperiod::select(connection(), first, to);
        // On the window's thread: a long range may take longer than the window may wait, so the
        // rows are read beside it while it keeps its events going, for a minute at most; a
        // reader given up ends by itself and frees what it read.
        struct Read {
            std::shared_ptr<SqlRowSet> rows;
            std::exception_ptr error;
            std::atomic_bool done{false};
        };
        auto read = std::make_shared<Read>();
        std::thread([read, uri = uri_, first, to] {
            try {
                pg::Connection c(uri, 10);
                read->rows = pgperiod::select(c, first, to);
            } catch (...) {
                read->error = std::current_exception();
            }
            read->done = true;
        }).detach();
        constexpr int kPeriodWaitMs = 60000;
        const QDeadlineTimer deadline(kPeriodWaitMs);
        while (!read->done) {
            if (deadline.hasExpired())
                throw EStoreAway(QStringLiteral("Selecting a period's rows on %1: no answer within %2 s")
                                     .arg(location()).arg(kPeriodWaitMs / 1000));
            if (whileWaiting_)
                whileWaiting_();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (read->error)
            std::rethrow_exception(read->error);
        return read->rows;
    });
    query.OpenRows(std::move(rows));
}

void PgResultStore::attachRows(TTable& table)
{
    PgRowHistory::attachTable(table, uri_, location(), rowHistory(), answerWithinMs_);
}
