// One recorded page must come out alike on the screen, on a 600 dpi printer and in PDF: text is
// unhinted and placed at the stored advances, so it scales exactly with the device.
#include "EmfTestPages.h"

#include <QBuffer>
#include <QPageLayout>
#include <QPdfWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace emftest;

namespace {

void drawTextPage(PageCanvas& c)
{
    c.setPen({CanvasPenStyle::Solid, 1, Qt::black});
    c.setBrush({CanvasBrushStyle::Clear, Qt::white});
    c.rectangle({38, 38, 756, 120});
    CanvasFont f;
    f.charset = 204;
    c.setFont(f);
    c.textOut(46, 50, QStringLiteral("Пациент Иванов И. И., 45 лет"));
    c.setTextAlign(CanvasTextAlign::Right);
    c.textOut(748, 50, QStringLiteral("Дата 12.05.2024"));
    c.setTextAlign(CanvasTextAlign::Center);
    f.height = -21;
    f.bold = true;
    c.setFont(f);
    c.textOut(397, 80, QStringLiteral("Результат гематологического анализа"));
}

// Boxes of the ink of the three texts and of the frame, in page pixels at 96 dpi.
struct Layout {
    QRect left, right, title, frame;
};

Layout layoutOf(const QImage& img, double scale)
{
    const auto area = [&](int l, int t, int r, int b) {
        return QRect(QPoint(int(l * scale), int(t * scale)), QPoint(int(r * scale), int(b * scale)));
    };
    const auto back = [&](const QRect& box) {
        return QRect(QPoint(int(std::lround(box.left() / scale)), int(std::lround(box.top() / scale))),
                     QPoint(int(std::lround(box.right() / scale)), int(std::lround(box.bottom() / scale))));
    };
    Layout l;
    l.left = back(inkBox(img, area(42, 45, 400, 72), isDark));
    l.right = back(inkBox(img, area(500, 45, 752, 72), isDark));
    l.title = back(inkBox(img, area(42, 76, 752, 110), isDark));
    l.frame = back(inkBox(img, area(0, 0, 794, 130), [](QRgb c) { return qGray(c) < 100; }));
    return l;
}

void expectSameLayout(const Layout& a, const Layout& b, int tolerance, const char* what)
{
    for (auto [x, y, name] : {std::tuple{a.left, b.left, "left text"}, std::tuple{a.right, b.right, "right text"},
                              std::tuple{a.title, b.title, "centred title"}, std::tuple{a.frame, b.frame, "frame"}}) {
        ASSERT_FALSE(x.isNull()) << what << ": " << name;
        ASSERT_FALSE(y.isNull()) << what << ": " << name;
        EXPECT_NEAR(x.left(), y.left(), tolerance) << what << ": " << name;
        EXPECT_NEAR(x.right(), y.right(), tolerance) << what << ": " << name;
        EXPECT_NEAR(x.top(), y.top(), tolerance) << what << ": " << name;
        EXPECT_NEAR(x.bottom(), y.bottom(), tolerance) << what << ": " << name;
    }
}

} // namespace

TEST(EmfDeviceAgreement, PrinterResolutionScalesTheWholeLayout)
{
    const QByteArray emf = recordPage(drawTextPage);
    const Layout screen = layoutOf(playPage(emf, true), 1.0);

    // The top of the page at 600 dpi, as a printer page would get it.
    const double scale = 600.0 / 96.0;
    QImage printer(int(794 * scale), int(130 * scale), QImage::Format_RGB32);
    printer.fill(Qt::white);
    QPainter p(&printer);
    p.setRenderHint(QPainter::Antialiasing);
    EmfPlayer::play(emf, p, QRectF(0, 0, 794 * scale, 1123 * scale));
    p.end();
    // Within a pixel at 96 dpi: glyphs sit at the stored advances, scaled with the device.
    expectSameLayout(screen, layoutOf(printer, scale), 1, "600 dpi");
}

TEST(EmfDeviceAgreement, PdfMatchesTheScreen)
{
    const QString gs = QStandardPaths::findExecutable(QStringLiteral("gs"));
    if (gs.isEmpty())
        GTEST_SKIP() << "ghostscript is not installed (Debian package ghostscript): the PDF was not rasterised";
    const QByteArray emf = recordPage(drawTextPage);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString pdfPath = dir.filePath(QStringLiteral("page.pdf")), pngPath = dir.filePath(QStringLiteral("page.png"));
    {
        QPdfWriter pdf(pdfPath);
        pdf.setResolution(600);
        pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
        QPainter p(&pdf);
        EmfPlayer::play(emf, p, QRectF(0, 0, pdf.width(), pdf.height()));
    }
    QProcess proc;
    proc.start(gs, {QStringLiteral("-q"), QStringLiteral("-dNOPAUSE"), QStringLiteral("-dBATCH"), QStringLiteral("-dSAFER"),
                    QStringLiteral("-sDEVICE=png16m"), QStringLiteral("-r96"), QStringLiteral("-dTextAlphaBits=4"),
                    QStringLiteral("-sOutputFile=") + pngPath, pdfPath});
    ASSERT_TRUE(proc.waitForFinished(60000));
    QImage raster(pngPath);
    ASSERT_FALSE(raster.isNull()) << proc.readAllStandardError().toStdString();
    raster = raster.convertToFormat(QImage::Format_RGB32);
    expectSameLayout(layoutOf(playPage(emf, true), 1.0), layoutOf(raster, 1.0), 1, "PDF");
}
