// Records that other writers (Windows GDI, office programs) use and our recorder does not:
// mapping modes, pattern fills, region clips, palette bitmaps, ANSI text, stock objects.
#include "EmfTestPages.h"

#include <gtest/gtest.h>

using namespace emftest;

namespace {

constexpr quint32 kStockBlackBrush = emf::kStockObject | emf::BLACK_BRUSH;

// A pattern fill of (x, y, cx, cy) with the selected brush, as GDI records FillRect/PatBlt.
QByteArray patBlt(qint32 x, qint32 y, qint32 cx, qint32 cy)
{
    return rec(emf::EMR_BITBLT, {0, 0, 0, 0, quint32(x), quint32(y), quint32(cx), quint32(cy), emf::PATCOPY, 0, 0,
                                 0x3F800000, 0, 0, 0x3F800000, 0, 0, 0, 0, 0, 0, 0, 0});
}

QImage play(const std::vector<QByteArray>& records)
{
    return playPage(assemble(records), false);
}

QRect blackBox(const QImage& img) { return inkBox(img, img.rect(), [](QRgb c) { return c == qRgb(0, 0, 0); }); }

} // namespace

TEST(EmfPlayerRecords, AnisotropicMappingScalesLogicalUnits)
{
    const QImage img = play({
        rec(emf::EMR_SETMAPMODE, {emf::MM_ANISOTROPIC}),
        rec(emf::EMR_SETWINDOWEXTEX, {1000, 1000}),
        rec(emf::EMR_SETVIEWPORTEXTEX, {100, 200}),
        rec(emf::EMR_SETWINDOWORGEX, {100, 0}),
        rec(emf::EMR_SETVIEWPORTORGEX, {5, 5}),
        rec(emf::EMR_SELECTOBJECT, {kStockBlackBrush}),
        patBlt(200, 100, 300, 100), // logical 200..500 x 100..200
    });
    EXPECT_EQ(blackBox(img), QRect(QPoint(15, 25), QPoint(44, 44)));
}

TEST(EmfPlayerRecords, MetricMappingIsUpsideDownInMillimetres)
{
    // MM_LOMETRIC: 0.1 mm units with y growing upwards; the page is 794 px for 210 mm.
    const QImage img = play({
        rec(emf::EMR_SETMAPMODE, {emf::MM_LOMETRIC}),
        rec(emf::EMR_SELECTOBJECT, {kStockBlackBrush}),
        patBlt(100, -100, 100, -100), // 10..20 mm right, 10..20 mm down
    });
    const QRect box = blackBox(img);
    EXPECT_NEAR(box.left(), 38, 1);
    EXPECT_NEAR(box.right(), 75, 1);
    EXPECT_NEAR(box.top(), 38, 1);
    EXPECT_NEAR(box.bottom(), 75, 1);
}

TEST(EmfPlayerRecords, RegionAndExcludeClips)
{
    // Region in device pixels: a 20 x 20 square; then a hole cut out of it.
    const QImage img = play({
        rec(emf::EMR_EXTSELECTCLIPRGN, {48, emf::RGN_COPY, 32, 1, 1, 16, 10, 10, 30, 30, 10, 10, 30, 30}),
        rec(emf::EMR_EXCLUDECLIPRECT, {15, 15, 20, 20}),
        rec(emf::EMR_SELECTOBJECT, {kStockBlackBrush}),
        patBlt(0, 0, 100, 100),
        rec(emf::EMR_EXTSELECTCLIPRGN, {0, emf::RGN_COPY}), // no region: clip removed
        patBlt(50, 50, 5, 5),
    });
    EXPECT_EQ(img.pixel(10, 10), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(29, 29), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(30, 30), qRgb(255, 255, 255));
    EXPECT_EQ(img.pixel(9, 20), qRgb(255, 255, 255));
    EXPECT_EQ(img.pixel(17, 17), qRgb(255, 255, 255)); // the hole
    EXPECT_EQ(img.pixel(52, 52), qRgb(0, 0, 0));
}

TEST(EmfPlayerRecords, PaletteBitmapsAndTopDownBlits)
{
    // STRETCHDIBITS of an 8-bit 2 x 2 bottom-up bitmap with a red/green palette.
    QByteArray dib = rec(emf::EMR_STRETCHDIBITS, {0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 80, 48, 128, 8, 0, emf::SRCCOPY, 20, 20});
    {
        emf::Writer w(dib);
        w.u32(40);
        w.i32(2);
        w.i32(2);
        w.u16(1);
        w.u16(8);
        w.zeros(16);
        w.u32(2);
        w.u32(0);
        w.u32(0x000000FF); // palette 0: blue (bytes B, G, R, 0)
        w.u32(0x0000FF00); // palette 1: green
        w.u32(0x00000100); // bottom row: blue, green
        w.u32(0x00000001); // top row: green, blue
        emf::patchU32(dib, 4, quint32(dib.size()));
    }
    // BITBLT of a 32-bit top-down 2 x 2 bitmap at (40, 0), 2 x 2 pixels.
    QByteArray blit = rec(emf::EMR_BITBLT, {0, 0, 0, 0, 40, 0, 2, 2, emf::SRCCOPY, 0, 0, 0x3F800000, 0, 0, 0x3F800000, 0,
                                            0, 0, 0, 100, 40, 140, 16});
    {
        emf::Writer w(blit);
        w.u32(40);
        w.i32(2);
        w.i32(-2);
        w.u16(1);
        w.u16(32);
        w.zeros(24);
        w.u32(0x00FF0000); // red
        w.u32(0x0000FF00);
        w.u32(0x000000FF);
        w.u32(0x00000000);
        emf::patchU32(blit, 4, quint32(blit.size()));
    }
    const QImage img = play({dib, blit});
    EXPECT_EQ(img.pixel(5, 5), qRgb(0, 255, 0));   // top left: green
    EXPECT_EQ(img.pixel(15, 5), qRgb(0, 0, 255));  // top right: blue
    EXPECT_EQ(img.pixel(5, 15), qRgb(0, 0, 255));  // bottom left: blue
    EXPECT_EQ(img.pixel(15, 15), qRgb(0, 255, 0)); // bottom right: green
    EXPECT_EQ(img.pixel(40, 0), qRgb(255, 0, 0));  // top-down: first row first
    EXPECT_EQ(img.pixel(41, 1), qRgb(0, 0, 0));
}

TEST(EmfPlayerRecords, AnsiTextInTheFontsCodePage)
{
    // "Дата" in code page 1251 with a Russian-charset Arial, against the same text as UTF-16.
    QByteArray font = rec(emf::EMR_EXTCREATEFONTINDIRECTW, {1, quint32(-13), 0, 0, 0, 400, 0xCC000000}, 68);
    font.replace(40, 10, QByteArray("A\0r\0i\0a\0l\0", 10));
    QByteArray ansi = rec(emf::EMR_EXTTEXTOUTA, {0, 0, 0, 0, 1, 0, 0, 10, 10, 4, 76, 0, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0}, 4);
    ansi.replace(76, 4, QByteArray("\xc4\xe0\xf2\xe0", 4));
    QByteArray wide = rec(emf::EMR_EXTTEXTOUTW, {0, 0, 0, 0, 1, 0, 0, 10, 10, 4, 76, 0, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0}, 8);
    const QString text = QStringLiteral("Дата");
    for (int i = 0; i < 4; ++i)
        qToLittleEndian(quint16(text[i].unicode()), wide.data() + 76 + 2 * i);
    const QImage a = play({font, rec(emf::EMR_SELECTOBJECT, {1}), ansi});
    const QImage w = play({font, rec(emf::EMR_SELECTOBJECT, {1}), wide});
    EXPECT_FALSE(inkBox(a, a.rect(), isDark).isNull());
    EXPECT_EQ(differingPixels(a, w), 0);
}

TEST(EmfPlayerRecords, ObjectsReplacedDeletedAndRestored)
{
    const QImage img = play({
        rec(emf::EMR_CREATEBRUSHINDIRECT, {1, emf::BS_SOLID, 0x0000FF, 0}), // red
        rec(emf::EMR_SELECTOBJECT, {1}),
        rec(emf::EMR_SAVEDC, {}),
        rec(emf::EMR_SELECTOBJECT, {kStockBlackBrush}),
        rec(emf::EMR_DELETEOBJECT, {1}),
        rec(emf::EMR_CREATEBRUSHINDIRECT, {1, emf::BS_SOLID, 0x00FF00, 0}), // green, same slot
        rec(emf::EMR_SELECTOBJECT, {1}),
        patBlt(0, 0, 10, 10),
        rec(emf::EMR_RESTOREDC, {quint32(-1)}), // red again: the state keeps the brush itself
        patBlt(20, 0, 10, 10),
        rec(emf::EMR_SELECTOBJECT, {emf::kStockObject | emf::NULL_BRUSH}),
        patBlt(40, 0, 10, 10),
    });
    EXPECT_EQ(img.pixel(5, 5), qRgb(0, 255, 0));
    EXPECT_EQ(img.pixel(25, 5), qRgb(255, 0, 0));
    EXPECT_EQ(img.pixel(45, 5), qRgb(255, 255, 255));
}

TEST(EmfPlayerRecords, TextRectangleOptionsFillAndClip)
{
    // "WWWW" at (10, 10) with the rectangle (0, 0)-(20, 40) filled with the background colour
    // (ETO_OPAQUE) and the glyphs cut at its right edge (ETO_CLIPPED).
    QByteArray text = rec(emf::EMR_EXTTEXTOUTW, {0, 0, 0, 0, 1, 0, 0, 10, 10, 4, 76, emf::ETO_OPAQUE | emf::ETO_CLIPPED,
                                                 0, 0, 20, 40, 0}, 8);
    for (int i = 0; i < 4; ++i)
        qToLittleEndian(quint16('W'), text.data() + 76 + 2 * i);
    const QImage img = play({rec(emf::EMR_SETBKCOLOR, {0x00FFFF}), text}); // yellow
    EXPECT_EQ(img.pixel(1, 1), qRgb(255, 255, 0));
    EXPECT_EQ(img.pixel(19, 39), qRgb(255, 255, 0));
    EXPECT_EQ(img.pixel(20, 20), qRgb(255, 255, 255));
    const QRect ink = inkBox(img, QRect(0, 0, 100, 50), isDark);
    ASSERT_FALSE(ink.isNull());
    EXPECT_EQ(ink.left(), 10);
    EXPECT_EQ(ink.right(), 19); // the rest of the four letters is clipped
}
