// Saved report files are untrusted: a page may claim no sheet larger than any paper, and a page
// that asks for more drawing than a page may cost is refused while drawing, compressed or not,
// so that no small file costs gigabytes or seconds to load and render.
#include "platform/canvas/EmfPlayer.h"
#include "platform/canvas/EmfRecorder.h"
#include "report/pages/PaperSize.h"
#include "report/pages/ReportFile.h"
#include "report/pages/RpError.h"
#include "report/pages/RpPrinter.h"
#include "report/pages/RpStream.h"

#include "RpPageListFixtures.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace rpfixtures;

namespace {

class ReportFileBounds : public ::testing::Test {
protected:
    QTemporaryDir dir_;
    QString path(const QString& name) const { return dir_.filePath(name); }

    QString save(const QString& name, const std::vector<QByteArray>& pages, bool compressed = false)
    {
        TRpPageList list;
        list.Start(std::make_unique<TRpStream>(), compressed);
        for (const QByteArray& p : pages)
            list.AddPage(p);
        list.WriteHeader();
        list.SaveToFile(path(name));
        return path(name);
    }
};

// 300 records of 40 letters, each letter as tall as an A4 sheet: 90 KB.
QByteArray sheetTallLetters()
{
    EmfRecorder rec(QSize(794, 1123), QSizeF(210, 297));
    CanvasFont f;
    f.height = -1100;
    rec.setFont(f);
    for (int i = 0; i < 300; ++i)
        rec.textOut(0, 0, QStringLiteral("WMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWM"));
    return rec.finish();
}

} // namespace

TEST_F(ReportFileBounds, SheetSizesUpToTheLargestPaperLoad)
{
    struct Case {
        double widthMm, heightMm;
        bool loads;
    };
    // The frame's extent is its size less 0.01 mm (edges inclusive): a sheet of 850.01 x 1200.01
    // mm either way round is the largest taken, 0.01 mm more on either side is refused.
    const Case cases[] = {
        {210, 297, true},          {841, 1189, true},         {1189, 841, true},
        {850.01, 1200.01, true},   {1200.01, 850.01, true},   {1200.01, 100, true},
        {850.02, 1200.01, false},  {1200.01, 850.02, false},  {850.01, 1200.02, false},
        {1200.02, 100, false},     {100, 1200.02, false},     {900, 900, false},
        {4998, 4998, false},       {5000, 5000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.widthMm << " x " << c.heightMm << " mm");
        const QString file = save(QStringLiteral("sheet.hrp"), {metafile(c.widthMm, c.heightMm)});
        TRpPrinter rp;
        if (c.loads) {
            EXPECT_NO_THROW(rp.Load(file));
            EXPECT_EQ(rp.PageCount(), 1);
            continue;
        }
        try {
            rp.Load(file);
            ADD_FAILURE() << "loaded";
        } catch (const ERpError& e) {
            EXPECT_TRUE(e.message().contains(QLatin1String("larger than any paper"))) << e.message().toStdString();
            EXPECT_TRUE(e.message().contains(QLatin1String("page 1"))) << e.message().toStdString();
        }
        EXPECT_EQ(rp.PageCount(), 0);
        EXPECT_EQ(rp.Status(), TRpPrinterStatus::Ready);
    }
}

TEST_F(ReportFileBounds, RenderingRefusesAHugeSheetBeforeAllocating)
{
    // Such a page on a later page (not the one read at load) is refused when rendered, naming it.
    QByteArray big = metafile(4998, 4998);
    const QString file = save(QStringLiteral("later.hrp"), {a4Portrait(), big});
    try {
        reportfile::renderPng(file, path(QStringLiteral("png")), 96);
        ADD_FAILURE() << "rendered";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.message().contains(QLatin1String("page 2"))) << e.message().toStdString();
        EXPECT_TRUE(e.message().contains(QLatin1String("larger than any paper"))) << e.message().toStdString();
    }
}

TEST_F(ReportFileBounds, PagesAskingTooMuchDrawingStopWithTheirPage)
{
    // The same 90 KB page stored plainly and compressed: loading is quick (only the header is
    // read), rendering stops with an error naming the file and the page, and no picture is left.
    const QByteArray letters = sheetTallLetters();
    ASSERT_LT(letters.size(), 100 * 1024);
    for (bool compressed : {false, true}) {
        SCOPED_TRACE(compressed ? "compressed" : "plain");
        const QString file = save(QStringLiteral("letters.hrp"), {a4Portrait(), letters}, compressed);
        TRpPrinter rp;
        rp.Load(file);
        ASSERT_EQ(rp.PageCount(), 2);
        const QString out = path(compressed ? QStringLiteral("c") : QStringLiteral("p"));
        try {
            reportfile::renderPng(file, out, 96, 2);
            ADD_FAILURE() << "rendered";
        } catch (const Exception& e) {
            EXPECT_TRUE(e.message().contains(QLatin1String("page 2"))) << e.message().toStdString();
            EXPECT_TRUE(e.message().contains(QLatin1String("more drawing than a page may cost"))) << e.message().toStdString();
        }
        EXPECT_FALSE(QFileInfo::exists(QDir(out).filePath(QStringLiteral("page-002.png"))));
        // The sound page of the same file still renders.
        EXPECT_EQ(reportfile::renderPng(file, out, 96, 1).size(), 1);
    }
}
