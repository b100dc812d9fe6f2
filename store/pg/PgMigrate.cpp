#include "store/pg/PgMigrate.h"

#include "audit/Chain.h"
#include "engine/DbfFieldCodec.h"
#include "engine/DbfFile.h"
#include "platform/durable/DurableIo.h"
#include "store/ResultTable.h"
#include "store/pg/PgChain.h"
#include "store/pg/PgConnection.h"
#include "store/pg/PgRecordSource.h"
#include "store/pg/PgSchema.h"
#include "store/pg/StoreChoice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace pgmigrate {

namespace {

using pg::Value;

// Notes past this many are counted, not listed: a source broken everywhere stays one screen.
constexpr int kMaxNotes = 50;

class Notes {
public:
    explicit Notes(QStringList& list) : list_(list) {}
    ~Notes()
    {
        if (more_ > 0)
            list_ << QStringLiteral("and %1 more like these").arg(more_);
    }
    void operator<<(const QString& text)
    {
        if (list_.size() < kMaxNotes)
            list_ << text;
        else
            ++more_;
    }

private:
    QStringList& list_;
    qint64 more_ = 0;
};

// A PostgreSQL array literal of texts, for unnest($n::type[]): a batch is one statement with a
// parameter per column, whatever its rows.
QString arrayOf(const std::vector<Value>& items)
{
    QString out = QStringLiteral("{");
    for (size_t i = 0; i < items.size(); ++i) {
        if (i)
            out += QLatin1Char(',');
        if (!items[i]) {
            out += QStringLiteral("NULL");
            continue;
        }
        out += QLatin1Char('"');
        for (const QChar c : *items[i]) {
            if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
                out += QLatin1Char('\\');
            out += c;
        }
        out += QLatin1Char('"');
    }
    return out + QLatin1Char('}');
}

// Columns of a batch under way.
struct Batch {
    explicit Batch(size_t width) : columns(width) {}
    void add(std::vector<Value> row)
    {
        for (size_t i = 0; i < row.size(); ++i) {
            bytes += row[i] ? row[i]->size() * 2 + 4 : 4;
            columns[i].push_back(std::move(row[i]));
        }
        ++rows;
    }
    bool full(const Options& o) const { return rows >= std::max(1, o.batch) || bytes >= kBatchBytes; }
    std::vector<Value> params() const
    {
        std::vector<Value> p;
        for (const auto& c : columns)
            p.emplace_back(arrayOf(c));
        return p;
    }
    void clear()
    {
        for (auto& c : columns)
            c.clear();
        rows = 0;
        bytes = 0;
    }
    std::vector<std::vector<Value>> columns;
    int rows = 0;
    qint64 bytes = 0;
};

Value number(qint64 n) { return QString::number(n); }

qint64 scalarNumber(const pg::Result& r) { return r.scalar() ? r.scalar()->toLongLong() : 0; }

void say(const Options& o, const QString& text)
{
    if (o.progress)
        o.progress(text);
}

QString fileName(const QString& path) { return QFileInfo(path).fileName(); }

// The table's fields must be the result table's, so a record reads the same on both sides.
void checkLayout(const DbfFile& table)
{
    const std::vector<DbfField>& want = PgRecordSource::layout();
    const std::vector<DbfField>& got = table.fields();
    bool same = got.size() == want.size() && table.recordLength() == PgRecordSource::recordLength();
    for (size_t i = 0; same && i < got.size(); ++i)
        same = got[i].name.compare(want[i].name, Qt::CaseInsensitive) == 0 && got[i].type == want[i].type
               && got[i].length == want[i].length && got[i].offset == want[i].offset;
    if (!same)
        throw EDatabaseError(QStringLiteral("%1 does not have the result table's %2 fields (%3-byte records): "
                                            "it has %4 fields, %5-byte records")
                                 .arg(table.path())
                                 .arg(want.size())
                                 .arg(PgRecordSource::recordLength())
                                 .arg(got.size())
                                 .arg(table.recordLength()));
}

std::unique_ptr<pg::Connection> connect(const QString& uri)
{
    storechoice::checkDatabaseUri(uri);
    auto c = std::make_unique<pg::Connection>(uri);
    pgschema::check(*c);
    return c;
}

// The identity sequence of table's column past n, never back (an id a program took and gave up
// stays unused).
void sequencePast(pg::Connection& c, const char* table, const char* column, qint64 n)
{
    if (n <= 0)
        return;
    c.exec(QStringLiteral("SELECT setval(s, greatest($1::bigint, coalesce(pg_sequence_last_value(s::regclass), 0))) "
                          "FROM pg_get_serial_sequence('%1', '%2') AS s")
               .arg(QLatin1String(table), QLatin1String(column)),
           {number(n)}, QStringLiteral("Setting the ids of %1 past %2").arg(QLatin1String(table)).arg(n));
}

// ---- The chains ------------------------------------------------------------------------------

struct ChainNames {
    const char* file;   // the day files' name in Archive/
    const char* table;  // the table on the server
    qint64 Moved::*count;
};
constexpr ChainNames kChains[] = {{"messages", "archive", &Moved::messages}, {"history", "history", &Moved::history}};

QString place(const audit::Entry& e) { return QStringLiteral("%1 line %2").arg(fileName(e.file)).arg(e.lineNumber); }

// A line the other side can hold as it stands: UTF-8 without NUL (a text column) and without a
// line feed (a day file's line).
bool portable(const QByteArray& line)
{
    return !line.contains('\0') && !line.contains('\n') && QString::fromUtf8(line).toUtf8() == line;
}

// Follows a chain read from either side: every line an entry, each seq the one after the last.
// A link that does not hold is copied as it stands (the other side's check shows it the same
// way) and noted.
class Follow {
public:
    explicit Follow(Notes& notes) : notes_(notes) {}
    void check(const audit::Entry& e, const QString& where)
    {
        if (!e.problem.isEmpty())
            throw EDatabaseError(QStringLiteral("%1: not an entry (%2)").arg(where, e.problem));
        if (e.seq <= 0 || (last_.seq > 0 && e.seq != last_.seq + 1))
            throw EDatabaseError(QStringLiteral("%1: entry %2 where %3 should follow").arg(where).arg(e.seq).arg(last_.seq + 1));
        if (!portable(e.line))
            throw EDatabaseError(QStringLiteral("%1: the line is not UTF-8 text without NUL").arg(where));
        if (last_.seq > 0 ? e.prev != last_.hash : e.seq == 1 && e.prev != audit::zeroHash())
            notes_ << QStringLiteral("%1: its \"prev\" is not the hash of the entry before it (copied as it stands)").arg(where);
        last_ = audit::Head{e.seq, e.hash, {}};
    }

private:
    Notes& notes_;
    audit::Head last_;
};

qint64 chainIn(pg::Connection& c, const QString& folder, const ChainNames& names, const Options& o, Notes& notes)
{
    const QString table = QLatin1String(names.table);
    const QString chain = QLatin1String(names.file);
    const pgchain::Chain target(table);
    const audit::Head there = target.head(c);
    audit::ChainReader reader(audit::Chain::files(folder, chain));
    Follow follow(notes);
    audit::Entry e;
    auto next = [&] {
        while (reader.next(e)) {
            if (!e.complete) {
                notes << QStringLiteral("%1: a last line a crash cut short (never an entry): left out").arg(place(e));
                continue;
            }
            follow.check(e, place(e));
            return true;
        }
        return false;
    };
    if (there.seq > 0) {
        bool found = false;
        while (!found && next() && e.seq <= there.seq)
            found = e.seq == there.seq;
        if (!found)
            throw EDatabaseError(QStringLiteral("The database's %1 ends with entry %2, which the folder's %3 chain does "
                                                "not hold: the database holds another trail than this folder's")
                                     .arg(table)
                                     .arg(there.seq)
                                     .arg(chain));
        if (e.line != there.line)
            throw EDatabaseError(QStringLiteral("The database's %1 entry %2 is not the folder's (%3): the database "
                                                "holds another trail than this folder's")
                                     .arg(table)
                                     .arg(there.seq)
                                     .arg(place(e)));
    }
    Batch batch(7);
    qint64 head = there.seq, copied = 0;
    auto flush = [&] {
        if (batch.rows == 0)
            return;
        pg::Connection::Transaction transaction(c);
        target.lock(c);
        // A program appending meanwhile would have taken seqs this batch holds.
        if (target.head(c).seq != head)
            throw EDatabaseError(QStringLiteral("Something else appended to the database's %1 meanwhile: stop the "
                                                "programs using it while moving a lab").arg(table));
        c.exec(QStringLiteral("INSERT INTO %1 (seq, prev, time, kind, record, capture, entry) SELECT * FROM "
                              "unnest($1::bigint[], $2::text[], $3::timestamptz[], $4::text[], $5::bigint[], "
                              "$6::text[], $7::text[])")
                   .arg(table),
               batch.params(), QStringLiteral("Copying the %1 chain").arg(chain));
        transaction.commit();
        head += batch.rows;
        copied += batch.rows;
        batch.clear();
        say(o, QStringLiteral("%1: %2 entries copied, up to entry %3").arg(chain).arg(copied).arg(head));
    };
    while (next()) {
        const QString time = e.object.value(QLatin1String("time")).toString();
        if (!QDateTime::fromString(time, Qt::ISODateWithMs).isValid())
            throw EDatabaseError(QStringLiteral("%1: \"time\" is no time: %2").arg(place(e), time.left(40)));
        const QJsonValue record = e.object.value(QLatin1String("record"));
        const QJsonValue capture = e.object.value(QLatin1String("capture"));
        batch.add({number(e.seq), QString::fromLatin1(e.prev), time, e.object.value(QLatin1String("kind")).toString(),
                   record.isDouble() ? number(qint64(record.toDouble())) : Value(),
                   capture.isString() ? Value(capture.toString()) : Value(), QString::fromUtf8(e.line)});
        if (batch.full(o))
            flush();
    }
    flush();
    return copied;
}

// Appends lines to day files, a file at a time, each write synced (and the folder, for a file
// made), so what a run leaves is whole lines and at most a torn last one, which the next cuts off.
class DayWriter {
public:
    DayWriter(QString folder, QString name, QDate lastDay) : folder_(std::move(folder)), name_(std::move(name)), day_(lastDay) {}
    // The day a line goes to: its own, or the newest file's when the clock went back (so the
    // files in name order hold the lines in order).
    void add(const QDate& lineDay, const QByteArray& line)
    {
        QDate day = day_;
        if (lineDay.isValid() && (!day.isValid() || lineDay > day))
            day = lineDay;
        if (!day.isValid())
            day = QDate::currentDate();
        if (day != day_)
            flush();
        day_ = day;
        buffer_ += line;
        buffer_ += '\n';
    }
    qint64 pending() const { return buffer_.size(); }
    void flush()
    {
        if (buffer_.isEmpty())
            return;
        const QString path = QDir(folder_).filePath(QStringLiteral("%1-%2.jsonl").arg(name_, day_.toString(Qt::ISODate)));
        const bool made = !QFileInfo::exists(path);
        const int fd = durable::openForWrite(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            throw EDatabaseError(QStringLiteral("%1 cannot be opened: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        bool ok = durable::writeAll(fd, path, buffer_.constData(), buffer_.size()) && durable::sync(fd, path, true);
        const int error = errno;
        ::close(fd);
        if (ok && made)
            ok = durable::syncFolder(folder_);
        if (!ok)
            throw EDatabaseError(QStringLiteral("%1 cannot be written: %2").arg(path, QString::fromLocal8Bit(std::strerror(error))));
        buffer_.clear();
    }

private:
    QString folder_, name_;
    QDate day_;
    QByteArray buffer_;
};

QDate dayOfTime(const QString& time) { return QDate::fromString(time.left(10), Qt::ISODate); }

qint64 chainOut(pg::Connection& c, const QString& folder, const ChainNames& names, const Options& o, Notes& notes)
{
    const QString table = QLatin1String(names.table);
    const QString chain = QLatin1String(names.file);
    audit::Chain files(folder, chain);
    const audit::Head here = files.head();  // a torn last line is cut off here
    const audit::Head there = pgchain::Chain(table).head(c);
    if (here.seq <= 0 && !here.line.isEmpty())
        throw EDatabaseError(QStringLiteral("The folder's %1 chain ends with a line that is no entry: entries written "
                                            "after it would not link")
                                 .arg(chain));
    if (here.seq > 0) {
        const Value line = here.seq <= there.seq
                               ? c.exec(QStringLiteral("SELECT entry FROM %1 WHERE seq = $1").arg(table), {number(here.seq)},
                                        QStringLiteral("Reading the %1 chain").arg(table))
                                     .scalar()
                               : Value();
        if (!line || line->toUtf8() != here.line)
            throw EDatabaseError(QStringLiteral("The folder's %1 chain ends with entry %2, which is not the database's "
                                                "%3 entry %2: the folder holds another trail than this database's")
                                     .arg(chain)
                                     .arg(here.seq)
                                     .arg(table));
    }
    const QStringList existing = files.files();
    DayWriter out(audit::archiveFolder(folder), chain,
                  existing.isEmpty() ? QDate() : audit::Chain::dayOf(fileName(existing.last()), chain));
    pgchain::Reader reader(c, table, here.seq + 1);
    Follow follow(notes);
    audit::Entry e;
    qint64 copied = 0, batched = 0;
    auto flush = [&] {
        out.flush();
        copied += batched;
        batched = 0;
        say(o, QStringLiteral("%1: %2 entries written").arg(chain).arg(copied));
    };
    while (reader.next(e)) {
        const QString where = QStringLiteral("the database's %1 entry %2").arg(table).arg(e.lineNumber);
        if (e.seq != e.lineNumber)
            throw EDatabaseError(QStringLiteral("%1: its line says seq %2").arg(where).arg(e.seq));
        follow.check(e, where);
        out.add(dayOfTime(e.object.value(QLatin1String("time")).toString()), e.line);
        if (++batched >= o.batch || out.pending() >= kBatchBytes)
            flush();
    }
    flush();
    return copied;
}

// ---- The line log ------------------------------------------------------------------------------

QStringList lineLogFiles(const QString& folder)
{
    const QDir dir(audit::archiveFolder(folder));
    QStringList out;
    for (const QString& n : dir.entryList({QStringLiteral("line-*.jsonl")}, QDir::Files, QDir::Name))
        if (audit::Chain::dayOf(n, QStringLiteral("line")).isValid())
            out << dir.filePath(n);
    return out;
}

struct LogLine {
    QDateTime time;
    QString dir;
    QByteArray bytes;
    bool operator==(const LogLine& o) const
    {
        return time.toMSecsSinceEpoch() == o.time.toMSecsSinceEpoch() && dir == o.dir && bytes == o.bytes;
    }
};

// Reads the line log's files line by line, one line in memory at a time. A line that is not a
// line of the log (not JSON, no time, too long, cut short) is passed over and counted.
class LogReader {
public:
    explicit LogReader(QStringList files) : files_(std::move(files)) {}
    bool next(LogLine& line)
    {
        for (;;) {
            if (!file_.isOpen()) {
                if (at_ >= files_.size())
                    return false;
                file_.setFileName(files_[at_++]);
                if (!QFileInfo(file_.fileName()).isFile() || !file_.open(QIODevice::ReadOnly)) {
                    ++skipped;
                    continue;
                }
            }
            QByteArray text = file_.readLine(audit::kMaxLine + 2);
            if (text.isEmpty()) {
                file_.close();
                continue;
            }
            if (!text.endsWith('\n')) {
                ++skipped;
                while (!file_.atEnd() && !file_.readLine(audit::kMaxLine + 2).endsWith('\n')) {
                }
                continue;
            }
            text.chop(1);
            ++lines;
            if (parse(text, line))
                return true;
            ++skipped;
        }
    }
    static bool parse(const QByteArray& text, LogLine& line)
    {
        const QJsonObject o = QJsonDocument::fromJson(text).object();
        line.time = QDateTime::fromString(o.value(QLatin1String("time")).toString(), Qt::ISODateWithMs);
        line.dir = o.value(QLatin1String("dir")).toString();
        const auto bytes = QByteArray::fromBase64Encoding(o.value(QLatin1String("bytes")).toString().toLatin1(),
                                                          QByteArray::AbortOnBase64DecodingErrors);
        line.bytes = *bytes;
        return line.time.isValid() && (line.dir == QLatin1String("in") || line.dir == QLatin1String("out")) && bytes;
    }
    qint64 skipped = 0;
    qint64 lines = 0;  // whole lines read

private:
    QStringList files_;
    qsizetype at_ = 0;
    QFile file_;
};

LogLine logRow(const pg::Row& row, size_t first)
{
    return {QDateTime::fromMSecsSinceEpoch(row.at(first).value_or(QString()).toLongLong()), row.at(first + 1).value_or(QString()),
            QByteArray::fromHex(row.at(first + 2).value_or(QString()).toLatin1())};
}

const QString kLogColumns = QStringLiteral("(extract(epoch FROM time) * 1000)::bigint, dir, encode(bytes, 'hex')");

qint64 lineLogIn(pg::Connection& c, const QString& folder, const Options& o, Notes& notes)
{
    const qint64 there = scalarNumber(c.exec(QStringLiteral("SELECT coalesce(max(seq), 0) FROM line_log"), {},
                                             QStringLiteral("Reading the line log's end")));
    LogReader reader(lineLogFiles(folder));
    LogLine line;
    qint64 at = 0;
    if (there > 0) {
        while (at < there && reader.next(line))
            ++at;
        const pg::Result r = c.exec(QStringLiteral("SELECT %1 FROM line_log WHERE seq = $1").arg(kLogColumns), {number(there)},
                                    QStringLiteral("Reading the line log"));
        if (at < there || r.rows.empty() || !(logRow(r.rows[0], 0) == line))
            throw EDatabaseError(QStringLiteral("The database's line log ends with line %1, which is not the folder's: "
                                                "the database holds another line log than this folder's")
                                     .arg(there));
    }
    Batch batch(4);
    qint64 copied = 0;
    auto flush = [&] {
        if (batch.rows == 0)
            return;
        pg::Connection::Transaction transaction(c);
        c.exec(QStringLiteral("INSERT INTO line_log (seq, time, dir, bytes) OVERRIDING SYSTEM VALUE "
                              "SELECT s, t, d, decode(b, 'base64') FROM unnest($1::bigint[], $2::timestamptz[], "
                              "$3::text[], $4::text[]) AS v(s, t, d, b)"),
               batch.params(), QStringLiteral("Copying the line log"));
        sequencePast(c, "line_log", "seq", at);
        transaction.commit();
        copied += batch.rows;
        batch.clear();
        say(o, QStringLiteral("line log: %1 lines copied").arg(copied));
    };
    while (reader.next(line)) {
        ++at;
        batch.add({number(at), audit::timeText(line.time), line.dir, QString::fromLatin1(line.bytes.toBase64())});
        if (batch.full(o))
            flush();
    }
    flush();
    if (reader.skipped > 0)
        notes << QStringLiteral("line log: %1 lines that are not lines of the log were left out").arg(reader.skipped);
    return copied;
}

qint64 lineLogOut(pg::Connection& c, const QString& folder, const Options& o)
{
    const QStringList files = lineLogFiles(folder);
    // Cut off a torn last line (a run stopped in its write) before counting.
    if (!files.isEmpty()) {
        QFile last(files.last());
        if (last.open(QIODevice::ReadWrite) && last.size() > 0) {
            const qint64 size = last.size();
            const qint64 from = std::max<qint64>(0, size - audit::kMaxLine - 2);
            last.seek(from);
            const QByteArray tail = last.readAll();
            if (!tail.endsWith('\n')) {
                const qsizetype end = tail.lastIndexOf('\n');
                if (!last.resize(end >= 0 ? from + end + 1 : 0))
                    throw EDatabaseError(QStringLiteral("%1 cannot be repaired: %2").arg(last.fileName(), last.errorString()));
            }
        }
    }
    LogReader reader(files);
    LogLine line, lastHere;
    while (reader.next(line))
        lastHere = line;
    const qint64 here = reader.lines;
    qint64 after = 0;  // the seq of the database's line the folder ends with
    if (here > 0) {
        const pg::Result r = c.exec(QStringLiteral("SELECT seq, %1 FROM line_log ORDER BY seq OFFSET $1 LIMIT 1").arg(kLogColumns),
                                    {number(here - 1)}, QStringLiteral("Reading the line log"));
        if (reader.skipped > 0 || r.rows.empty() || !(logRow(r.rows[0], 1) == lastHere))
            throw EDatabaseError(QStringLiteral("The folder's line log ends with its line %1, which is not the database's: "
                                                "the folder holds another line log than this database's")
                                     .arg(here));
        after = r.rows[0][0].value_or(QString()).toLongLong();
    }
    DayWriter out(audit::archiveFolder(folder), QStringLiteral("line"),
                  files.isEmpty() ? QDate() : audit::Chain::dayOf(fileName(files.last()), QStringLiteral("line")));
    qint64 copied = 0;
    for (;;) {
        const pg::Result r = c.exec(QStringLiteral("SELECT seq, %1 FROM line_log WHERE seq > $1 ORDER BY seq LIMIT %2")
                                        .arg(kLogColumns)
                                        .arg(std::max(1, o.batch)),
                                    {number(after)}, QStringLiteral("Reading the line log"));
        for (const pg::Row& row : r.rows) {
            const LogLine l = logRow(row, 1);
            const QString time = audit::timeText(l.time);
            audit::JsonLine json;
            json.add("time", time).add("dir", l.dir).add("bytes", QString::fromLatin1(l.bytes.toBase64()));
            out.add(dayOfTime(time), json.object());
            after = row[0].value_or(QString()).toLongLong();
        }
        out.flush();
        copied += qint64(r.rows.size());
        if (r.rows.empty())
            break;
        say(o, QStringLiteral("line log: %1 lines written").arg(copied));
    }
    return copied;
}

// ---- The rows ----------------------------------------------------------------------------------

// The record as the insert's columns: id, deleted, then each field (blanks as NULL, DAT as ISO).
std::vector<Value> recordColumns(int index, const char* record)
{
    std::vector<Value> row;
    row.reserve(2 + PgRecordSource::layout().size());
    row.push_back(number(index + 1));
    row.push_back(record[0] == '*' ? QStringLiteral("t") : QStringLiteral("f"));
    for (const DbfField& f : PgRecordSource::layout()) {
        if (dbfcodec::isNull(f, record)) {
            row.emplace_back();
        } else if (f.type == 'D') {
            const QDate d = dbfcodec::date(f, record);
            if (!d.isValid())
                throw EDatabaseError(QStringLiteral("Record %1: %2: \"%3\" is not a date")
                                         .arg(index + 1)
                                         .arg(f.name, dbfcodec::rawText(f, record)));
            row.emplace_back(d.toString(Qt::ISODate));
        } else {
            const QString text = dbfcodec::rawText(f, record);
            if (text.contains(QChar(0)))
                throw EDatabaseError(QStringLiteral("Record %1: %2 holds a NUL byte, which no text on the server can hold")
                                         .arg(index + 1)
                                         .arg(f.name));
            row.emplace_back(text.isEmpty() ? Value() : Value(text));
        }
    }
    return row;
}

QByteArray recordOf(TRecordSource& source, int index)
{
    return QByteArray(source.record(index), PgRecordSource::recordLength());
}

// A row's identity is the "id" of the archive entry that stored it, its first such entry: the
// line as MessageArchive::entry begins it, found by position in the line's head rather than
// parsed (no entry need be valid JSON for this, and neither a regular expression nor a JSON
// parse of the message's base64 is paid for: either costs many times the rest of the copy).
void makeOrigins(pg::Connection& c)
{
    const QString what = QStringLiteral("Finding each row's message in the archive");
    c.exec(QStringLiteral(
               "CREATE TEMP TABLE migrate_origin AS SELECT DISTINCT ON (record) record, key FROM ("
               "SELECT record, seq, CASE WHEN starts_with(h, '{\"seq\":') AND position("
               "',\"kind\":\"message\",\"outcome\":\"stored\",\"record\":' || record || ',\"id\":\"' IN h) > 0 "
               "THEN substr(h, position(',\"id\":\"' IN h) + 7, 64) END AS key "
               "FROM (SELECT record, seq, left(entry, 400) AS h FROM archive WHERE kind = 'message' AND record IS NOT NULL) a) s "
               "WHERE length(key) = 64 AND translate(key, '0123456789abcdef', '') = '' ORDER BY record, seq"),
           {}, what);
    c.exec(QStringLiteral("ALTER TABLE migrate_origin ADD PRIMARY KEY (record)"), {}, what);
    c.exec(QStringLiteral("ANALYZE migrate_origin"), {}, what);
}

// Two undeleted rows of one message (a deleted row restored after the message was stored again,
// which the dBase store allows): the unique index takes one, and it is the later, the row the
// archive names last and a resend is recognised by in the folder. clearEarlier() takes the key
// from a row already in that a row of the batch will hold (a statement of its own: the unique
// index checks the insert against what is committed so far in the transaction, row by row).
const QString& clearEarlier()
{
    static const QString s = QStringLiteral(
        "UPDATE results r SET identity_key = NULL FROM unnest($1::bigint[], $2::boolean[]) AS v(id, deleted) "
        "JOIN migrate_origin o ON o.record = v.id WHERE NOT v.deleted AND r.identity_key = o.key AND NOT r.deleted "
        "RETURNING r.id, v.id");
    return s;
}

// Answers (row, later row) for each row of the batch that leaves its message's key to a later one.
const QString& insertRows()
{
    static const QString s = [] {
        QStringList columns, types;
        for (const DbfField& f : PgRecordSource::layout()) {
            columns << pgschema::column(f.name);
            types << (f.type == 'D' ? QStringLiteral("date[]") : QStringLiteral("text[]"));
        }
        QStringList unnest = {QStringLiteral("$1::bigint[]"), QStringLiteral("$2::boolean[]")};
        for (int i = 0; i < types.size(); ++i)
            unnest << QStringLiteral("$%1::%2").arg(i + 3).arg(types[i]);
        const QString list = columns.join(QLatin1Char(','));
        return QStringLiteral(
                   "WITH v AS (SELECT v.*, o.key AS origin, CASE WHEN v.deleted OR row_number() OVER ("
                   "PARTITION BY o.key, v.deleted ORDER BY v.id DESC) = 1 THEN o.key END AS key "
                   "FROM unnest(%1) AS v(id, deleted, %2) LEFT JOIN migrate_origin o ON o.record = v.id), "
                   "ins AS (INSERT INTO results (id, deleted, %2, identity_key) OVERRIDING SYSTEM VALUE "
                   "SELECT id, deleted, %2, key FROM v RETURNING id) "
                   "SELECT e.id, max(l.id) FROM v e JOIN v l ON l.origin = e.origin AND l.key IS NOT NULL AND NOT l.deleted "
                   "WHERE e.key IS NULL AND e.origin IS NOT NULL GROUP BY e.id")
            .arg(unnest.join(QLatin1Char(',')), list);
    }();
    return s;
}

qint64 rowsIn(pg::Connection& c, DbfFile& table, const QString& uri, const Options& o, Notes& notes)
{
    const int count = table.recordCount();
    const qint64 there = scalarNumber(c.exec(QStringLiteral("SELECT coalesce(max(id), 0) FROM results"), {},
                                             QStringLiteral("Reading the rows' end")));
    if (there > count)
        throw EDatabaseError(QStringLiteral("The database holds rows up to id %1, the folder's table %2 records: the "
                                            "database holds rows of its own or of another folder")
                                 .arg(there)
                                 .arg(count));
    if (there > 0) {
        PgRecordSource rows(uri);
        const int last = int(there) - 1;
        if (recordOf(rows, last) != recordOf(table, last))
            throw EDatabaseError(QStringLiteral("Row %1 of the database is not record %1 of the folder's table: the "
                                                "database holds another folder's rows")
                                     .arg(there));
    }
    makeOrigins(c);
    sequencePast(c, "results", "id", count);
    Batch batch(2 + PgRecordSource::layout().size());
    qint64 copied = 0;
    int next = int(there);
    while (next < count) {
        const int to = int(std::min<qint64>(count, qint64(next) + std::max(1, o.batch)));
        table.scan(next, to, [&](int index, const char* record) { batch.add(recordColumns(index, record)); });
        const std::vector<Value> params = batch.params();
        const QString what = QStringLiteral("Copying records %1 to %2").arg(next + 1).arg(to);
        pg::Connection::Transaction transaction(c);
        const pg::Result cleared = c.exec(clearEarlier(), {params[0], params[1]}, what);
        const pg::Result left = c.exec(insertRows(), params, what);
        transaction.commit();
        for (const pg::Result* r : {&cleared, &left})
            for (const pg::Row& row : r->rows)
                notes << QStringLiteral("Rows %1 and %2 are undeleted rows of one message: its identity goes with row %2, "
                                        "which a resend names")
                             .arg(row.at(0).value_or(QString()), row.at(1).value_or(QString()));
        copied += batch.rows;
        batch.clear();
        next = to;
        say(o, QStringLiteral("rows: %1 of %2").arg(next).arg(count));
    }
    return copied;
}

qint64 rowsOut(const QString& uri, DbfFile& table, const Options& o)
{
    PgRecordSource rows(uri);
    const int total = rows.recordCount();
    const int here = table.recordCount();
    if (here > total)
        throw EDatabaseError(QStringLiteral("%1 holds %2 records, the database rows up to id %3: the table holds "
                                            "rows of its own")
                                 .arg(table.path())
                                 .arg(here)
                                 .arg(total));
    if (here > 0 && recordOf(rows, here - 1) != recordOf(table, here - 1))
        throw EDatabaseError(QStringLiteral("Record %1 of %2 is not row %1 of the database: the table holds another "
                                            "database's rows")
                                 .arg(here)
                                 .arg(table.path()));
    // A batch is one appendMany: its records in one write, then the header, two syncs in all.
    const int perBatch = int(std::clamp<qint64>(kBatchBytes / PgRecordSource::recordLength(), 1, std::max(1, o.batch)));
    std::vector<QByteArray> batch;
    batch.reserve(size_t(std::min(perBatch, total - here)));
    qint64 copied = 0;
    for (int next = here; next < total;) {
        const int to = int(std::min<qint64>(total, qint64(next) + perBatch));
        for (int i = next; i < to; ++i)
            batch.push_back(recordOf(rows, i));
        table.appendMany(batch);
        copied += to - next;
        batch.clear();
        next = to;
        say(o, QStringLiteral("rows: %1 of %2").arg(next).arg(total));
    }
    return copied;
}

QString withSeparator(const QString& folder)
{
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

} // namespace

Moved toDatabase(const QString& programFolder, const QString& uri, const Options& options)
{
    const QString folder = withSeparator(programFolder);
    const QString file = resulttable::tableFile(folder);
    if (!QFileInfo(file).isFile())
        throw EDatabaseError(QStringLiteral("%1 has no result table (%2): nothing to move").arg(folder, file));
    DbfFile table(file, DbfFile::Access::ReadOnly);
    checkLayout(table);
    const auto c = connect(uri);
    Moved moved;
    {
        Notes notes(moved.notes);
        // The rows last: a database with rows has the chains whole (see the header).
        for (const ChainNames& chain : kChains)
            moved.*chain.count = chainIn(*c, folder, chain, options, notes);
        moved.lineLog = lineLogIn(*c, folder, options, notes);
        moved.rows = rowsIn(*c, table, uri, options, notes);
    }
    return moved;
}

Moved toFolder(const QString& uri, const QString& programFolder, const Options& options)
{
    const QString folder = withSeparator(programFolder);
    const auto c = connect(uri);
    const QString file = resulttable::tableFile(folder);
    if (!QFileInfo::exists(file))
        resulttable::create(folder);
    DbfFile table(file, DbfFile::Access::ReadWrite);
    checkLayout(table);
    if (!table.writable())
        throw EDatabaseError(QStringLiteral("%1 cannot be written").arg(file));
    const QString archive = audit::archiveFolder(folder);
    if (!QDir().mkpath(archive))
        throw EDatabaseError(QStringLiteral("The folder %1 cannot be made").arg(archive));
    Moved moved;
    {
        Notes notes(moved.notes);
        for (const ChainNames& chain : kChains)
            moved.*chain.count = chainOut(*c, folder, chain, options, notes);
        moved.lineLog = lineLogOut(*c, folder, options);
        moved.rows = rowsOut(uri, table, options);
    }
    return moved;
}

} // namespace pgmigrate
