// The chain's appends between programs and over crashes, and the archive's index of identities
// seen by another archive object on the same folder.
#include "TrailFixture.h"

#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace trailtest;

namespace {

audit::JsonLine note(const QString& text)
{
    audit::JsonLine l;
    l.add("kind", QStringLiteral("note")).add("text", text);
    return l;
}

// Every line of the chain, read back: complete, numbered 1, 2, ... and each linking to the one before.
void expectOneChain(const QString& folder, qint64 entries)
{
    audit::ChainReader reader(audit::Chain::files(folder, QStringLiteral("notes")));
    audit::Entry e;
    qint64 seq = 0;
    QByteArray prev = audit::zeroHash();
    while (reader.next(e)) {
        EXPECT_TRUE(e.complete && e.problem.isEmpty()) << e.line.toStdString();
        EXPECT_EQ(e.seq, seq + 1);
        EXPECT_EQ(e.prev, prev);
        seq = e.seq;
        prev = e.hash;
    }
    EXPECT_EQ(seq, entries);
}

} // namespace

TEST(Chain, AppendsOfSeveralWritersAndCrashesKeepOneChain)
{
    struct Step {
        int writer;         // which Chain object appends (0 or 1)
        QByteArray torn;    // bytes a crash left at the file's end before this append
        bool nextDay;
    };
    const std::vector<std::pair<const char*, std::vector<Step>>> cases = {
        {"two writers in turn", {{0, {}, false}, {1, {}, false}, {0, {}, false}, {0, {}, false}, {1, {}, false}}},
        {"torn last line cut off", {{0, {}, false}, {0, "{\"seq\":2,\"prev\":\"ab", false}, {1, {}, false}}},
        {"torn first line", {{0, "{\"seq\":1", false}, {1, {}, false}}},
        {"torn line, then a new day", {{0, {}, false}, {1, "{\"seq\":2,", true}, {0, {}, false}}},
    };
    for (const auto& [name, steps] : cases) {
        SCOPED_TRACE(name);
        QTemporaryDir dir(scratchBase() + QStringLiteral("/chain-XXXXXX"));
        QDateTime now(kToday, QTime(23, 0));
        audit::Chain writers[2] = {{dir.path(), QStringLiteral("notes"), [&] { return now; }},
                                   {dir.path(), QStringLiteral("notes"), [&] { return now; }}};
        for (size_t i = 0; i < steps.size(); ++i) {
            if (!steps[i].torn.isEmpty()) {
                QDir().mkpath(dir.path() + QStringLiteral("/Archive"));
                const QStringList files = audit::Chain::files(dir.path(), QStringLiteral("notes"));
                QFile f(files.isEmpty() ? dir.path() + QStringLiteral("/Archive/notes-%1.jsonl").arg(now.date().toString(Qt::ISODate))
                                        : files.last());
                ASSERT_TRUE(f.open(QIODevice::Append));
                f.write(steps[i].torn);
            }
            if (steps[i].nextDay)
                now = now.addDays(1);
            writers[steps[i].writer].append(note(QString::number(i)), i % 2 == 0);
        }
        expectOneChain(dir.path(), qint64(steps.size()));
    }
}

TEST(MessageArchive, SeesWhatAnotherArchiveObjectAppended)
{
    TrailFolder f;
    audit::MessageArchive other(f.folder, f.clock);
    const audit::Identity first = TrailFolder::identity(1, f.now.date());
    const audit::Identity second = TrailFolder::identity(2, f.now.date().addDays(1));
    EXPECT_EQ(other.recordOf(audit::identityId(first)), 0);  // its index is built, empty
    const int a = f.messageRow(1);
    f.now = f.now.addDays(1);  // the next append goes to a new day file
    const int b = f.messageRow(2);
    EXPECT_EQ(other.recordOf(audit::identityId(first)), a);
    EXPECT_EQ(other.recordOf(audit::identityId(second)), b);
    // A capture archived by one is archived for the other.
    audit::ReceivedMessage m{"\x05", f.now, f.now, QStringLiteral("Temp-3.log")};
    f.archive.archive(m, audit::MessageArchive::Outcome::Rejected, {}, 0, QStringLiteral("no terminator"));
    EXPECT_TRUE(other.archived(m.captureKey()));
}

// Entries' times are written by hand, not by Qt: the same text as Qt's for every kind of time,
// in zones with half-hour offsets and summer time, either side of 1970 and of a change of clocks.
TEST(TimeText, IsQtsIsoTextInEveryZone)
{
    const QByteArray zoneBefore = qgetenv("TZ");
    const qint64 instants[] = {0, -1, -86'400'001, 1'796'640'123'999 /* 2026-12-07 */, 1'710'048'600'000 /* St John's clocks forward */,
                               1'730'608'199'999 /* and back */, 253'402'300'799'999 /* 9999-12-31 */, 253'402'300'800'000};
    for (const char* zone : {"UTC", "Europe/Moscow", "Asia/Kolkata", "America/St_Johns"}) {
        qputenv("TZ", zone);
        tzset();
        for (const qint64 ms : instants)
            for (const QDateTime& t : {QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime), QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC),
                                       QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, -12'600),
                                       QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, 3'600)}) {
                SCOPED_TRACE(std::string(zone) + " " + std::to_string(ms) + " spec " + std::to_string(t.timeSpec()));
                EXPECT_EQ(audit::timeText(t).toStdString(), t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs).toStdString());
            }
        const QDateTime now = audit::localNow();
        EXPECT_EQ(now.offsetFromUtc(), QDateTime::currentDateTime().offsetFromUtc()) << zone;
        EXPECT_LT(std::abs(now.msecsTo(QDateTime::currentDateTime())), 5'000) << zone;
    }
    EXPECT_EQ(audit::timeText(QDateTime()), QString());
    zoneBefore.isNull() ? qunsetenv("TZ") : qputenv("TZ", zoneBefore);
    tzset();
}

// Any text quoted into an entry is read back whole by a JSON reader, through either way in.
TEST(JsonLine, QuotesAnyTextSoThatAJsonReaderGetsItBack)
{
    const QString texts[] = {QString(), QStringLiteral("\"quoted\" and \\back\\"), QStringLiteral("tab\tline\nend\x01\x1f\x7f"),
                             QStringLiteral("Иванов Ёж"), QString::fromUtf8("7\xF0\x9F\x98\x80"), QString(3000, QLatin1Char('R'))};
    for (const QString& text : texts) {
        audit::JsonLine line;
        line.add("text", text).addUtf8("utf8", text.toUtf8());
        const QJsonObject o = QJsonDocument::fromJson(line.object()).object();
        EXPECT_EQ(o.value(QLatin1String("text")).toString(), text) << line.object().toStdString();
        EXPECT_EQ(o.value(QLatin1String("utf8")).toString(), text);
    }
    EXPECT_EQ(audit::JsonLine::quote(QStringLiteral("a\x1f\"")), QByteArray(R"("a\u001f\"")"));
}
