// The unit pictures: sizes, pure black on white, the rows their glyphs occupy, and their
// stored bitmap form.
#include "report/model/LayoutLoader.h"
#include "report/model/RpItems.h"
#include "report/model/UnitPictures.h"

#include <QtEndian>
#include <gtest/gtest.h>

using unitpictures::Kind;

namespace {
struct InkRows {
    int first = -1;
    int last = -1;
};

InkRows inkRows(const QImage& img)
{
    InkRows r;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, y) == 0xFF000000) {
                if (r.first < 0)
                    r.first = y;
                r.last = y;
            }
    return r;
}
} // namespace

TEST(LayoutPictures, SizesColoursAndGlyphRows)
{
    const struct {
        Kind kind;
        int width, height, firstRow, lastRow;
    } cases[] = {
        {Kind::TenPow9PerLitre, 50, 23, 1, 14},
        {Kind::TenPow12PerLitre, 52, 30, 5, 19},
        {Kind::PerMille, 28, 21, 6, 15},
    };
    for (const auto& c : cases) {
        const QImage img = unitpictures::draw(c.kind);
        SCOPED_TRACE(c.width);
        ASSERT_EQ(img.width(), c.width);
        ASSERT_EQ(img.height(), c.height);
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                ASSERT_TRUE(img.pixel(x, y) == 0xFF000000 || img.pixel(x, y) == 0xFFFFFFFF) << x << "," << y;
        const InkRows rows = inkRows(img);
        EXPECT_EQ(rows.first, c.firstRow);
        EXPECT_EQ(rows.last, c.lastRow);
    }
}

TEST(LayoutPictures, StoredAsUncompressedBottomUp24BitBitmaps)
{
    const QImage img = unitpictures::draw(Kind::TenPow9PerLitre);
    const QByteArray bmp = unitpictures::toBmp24(img);
    const auto* p = reinterpret_cast<const uchar*>(bmp.constData());
    EXPECT_TRUE(bmp.startsWith("BM"));
    EXPECT_EQ(qFromLittleEndian<quint32>(p + 2), static_cast<quint32>(bmp.size()));
    EXPECT_EQ(qFromLittleEndian<qint32>(p + 18), 50);
    EXPECT_EQ(qFromLittleEndian<qint32>(p + 22), 23);   // positive: bottom-up
    EXPECT_EQ(qFromLittleEndian<quint16>(p + 28), 24);
    EXPECT_EQ(qFromLittleEndian<quint32>(p + 30), 0u);
    EXPECT_EQ(bmp.size(), 54 + 152 * 23);   // 150 bytes a row padded to 152

    const QByteArray data = unitpictures::pictureData(Kind::TenPow9PerLitre);
    EXPECT_TRUE(data.startsWith("\x07TBitmap"));
    EXPECT_EQ(qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(data.constData()) + 8),
              static_cast<quint32>(bmp.size()));
    TRpPicture pic;
    ASSERT_TRUE(TRpPicture::Decode(data, pic).isEmpty());
    EXPECT_EQ(pic.Image.convertToFormat(QImage::Format_RGB32), img);
}

TEST(LayoutPictures, TheResultSheetHoldsTheDrawnPictures)
{
    auto r = layoutloader::loadBuiltin(QStringLiteral("Report"), QString());
    int found = 0;
    r->ForEachItem([&](TRpPrintable& it) {
        auto* img = dynamic_cast<TRpImage*>(&it);
        if (!img)
            return;
        ++found;
        const auto kind = unitpictures::kindForItem(img->Name);
        ASSERT_TRUE(kind.has_value()) << qPrintable(img->Name);
        EXPECT_EQ(img->Picture().Bitmap, unitpictures::toBmp24(unitpictures::draw(*kind))) << qPrintable(img->Name);
    });
    EXPECT_EQ(found, 7);
}

TEST(LayoutPictures, EmbeddingReplacesOnlyThePictureBlocks)
{
    QByteArray text = "object R: TReport\n  object B: TRpBand\n"
                      "    object RpImage7: TRpImage\n      Picture.Data = {\n        00}\n      Stretch = False\n    end\n"
                      "    object Other: TRpImage\n      Picture.Data = {}\n    end\n  end\nend\n";
    EXPECT_EQ(unitpictures::embedInLayout(text), 1);
    EXPECT_TRUE(text.contains("      Stretch = False\n"));
    EXPECT_TRUE(text.contains("Picture.Data = {}"));
    auto r = layoutloader::load(text, QStringLiteral("embedded"));
    const auto& img = dynamic_cast<const TRpImage&>(*r->BandList()[0]->Items()[0]);
    EXPECT_EQ(img.Picture().Image.size(), QSize(28, 21));

    // A block cut short keeps the whole text: nothing after it may be lost.
    QByteArray cut = "object RpImage7: TRpImage\n  Picture.Data = {\n    00\n  Stretch = False\nend\n";
    const QByteArray before = cut;
    EXPECT_THROW(unitpictures::embedInLayout(cut), Exception);
    EXPECT_EQ(cut, before);
}
