// hematix-layout prints one line per object of a loaded layout, or the error of a bad one.
#include "support/TestSupport.h"
#include "report/model/LayoutLoader.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
struct ToolRun {
    int exitCode = -1;
    QString out, err;
};

ToolRun runTool(const QStringList& args)
{
    QProcess p;
    p.start(testsupport::binDir() + QStringLiteral("/hematix-layout"), args);
    p.waitForFinished(60000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

bool toolBuilt()
{
    return QFileInfo(testsupport::binDir() + QStringLiteral("/hematix-layout")).isExecutable();
}
} // namespace

TEST(LayoutTool, PrintsEveryObjectOfABuiltInLayoutOnALine)
{
    if (!toolBuilt())
        GTEST_SKIP() << "hematix-layout is not built in " << qPrintable(testsupport::binDir());
    const ToolRun run = runTool({QStringLiteral("Unit7")});
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    auto r = layoutloader::loadBuiltin(QStringLiteral("Unit7"), QString());
    size_t objects = 1 + r->BandList().size();
    for (const auto& b : r->BandList())
        objects += b->Items().size();
    EXPECT_EQ(static_cast<size_t>(lines.size()), objects);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("TReport Report1 Page.Values=(50 2100 100 2970 50 100 0) px=(0,0,1123,794)")))
        << qPrintable(lines[0]);
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("  TRpBand RpBand1 rbTitle Size.Values=(71.4375 2820.45833333333) px=(19,38,1066,27)")))
        << qPrintable(lines[1]);
    EXPECT_TRUE(run.out.contains(QStringLiteral("TRpSysData RpSysData1 Size.Values=(44.9791666666667 42.3333333333333 63.5 ")));
}

TEST(LayoutTool, ReportsTheLineOfAMalformedLayout)
{
    if (!toolBuilt())
        GTEST_SKIP() << "hematix-layout is not built in " << qPrintable(testsupport::binDir());
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("bad.layout"));
    ASSERT_TRUE(testsupport::writeFile(file, "object R: TReport\n  Zoom = \nend\n"));
    const ToolRun run = runTool({file});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("line 3"))) << qPrintable(run.err);
}
