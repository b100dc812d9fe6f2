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
    r.save(path);
    EXPECT_EQ(ReferenceRanges::load(path, &problems), r);
    EXPECT_TRUE(problems.isEmpty()) << problems.join('\n').toStdString();
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
                                                        "MCV = 1; 2\n",
                                                        &problems);
    ASSERT_EQ(problems.size(), 6) << problems.join('\n').toStdString();
    for (int line : {3, 4, 5, 6, 8, 10})
        EXPECT_TRUE(problems.join('\n').contains(QStringLiteral("line %1 ").arg(line))) << line;
    EXPECT_EQ(r.adult(ReferenceRanges::indexOf("WBC")), (reading::Limits{4, 9}));
    EXPECT_TRUE(r.adult(ReferenceRanges::indexOf("RBC")).empty());
    EXPECT_TRUE(r.adult(ReferenceRanges::indexOf("MCV")).empty());
    EXPECT_EQ(r.child(ReferenceRanges::indexOf("HGB")), (reading::Limits{110, 140}));
    EXPECT_FALSE(r.childUnderYears());
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
