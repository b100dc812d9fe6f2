#include "reading/ReferenceRanges.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using reading::ReferenceRanges;
using testsupport::writeFile;

TEST(ReferenceRanges, SavedAndLoadedBackAlike)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("ranges.ini");
    QStringList problems;
    EXPECT_EQ(ReferenceRanges::load(path, &problems), ReferenceRanges::defaults());
    EXPECT_TRUE(problems.isEmpty());

    ReferenceRanges r = ReferenceRanges::defaults();
    r.setAdult(ReferenceRanges::indexOf("PLT"), {150, std::nullopt});
    r.setAdult(ReferenceRanges::indexOf("COE"), {std::nullopt, 15.5});
    r.setChild(ReferenceRanges::indexOf("HGB"), {110, 140});
    r.setChildUnderYears(14);
    r.setDelta(ReferenceRanges::indexOf("HGB"), {12.5, 3});
    r.setDelta(ReferenceRanges::indexOf("WBC"), {});                  // a default one taken off
    r.setDelta(ReferenceRanges::indexOf("PDW"), {30, std::nullopt});  // half given: kept as typed
    r.save(path);
    EXPECT_EQ(ReferenceRanges::load(path, &problems), r);
    EXPECT_TRUE(problems.isEmpty()) << problems.join('\n').toStdString();

    // A file written before the delta limits reads with the default ones.
    ASSERT_TRUE(writeFile(path, "[adult]\nWBC = 4.5; 11\n[child]\nunder = 14\n"));
    const ReferenceRanges old = ReferenceRanges::load(path, &problems);
    EXPECT_TRUE(problems.isEmpty()) << problems.join('\n').toStdString();
    for (int i = 0; i < ReferenceRanges::kFieldCount; ++i)
        EXPECT_EQ(old.delta(i), ReferenceRanges::defaultDeltas()[size_t(i)]) << i;
    EXPECT_TRUE(old.delta(ReferenceRanges::indexOf("HGB")).active());
}

TEST(ReferenceRanges, LinesThatDoNotReadAreNamedAndSkipped)
{
    QStringList problems;
    const ReferenceRanges r = ReferenceRanges::fromText("[adult]\n"
                                                        "WBC = 4; 9\n"
                                                        "XYZ = 1; 2\n"
                                                        "RBC = 4; five\n"
                                                        "HGB = 170; 120\n"
                                                        "PLT 150; 400\n"
                                                        "[child]\n"
                                                        "under = 0\n"
                                                        "HGB = 110; 140\n"
                                                        "[other]\n"
                                                        "MCV = 1; 2\n"
                                                        "[delta]\n"
                                                        "HGB = 15; 3\n"
                                                        "WBC = 0; 7\n"
                                                        "RBC = 20; 2.5\n"
                                                        "PLT = 50; 3651\n"
                                                        "MCV = 5; 3650\n"
                                                        "HCT = ;\n",
                                                        &problems);
    ASSERT_EQ(problems.size(), 9) << problems.join('\n').toStdString();
    for (int line : {3, 4, 5, 6, 8, 10, 14, 15, 16})
        EXPECT_TRUE(problems.join('\n').contains(QStringLiteral("line %1 ").arg(line))) << line;
    EXPECT_EQ(r.adult(ReferenceRanges::indexOf("WBC")), (reading::Limits{4, 9}));
    EXPECT_TRUE(r.adult(ReferenceRanges::indexOf("RBC")).empty());
    EXPECT_TRUE(r.adult(ReferenceRanges::indexOf("MCV")).empty());
    EXPECT_EQ(r.child(ReferenceRanges::indexOf("HGB")), (reading::Limits{110, 140}));
    EXPECT_FALSE(r.childUnderYears());
    using reading::DeltaLimit;
    EXPECT_EQ(r.delta(ReferenceRanges::indexOf("HGB")), (DeltaLimit{15, 3}));
    EXPECT_EQ(r.delta(ReferenceRanges::indexOf("MCV")), (DeltaLimit{5, 3650}));
    EXPECT_EQ(r.delta(ReferenceRanges::indexOf("HCT")), DeltaLimit{});
    // Lines that do not read, and values the section leaves out, keep their defaults.
    for (const char* kept : {"WBC", "RBC", "PLT", "MCH"})
        EXPECT_EQ(r.delta(ReferenceRanges::indexOf(kept)), ReferenceRanges::defaultDeltas()[size_t(ReferenceRanges::indexOf(kept))])
            << kept;
}

TEST(ReferenceRanges, AFileOverTheCapGivesTheDefaultsAndSaysSo)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("ranges.ini");
    const QByteArray text = "[adult]\nWBC = 1; 2\n";
    for (qint64 size : {ReferenceRanges::kMaxFileSize, ReferenceRanges::kMaxFileSize + 1}) {
        ASSERT_TRUE(writeFile(path, text + ';' + QByteArray(size - text.size() - 1, 'x')));
        QStringList problems;
        const ReferenceRanges r = ReferenceRanges::load(path, &problems);
        const bool over = size > ReferenceRanges::kMaxFileSize;
        EXPECT_EQ(problems.size(), over ? 1 : 0) << size;
        EXPECT_EQ(r == ReferenceRanges::defaults(), over) << size;
    }
}
