// The hematix-pages program as users run it: on report files recorded by the page recorder.
#include "platform/print/PrinterInfo.h"
#include "report/pages/RpPageList.h"
#include "report/pages/RpPrinter.h"
#include "report/pages/RpStream.h"

#include "support/TestSupport.h"

#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

struct ToolRun {
    int exitCode = -1;
    QString out, err;
};

ToolRun runPages(const QStringList& args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(testsupport::binDir() + QStringLiteral("/hematix-pages"), args);
    ToolRun r;
    if (!p.waitForFinished(120000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// One page drawn by a recorder on the given sheet.
QByteArray recordPage(TRpOrientation orientation, const QString& text)
{
    TRpPrinter rp;
    rp.SetOrientation(orientation);
    rp.BeginDoc();
    rp.NewPage();
    PageCanvas& c = *rp.Canvas();
    c.setPen({CanvasPenStyle::Solid, 2, Qt::black});
    c.setBrush({CanvasBrushStyle::Solid, QColor(0, 0, 200)});
    c.rectangle({rp.XPos(100), rp.YPos(100), rp.XPos(1000), rp.YPos(600)});
    c.textOut(rp.XPos(100), rp.YPos(700), text);
    rp.EndDoc();
    return rp.GetPage(1)->Bytes();
}

class HematixPagesTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Portrait, landscape, portrait: the PDF must turn its second page.
        TRpPageList list;
        list.Start(std::make_unique<TRpStream>(), false);
        list.AddPage(recordPage(TRpOrientation::poPortrait, QStringLiteral("Первая страница")));
        list.AddPage(recordPage(TRpOrientation::poLandscape, QStringLiteral("Second page")));
        list.AddPage(recordPage(TRpOrientation::poPortrait, QStringLiteral("Third page")));
        list.WriteHeader();
        file_ = dir_.filePath("three.hrp");
        list.SaveToFile(file_);
    }

    PrinterInfo::ScopedOverride noPrinter_{{}};
    QTemporaryDir dir_;
    QString file_;
};

TEST_F(HematixPagesTool, InfoListsHeaderPagesAndLinks)
{
    const ToolRun r = runPages({"info", file_});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("Header: 3 305")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Pages: 3"));
    EXPECT_TRUE(r.out.contains("Compressed: no"));
    EXPECT_TRUE(r.out.contains("Page 1: offset 128"));
    EXPECT_TRUE(r.out.contains("(A4)"));
    EXPECT_TRUE(r.out.contains("(A4 landscape)"));
    EXPECT_TRUE(r.out.contains("Links: OK"));
}

TEST_F(HematixPagesTool, InfoReportsABrokenLink)
{
    QByteArray bytes = testsupport::readFile(file_);
    const quint32 second = qFromLittleEndian<quint32>(bytes.constData() + 132);
    qToLittleEndian<quint32>(quint32(bytes.size() + 1000), bytes.data() + second + 4);
    const QString broken = dir_.filePath("broken.hrp");
    ASSERT_TRUE(testsupport::writeFile(broken, bytes));
    const ToolRun r = runPages({"info", broken});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.contains("page 2: the next-record link")) << r.out.toStdString();
    EXPECT_EQ(runPages({"pdf", broken, dir_.filePath("broken.pdf")}).exitCode, 1);
    EXPECT_FALSE(QFileInfo::exists(dir_.filePath("broken.pdf")));
}

TEST_F(HematixPagesTool, PngOfOnePageAndOfAll)
{
    const QString out = dir_.filePath("png");
    ToolRun r = runPages({"png", file_, out, "--dpi", "50", "--page", "2"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QImage page2(out + "/page-002.png");
    ASSERT_FALSE(page2.isNull());
    EXPECT_EQ(page2.size(), QSize(585, 413)) << "A4 landscape at 50 dpi";
    EXPECT_FALSE(QFileInfo::exists(out + "/page-001.png"));
    // The blue rectangle is there, 10 mm from the corner.
    EXPECT_EQ(page2.pixelColor(50, 50), QColor(0, 0, 200));
    EXPECT_EQ(page2.pixelColor(10, 10), QColor(Qt::white));

    r = runPages({"png", file_, out});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(QImage(out + "/page-001.png").size(), QSize(794, 1123));
    EXPECT_TRUE(QFileInfo::exists(out + "/page-003.png"));
    EXPECT_EQ(runPages({"png", file_, out, "--page", "4"}).exitCode, 1);
}

TEST_F(HematixPagesTool, PdfKeepsEachPageSizeAndOrientation)
{
    const QString pdf = dir_.filePath("three.pdf");
    const ToolRun r = runPages({"pdf", file_, pdf});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QByteArray bytes = testsupport::readFile(pdf);
    ASSERT_TRUE(bytes.startsWith("%PDF"));
    // Page boxes in points: A4 portrait 595 x 842, the second page turned.
    QList<QSizeF> boxes;
    const QRegularExpression box(QStringLiteral("/MediaBox \\[0 0 ([0-9.]+) ([0-9.]+)\\]"));
    for (auto it = box.globalMatch(QString::fromLatin1(bytes)); it.hasNext();) {
        const auto m = it.next();
        boxes.append(QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble()));
    }
    ASSERT_EQ(boxes.size(), 3);
    EXPECT_NEAR(boxes[0].width(), 595.3, 1);
    EXPECT_NEAR(boxes[0].height(), 841.9, 1);
    EXPECT_NEAR(boxes[1].width(), 841.9, 1);
    EXPECT_NEAR(boxes[1].height(), 595.3, 1);
    EXPECT_NEAR(boxes[2].width(), 595.3, 1);
}

TEST_F(HematixPagesTool, UsageAndMissingFiles)
{
    EXPECT_EQ(runPages({}).exitCode, 2);
    EXPECT_EQ(runPages({"frobnicate", file_}).exitCode, 2);
    EXPECT_EQ(runPages({"png", file_, dir_.path(), "--dpi", "x"}).exitCode, 2);
    const ToolRun r = runPages({"info", dir_.filePath("missing.hrp")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.contains("missing.hrp"));
}

} // namespace
