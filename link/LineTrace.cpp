#include "link/LineTrace.h"

#include "engine/Cp1251.h"
#include "link/AstmFrame.h"
#include "link/LineLog.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <tuple>
#include <utility>

namespace linetrace {

QString shown(QByteArrayView bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        switch (c) {
        case astm::ENQ: out += QLatin1String("<ENQ>"); continue;
        case astm::STX: out += QLatin1String("<STX>"); continue;
        case astm::ETX: out += QLatin1String("<ETX>"); continue;
        case astm::ETB: out += QLatin1String("<ETB>"); continue;
        case astm::CR: out += QLatin1String("<CR>"); continue;
        case astm::LF: out += QLatin1String("<LF>"); continue;
        case astm::EOT: out += QLatin1String("<EOT>"); continue;
        case astm::ACK: out += QLatin1String("<ACK>"); continue;
        case astm::NAK: out += QLatin1String("<NAK>"); continue;
        default: break;
        }
        if (b < 0x20 || b == 0x7F)
            out += QStringLiteral("<0x%1>").arg(QString::number(b, 16).toUpper().rightJustified(2, QLatin1Char('0')));
        else
            out += cp1251::toChar(b);
    }
    return out;
}

void judgeFrames(QList<Item>& items)
{
    // Longer than any frame the analyser sends; a longer one is judged, not compared.
    constexpr qsizetype kFrameKept = 4096;
    astm::FrameCheck check;
    bool inFrame = false;
    QByteArray frame;
    bool frameWhole = true;
    QByteArray lastGood;
    auto number = [&] {
        const char digit = frame.size() > 1 ? frame[1] : 0;
        return digit >= '0' && digit <= '7' ? digit - '0' : -1;
    };
    for (Item& item : items) {
        if (item.direction != Direction::In)
            continue;
        for (const char c : std::as_const(item.bytes)) {
            if (c == astm::STX || c == astm::ENQ || c == astm::EOT) {
                if (inFrame)
                    item.frames.append({number(), Frame::Verdict::CutShort, false});
                inFrame = c == astm::STX;
                if (inFrame) {
                    check.start();
                    frame = QByteArray(1, c);
                    frameWhole = true;
                }
                continue;
            }
            if (!inFrame)
                continue;
            check.add(c);
            if (frame.size() < kFrameKept)
                frame.append(c);
            else
                frameWhole = false;
            if (c != astm::LF)
                continue;
            Frame f{number(), check.intact() ? Frame::Verdict::Good : Frame::Verdict::Bad, false};
            if (f.verdict == Frame::Verdict::Good) {
                f.repeated = frameWhole && frame == lastGood;
                lastGood = frameWhole ? frame : QByteArray();
            }
            item.frames.append(f);
            inFrame = false;
        }
    }
}

QList<Item> archivedFrames(const QByteArray& bytes)
{
    QList<Item> items;
    qsizetype i = 0;
    while (i < bytes.size()) {
        qsizetype next = i + 1;
        if (bytes[i] == astm::STX) {
            const qsizetype lf = bytes.indexOf(astm::LF, i);
            next = lf < 0 ? bytes.size() : lf + 1;
        } else if (bytes[i] != astm::ENQ) {
            // Bytes outside a frame go together up to the next frame or ENQ.
            while (next < bytes.size() && bytes[next] != astm::STX && bytes[next] != astm::ENQ)
                ++next;
        }
        items.append({QDateTime(), Direction::In, bytes.mid(i, next - i), {}});
        i = next;
    }
    judgeFrames(items);
    return items;
}

namespace {

QString dayText(const QDate& day) { return day.toString(QStringLiteral("dd.MM.yyyy")); }

// One day file, opened for reading without waiting and without following a link.
class DayFile {
public:
    enum class Open { Ok, Missing, NotAFile, Failed };
    explicit DayFile(const QString& path)
    {
        fd_ = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
        if (fd_ < 0) {
            const int err = errno;
            state_ = err == ENOENT ? Open::Missing : err == ELOOP ? Open::NotAFile : Open::Failed;
            error_ = QString::fromLocal8Bit(std::strerror(err));
            return;
        }
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
            state_ = Open::NotAFile;
            return;
        }
        size_ = st.st_size;
    }
    ~DayFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    DayFile(const DayFile&) = delete;
    DayFile& operator=(const DayFile&) = delete;

    Open state() const { return state_; }
    const QString& error() const { return error_; }
    qint64 size() const { return size_; }
    int fd() const { return fd_; }

private:
    int fd_ = -1;
    Open state_ = Open::Ok;
    QString error_;
    qint64 size_ = 0;
};

// The lines of a file from an offset, reading no more than a budget. A line longer than
// kMaxLogLine is passed over to its end and counted as bad.
class LineReader {
public:
    LineReader(int fd, qint64 from, qint64 budget) : fd_(fd), pos_(from), end_(from + budget), partial_(from > 0) {}

    // The next line (without its newline); false at the end of the file or of the budget.
    bool next(QByteArray& line)
    {
        for (;;) {
            const qsizetype nl = buffer_.indexOf('\n', at_);
            if (nl >= 0) {
                const bool skip = skipping_ || partial_;
                line = buffer_.mid(at_, nl - at_);
                at_ = nl + 1;
                if (skipping_)
                    ++bad_;
                skipping_ = partial_ = false;
                if (!skip)
                    return true;
                continue;
            }
            if (buffer_.size() - at_ > kMaxLogLine) {
                skipping_ = true;
                buffer_.clear();
                at_ = 0;
            }
            if (!fill()) {
                // A last line without its newline: an append in progress or cut short; it is
                // taken when it reads as a line. A line the budget cut is no line.
                if (at_ < buffer_.size() && !skipping_ && !partial_ && !budgetSpent()) {
                    line = buffer_.mid(at_);
                    at_ = buffer_.size();
                    return true;
                }
                return false;
            }
        }
    }
    bool budgetSpent() const { return pos_ >= end_; }
    int bad() const { return bad_; }

private:
    bool fill()
    {
        if (pos_ >= end_)
            return false;
        buffer_.remove(0, at_);
        at_ = 0;
        const qsizetype old = buffer_.size();
        const qint64 want = std::min<qint64>(64 * 1024, end_ - pos_);
        buffer_.resize(old + qsizetype(want));
        ssize_t n;
        do
            n = ::pread(fd_, buffer_.data() + old, size_t(want), off_t(pos_));
        while (n < 0 && errno == EINTR);
        buffer_.resize(old + std::max<qsizetype>(0, n));
        if (n <= 0)
            return false;
        pos_ += n;
        return true;
    }

    int fd_;
    qint64 pos_;
    qint64 end_;
    QByteArray buffer_;
    qsizetype at_ = 0;
    bool skipping_ = false;
    bool partial_;   // reading began inside a line: its rest is no line
    int bad_ = 0;
};

bool parseLine(const QByteArray& line, Item& item)
{
    const QJsonObject o = QJsonDocument::fromJson(line).object();
    item.time = QDateTime::fromString(o.value(QLatin1String("time")).toString(), Qt::ISODateWithMs);
    const QString dir = o.value(QLatin1String("dir")).toString();
    const auto bytes = QByteArray::fromBase64Encoding(o.value(QLatin1String("bytes")).toString().toLatin1(),
                                                      QByteArray::AbortOnBase64DecodingErrors);
    if (!item.time.isValid() || (dir != QLatin1String("in") && dir != QLatin1String("out")) || !bytes)
        return false;
    item.direction = dir == QLatin1String("in") ? Direction::In : Direction::Out;
    item.bytes = *bytes;
    item.frames.clear();
    return true;
}

// Where to start reading a day file so that the lines from `from` on are read: found by
// bisecting on the lines' times (a region without a readable time counts as earlier), since
// parsing every line of a busy day costs a person's wait; a small file is read from its start.
qint64 startOffset(const DayFile& file, const QDateTime& from)
{
    if (file.size() <= 4 * kMaxLogLine)
        return 0;
    auto firstTimeAt = [&](qint64 offset) {
        LineReader reader(file.fd(), offset, 2 * kMaxLogLine);
        QByteArray line;
        Item item;
        while (reader.next(line))
            if (parseLine(line, item))
                return item.time;
        return QDateTime();
    };
    qint64 lo = 0;
    qint64 hi = file.size();
    while (hi - lo > 2 * kMaxLogLine) {
        const qint64 mid = lo + (hi - lo) / 2;
        const QDateTime t = firstTimeAt(mid);
        if (t.isValid() && t >= from)
            hi = mid;
        else
            lo = mid;
    }
    return lo;
}

// Takes the log's items in order and keeps those of one message: from its ENQ (the last read
// with an ENQ logged at or before the archived ENQ time, not long before) to the first EOT at or
// after its end; the next message's ENQ, or a long silence, ends it without one.
class Scan {
public:
    Scan(const QDateTime& enq, const QDateTime& end) : enq_(enq.toMSecsSinceEpoch()), end_(end.toMSecsSinceEpoch()) {}

    void take(Item&& item)
    {
        const qint64 t = item.time.toMSecsSinceEpoch();
        const bool in = item.direction == Direction::In;
        if (state_ == State::Looking) {
            if (t <= enq_) {
                if (in && t >= enq_ - kEnqLeadMs && item.bytes.contains(astm::ENQ))
                    items_ = {std::move(item)};
                else if (!items_.isEmpty())
                    items_.append(std::move(item));
                return;
            }
            state_ = items_.isEmpty() ? State::Done : State::Within;
        }
        if (state_ != State::Within)
            return;
        if (t > end_ + kEotWaitMs || (in && t > end_ && item.bytes.contains(astm::ENQ) && !item.bytes.contains(astm::EOT))) {
            state_ = State::Done;
            return;
        }
        const bool eot = in && t >= end_ && item.bytes.contains(astm::EOT);
        items_.append(std::move(item));
        if (eot) {
            eotSeen_ = true;
            state_ = State::Done;
        }
    }
    bool done() const { return state_ == State::Done; }
    bool found() const { return !items_.isEmpty(); }
    bool eotSeen() const { return eotSeen_; }
    QList<Item>& items() { return items_; }

private:
    enum class State { Looking, Within, Done };
    qint64 enq_;
    qint64 end_;
    State state_ = State::Looking;
    QList<Item> items_;
    bool eotSeen_ = false;
};

} // namespace

Trace traceOf(const QString& programFolder, const QDateTime& enq, const QDateTime& end, const QByteArray& archived)
{
    Trace trace;
    auto fromArchive = [&](const QString& why) {
        trace.items = archivedFrames(archived);
        trace.source = trace.items.isEmpty() ? Trace::Source::Nothing : Trace::Source::Archive;
        trace.notes.prepend(why + (archived.isEmpty() ? QStringLiteral(" Байтов сообщения в архиве нет.")
                                                      : QStringLiteral(" Показаны кадры из архива, без времени и ответов.")));
        return trace;
    };
    if (!enq.isValid() || !end.isValid())
        return fromArchive(QStringLiteral("Время ENQ и конца сообщения не записано (приём до журнала линии)."));
    if (end < enq || enq.daysTo(end) > 1)
        return fromArchive(QStringLiteral("Время конца сообщения раньше ENQ или на другой день."));

    Scan scan(enq, end);
    QString missing;
    // The ENQ's read may be logged just before midnight; the EOT may come after it: the day after
    // the terminator's is read when it is still awaited.
    const QDate first = enq.addMSecs(-kEnqLeadMs).date();
    for (QDate day = first; day <= end.date().addDays(1) && !scan.done(); day = day.addDays(1)) {
        if (day > end.date() && !scan.found())
            break;
        const QString path = LineLog::dayFile(programFolder, day);
        const DayFile file(path);
        if (file.state() != DayFile::Open::Ok) {
            if (day > end.date())
                break;
            const QString why = file.state() == DayFile::Open::Missing
                          ? QStringLiteral("Журнала линии за %1 нет (удалён по сроку хранения или сообщение старше журнала).")
                                .arg(dayText(day))
                      : file.state() == DayFile::Open::NotAFile
                          ? QStringLiteral("%1 не обычный файл и не читается.").arg(path)
                          : QStringLiteral("%1 не открывается: %2.").arg(path, file.error());
            if (scan.found())
                trace.notes.append(why);
            else if (day == enq.date())
                missing = why;
            continue;
        }
        auto read = [&](qint64 from) {
            LineReader reader(file.fd(), from, kMaxReadPerDay);
            QByteArray line;
            int bad = 0;
            while (!scan.done() && reader.next(line)) {
                Item item;
                if (parseLine(line, item))
                    scan.take(std::move(item));
                else
                    ++bad;
            }
            return std::pair(bad + reader.bad(), reader.budgetSpent());
        };
        const qint64 from = day == first ? startOffset(file, enq.addMSecs(-kEnqLeadMs)) : 0;
        auto [bad, spent] = read(from);
        // Times out of order (a clock set back) mislead the bisection: a day that fits the
        // budget is read again from its start.
        if (!scan.found() && from > 0 && file.size() <= kMaxReadPerDay) {
            scan = Scan(enq, end);
            std::tie(bad, spent) = read(0);
        }
        if (bad > 0 && scan.found())
            trace.notes.append(QStringLiteral("Строк журнала за %1, которые не разобраны и пропущены: %2.").arg(dayText(day)).arg(bad));
        if (!scan.done() && spent && scan.found())
            trace.notes.append(QStringLiteral("Журнал за %1 прочитан не целиком (не больше %2 МБ).")
                                   .arg(dayText(day))
                                   .arg(kMaxReadPerDay >> 20));
    }
    if (!scan.found())
        return fromArchive(!missing.isEmpty() ? missing
                                              : QStringLiteral("В журнале линии нет ENQ в %1.")
                                                    .arg(enq.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss.zzz"))));
    trace.source = Trace::Source::LineLog;
    trace.items = std::move(scan.items());
    judgeFrames(trace.items);
    if (!scan.eotSeen())
        trace.notes.append(QStringLiteral("EOT после конца сообщения в журнале не найден."));
    return trace;
}

} // namespace linetrace
