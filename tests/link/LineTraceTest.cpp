// A message's line trace: the line log's reads and ACKs from its ENQ to its EOT, frames judged
// across reads, and the archived bytes standing in when the log cannot give it.
#include "link/LineTrace.h"

#include "link/AstmFrame.h"
#include "link/LineLog.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using linetrace::Trace;

namespace {

const QDateTime kEnq(QDate(2026, 12, 7), QTime(9, 15, 2));

// A line log of the message before, this one (ENQ, three frames, the third the terminator, EOT)
// and the next, the reads and ACKs as the receiver logs them; the variant changes what came.
struct Log {
    QByteArray text;
    QByteArray archived = QByteArray(1, astm::ENQ);
    int ms = -5000;
    int endMs = 0;   // when the terminator's read came
    void add(LineLog::Direction d, const QByteArray& bytes, int atMs)
    {
        text += LineLog::line(kEnq.addMSecs(atMs), d, bytes);
        ms = atMs;
    }
    void in(const QByteArray& bytes) { add(LineLog::Direction::In, bytes, ms + 10); }
    void ack() { add(LineLog::Direction::Out, QByteArray(1, astm::ACK), ms + 1); }
};

enum class Variant { Plain, BadSum, Repeat, Garbled, LongDay, ClockBack };

Log messageLog(Variant v)
{
    Log log;
    log.in(QByteArray(1, astm::EOT));
    log.add(LineLog::Direction::In, QByteArray(1, astm::ENQ), 0);
    log.ack();
    const QByteArray f1 = astm::frame(1, "H|\\^&|||sender"), f2 = astm::frame(2, "O|1|000000042"), f3 = astm::frame(3, "L|1|N");
    log.in(f1.left(5));
    if (v == Variant::Garbled)
        log.text += "not a log line\n{\"time\":\"2026-12-07T09:15:02.011\",\"dir\":\"in\",\"bytes\":\"@@\"}\n";
    log.in(f1.mid(5, 3));
    log.in(f1.mid(8));
    log.ack();
    if (v == Variant::BadSum) {
        QByteArray damaged = f2;
        damaged[4] = 'X';
        log.in(damaged);   // no ACK: the analyser sends it again
    }
    log.in(f2);
    log.ack();
    if (v == Variant::Repeat) {
        log.in(f2);   // its ACK was lost
        log.ack();
    }
    log.in(f3);
    log.endMs = log.ms;
    log.ack();
    log.in(QByteArray(1, astm::EOT));
    log.in(QByteArray(1, astm::ENQ));   // the next message
    log.ack();
    log.archived += f1 + f2 + f3;
    // Reads an hour earlier: before the message on a long day, or after it once the clock was
    // set back, where they mislead the bisection.
    QByteArray filler;
    const QByteArray early = LineLog::line(kEnq.addSecs(-3600), LineLog::Direction::In, QByteArray(300, 'x'));
    while (v == Variant::LongDay && filler.size() <= linetrace::kMaxReadPerDay)
        filler += early;
    while (v == Variant::ClockBack && filler.size() <= 4 * linetrace::kMaxLogLine)
        filler += early;
    log.text = v == Variant::LongDay ? filler + log.text : log.text + filler;
    return log;
}

// Each frame as number, verdict (+ good, ! bad, ~ cut short) and r when repeated.
QString verdicts(const Trace& t)
{
    QStringList out;
    for (const linetrace::Item& item : t.items)
        for (const linetrace::Frame& f : item.frames)
            out << QString::number(f.number) + "+!~"[int(f.verdict)] + (f.repeated ? "r" : "");
    return out.join(' ');
}

TEST(LineTrace, FromTheEnqToTheEotWithFramesJudgedAcrossReads)
{
    enum class File { Log, Missing, Pipe };
    const struct {
        const char* name;
        Variant variant;
        File file;
        bool times;
        Trace::Source source;
        const char* frames;
        const char* note;   // a note that must be there ("" for none)
    } rows[] = {
        {"split frames", Variant::Plain, File::Log, true, Trace::Source::LineLog, "1+ 2+ 3+", ""},
        {"a bad checksum", Variant::BadSum, File::Log, true, Trace::Source::LineLog, "1+ 2! 2+ 3+", ""},
        {"a repeated frame", Variant::Repeat, File::Log, true, Trace::Source::LineLog, "1+ 2+ 2+r 3+", ""},
        {"garbled lines", Variant::Garbled, File::Log, true, Trace::Source::LineLog, "1+ 2+ 3+", "пропущены: 2"},
        {"a day past the read budget", Variant::LongDay, File::Log, true, Trace::Source::LineLog, "1+ 2+ 3+", ""},
        {"the clock set back after it", Variant::ClockBack, File::Log, true, Trace::Source::LineLog, "1+ 2+ 3+", ""},
        {"no log for the day", Variant::Plain, File::Missing, true, Trace::Source::Archive, "1+ 2+ 3+", "нет"},
        {"a pipe for the day", Variant::Plain, File::Pipe, true, Trace::Source::Archive, "1+ 2+ 3+", "не обычный файл"},
        {"no times", Variant::Plain, File::Log, false, Trace::Source::Archive, "1+ 2+ 3+", "не записано"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        QTemporaryDir dir;
        const Log log = messageLog(r.variant);
        const QString day = LineLog::dayFile(dir.path(), kEnq.date());
        QDir().mkpath(LineLog::folder(dir.path()));
        if (r.file == File::Log) {
            ASSERT_TRUE(testsupport::writeFile(day, log.text));
        } else if (r.file == File::Pipe) {
            ASSERT_EQ(::mkfifo(QFile::encodeName(day).constData(), 0600), 0);
        }
        const QDateTime end = kEnq.addMSecs(log.endMs);
        Trace t;
        ASSERT_TRUE(testsupport::returnsWithoutAWriter(day, [&] {
            t = linetrace::traceOf(dir.path(), r.times ? kEnq : QDateTime(), r.times ? end : QDateTime(), log.archived);
        }));
        EXPECT_EQ(t.source, r.source);
        EXPECT_EQ(verdicts(t), QString::fromLatin1(r.frames));
        ASSERT_FALSE(t.items.isEmpty());
        EXPECT_EQ(t.items.first().bytes, QByteArray(1, astm::ENQ)) << "not the message before";
        if (r.source == Trace::Source::LineLog) {
            EXPECT_EQ(t.items.last().bytes, QByteArray(1, astm::EOT)) << "not the message after";
            EXPECT_EQ(t.items.first().time, kEnq);
        }
        const QString notes = t.notes.join('\n');
        EXPECT_EQ(notes.isEmpty(), !*r.note) << notes.toStdString();
        EXPECT_TRUE(notes.contains(QString::fromUtf8(r.note))) << notes.toStdString();
    }
}

TEST(LineTrace, BytesShownWithControlCharactersNamed)
{
    const struct {
        QByteArray bytes;
        const char* shown;
    } rows[] = {
        {QByteArray("\x05\x06\x15\x04", 4), "<ENQ><ACK><NAK><EOT>"},
        {"\x02" "1R|\r\x17" "A7\r\n", "<STX>1R|<CR><ETB>A7<CR><LF>"},
        {QByteArray("\x00\x1b\x7f\x03", 4), "<0x00><0x1B><0x7F><ETX>"},
        {"\xc8\xe2\xe0\xed\xee\xe2 I.", "Иванов I."},
    };
    for (const auto& r : rows)
        EXPECT_EQ(linetrace::shown(r.bytes), QString::fromUtf8(r.shown));
}

} // namespace
