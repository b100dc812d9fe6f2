// The soak: the analyser simulator sends for a long time (HEMATIX_SOAK_SECONDS, at least ten
// minutes for a real run) with random chunking, repeated frames and EOT+ENQ packets mixed in,
// to the whole program with its grid and record panel open. At the end every message is one
// row, in order, and the memory the program holds has stayed flat. Run by hand through
// scripts/soak.sh; without the variable it is skipped.
#include "AppFixture.h"

#include "link/sim/AnalyserSimulator.h"
#include "link/CaptureFiles.h"
#include "link/MessageImport.h"
#include "link/SerialLink.h"

#include <QProcess>
#include <iostream>

using apptest::AppFixture;

namespace {

// Resident memory of this process, in kilobytes.
long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

} // namespace

TEST_F(AppFixture, SoakManyMessagesWithGridOpenLoseNoneDoubleNoneAndMemoryStaysFlat)
{
    const int seconds = qEnvironmentVariableIntValue("HEMATIX_SOAK_SECONDS");
    if (seconds <= 0)
        GTEST_SKIP() << "set HEMATIX_SOAK_SECONDS (scripts/soak.sh) to run the soak";
    const QString simProgram = testsupport::binDir() + "/hematix-sim";
    ASSERT_TRUE(QFile::exists(simProgram));
    makeTable();
    // About 0.4 s per message at half the line's speed with a pause of 0.1 s.
    const int count = std::max(20, seconds * 10 / 4);
    const int seed = 1414;
    QProcess simulator;
    simulator.start(simProgram, {"--ini", folder + "set.ini", "--count", QString::number(count), "--interval", "100",
                                 "--pace", "4800", "--split", "random", "--seed", QString::number(seed), "--start",
                                 "20240101080000", "--timeout", "2", "--persistent", "--resend", "500", "--repeat",
                                 "10", "--eot-enq", "4"});
    ASSERT_TRUE(simulator.waitForStarted());
    ASSERT_TRUE(apptest::waitUntil([&] { return testsupport::readFile(folder + "set.ini").contains("Port=/dev/"); }));

    start();
    Form1->showNormal();
    Form1->resize(1200, 800);
    Form1->N9Click();  // the record panel too
    Form1->N2Click();
    ASSERT_TRUE(Form1->link()->listening());

    QElapsedTimer clock;
    clock.start();
    struct Sample {
        double minutes;
        int rows;
        long kb;
    };
    std::vector<Sample> samples;
    qint64 nextSample = 0;
    while (simulator.state() != QProcess::NotRunning) {
        ASSERT_LT(clock.elapsed(), qint64(seconds) * 3000 + 120000) << "the simulator did not finish";
        apptest::waitUntil([] { return false; }, 200);
        if (clock.elapsed() >= nextSample) {
            samples.push_back({double(clock.elapsed()) / 60000.0, Form1->import()->imported(), residentKb()});
            nextSample += 30000;
        }
    }
    const QByteArray report = simulator.readAllStandardOutput();
    EXPECT_EQ(simulator.exitCode(), 0) << report.toStdString() << simulator.readAllStandardError().toStdString();
    ASSERT_TRUE(apptest::waitUntil([&] { return Form1->import()->imported() + Form1->import()->alreadyStored() >= count; }, 30000));
    samples.push_back({double(clock.elapsed()) / 60000.0, Form1->import()->imported(), residentKb()});

    std::cout << "[ soak ] " << double(clock.elapsed()) / 60000.0 << " min, " << count << " messages\n"
              << QString::fromUtf8(report).split(QLatin1Char(0x0A)).filter("Messages sent").value(0).toStdString() << "\n"
              << QString::fromUtf8(report).split(QLatin1Char(0x0A)).filter("Frames repeated").value(0).toStdString() << "\n"
              << "[ soak ] imported " << Form1->import()->imported() << ", found stored already "
              << Form1->import()->alreadyStored() << "\n[ soak ] minutes  rows  resident kB\n";
    for (const Sample& s : samples)
        std::cout << "[ soak ] " << s.minutes << "  " << s.rows << "  " << s.kb << "\n";
    std::cout << std::flush;

    TTable t;
    t.SetTableName(folder + "DB/HEMATIX.dbf");
    t.Open();
    ASSERT_EQ(t.RecordCount(), count);
    sim::MessageGenerator expected(seed, QDateTime(QDate(2024, 1, 1), QTime(8, 0, 0)));
    const char* names[18] = {"WBC", "RBC", "HGB", "HCT", "PLT", "LY1", "MO1", "GR1", "LY2",
                             "MO2", "GR2", "MCV", "MCH", "MCHC", "RDV", "MPV", "PCT", "PDW"};
    t.First();
    for (int i = 0; i < count; ++i, t.Next()) {
        QByteArray wire = sim::wireBytes(expected.next());
        wire.chop(1);
        const CaptureMessage m = parseCaptureFile(wire);
        ASSERT_EQ(t.FieldByName("NUM")->AsString(), m.row.num) << "row " << i;
        ASSERT_EQ(t.FieldByName("TIM")->AsString(), m.row.time) << "row " << i;
        for (int v = 0; v < 18; ++v)
            ASSERT_EQ(t.FieldByName(names[v])->AsString(), m.row.values[size_t(v)]) << "row " << i << " " << names[v];
    }
    EXPECT_TRUE(capture::waitingFiles(folder).isEmpty());
    EXPECT_FALSE(QDir(folder + "Temp/rejected").exists());
    // Flat: after the first minute (caches, fonts, the grid's first pages), the program grows by
    // no more than a few megabytes however many rows arrive.
    if (samples.size() >= 4) {
        const long settled = samples[2].kb;
        const long last = samples.back().kb;
        EXPECT_LT(last - settled, 16 * 1024) << "resident memory grew from " << settled << " to " << last << " kB";
    }
    Form1->FormClose();
}
