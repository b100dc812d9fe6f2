// Every input a fuzzer once broke the program with is kept under
// tests/<subsystem>/data/fuzz-regressions/<target>/ and replayed here through the very entry
// function the fuzz target calls; a crash, a sanitizer report (in the sanitizer build) or a
// broken invariant fails the run. The starting inputs of every target run too, so an entry that
// no longer reaches the code it should (a seed refused where it was taken) shows.
#include "fuzz/entries/FuzzEntries.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QStringList inputsIn(const QString& dir)
{
    QStringList files;
    for (const QFileInfo& f : QDir(dir).entryInfoList(QDir::Files, QDir::Name))
        files << f.filePath();
    return files;
}

} // namespace

TEST(FuzzRegressions, EveryKeptInputReplaysWithoutFault)
{
    int replayed = 0;
    for (const fuzzentry::Entry& e : fuzzentry::entries()) {
        for (const QString& file : inputsIn(testsupport::sourceDir() + QLatin1Char('/') + QLatin1String(e.regressionDir))) {
            SCOPED_TRACE(file.toStdString());
            e.run(testsupport::readFile(file));
            ++replayed;
        }
    }
    RecordProperty("replayed", replayed);
}

TEST(FuzzRegressions, EveryTargetHasSeedsThatRun)
{
    QTemporaryDir dir;
    for (const fuzzentry::Entry& e : fuzzentry::entries()) {
        SCOPED_TRACE(e.name);
        const QString seeds = dir.filePath(QLatin1String(e.name));
        fuzzentry::writeSeeds(e, seeds);
        const QStringList files = inputsIn(seeds);
        EXPECT_GE(files.size(), 1);
        for (const QString& file : files)
            e.run(testsupport::readFile(file));
    }
    EXPECT_NE(fuzzentry::find(QStringLiteral("report-file")), nullptr);
    EXPECT_EQ(fuzzentry::find(QStringLiteral("no-such-target")), nullptr);
}
