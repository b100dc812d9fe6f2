// A page written by Windows GDI plays like GDI's own rendering of it.
#include "EmfTestPages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace emftest;

namespace {

QString dataFile(const char* name) { return testsupport::sourceDir() + QStringLiteral("/tests/platform/data/") + QLatin1String(name); }

std::vector<int> darkRowsInColumn(const QImage& img, int x)
{
    std::vector<int> rows;
    for (int y = 0; y < img.height(); ++y)
        if (isDark(img.pixel(x, y)))
            rows.push_back(y);
    return rows;
}

} // namespace

TEST(EmfWindowsFixture, PlaysWithinAPixelOfGdisRendering)
{
    const QByteArray emf = testsupport::readFile(dataFile("windows-gdi-page.emf"));
    QImage gdi(dataFile("windows-gdi-page.png"));
    ASSERT_FALSE(emf.isEmpty());
    ASSERT_FALSE(gdi.isNull());
    gdi = gdi.convertToFormat(QImage::Format_RGB32);

    // Its reference screen is 1024 x 768 px at 271 x 203 mm: the frame, not 96 dpi, gives the scale.
    const EmfHeader h = EmfPlayer::readHeader(emf);
    EXPECT_EQ(h.devicePixels, QSize(1024, 768));
    const QImage ours = playPage(emf, true, gdi.size());

    // The frame rectangle: GDI plays the recorded box with its right and bottom edge included.
    EXPECT_EQ(darkRowsInColumn(ours, 300).front(), darkRowsInColumn(gdi, 300).front());
    EXPECT_EQ(darkRowsInColumn(ours, 300).back(), darkRowsInColumn(gdi, 300).back());
    const QRect frameOurs = inkBox(ours, QRect(0, 30, 794, 100), [](QRgb c) { return qGray(c) < 64; });
    const QRect frameGdi = inkBox(gdi, QRect(0, 30, 794, 100), [](QRgb c) { return qGray(c) < 64; });
    EXPECT_EQ(frameOurs, frameGdi);

    // Texts: the ink of each (three alignments, Cyrillic, underlined) within a pixel of GDI's. The
    // glyphs differ a little (GDI hints them, we do not), their placement comes from the stored
    // advances. The title asks for Arial Black, which the machine that drew the picture did not
    // have (it drew plain Arial); we draw a heavy face, hence 2 pixels there.
    struct Area {
        const char* what;
        QRect rect;
        int tolerance;
    };
    const Area areas[] = {
        {"title, centred, Arial Black", QRect(45, 42, 705, 33), 2},
        {"left-aligned Cyrillic", QRect(42, 85, 158, 25), 1},
        {"right-aligned Cyrillic", QRect(600, 85, 152, 25), 1},
        {"WBC", QRect(42, 135, 58, 25), 1},
        {"g/L", QRect(110, 135, 90, 25), 1},
        {"underlined page number, right-aligned", QRect(600, 1075, 194, 25), 1},
    };
    for (const Area& a : areas) {
        const QRect o = inkBox(ours, a.rect, isDark), g = inkBox(gdi, a.rect, isDark);
        ASSERT_FALSE(g.isNull()) << a.what;
        ASSERT_FALSE(o.isNull()) << a.what;
        EXPECT_NEAR(o.left(), g.left(), a.tolerance) << a.what;
        EXPECT_NEAR(o.right(), g.right(), a.tolerance) << a.what;
        EXPECT_NEAR(o.top(), g.top(), a.tolerance) << a.what;
        EXPECT_NEAR(o.bottom(), g.bottom(), a.tolerance + 1) << a.what << " (descenders are not hinted up)";
    }
    // Nothing else is drawn anywhere.
    EXPECT_TRUE(inkBox(ours, QRect(0, 170, 794, 900), isDark).isNull());
}
