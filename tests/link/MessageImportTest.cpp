// The message import: capture files in, result rows out, nothing lost or stored twice.
#include "engine/Cp1251.h"
#include "engine/DataSet.h"
#include "link/sim/AnalyserSimulator.h"
#include "link/AstmFrame.h"
#include "link/CaptureFiles.h"
#include "link/FrameReceiver.h"
#include "link/LinkTestPrint.h"
#include "link/MessageImport.h"
#include "audit/Chain.h"
#include "store/DbfResultStore.h"
#include "store/Statements.h"
#include "platform/durable/DurableIo.h"
#include "store/ResultTable.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

// The eighteen values in the order of the message, with the column each one fills and the number
// of characters the import takes.
struct Column {
    const char* field;
    int width;
};
const std::array<Column, 18> kColumns{{
    {"WBC", 5}, {"LY1", 4}, {"MO1", 4}, {"GR1", 4}, {"LY2", 5}, {"MO2", 5}, {"GR2", 5}, {"RBC", 4},
    {"HGB", 4}, {"HCT", 4}, {"MCV", 5}, {"MCH", 4}, {"MCHC", 4}, {"RDV", 4}, {"PLT", 4}, {"MPV", 4},
    {"PCT", 4}, {"PDW", 4},
}};

// The capture file the receiver leaves for a message: the ENQ and the frames, no EOT.
QByteArray captureOf(const sim::Message& m) { return sim::wireBytes(m).chopped(1); }

// A capture file made of these records, one frame each.
QByteArray captureOfRecords(const QList<QByteArray>& records)
{
    QByteArray out(1, astm::ENQ);
    int n = 1;
    for (const QByteArray& r : records) {
        out += astm::frame(n, r);
        n = astm::nextFrameNumber(n);
    }
    return out;
}

// Hands a message to the receiver as the line brings it: ENQ, each frame, EOT, one read each.
void deliver(FrameReceiver& receiver, const sim::Message& m)
{
    receiver.receive(QByteArray(1, astm::ENQ));
    int n = 1;
    for (const QByteArray& r : sim::records(m)) {
        receiver.receive(astm::frame(n, r));
        n = astm::nextFrameNumber(n);
    }
    receiver.receive(QByteArray(1, astm::EOT));
}

sim::Message fixedMessage()
{
    sim::Message m;
    m.timestamp = "20230605140307";
    m.sample = "000412345";
    m.patient = "Smith^John";
    m.values = {"7.52", "32.4", "5.3", "61.2", "2.13", "0.42", "4.37", "4.72", "142",
                "41.3", "88.4", "29.7", "336", "13.2", "245", "8.9", "0.21", "15.6"};
    return m;
}

// What a row holds for the value as sent: the characters after the tag, running on into the
// separator and the unit when the value is shorter; the engine keeps no trailing blanks.
QString expectedValue(const sim::Message& m, size_t i)
{
    const QByteArray after = m.values[i] + "|" + sim::kResults[i].unit + "||N";
    QString v = cp1251::decode(after.left(kColumns[i].width));
    while (v.endsWith(QLatin1Char(' ')))
        v.chop(1);
    return v;
}

// A file of zeros of that size, its blocks not written.
bool sized(const QString& path, qint64 size)
{
    return writeFile(path, {}) && ::truncate(QFile::encodeName(path).constData(), size) == 0;
}

class MessageImportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        folder = dir.path() + QLatin1Char('/');
        ASSERT_TRUE(QDir(folder).mkpath(QStringLiteral("Temp")));
        resulttable::create(folder);
        table.SetName(QStringLiteral("Table1"));
        query.SetName(QStringLiteral("Query1"));
        table.SetTableName(resulttable::tableFile(folder));
        table.Open();
        store = std::make_unique<DbfResultStore>(folder, &query);
        import = std::make_unique<MessageImport>(
            folder, *store, [this](const QString& e) { errors.append(e); },
            [this] {
                ++repaints;
                table.Refresh();
            });
    }
    QString temp(const QString& name) const { return folder + QStringLiteral("Temp/") + name; }
    QString latest() const { return temp(QStringLiteral("Temp.log")); }
    int rows()
    {
        table.Refresh();
        return table.RecordCount();
    }
    QString field(const char* name) const { return table.FieldByName(QLatin1String(name))->AsString(); }
    // Moves to row n (from 1) of the table.
    void row(int n)
    {
        table.Refresh();
        table.SetRecNo(n);
    }
    void expectRowOf(const sim::Message& m)
    {
        EXPECT_EQ(field("NUM"), QString::fromLatin1(m.sample));
        const QDateTime when = QDateTime::fromString(QString::fromLatin1(m.timestamp), QStringLiteral("yyyyMMddhhmmss"));
        EXPECT_EQ(table.FieldByName(QStringLiteral("DAT"))->AsDate(), when.date());
        EXPECT_EQ(field("TIM"), when.time().toString(QStringLiteral("hh:mm:ss")));
        for (size_t i = 0; i < kColumns.size(); ++i)
            EXPECT_EQ(field(kColumns[i].field), expectedValue(m, i)) << kColumns[i].field;
    }
    int roadOnPty(sim::Simulator& simulator, sim::Line& line);
    QStringList rejected() const
    {
        return QDir(folder + QStringLiteral("Temp/rejected")).entryList(QDir::Files | QDir::Dirs | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }

    QTemporaryDir dir;
    QString folder;
    TTable table;
    TQuery query;
    QStringList errors;
    int repaints = 0;
    std::unique_ptr<DbfResultStore> store;
    std::unique_ptr<MessageImport> import;
};

TEST_F(MessageImportTest, FullMessageMakesOneRowAndTheFileGoes)
{
    const sim::Message m = fixedMessage();
    ASSERT_TRUE(writeFile(latest(), captureOf(m)));
    import->tick();
    ASSERT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    ASSERT_EQ(rows(), 1);
    EXPECT_FALSE(QFile::exists(latest()));
    EXPECT_EQ(repaints, 1);
    row(1);
    EXPECT_EQ(field("NUM"), QStringLiteral("000412345"));
    EXPECT_EQ(table.FieldByName(QStringLiteral("DAT"))->AsDate(), QDate(2023, 6, 5));
    EXPECT_EQ(field("TIM"), QStringLiteral("14:03:07"));
    for (const char* empty : {"FIO", "COE", "RECEPTION", "DOC", "RETIC", "FORMULA", "COMMENT"})
        EXPECT_EQ(field(empty), QString()) << empty;
    EXPECT_EQ(field("WBC"), QStringLiteral("7.52|"));
    EXPECT_EQ(field("RBC"), QStringLiteral("4.72"));
    EXPECT_EQ(field("HGB"), QStringLiteral("142|"));
    EXPECT_EQ(field("RDV"), QStringLiteral("13.2"));
    EXPECT_EQ(field("PDW"), QStringLiteral("15.6"));
    expectRowOf(m);
    // Nothing waiting: a tick does nothing.
    import->tick();
    EXPECT_EQ(rows(), 1);
    EXPECT_EQ(repaints, 1);
}

TEST_F(MessageImportTest, DateIsWrittenMonthDayYearInTheStatement)
{
    const CaptureMessage parsed = parseCaptureFile(captureOf(fixedMessage()));
    EXPECT_EQ(parsed.row.date, QStringLiteral("06/05/2023"));
    EXPECT_EQ(parsed.row.time, QStringLiteral("14:03:07"));
    const QStringList sql = insertStatement(folder, parsed.row);
    ASSERT_EQ(sql.size(), 8);
    EXPECT_TRUE(sql[2].startsWith(QStringLiteral(" VALUES (\"06/05/2023\",\"14:03:07\",\"000412345\",\"\",\"\",\"\",")))
        << sql[2].toStdString();
}

TEST_F(MessageImportTest, ShortValuesRunIntoTheSeparatorAndNothingIsTrimmed)
{
    sim::Message m = fixedMessage();
    m.values[0] = "7.5";    // WBC takes 5: "7.5|1"
    m.values[2] = " 5";     // MO% takes 4: " 5|%"
    m.values[8] = "----";   // Hgb
    ASSERT_TRUE(writeFile(latest(), captureOf(m)));
    import->tick();
    ASSERT_EQ(rows(), 1);
    row(1);
    EXPECT_EQ(field("WBC"), QStringLiteral("7.5|1"));
    EXPECT_EQ(field("MO1"), QStringLiteral(" 5|%"));
    EXPECT_EQ(field("HGB"), QStringLiteral("----"));
}

TEST_F(MessageImportTest, FewerThan41LinesStillMakeARowWithTheMissingValuesEmpty)
{
    QList<QByteArray> records = sim::records(fixedMessage()).mid(0, 6);  // header .. third result
    ASSERT_TRUE(writeFile(latest(), captureOfRecords(records)));
    import->tick();
    ASSERT_EQ(rows(), 1);
    row(1);
    EXPECT_EQ(field("WBC"), QStringLiteral("7.52|"));
    EXPECT_EQ(field("LY1"), QStringLiteral("32.4"));
    EXPECT_EQ(field("MO1"), QStringLiteral("5.3|"));
    for (const char* empty : {"GR1", "LY2", "RBC", "PLT", "PDW"})
        EXPECT_EQ(field(empty), QString()) << empty;
    EXPECT_FALSE(QFile::exists(latest()));
}

TEST_F(MessageImportTest, MissingTagsGiveEmptyValuesAndTheRowIsStillInserted)
{
    struct Case {
        const char* name;
        std::function<void(QList<QByteArray>&)> damage;  // to the message's records
        QStringList blank;   // fields left blank in the row
        QString named;       // the results named as blank to the user
    };
    const QList<Case> cases = {
        {"two results and the sample number",
         [](QList<QByteArray>& records) {
             records[2] = "O|2|000412345||^^^CBC";        // no "|1|": no sample number
             records[3].replace("^^^WBC|", "^^^wbc|");    // tags match upper and lower case exactly
             records[20].replace("^^^PDW|", "^^^PDW ");
         },
         {"NUM", "WBC", "PDW"}, QStringLiteral("WBC, PDW")},
        {"exactly one result",
         [](QList<QByteArray>& records) { records[11].replace("^^^Hgb|", "^^^HGB|"); },
         {"HGB"}, QStringLiteral("Hgb")},
    };
    int expectedRows = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        errors.clear();
        QDir(capture::rejectedFolder(folder)).removeRecursively();
        QList<QByteArray> records = sim::records(fixedMessage());
        c.damage(records);
        ASSERT_TRUE(writeFile(latest(), captureOfRecords(records)));
        import->tick();
        ASSERT_EQ(rows(), ++expectedRows);
        row(expectedRows);
        for (const QString& f : c.blank)
            EXPECT_EQ(field(f.toLatin1().constData()), QString()) << f.toStdString();
        EXPECT_EQ(field("LY1"), QStringLiteral("32.4"));
        // The values are blank in the row but not lost: the message is kept, and the user told once.
        EXPECT_FALSE(QFile::exists(latest()));
        const QStringList kept = rejected();
        ASSERT_EQ(kept.size(), 2) << kept.join(' ').toStdString();
        EXPECT_EQ(readFile(folder + QStringLiteral("Temp/rejected/") + kept[0]), captureOfRecords(records));
        const QString reason = QString::fromUtf8(readFile(folder + QStringLiteral("Temp/rejected/") + kept[1]));
        EXPECT_TRUE(reason.contains(c.named)) << reason.toStdString();
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors[0].contains(c.named)) << errors[0].toStdString();
        EXPECT_TRUE(errors[0].contains(kept[0])) << errors[0].toStdString();
        import->tick();
        EXPECT_EQ(errors.size(), 1);
        EXPECT_EQ(rows(), expectedRows);
    }
}

TEST_F(MessageImportTest, LinesEndAtCrAndOtherControlBytesAreText)
{
    QList<QByteArray> records = sim::records(fixedMessage());
    QByteArray bytes = captureOfRecords(records);
    // An LF not directly after a CR is a character of the next line, so it shifts nothing ...
    bytes.insert(bytes.indexOf("\r\n") + 2, '\n');
    // ... while a CR alone ends a line: line 5 (the order record) now holds the patient's trailer.
    QByteArray shifted = bytes;
    shifted.insert(shifted.indexOf("\x02" "2P|"), '\r');
    EXPECT_EQ(parseCaptureFile(bytes).row.num, QStringLiteral("000412345"));
    EXPECT_EQ(parseCaptureFile(bytes).row.values[0], QStringLiteral("7.52|"));
    EXPECT_EQ(parseCaptureFile(shifted).row.num, QString());
    // Bytes are CP1251 characters, one each, control bytes included.
    QByteArray num;
    ASSERT_TRUE(cp1251::encode(QStringLiteral("№\x01Ёё12345"), num));
    records[2] = "O|1|" + num + "|";
    EXPECT_EQ(parseCaptureFile(captureOfRecords(records)).row.num, QStringLiteral("№\x01Ёё12345"));
    // A line ending with the file: fewer characters than asked for.
    EXPECT_EQ(parseCaptureFile("\x05\x02" "1H|P|1|20230605").timestamp, QStringLiteral("20230605"));
}

TEST_F(MessageImportTest, IncompleteTimestampWaitsWhileNewestAndIsSetAsideOnceANewerMessageArrives)
{
    QList<QByteArray> records = sim::records(fixedMessage());
    records[0] = "H|\\^&|||HX-3|||||||P|1|2023060514";
    ASSERT_TRUE(writeFile(latest(), captureOfRecords(records)));
    import->tick();
    import->tick();
    EXPECT_EQ(rows(), 0);
    EXPECT_TRUE(QFile::exists(latest()));
    EXPECT_TRUE(errors.isEmpty());
    // The receiver now writes numbered files; they are imported past the stuck one.
    FrameReceiver receiver(folder, [] {});
    deliver(receiver, fixedMessage());
    ASSERT_TRUE(receiver.lastWritten().endsWith(QStringLiteral("Temp-00000001.log")));
    import->tick();
    EXPECT_EQ(rows(), 1);
    // Nothing will ever replace it: it goes aside with its reason and is not read again.
    EXPECT_FALSE(QFile::exists(latest()));
    const QStringList kept = rejected();
    ASSERT_EQ(kept.size(), 2) << kept.join(' ').toStdString();
    EXPECT_EQ(readFile(folder + QStringLiteral("Temp/rejected/") + kept[0]), captureOfRecords(records));
    EXPECT_TRUE(readFile(folder + QStringLiteral("Temp/rejected/") + kept[1]).contains("timestamp"));
    EXPECT_TRUE(capture::waitingFiles(folder).isEmpty());
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    // Both are archived, in order: the one set aside without times (written by hand here), the
    // stored one with the times its receiver kept beside it, which go with the capture.
    audit::ChainReader archive(audit::Chain::files(folder, QStringLiteral("messages")));
    QStringList outcomes;
    audit::Entry e;
    while (archive.next(e)) {
        const QJsonObject& o = e.object;
        outcomes << o.value(QLatin1String("outcome")).toString();
        const QDateTime enq = QDateTime::fromString(o.value(QLatin1String("enq")).toString(), Qt::ISODateWithMs);
        const QDateTime end = QDateTime::fromString(o.value(QLatin1String("end")).toString(), Qt::ISODateWithMs);
        EXPECT_EQ(enq.isValid(), outcomes.size() == 2);
        EXPECT_TRUE(!enq.isValid() || (end >= enq && enq.secsTo(QDateTime::currentDateTime()) < 60));
    }
    EXPECT_EQ(outcomes, (QStringList{"rejected", "stored"}));
    EXPECT_TRUE(QDir(folder + QStringLiteral("Temp")).entryList({QStringLiteral("*.times")}, QDir::Files).isEmpty());
}

TEST_F(MessageImportTest, MessageSentByteByByteGivesTheSameRowAsWholeFrames)
{
    sim::MessageGenerator gen(3, QDateTime(QDate(2022, 12, 31), QTime(23, 58, 0)));
    const sim::Message m = gen.next();
    FrameReceiver receiver(folder, [] {});
    for (char c : sim::wireBytes(m))
        receiver.receive(&c, 1);
    EXPECT_EQ(readFile(latest()), captureOf(m));
    import->tick();
    ASSERT_EQ(rows(), 1);
    row(1);
    expectRowOf(m);
}

// The analyser gives a message up with EOT when it gets no ACK (six tries), and later sends it
// whole again. The receiver stays up all along: the part it took must leave no row, blank or
// not, and the message sent again must become exactly one row.
TEST_F(MessageImportTest, MessageGivenUpPartWayThenSentAgainBecomesOneRow)
{
    ASSERT_TRUE(sim::records(fixedMessage()).back().startsWith("L|"));
    const qsizetype count = sim::records(fixedMessage()).size();
    struct Case {
        const char* name;
        qsizetype recordsAnswered;  // frames acknowledged before the analyser gave up
        bool terminatorRefused;     // the terminator came but its capture could not be written
    };
    int expectedRows = 0;
    FrameReceiver receiver(folder, [] {});
    for (const Case c : {Case{"after the header", 1, false}, Case{"after the order", 3, false},
                         Case{"before the terminator", count - 1, false},
                         Case{"terminator not written", count - 1, true}}) {
        SCOPED_TRACE(c.name);
        sim::Message m = fixedMessage();
        m.sample = "00041234" + QByteArray::number(expectedRows);
        const QList<QByteArray> records = sim::records(m);
        receiver.receive(QByteArray(1, astm::ENQ));
        int n = 1;
        for (qsizetype i = 0; i < c.recordsAnswered; ++i) {
            receiver.receive(astm::frame(n, records[i]));
            n = astm::nextFrameNumber(n);
        }
        if (c.terminatorRefused) {
            ASSERT_TRUE(QDir(folder + QStringLiteral("Temp")).removeRecursively());
            for (int retry = 0; retry < 6; ++retry)
                receiver.receive(astm::frame(n, records.back()));
            ASSERT_TRUE(QDir(folder).mkpath(QStringLiteral("Temp")));
        }
        receiver.receive(QByteArray(1, astm::EOT));
        import->tick();
        EXPECT_EQ(rows(), expectedRows);
        EXPECT_TRUE(capture::waitingFiles(folder).isEmpty());
        deliver(receiver, m);
        import->tick();
        import->tick();
        ASSERT_EQ(rows(), ++expectedRows);
        row(expectedRows);
        expectRowOf(m);
        EXPECT_TRUE(capture::waitingFiles(folder).isEmpty());
        EXPECT_TRUE(rejected().isEmpty()) << rejected().join(' ').toStdString();
    }
}

// Line noise flips a bit in a frame: the receiver does not answer it, the analyser sends it
// again, and the row holds what was measured: never the damaged value, never a line shifted by
// the frame kept twice.
TEST_F(MessageImportTest, FrameDamagedOnTheLineThenSentAgainGivesTheRowItsTrueValues)
{
    struct Case {
        const char* name;
        qsizetype record;   // the frame damaged
        QByteArray damage;  // what is damaged: a bit of its first byte flips
    };
    int expectedRows = 0;
    const sim::Message fixed = fixedMessage();
    for (const Case& c : {Case{"timestamp", 0, fixed.timestamp.right(4)}, Case{"sample number", 2, "00041234"},
                          Case{"first value", 3, "|" + fixed.values[0] + "|"},
                          Case{"last value", 20, "|" + fixed.values[17] + "|"}}) {
        SCOPED_TRACE(c.name);
        // Each case is another sample, or the import would take it for one already stored.
        sim::Message m = fixed;
        m.sample = "00041234" + QByteArray::number(expectedRows);
        const QList<QByteArray> records = sim::records(m);
        ASSERT_LT(c.record, records.size());
        int acks = 0;
        FrameReceiver r(folder, [&] { ++acks; });
        r.receive(QByteArray(1, astm::ENQ));
        int n = 1;
        for (qsizetype i = 0; i < records.size(); ++i) {
            const QByteArray frame = astm::frame(n, records[i]);
            if (i == c.record) {
                QByteArray noisy = frame;
                const qsizetype at = noisy.indexOf(c.damage) + (c.damage.startsWith('|') ? 1 : 0);
                ASSERT_GT(at, 0);
                noisy[at] = static_cast<char>(noisy[at] ^ 0x01);
                const int before = acks;
                r.receive(noisy);
                EXPECT_EQ(acks, before) << "a damaged frame is not answered";
            }
            r.receive(frame);
            n = astm::nextFrameNumber(n);
        }
        r.receive(QByteArray(1, astm::EOT));
        EXPECT_EQ(acks, records.size() + 2);
        import->tick();
        ASSERT_EQ(rows(), ++expectedRows);
        row(expectedRows);
        expectRowOf(m);
        EXPECT_TRUE(capture::waitingFiles(folder).isEmpty());
        EXPECT_TRUE(rejected().isEmpty()) << rejected().join(' ').toStdString();
    }
}

TEST_F(MessageImportTest, TwoMessagesWithinOneIntervalGiveTwoRowsInOrder)
{
    sim::MessageGenerator gen(5, QDateTime(QDate(2024, 2, 29), QTime(8, 0, 0)));
    const sim::Message first = gen.next();
    const sim::Message second = gen.next();
    FrameReceiver receiver(folder, [] {});
    deliver(receiver, first);
    deliver(receiver, second);
    import->tick();
    ASSERT_EQ(rows(), 2);
    row(1);
    expectRowOf(first);
    row(2);
    expectRowOf(second);
    EXPECT_TRUE(capture::waitingFiles(folder).isEmpty());
    EXPECT_EQ(repaints, 1);
}

// A backlog is stored without waiting for the store's disk each time: its files leave only after
// the store's flush, one flush per kFlushEvery messages. A flush that fails leaves them all
// waiting, and a later pass finds them stored: one row each.
TEST_F(MessageImportTest, BacklogFilesLeaveOnlyAfterTheStoreFlushesAndAFailedFlushLosesAndDoublesNothing)
{
    struct FlushedLater : DbfResultStore {
        FlushedLater(const QString& f, TQuery* q) : DbfResultStore(f, q), folder(f) {}
        Stored storeUnflushed(const ImportedRow& r, const audit::ReceivedMessage& m) override
        {
            Stored s = store(r, m);
            s.onDisk = false;
            ++owed;
            return s;
        }
        void flush() override
        {
            flushes.push_back({owed, int(capture::waitingFiles(folder).size())});
            owed = 0;
            if (away)
                throw EStoreAway(QStringLiteral("the disk does not answer"));
        }
        QString folder;
        bool away = true;
        int owed = 0;
        std::vector<std::pair<int, int>> flushes;  // messages owed, files waiting
    } later(folder, &query);
    MessageImport backlog(folder, later, [this](const QString& e) { errors.append(e); });
    sim::MessageGenerator gen(9, QDateTime(QDate(2024, 3, 1), QTime(8, 0, 0)));
    FrameReceiver receiver(folder, [] {});
    auto send = [&](int n) {
        for (int i = 0; i < n; ++i)
            deliver(receiver, gen.next());
    };
    send(3);
    backlog.tick();
    EXPECT_EQ(rows(), 3);
    EXPECT_EQ(capture::waitingFiles(folder).size(), 3);
    EXPECT_TRUE(backlog.waitingForTable());
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("the disk does not answer")));

    later.away = false;
    later.flushes.clear();
    backlog.tick();
    EXPECT_EQ(rows(), 3);
    EXPECT_EQ(backlog.alreadyStored(), 3);
    EXPECT_TRUE(capture::waitingFiles(folder).isEmpty());

    later.flushes.clear();
    send(MessageImport::kFlushEvery + 2);
    backlog.tick();
    EXPECT_EQ(later.flushes, (std::vector<std::pair<int, int>>{{MessageImport::kFlushEvery, MessageImport::kFlushEvery + 2}, {2, 2}}));
    EXPECT_TRUE(capture::waitingFiles(folder).isEmpty());
    EXPECT_EQ(rows(), MessageImport::kFlushEvery + 5);
    EXPECT_EQ(errors.size(), 1);
}

TEST_F(MessageImportTest, EngineErrorIsShownOnceLaterFilesFlowAndAfterFiveTriesTheFileIsSetAside)
{
    sim::Message bad = fixedMessage();
    bad.timestamp = "20231345140307";   // month 13: the engine refuses the date
    FrameReceiver receiver(folder, [] {});
    deliver(receiver, bad);
    deliver(receiver, fixedMessage());
    import->tick();
    EXPECT_EQ(rows(), 1) << "the good message behind the refused one";
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("13/45/2023"))) << errors[0].toStdString();
    for (int i = 0; i < MessageImport::kMaxTries - 2; ++i)
        import->tick();
    EXPECT_TRUE(QFile::exists(latest()));
    EXPECT_EQ(errors.size(), 1) << "shown once per file";
    import->tick();
    EXPECT_FALSE(QFile::exists(latest()));
    const QStringList kept = rejected();
    ASSERT_EQ(kept.size(), 2) << kept.join(' ').toStdString();
    EXPECT_EQ(readFile(folder + QStringLiteral("Temp/rejected/") + kept[0]), captureOf(bad));
    EXPECT_TRUE(QString::fromUtf8(readFile(folder + QStringLiteral("Temp/rejected/") + kept[1])).contains(errors[0]));
    // A later message after the set-aside one is a fresh Temp.log and imports.
    sim::Message later = fixedMessage();
    later.sample = "000412399";
    deliver(receiver, later);
    import->tick();
    EXPECT_EQ(rows(), 2);
    EXPECT_EQ(errors.size(), 1);
}

TEST_F(MessageImportTest, TableThatCannotBeReachedLosesNothingAndImportsOnceItIsBack)
{
    const QString file = resulttable::tableFile(folder);
    ASSERT_TRUE(QFile::rename(file, file + QStringLiteral(".away")));
    FrameReceiver receiver(folder, [] {});
    deliver(receiver, fixedMessage());
    import->tick();
    import->tick();
    EXPECT_EQ(errors.size(), 1);
    EXPECT_TRUE(QFile::exists(latest()));
    ASSERT_TRUE(QFile::rename(file + QStringLiteral(".away"), file));
    import->tick();
    EXPECT_EQ(rows(), 1);
    EXPECT_FALSE(QFile::exists(latest()));
}

TEST_F(MessageImportTest, CaptureFileThatIsNoFileIsSetAsideAtOnceWithoutBlockingOrStoppingOthers)
{
    // Each makes Temp.log something the receiver never writes; a message behind it must flow.
    const qint64 cap = MessageImport::kMaxFileSize;
    const struct Case {
        const char* name;
        std::function<bool(const QString& path)> make;
        const char* reason;  // in the error and beside the kept entry
        int reports = 1;
    } cases[] = {
        {"folder", [](const QString& p) { return QDir().mkpath(p); }, "a folder"},
        {"link to /dev/zero", [](const QString& p) { return QFile::link(QStringLiteral("/dev/zero"), p); }, "a device"},
        {"named pipe", [](const QString& p) { return ::mkfifo(QFile::encodeName(p).constData(), 0600) == 0; }, "a named pipe"},
        {"link to nothing", [](const QString& p) { return QFile::link(p + QStringLiteral(".none"), p); }, "a link to nothing"},
        {"one byte past the bound", [cap](const QString& p) { return sized(p, cap + 1); }, "larger than"},
        // Read, and no message: set aside as any message without a timestamp once a newer one waits.
        {"on the bound", [cap](const QString& p) { return sized(p, cap); }, "No complete timestamp", 0},
        {"link to a file past the bound", [this, cap](const QString& p) {
             const QString big = folder + QStringLiteral("big");
             return sized(big, cap + 1) && QFile::link(big, p);
         }, "larger than"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(folder + QStringLiteral("Temp")).removeRecursively();
        ASSERT_TRUE(QDir(folder).mkpath(QStringLiteral("Temp")));
        errors.clear();
        const int before = rows();
        ASSERT_TRUE(c.make(latest()));
        FrameReceiver receiver(folder, [] {});
        sim::Message good = fixedMessage();
        good.sample = QByteArray::number(100000000 + before);  // not stored already
        deliver(receiver, good);

        ASSERT_TRUE(testsupport::returnsWithoutAWriter(latest(), [&] { import->tick(); }));
        EXPECT_EQ(rows(), before + 1);
        ASSERT_EQ(errors.size(), c.reports);
        for (const QString& e : errors)
            EXPECT_TRUE(e.contains(QStringLiteral("Temp.log")) && e.contains(QLatin1String(c.reason))) << e.toStdString();
        EXPECT_FALSE(QFileInfo(latest()).exists() || QFileInfo(latest()).isSymLink());
        const QStringList kept = rejected();
        ASSERT_EQ(kept.size(), 2);
        EXPECT_TRUE(readFile(folder + QStringLiteral("Temp/rejected/") + kept[1]).contains(c.reason));
        import->tick();  // set aside once: nothing more to say
        EXPECT_EQ(errors.size(), c.reports);
    }
    EXPECT_EQ(QFileInfo(folder + QStringLiteral("big")).size(), cap + 1) << "a link's target is left alone";
}

TEST_F(MessageImportTest, FileThatCannotBeDeletedIsNeverImportedAgainNotEvenAfterARestart)
{
    bool removable = false;
    import->setRemoveFile([&](const QString& p) { return removable && QFile::remove(p); });
    ASSERT_TRUE(writeFile(latest(), captureOf(fixedMessage())));
    import->tick();
    import->tick();
    EXPECT_EQ(rows(), 1);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("cannot be deleted")));

    // The program starts again with the file still there.
    DbfResultStore restartedStore(folder, &query);
    MessageImport restarted(folder, restartedStore, [this](const QString& e) { errors.append(e); });
    restarted.setRemoveFile([&](const QString& p) { return removable && QFile::remove(p); });
    restarted.tick();
    EXPECT_EQ(rows(), 1);

    // Once it can be removed it goes, still without a second row.
    removable = true;
    restarted.tick();
    EXPECT_EQ(rows(), 1);
    EXPECT_FALSE(QFile::exists(latest()));

    // The same name with a new message is a new message.
    sim::Message next = fixedMessage();
    next.sample = "000412346";
    ASSERT_TRUE(writeFile(latest(), captureOf(next)));
    restarted.tick();
    EXPECT_EQ(rows(), 2);
}

TEST_F(MessageImportTest, TimerIsOffDuringAPassAndOnAfterIt)
{
    QTimer timer;
    timer.setInterval(2000);
    timer.start();
    bool activeDuringPass = true;
    MessageImport watched(folder, *store, [](const QString&) {}, [&] { activeDuringPass = timer.isActive(); });
    ASSERT_TRUE(writeFile(latest(), captureOf(fixedMessage())));
    watched.onTimer(timer);
    EXPECT_FALSE(activeDuringPass);
    EXPECT_TRUE(timer.isActive());
    EXPECT_EQ(rows(), 1);
}

// The whole road on a pseudo-terminal: the simulator sends, a plain reader loop hands each read
// to the receiver and writes its ACKs back, and the import runs tick by tick. Returns the ACKs
// the receiver sent.
int MessageImportTest::roadOnPty(sim::Simulator& simulator, sim::Line& line)
{
    const int port = ::open(line.portName().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(port, 0);
    termios t{};
    ::tcgetattr(port, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(port, TCSANOW, &t);

    std::atomic<bool> stopReading{false};
    std::atomic<int> acksSent{0};
    std::thread reader([&] {
        FrameReceiver receiver(folder, [&] {
            const char ack = astm::ACK;
            if (::write(port, &ack, 1) == 1)
                ++acksSent;
        });
        char chunk[FrameReceiver::kMaxChunk];
        while (!stopReading.load()) {
            pollfd p{port, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(port, chunk, sizeof chunk);
            if (n > 0)
                receiver.receive(chunk, static_cast<int>(n));
        }
    });

    std::atomic<bool> sending{true};
    bool sentAll = false;
    std::thread analyser([&] {
        sentAll = simulator.run();
        sending.store(false);
    });

    // Ticks as the timer would make them, only closer together.
    for (;;) {
        const bool last = !sending.load();
        import->tick();
        if (last)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    analyser.join();
    stopReading.store(true);
    reader.join();
    ::close(port);

    EXPECT_TRUE(sentAll) << simulator.error().toStdString();
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    EXPECT_TRUE(capture::waitingFiles(folder).isEmpty());
    const QList<sim::Message>& sent = simulator.history();
    EXPECT_EQ(rows(), sent.size());
    for (int i = 0; i < sent.size() && i < rows(); ++i) {
        SCOPED_TRACE(i);
        row(i + 1);
        expectRowOf(sent[i]);
    }
    return acksSent.load();
}

TEST_F(MessageImportTest, TwoHundredMessagesSplitAtRandomBecomeTwoHundredRowsInOrder)
{
    constexpr int kMessages = 200;
    sim::Line line;
    QString error;
    ASSERT_TRUE(line.openPseudoTerminal(&error)) << error.toStdString();
    sim::Options options;
    options.count = kMessages;
    options.intervalMs = 0;
    options.seed = 20230605;
    options.split = sim::Split::Random;
    options.start = QDateTime(QDate(2023, 6, 5), QTime(8, 0, 0));
    sim::Simulator simulator(line, options);
    const int acks = roadOnPty(simulator, line);
    EXPECT_EQ(simulator.acknowledged(), kMessages);
    EXPECT_EQ(simulator.framesAcknowledged(), kMessages * 22);
    EXPECT_EQ(acks, kMessages * 24) << "ENQ, 22 frames and EOT of every message";
}

// Repeated frames (lost ACKs) and EOT with the next ENQ in one read, mixed in at random: still
// one row per message, in order, and one ACK per step the analyser waits for.
TEST_F(MessageImportTest, RepeatedFramesAndEotEnqPacketsStillGiveOneRowPerMessageInOrder)
{
    constexpr int kMessages = 60;
    sim::Line line;
    QString error;
    ASSERT_TRUE(line.openPseudoTerminal(&error)) << error.toStdString();
    sim::Options options;
    options.count = kMessages;
    options.intervalMs = 0;
    options.seed = 77;
    options.split = sim::Split::Random;
    options.repeatOneIn = 6;
    options.eotEnqOneIn = 2;
    options.start = QDateTime(QDate(2023, 6, 6), QTime(8, 0, 0));
    sim::Simulator simulator(line, options);
    const int acks = roadOnPty(simulator, line);
    EXPECT_GT(simulator.framesRepeated(), 0);
    EXPECT_GT(simulator.eotEnqPackets(), 0);
    EXPECT_EQ(acks, kMessages * 24 + simulator.framesRepeated() - simulator.eotEnqPackets())
        << "an EOT sent with the next ENQ is answered once, for the ENQ";
}

// Exactly one row per message: a message found among the recent rows is not stored again,
// whatever brings it back; a row staff deleted does not count.
TEST_F(MessageImportTest, MessageAlreadyStoredGivesNoSecondRowUnlessStaffDeletedIt)
{
    sim::MessageGenerator gen(11, QDateTime(QDate(2023, 6, 5), QTime(9, 0, 0)));
    const sim::Message a = gen.next();
    const sim::Message b = gen.next();
    const sim::Message twice = gen.next();
    ASSERT_TRUE(writeFile(latest(), captureOf(a)));
    import->tick();
    ASSERT_EQ(rows(), 1);

    struct Case {
        const char* name;
        QList<QByteArray> captures;  // waiting together for one pass, in order of arrival
        int rowsAfter;
    };
    QByteArray otherBytes = captureOf(a);
    otherBytes.replace("Smith", "Smyth");           // bytes the row does not hold
    otherBytes.append(astm::frame(0, "C|1|late comment"));
    sim::Message sameSampleOtherValue = a;
    sameSampleOtherValue.values[4] = "9.99";
    const QList<Case> cases = {
        // The crash between the insert and the removal: the same file again.
        {"same capture file again", {captureOf(a)}, 1},
        // The analyser sends it again because its last ACK was lost: other bytes, same row.
        {"same message, other bytes", {otherBytes}, 1},
        {"same sample, another value", {captureOf(sameSampleOtherValue)}, 2},
        // Sent again before the import's timer fired: both files are taken in one pass.
        {"new message and its resend in one pass", {captureOf(twice), captureOf(twice)}, 3},
        {"next message", {captureOf(b)}, 4},
        {"next message again", {captureOf(b)}, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (qsizetype i = 0; i < c.captures.size(); ++i) {
            // Named as the receiver names them: Temp.log, then numbered files.
            const QString path = i == 0 ? latest() : temp(QStringLiteral("Temp-%1.log").arg(i, 8, 10, QLatin1Char('0')));
            ASSERT_TRUE(writeFile(path, c.captures[i]));
        }
        ASSERT_EQ(capture::waitingFiles(folder).size(), c.captures.size());
        import->tick();
        EXPECT_EQ(rows(), c.rowsAfter);
        EXPECT_TRUE(capture::waitingFiles(folder).isEmpty());
    }
    EXPECT_EQ(import->alreadyStored(), 4);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();

    // Staff delete the row of b; the analyser sending b again makes it a row again.
    table.Refresh();
    table.Last();
    table.Delete();
    ASSERT_EQ(rows(), 3);
    ASSERT_TRUE(writeFile(latest(), captureOf(b)));
    import->tick();
    EXPECT_EQ(rows(), 4);
    table.Last();
    expectRowOf(b);
}

TEST_F(MessageImportTest, RecentWindowEndsExactlyKRecentRowsBack)
{
    const sim::Message m = fixedMessage();
    ASSERT_TRUE(writeFile(latest(), captureOf(m)));
    import->tick();
    ASSERT_EQ(rows(), 1);
    // Other rows after it, written straight into the file in one go (the table counts complete
    // records past its header's count): the message's row is then the kRecentRows-th last,
    // still inside the window ...
    const auto addBlankRows = [&](int n) {
        QByteArray record;
        {
            DbfFile file(resulttable::tableFile(folder), DbfFile::Access::ReadOnly);
            record = file.blankRecord();
        }
        QFile raw(resulttable::tableFile(folder));
        ASSERT_TRUE(raw.open(QIODevice::ReadWrite));
        ASSERT_TRUE(raw.seek(raw.size() - 1));  // over the end mark
        QByteArray bytes;
        for (int i = 0; i < n; ++i)
            bytes += record;
        ASSERT_EQ(raw.write(bytes + '\x1A'), bytes.size() + 1);
    };
    addBlankRows(ResultStore::kRecentRows - 1);
    ASSERT_TRUE(writeFile(latest(), captureOf(m)));
    import->tick();
    EXPECT_EQ(rows(), ResultStore::kRecentRows);
    // ... one row more puts it just outside, where the archive still knows it ...
    addBlankRows(1);
    ASSERT_TRUE(writeFile(latest(), captureOf(m)));
    import->tick();
    EXPECT_EQ(rows(), ResultStore::kRecentRows + 1);
    // ... and without the archive (a row stored before it) only the window counts.
    ASSERT_TRUE(QDir(folder + QStringLiteral("Archive")).removeRecursively());
    ASSERT_TRUE(writeFile(latest(), captureOf(m)));
    import->tick();
    EXPECT_EQ(rows(), ResultStore::kRecentRows + 2);
}

// Crash safety rests on the order of the durable calls: the row is on disk (record, then the
// header's count) before the capture file goes. A crash at any of them (here: that call and
// every later one failing) and a restart give exactly one row.
TEST_F(MessageImportTest, InsertThenRemovalInDurableOrderAndAFailureAtAnyStepGivesOneRow)
{
    const QString tableFile = resulttable::tableFile(folder);
    const sim::Message m = fixedMessage();
    std::vector<durable::Call> calls;
    {
        durable::ScopedObserver watch([&](const durable::Call& c) {
            calls.push_back(c);
            return 0;
        });
        ASSERT_TRUE(writeFile(latest(), captureOf(m)));
        import->tick();
    }
    ASSERT_EQ(rows(), 1);
    QStringList order;
    for (const durable::Call& c : calls)
        order.append(QStringLiteral("%1 %2%3")
                         .arg(QLatin1String(durable::name(c.op)), QFileInfo(c.path).fileName(),
                              c.op == durable::Op::Write ? QStringLiteral(" %1").arg(c.size) : QString()));
    // The record with its end mark (781 + 1 bytes) and its flush, then the header's date and
    // count (7 bytes) and their flush, then the message's archive entry and its flush, and only
    // then the capture file's leaving the waiting ones; its removal waits for a pass with
    // nothing to do.
    ASSERT_GE(order.size(), 6);
    const QString archive = QFileInfo(calls[5].path).fileName();
    EXPECT_EQ(order, (QStringList{"write HEMATIX.dbf 782", "sync HEMATIX.dbf", "write HEMATIX.dbf 7",
                                  "sync HEMATIX.dbf", "create " + archive, order[5], "sync " + archive,
                                  "sync folder Archive", "rename Temp.log"}))
        << order.join(", ").toStdString();
    {
        calls.clear();
        durable::ScopedObserver watch([&](const durable::Call& c) {
            calls.push_back(c);
            return 0;
        });
        import->tick();
    }
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].op, durable::Op::Remove);
    EXPECT_TRUE(QDir(capture::importedFolder(folder)).isEmpty());

    for (size_t failAt = 0; failAt < calls.size(); ++failAt) {
        SCOPED_TRACE(failAt);
        // A fresh table and program for each crash point.
        ASSERT_TRUE(QFile::remove(tableFile));
        resulttable::create(folder);
        table.Close();
        table.Open();
        ASSERT_TRUE(writeFile(latest(), captureOf(m)));
        {
            size_t seen = 0;
            durable::ScopedObserver crash([&](const durable::Call&) { return seen++ >= failAt ? EIO : 0; });
            DbfResultStore dyingStore(folder, &query);
            MessageImport dying(folder, dyingStore, [](const QString&) {});
            dying.tick();
        }
        DbfResultStore restartedStore(folder, &query);
        MessageImport restarted(folder, restartedStore, [](const QString&) {});
        restarted.tick();
        restarted.tick();
        EXPECT_EQ(rows(), 1);
        EXPECT_FALSE(QFile::exists(latest()));
        row(1);
        expectRowOf(m);
    }
}

// A table that cannot be reached is no fault of the messages: they wait in order, the error is
// shown once however long it lasts, and they are stored by themselves once the table is back.
// A table that refuses a single insert holds the messages behind it the same way: none of them
// is stored before it.
TEST_F(MessageImportTest, TableOutageHoldsMessagesInOrderReportsOnceAndResumesByItself)
{
    const QString file = resulttable::tableFile(folder);
    std::optional<durable::ScopedObserver> refusing;
    bool refused = false;
    const auto refuseOneWrite = [&] {
        refused = false;
        refusing.emplace([&](const durable::Call& c) {
            const bool tableWrite = c.op == durable::Op::Write && QFileInfo(c.path).fileName() == QFileInfo(file).fileName();
            if (!tableWrite || refused)
                return 0;
            refused = true;
            return EIO;
        });
    };
    struct Outage {
        const char* name;
        std::function<void()> begin;
        std::function<void()> end;
        bool lasts;  // until end(); otherwise over after its first refusal
    };
    const QList<Outage> outages = {
        {"table missing", [&] { QFile::rename(file, file + ".away"); },
         [&] { QFile::rename(file + ".away", file); }, true},
        {"table unreadable", [&] { QFile::rename(file, file + ".away"); writeFile(file, "not a table"); },
         [&] { QFile::remove(file); QFile::rename(file + ".away", file); }, true},
        {"one insert refused", refuseOneWrite, [&] { refusing.reset(); }, false},
    };
    sim::MessageGenerator gen(14, QDateTime(QDate(2023, 6, 5), QTime(10, 0, 0)));
    QList<sim::Message> sent;
    FrameReceiver receiver(folder, [] {});
    for (const Outage& o : outages) {
        SCOPED_TRACE(o.name);
        errors.clear();
        o.begin();
        // Three messages to a pass, so that some always wait behind the first.
        for (int i = 0; i < 12; ++i) {
            sent.append(gen.next());
            deliver(receiver, sent.back());
            if (i % 3 == 2)
                import->tick();
        }
        for (int i = 0; i < 2 * MessageImport::kMaxTries; ++i)
            import->tick();
        EXPECT_EQ(errors.size(), 1) << errors.join('\n').toStdString();
        EXPECT_EQ(import->waitingForTable(), o.lasts);
        EXPECT_EQ(capture::waitingFiles(folder).size(), o.lasts ? 12 : 0);
        EXPECT_TRUE(rejected().isEmpty());
        o.end();
        import->tick();
        EXPECT_FALSE(import->waitingForTable());
        EXPECT_TRUE(capture::waitingFiles(folder).isEmpty());
        EXPECT_EQ(errors.size(), 1);
    }
    ASSERT_EQ(rows(), sent.size());
    for (int i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(i);
        row(i + 1);
        expectRowOf(sent[i]);
    }
}

} // namespace
