#include "store/pg/PgRecordSource.h"

#include "engine/DbfFieldCodec.h"
#include "store/ResultTable.h"
#include "store/pg/PgSchema.h"

#include <algorithm>
#include <cstring>

const QString& PgRecordSource::columnsRead()
{
    static const QString s = [] {
        QStringList c = {QStringLiteral("id"), QStringLiteral("deleted")};
        for (const DbfField& f : PgRecordSource::layout())
            c << (f.type == 'D' ? QStringLiteral("to_char(%1, 'YYYYMMDD')").arg(pgschema::column(f.name))
                                : pgschema::column(f.name));
        return c.join(QLatin1Char(','));
    }();
    return s;
}

namespace {

QString recordWhat(int index) { return QStringLiteral("Reading row %1").arg(index + 1); }

// The field's value in the record as a statement's parameter: NULL for blanks, a date as
// yyyy-mm-dd. A date that is no calendar day is refused here, naming the field.
pg::Value paramOf(const DbfField& f, const char* record)
{
    if (dbfcodec::isNull(f, record))
        return std::nullopt;
    if (f.type != 'D')
        return dbfcodec::rawText(f, record);
    const QDate d = dbfcodec::date(f, record);
    if (!d.isValid())
        throw ERowRefused(QStringLiteral("%1: \"%2\" is not a valid date").arg(f.name, dbfcodec::rawText(f, record)));
    return d.toString(Qt::ISODate);
}

QString placeholder(const DbfField& f, int n)
{
    return f.type == 'D' ? QStringLiteral("$%1::date").arg(n) : pgschema::checkedValue(f.name, n);
}

} // namespace

const std::vector<DbfField>& PgRecordSource::layout()
{
    static const std::vector<DbfField> list = [] {
        std::vector<DbfField> out;
        int offset = 1;  // byte 0 is the deleted mark
        for (const DbfFieldSpec& s : resulttable::fields()) {
            out.push_back({s.name, s.type, s.length, s.decimals, offset});
            offset += s.length;
        }
        return out;
    }();
    return list;
}

int PgRecordSource::recordLength()
{
    const DbfField& last = layout().back();
    return last.offset + last.length;
}

PgRecordSource::PgRecordSource(QString uri, int answerWithinMs) : uri_(std::move(uri)), answerWithinMs_(answerWithinMs)
{
    gone_ = blankRecord();
    gone_[0] = '*';
    refresh();
}

PgRecordSource::~PgRecordSource() = default;

pg::Connection& PgRecordSource::connection()
{
    if (!connection_) {
        auto c = std::make_unique<pg::Connection>(uri_, 10, answerWithinMs_);
        pgschema::check(*c);
        connection_ = std::move(c);
    }
    return *connection_;
}

template <class F> auto PgRecordSource::guarded(F work) -> decltype(work())
{
    try {
        return work();
    } catch (const EStoreAway&) {
        connection_.reset();
        writing_ = false;
        throw;
    }
}

QByteArray PgRecordSource::blankRecord() const { return QByteArray(recordLength(), ' '); }

namespace {

// A value as the server sent it (UTF-8) put into its field of a record that holds blanks there.
void putValue(const DbfField& f, char* record, QByteArrayView value, bool leaveRefusedBlank)
{
    if (f.type == 'D') {
        // to_char gives eight digits for the years a dBase date holds; anything else is blank.
        if (value.size() == 8)
            std::memcpy(record + f.offset, value.data(), 8);
        return;
    }
    // Most values are ASCII, the same bytes in code page 1251: no text is made of them.
    if (value.size() <= f.length && std::all_of(value.begin(), value.end(), [](char c) { return uchar(c) < 0x80; })) {
        std::memcpy(record + f.offset, value.data(), size_t(value.size()));
        return;
    }
    try {
        dbfcodec::put(f, record, DbfValue(QString::fromUtf8(value)));
    } catch (const Exception&) {
        if (!leaveRefusedBlank)
            throw;
    }
}

} // namespace

QByteArray PgRecordSource::recordOf(const pg::Row& row, bool leaveRefusedBlank)
{
    QByteArray rec(recordLength(), ' ');
    if (row.at(1) == QStringLiteral("t"))
        rec[0] = '*';
    const std::vector<DbfField>& fs = layout();
    for (size_t i = 0; i < fs.size(); ++i)
        if (const pg::Value& v = row.at(i + 2))  // NULL reads as the field's blanks
            putValue(fs[i], rec.data(), v->toUtf8(), leaveRefusedBlank);
    return rec;
}

void PgRecordSource::putRow(const pg::Rows& rows, int row, char* record, bool leaveRefusedBlank)
{
    if (rows.value(row, 1) == "t")
        record[0] = '*';
    const std::vector<DbfField>& fs = layout();
    for (size_t i = 0; i < fs.size(); ++i)
        if (!rows.isNull(row, int(i) + 2))
            putValue(fs[i], record, rows.value(row, int(i) + 2), leaveRefusedBlank);
}

qint64 PgRecordSource::idOf(const pg::Rows& rows, int row)
{
    return rows.value(row, 0).toLongLong();
}

QByteArray PgRecordSource::readBlock(int first)
{
    if (offline_)
        return {};
    QByteArray bytes;
    bytes.reserve(qsizetype(kBlockRows) * recordLength());
    for (int i = 0; i < kBlockRows; ++i)
        bytes += gone_;
    pg::Rows r;
    try {
        r = guarded([&] {
            return connection().execPreparedRows(
                "hematix_block", QStringLiteral("SELECT %1 FROM results WHERE id BETWEEN $1 AND $2 ORDER BY id").arg(columnsRead()),
                {QString::number(first + 1), QString::number(first + kBlockRows)}, recordWhat(first));
        });
    } catch (const EStoreAway& e) {
        qWarning("Rows not read, the store is away: %s", qUtf8Printable(e.message()));
        offline_ = true;
        return {};
    }
    ++blocksRead_;
    const QByteArray blank = blankRecord();
    for (int row = 0; row < r.count(); ++row) {
        const qint64 at = idOf(r, row) - 1 - first;
        if (at < 0 || at >= kBlockRows)
            continue;
        char* rec = bytes.data() + at * recordLength();
        std::memcpy(rec, blank.constData(), size_t(blank.size()));
        putRow(r, row, rec);
    }
    return bytes;
}

PgRecordSource::Block& PgRecordSource::block(int index)
{
    const int first = index - index % kBlockRows;
    for (auto it = blocks_.begin(); it != blocks_.end(); ++it)
        if (it->first == first) {
            blocks_.splice(blocks_.begin(), blocks_, it);
            return blocks_.front();
        }
    QByteArray bytes = readBlock(first);
    if (bytes.isEmpty()) {
        unread_ = {first, {}};
        return unread_;
    }
    if (int(blocks_.size()) >= kCachedBlocks)
        blocks_.pop_back();
    blocks_.push_front({first, std::move(bytes)});
    return blocks_.front();
}

void PgRecordSource::dropBlocks(int fromIndex, int toIndex)
{
    blocks_.remove_if([&](const Block& b) { return b.first + kBlockRows > fromIndex && b.first <= toIndex; });
}

const char* PgRecordSource::record(int index)
{
    if (index < 0 || index >= count_)
        return gone_.constData();
    const Block& b = block(index);
    if (b.bytes.isEmpty())
        return gone_.constData();
    return b.bytes.constData() + qsizetype(index - b.first) * recordLength();
}

QByteArray PgRecordSource::fetchRow(int index, bool forUpdate)
{
    const pg::Result r = guarded([&] {
        return connection().exec(QStringLiteral("SELECT %1 FROM results WHERE id = $1%2")
                                     .arg(columnsRead(), forUpdate ? QStringLiteral(" FOR UPDATE") : QString()),
                                 {QString::number(index + 1)}, recordWhat(index));
    });
    return r.rows.empty() ? QByteArray() : recordOf(r.rows[0]);
}

QByteArray PgRecordSource::readFresh(int index)
{
    // During a write the row is read FOR UPDATE: it then holds what this answers until the write
    // commits, so what the caller compared it with (the row its edit began from) is what is
    // overwritten, and write() need not read it again.
    QByteArray rec = index < 0 ? QByteArray() : fetchRow(index, writing_);
    if (writing_) {
        freshIndex_ = index;
        fresh_ = rec;
    }
    // The cached copy too, as a file's would be: a grid shows the row as it was just read.
    if (index >= 0 && index < count_)
        for (Block& b : blocks_)
            if (b.first == index - index % kBlockRows) {
                std::memcpy(b.bytes.data() + qsizetype(index - b.first) * recordLength(),
                            (rec.isEmpty() ? gone_ : rec).constData(), size_t(recordLength()));
                break;
            }
    return rec;
}

void PgRecordSource::forEach(int from, int to, const std::function<void(int, const char*)>& visit)
{
    from = std::max(from, 0);
    to = std::min(to, count_);
    const int length = recordLength();
    for (int i = from; i < to;) {
        const int first = i - i % kBlockRows;
        // A block cached is used; one that is not is read without caching it, so that counting
        // the whole table does not push out the blocks the grid shows.
        // A shared copy: visit may read records, which may push the block out of the cache.
        QByteArray read;
        for (const Block& b : blocks_)
            if (b.first == first)
                read = b.bytes;
        if (read.isEmpty())
            read = readBlock(first);
        const char* bytes = read.constData();
        for (const int end = std::min(to, first + kBlockRows); i < end; ++i)
            visit(i, read.isEmpty() ? gone_.constData() : bytes + qsizetype(i - first) * length);
    }
}

std::vector<int> PgRecordSource::countShown(int first, int chunks, int chunkSize)
{
    std::vector<int> counts(size_t(std::max(chunks, 0)), 0);
    if (offline_ || counts.empty() || chunkSize <= 0)
        return counts;
    // A chunk's own aggregate over a range of the primary key: no hashing of half a million ids,
    // and the partial index holds only the deleted rows.
    pg::Result r;
    try {
        r = guarded([&] {
            return connection().exec(
                QStringLiteral("SELECT c, (SELECT count(*) FROM results WHERE id BETWEEN c * $3 + 1 AND least(c * $3 + $3, $4))"
                               " - (SELECT count(*) FROM results WHERE deleted AND id BETWEEN c * $3 + 1 AND least(c * $3 + $3, $4))"
                               " FROM generate_series($1::bigint, $2::bigint) c"),
                {QString::number(first), QString::number(first + chunks - 1), QString::number(chunkSize), QString::number(count_)},
                QStringLiteral("Counting the rows from row %1").arg(qint64(first) * chunkSize + 1));
        });
    } catch (const EStoreAway& e) {
        qWarning("Rows not counted, the store is away: %s", qUtf8Printable(e.message()));
        offline_ = true;
        return counts;
    }
    for (const pg::Row& row : r.rows) {
        const qint64 at = row.at(0).value_or(QString()).toLongLong() - first;
        if (at >= 0 && at < chunks)
            counts[size_t(at)] = row.at(1).value_or(QString()).toInt();
    }
    return counts;
}

void PgRecordSource::refresh()
{
    pg::Value max;
    try {
        max = guarded([&] {
            return connection().exec(QStringLiteral("SELECT max(id) FROM results"), {}, QStringLiteral("Counting the rows")).scalar();
        });
    } catch (const EStoreAway&) {
        offline_ = true;
        throw;
    }
    offline_ = false;
    count_ = max ? max->toInt() : 0;
    blocks_.clear();
    ++generation_;
}

void PgRecordSource::changedElsewhere(int first, int last)
{
    if (first > last)
        return;
    if (offline_) {
        // Told of rows, so the server answers again: everything is read anew.
        try {
            refresh();
        } catch (const EStoreAway& e) {
            qWarning("Rows not read again, the store is away: %s", qUtf8Printable(e.message()));
        }
        return;
    }
    if (last >= count_) {
        pg::Value max;
        try {
            max = guarded([&] {
                return connection().exec(QStringLiteral("SELECT max(id) FROM results"), {}, QStringLiteral("Counting the rows")).scalar();
            });
        } catch (const EStoreAway& e) {
            qWarning("Rows not counted, the store is away: %s", qUtf8Printable(e.message()));
            offline_ = true;
            return;
        }
        const int now = std::min(last + 1, max ? max->toInt() : 0);
        if (now > count_) {
            dropBlocks(count_, now - 1);
            count_ = now;
        }
    }
    dropBlocks(first, std::min(last, count_ - 1));
}

void PgRecordSource::beginWrite()
{
    guarded([&] { connection().begin(); });
    writing_ = true;
    reserved_ = 0;
    freshIndex_ = -1;
    fresh_.clear();
}

void PgRecordSource::endWrite()
{
    guarded([&] { connection().commit(); });
    writing_ = false;
}

void PgRecordSource::abortWrite() noexcept
{
    writing_ = false;
    reserved_ = 0;
    if (!connection_)
        return;
    try {
        if (connection_->inTransaction())
            connection_->rollback();
    } catch (const std::exception&) {
        // A connection that cannot roll back is lost: the server gives the transaction up.
        connection_.reset();
    }
}

int PgRecordSource::reserveAppend()
{
    if (reserved_ == 0) {
        const pg::Value id = guarded([&] {
            return connection().exec(QStringLiteral("SELECT nextval(pg_get_serial_sequence('results', 'id'))"), {},
                                     QStringLiteral("Numbering a new row")).scalar();
        });
        reserved_ = id ? id->toInt() : 0;
    }
    return reserved_;
}

int PgRecordSource::append(const QByteArray& record)
{
    if (record.size() != recordLength())
        throw EDatabaseError(QStringLiteral("A new row of %1 bytes, the table's are %2").arg(record.size()).arg(recordLength()));
    const int id = reserveAppend();
    QStringList columns = {QStringLiteral("id")};
    QStringList values = {QStringLiteral("$1")};
    std::vector<pg::Value> params = {QString::number(id)};
    for (const DbfField& f : layout()) {
        pg::Value v = paramOf(f, record.constData());
        if (!v)
            continue;  // left out: NULL
        params.push_back(std::move(v));
        columns << pgschema::column(f.name);
        values << placeholder(f, int(params.size()));
    }
    guarded([&] {
        connection().exec(QStringLiteral("INSERT INTO results (%1) OVERRIDING SYSTEM VALUE VALUES (%2)")
                              .arg(columns.join(QLatin1Char(',')), values.join(QLatin1Char(','))),
                          params, QStringLiteral("Adding row %1").arg(id));
    });
    reserved_ = 0;
    // Rows others added up to this one appear too; their blocks read them anew.
    dropBlocks(count_, id - 1);
    count_ = std::max(count_, id);
    return id - 1;
}

void PgRecordSource::write(int index, const QByteArray& record)
{
    if (record.size() != recordLength())
        throw EDatabaseError(QStringLiteral("Row %1 of %2 bytes, the table's are %3").arg(index + 1).arg(record.size()).arg(recordLength()));
    // The row as readFresh() locked it in this write (what the edit and its history entry were
    // checked against), else locked now; only the fields that differ from it are written.
    const QByteArray now = freshIndex_ == index ? fresh_ : fetchRow(index, true);
    if (now.isEmpty())
        throw EDatabaseError(QStringLiteral("Row %1 is not in the table").arg(index + 1));
    QStringList sets;
    std::vector<pg::Value> params = {QString::number(index + 1)};
    for (const DbfField& f : layout()) {
        if (std::memcmp(now.constData() + f.offset, record.constData() + f.offset, size_t(f.length)) == 0)
            continue;
        params.push_back(paramOf(f, record.constData()));
        sets << QStringLiteral("%1 = %2").arg(pgschema::column(f.name), placeholder(f, int(params.size())));
    }
    if (!sets.isEmpty())
        guarded([&] {
            connection().exec(QStringLiteral("UPDATE results SET %1 WHERE id = $1").arg(sets.join(QLatin1Char(','))), params,
                              QStringLiteral("Writing row %1").arg(index + 1));
        });
    dropBlocks(index, index);
}

void PgRecordSource::setDeleted(int index, bool deleted)
{
    const qint64 n = guarded([&] {
        return connection()
            .exec(QStringLiteral("UPDATE results SET deleted = $2 WHERE id = $1"),
                  {QString::number(index + 1), deleted ? QStringLiteral("true") : QStringLiteral("false")},
                  QStringLiteral("%1 row %2").arg(deleted ? QStringLiteral("Deleting") : QStringLiteral("Restoring")).arg(index + 1))
            .affected;
    });
    if (n == 0)
        throw EDatabaseError(QStringLiteral("Row %1 is not in the table").arg(index + 1));
    dropBlocks(index, index);
}
