// A page recorded by us must open correctly in an independent reader of the format. Inkscape
// converts it to PNG; we compare the shapes (position and size of every coloured element and
// text line, clipping, bitmap quarters) with our own playback.
#include "EmfTestPages.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace emftest;

namespace {

std::function<bool(QRgb)> near(QRgb target, int tolerance = 40)
{
    return [=](QRgb c) {
        return std::abs(qRed(c) - qRed(target)) <= tolerance && std::abs(qGreen(c) - qGreen(target)) <= tolerance
            && std::abs(qBlue(c) - qBlue(target)) <= tolerance;
    };
}

// A thin line comes out anti-aliased, lighter than its pen.
bool greenish(QRgb c) { return qGreen(c) > qRed(c) + 40 && qGreen(c) > qBlue(c) + 40; }

} // namespace

TEST(EmfInkscape, RecordedPageOpensWithTheSameShapes)
{
    const QString inkscape = QStandardPaths::findExecutable(QStringLiteral("inkscape"));
    if (inkscape.isEmpty())
        GTEST_SKIP() << "inkscape is not installed (Debian package inkscape): the recorded page was not checked "
                        "against an independent reader";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Corner marks make the drawn bounds the whole page: Inkscape places a drawing by its bounds.
    const QByteArray emf = recordPage([](PageCanvas& c) {
        c.fillRect({0, 0, 4, 4}, Qt::black);
        c.fillRect({790, 1119, 794, 1123}, Qt::black);
        drawEveryOperation(c);
    });
    const QString emfPath = dir.filePath(QStringLiteral("page.emf")), pngPath = dir.filePath(QStringLiteral("page.png"));
    QFile file(emfPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(emf);
    file.close();

    QProcess proc;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), dir.path()); // keep its preferences out of the user's folder
    proc.setProcessEnvironment(env);
    proc.start(inkscape, {emfPath, QStringLiteral("--export-type=png"), QStringLiteral("--export-filename=") + pngPath,
                          QStringLiteral("--export-background=white"), QStringLiteral("--export-background-opacity=1")});
    ASSERT_TRUE(proc.waitForFinished(120000)) << "inkscape did not finish";
    QImage theirs(pngPath);
    ASSERT_FALSE(theirs.isNull()) << "inkscape wrote no picture: " << proc.readAllStandardError().toStdString();
    theirs = theirs.convertToFormat(QImage::Format_RGB32);
    const QImage ours = playPage(emf, true);

    // Inkscape draws the page 1:1 at the frame's size.
    EXPECT_NEAR(theirs.width(), 794, 1);
    EXPECT_NEAR(theirs.height(), 1123, 1);

    const QPoint shift(0, 0);
    const QImage& t = theirs;

    struct Element {
        const char* what;
        std::function<bool(QRgb)> is;
        QRect area; // where to look in our coordinates
        int tolerance; // pixels; 1 for shapes. Texts 3: Inkscape sets them with its own advances, not
                       // the stored ones, so a line's end drifts (the 35-letter title ends 5 px short).
    };
    const Element elements[] = {
        {"yellow fill", near(qRgb(255, 220, 0), 20), QRect(30, 30, 180, 40), 1},
        {"blue rectangle", near(qRgb(0, 0, 255)), QRect(30, 70, 180, 80), 1},
        {"red ellipse outline", near(qRgb(200, 0, 0), 60), QRect(230, 70, 180, 80), 2},
        {"teal rectangle without outline", near(qRgb(0, 160, 160)), QRect(630, 70, 120, 80), 1},
        {"horizontal green line", greenish, QRect(30, 160, 730, 20), 1},
        {"magenta rectangle cut by the clip", near(qRgb(255, 0, 255)), QRect(0, 480, 310, 90), 1},
        {"red fill cut by the clip", near(qRgb(255, 0, 0), 30), QRect(425, 485, 180, 80), 1},
        {"green fill after the clip is removed", near(qRgb(0, 255, 0), 30), QRect(510, 490, 60, 60), 1},
        {"left-aligned text", isDark, QRect(30, 255, 300, 25), 3},
        {"right-aligned text", isDark, QRect(500, 255, 260, 25), 3},
        {"centred text", isDark, QRect(300, 295, 200, 25), 3},
        {"Cyrillic bold title", near(qRgb(0, 0, 160), 90), QRect(30, 770, 500, 40), 6},
        {"opaque text background", near(qRgb(255, 200, 200), 20), QRect(30, 455, 200, 30), 2},
        {"italic underlined text", near(qRgb(0, 0, 160), 90), QRect(30, 405, 300, 25), 3},
    };
    for (const Element& e : elements) {
        const QRect o = inkBox(ours, e.area, e.is);
        const QRect th = inkBox(t, e.area.translated(-shift), e.is).translated(shift);
        ASSERT_FALSE(o.isNull()) << e.what << " missing in our playback";
        ASSERT_FALSE(th.isNull()) << e.what << " missing in inkscape's picture";
        EXPECT_NEAR(th.left(), o.left(), e.tolerance) << e.what;
        EXPECT_NEAR(th.right(), o.right(), e.tolerance) << e.what;
        EXPECT_NEAR(th.top(), o.top(), e.tolerance) << e.what;
        EXPECT_NEAR(th.bottom(), o.bottom(), e.tolerance) << e.what;
    }
    // The bitmap: its four quarters in place, rows not flipped (inkscape smooths the edges).
    const struct {
        QPoint at;
        QRgb colour;
    } quartersAt[] = {{{85, 635}, qRgb(255, 0, 0)}, {{155, 635}, qRgb(0, 200, 0)}, {{85, 685}, qRgb(0, 0, 255)}, {{155, 685}, qRgb(255, 255, 0)}};
    for (const auto& q : quartersAt) {
        EXPECT_TRUE(near(q.colour, 60)(ours.pixel(q.at)));
        EXPECT_TRUE(near(q.colour, 60)(t.pixel(q.at - shift))) << "bitmap quarter at " << q.at.x() << "," << q.at.y();
    }
}
