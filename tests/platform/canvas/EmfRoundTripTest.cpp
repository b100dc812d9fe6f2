// Pages recorded as metafiles and played back must look exactly like the same pages painted
// directly, and the metafile must carry what other readers rely on.
#include "EmfTestPages.h"
#include "platform/canvas/EmfFormat.h"
#include "platform/canvas/TextMeasure.h"

#include <gtest/gtest.h>

using namespace emftest;

namespace {

struct RecordInfo {
    quint32 type;
    qsizetype offset;
    quint32 size;
};

std::vector<RecordInfo> records(const QByteArray& emf)
{
    std::vector<RecordInfo> out;
    const auto* p = reinterpret_cast<const uchar*>(emf.constData());
    qsizetype pos = 0;
    while (pos + 8 <= emf.size()) {
        const quint32 type = emf::loadU32(p + pos), size = emf::loadU32(p + pos + 4);
        out.push_back({type, pos, size});
        if (size < 8)
            break;
        pos += size;
    }
    return out;
}

quint32 u32(const QByteArray& b, qsizetype at) { return emf::loadU32(reinterpret_cast<const uchar*>(b.constData()) + at); }
qint32 i32(const QByteArray& b, qsizetype at) { return qint32(u32(b, at)); }

} // namespace

TEST(EmfRoundTrip, EveryOperationPlaysBackPixelForPixelWithoutAntialiasing)
{
    const QByteArray emf = recordPage(drawEveryOperation);
    const QImage played = playPage(emf, false);
    const QImage direct = paintDirect(drawEveryOperation, false);
    QRect where;
    EXPECT_EQ(differingPixels(played, direct, &where), 0) << "differences within " << where.x() << "," << where.y()
                                                          << " " << where.width() << "x" << where.height();
    // The page is not blank: the comparison compared something.
    EXPECT_GT(inkBox(played, played.rect(), isDark).width(), 600);
}

TEST(EmfRoundTrip, EveryOperationPlaysBackPixelForPixelWithAntialiasing)
{
    // Both ends paint through the same code with the same coordinates, so even the
    // anti-aliased edges agree.
    const QByteArray emf = recordPage(drawEveryOperation);
    EXPECT_EQ(differingPixels(playPage(emf, true), paintDirect(drawEveryOperation, true)), 0);
}

TEST(EmfRoundTrip, GdiPixelConventions)
{
    const auto draw = [](PageCanvas& c) {
        c.fillRect({10, 10, 20, 15}, Qt::red); // columns 10..19, rows 10..14
        c.setPen({CanvasPenStyle::Solid, 1, Qt::black});
        c.setBrush({CanvasBrushStyle::Solid, Qt::blue});
        c.rectangle({30, 10, 40, 20}); // outline on columns 30 and 39, rows 10 and 19
        c.moveTo(50, 10);
        c.lineTo(60, 10); // pixels 50..59, not 60
    };
    const QImage exact = playPage(recordPage(draw, QSize(100, 40), QSizeF(100, 40)), false, QSize(100, 40));
    EXPECT_EQ(QColor(exact.pixel(10, 10)), QColor(Qt::red));
    EXPECT_EQ(QColor(exact.pixel(19, 14)), QColor(Qt::red));
    EXPECT_EQ(QColor(exact.pixel(20, 14)), QColor(Qt::white));
    EXPECT_EQ(QColor(exact.pixel(19, 15)), QColor(Qt::white));
    EXPECT_EQ(QColor(exact.pixel(30, 15)), QColor(Qt::black));
    EXPECT_EQ(QColor(exact.pixel(39, 15)), QColor(Qt::black));
    EXPECT_EQ(QColor(exact.pixel(35, 19)), QColor(Qt::black));
    EXPECT_EQ(QColor(exact.pixel(35, 15)), QColor(Qt::blue));
    EXPECT_EQ(QColor(exact.pixel(40, 15)), QColor(Qt::white));
    EXPECT_EQ(QColor(exact.pixel(35, 20)), QColor(Qt::white));
    EXPECT_EQ(QColor(exact.pixel(50, 10)), QColor(Qt::black));
    EXPECT_EQ(QColor(exact.pixel(59, 10)), QColor(Qt::black));
    EXPECT_EQ(QColor(exact.pixel(60, 10)), QColor(Qt::white));
    EXPECT_EQ(QColor(exact.pixel(55, 11)), QColor(Qt::white));
}

TEST(EmfRoundTrip, HeaderDescribesTheA4PageAtNinetySixDpi)
{
    const QByteArray emf = recordPage([](PageCanvas& c) { c.fillRect({100, 200, 110, 250}, Qt::black); });
    const EmfHeader h = EmfPlayer::readHeader(emf);
    EXPECT_EQ(h.bytes, quint32(emf.size()));
    const auto recs = records(emf);
    EXPECT_EQ(h.records, recs.size());
    EXPECT_EQ(recs.front().type, emf::EMR_HEADER);
    EXPECT_EQ(recs.back().type, emf::EMR_EOF);
    EXPECT_EQ(recs.back().size, 20u);
    EXPECT_EQ(u32(emf, recs.back().offset + 12), 16u); // offPalEntries
    EXPECT_EQ(u32(emf, recs.back().offset + 16), 20u); // nSizeLast
    EXPECT_EQ(h.frameLeft, 0);
    EXPECT_EQ(h.frameTop, 0);
    EXPECT_EQ(h.frameRight, 21000);
    EXPECT_EQ(h.frameBottom, 29700);
    EXPECT_EQ(h.devicePixels, QSize(794, 1123));
    EXPECT_EQ(h.deviceMillimetres, QSize(210, 297));
    EXPECT_EQ(h.deviceMicrometres, QSize(210000, 297000));
    EXPECT_EQ(h.boundsLeft, 100);
    EXPECT_EQ(h.boundsTop, 200);
    EXPECT_EQ(h.boundsRight, 109);
    EXPECT_EQ(h.boundsBottom, 249);
    EXPECT_EQ(h.description, QString::fromUtf16(u"Hematix\0Test\0\0", 14));
    EXPECT_EQ(h.sizeInPixels(), QSize(794, 1123));
    // Every object slot in use is below nHandles.
    for (const auto& r : recs)
        if (r.type == emf::EMR_CREATEBRUSHINDIRECT || r.type == emf::EMR_SELECTOBJECT) {
            const quint32 slot = u32(emf, r.offset + 8);
            if (!(slot & emf::kStockObject)) {
                EXPECT_GT(slot, 0u);
                EXPECT_LT(slot, h.handles);
            }
        }
}

TEST(EmfRoundTrip, BoundsCoverLinesShapesAndText)
{
    // Readers such as Inkscape place a drawing by its bounds: they must cover everything drawn.
    const QByteArray emf = recordPage([](PageCanvas& c) {
        c.moveTo(30, 20);
        c.lineTo(30, 900); // vertical line, the left- and bottom-most element
        c.setPen({CanvasPenStyle::Solid, 5, Qt::black});
        c.rectangle({100, 15, 200, 40}); // wide pen: top edge reaches above 15
        c.setTextAlign(CanvasTextAlign::Right);
        c.textOut(760, 100, QStringLiteral("right edge"));
    });
    const EmfHeader h = EmfPlayer::readHeader(emf);
    const QImage img = playPage(emf, false);
    const QRect ink = inkBox(img, img.rect(), [](QRgb c) { return c != qRgb(255, 255, 255); });
    EXPECT_LE(h.boundsLeft, ink.left());
    EXPECT_LE(h.boundsTop, ink.top());
    EXPECT_GE(h.boundsRight, ink.right());
    EXPECT_GE(h.boundsBottom, ink.bottom());
    EXPECT_NEAR(h.boundsLeft, 30, 1);
    EXPECT_NEAR(h.boundsBottom, 900, 1);
}

TEST(EmfRoundTrip, LandscapeSwapsEveryPair)
{
    const QByteArray emf = recordPage([](PageCanvas&) {}, QSize(1123, 794), QSizeF(297, 210));
    const EmfHeader h = EmfPlayer::readHeader(emf);
    EXPECT_EQ(h.frameRight, 29700);
    EXPECT_EQ(h.frameBottom, 21000);
    EXPECT_EQ(h.devicePixels, QSize(1123, 794));
    EXPECT_EQ(h.deviceMillimetres, QSize(297, 210));
    EXPECT_EQ(h.deviceMicrometres, QSize(297000, 210000));
    // Nothing drawn: the bounds say empty.
    EXPECT_EQ(h.boundsRight, -1);
    EXPECT_EQ(h.boundsBottom, -1);
}

TEST(EmfRoundTrip, CyrillicTextIsStoredAsUtf16WithTheMeasuredAdvances)
{
    const QString text = QStringLiteral("Страница 2 из 3");
    CanvasFont font;
    font.charset = 204;
    QSize extent;
    const QByteArray emf = recordPage([&](PageCanvas& c) {
        c.setFont(font);
        extent = c.textExtent(text);
        c.textOut(10, 20, text);
    });
    bool found = false;
    for (const auto& r : records(emf)) {
        if (r.type == emf::EMR_EXTCREATEFONTINDIRECTW) {
            EXPECT_EQ(emf.at(r.offset + 35), char(204)); // charset kept for other readers
        }
        if (r.type != emf::EMR_EXTTEXTOUTW)
            continue;
        found = true;
        const quint32 n = u32(emf, r.offset + 44), offString = u32(emf, r.offset + 48), offDx = u32(emf, r.offset + 72);
        ASSERT_EQ(n, quint32(text.size()));
        QString stored;
        for (quint32 i = 0; i < n; ++i)
            stored.append(QChar(char16_t(emf::loadU16(reinterpret_cast<const uchar*>(emf.constData()) + r.offset + offString + 2 * i))));
        EXPECT_EQ(stored, text);
        ASSERT_NE(offDx, 0u);
        int sum = 0;
        for (quint32 i = 0; i < n; ++i)
            sum += i32(emf, r.offset + offDx + 4 * i);
        EXPECT_EQ(sum, extent.width()) << "layout and stored advances must agree";
        EXPECT_EQ(i32(emf, r.offset + 36), 10);
        EXPECT_EQ(i32(emf, r.offset + 40), 20);
    }
    EXPECT_TRUE(found);
    // And the text plays: ink where the text is.
    const QImage img = playPage(emf, false);
    const QRect ink = inkBox(img, QRect(0, 0, 400, 60), isDark);
    EXPECT_GE(ink.left(), 10);
    EXPECT_LE(ink.right(), 10 + extent.width());
    EXPECT_GE(ink.top(), 20);
    EXPECT_LE(ink.bottom(), 20 + extent.height());
}

TEST(EmfRoundTrip, TextAnchorsFollowTheAlignment)
{
    const QString text = QStringLiteral("Дата 12.05");
    int width = 0;
    const QByteArray emf = recordPage([&](PageCanvas& c) {
        width = c.textExtent(text).width();
        c.textOut(100, 20, text);
        c.setTextAlign(CanvasTextAlign::Right);
        c.textOut(700, 60, text);
        c.setTextAlign(CanvasTextAlign::Center);
        c.textOut(400, 100, text);
    });
    const QImage img = playPage(emf, false);
    const QRect left = inkBox(img, QRect(0, 15, 794, 30), isDark);
    const QRect right = inkBox(img, QRect(0, 55, 794, 30), isDark);
    const QRect centre = inkBox(img, QRect(0, 95, 794, 30), isDark);
    // Ink lies within the advance box, starting at most a pixel in from its edge.
    EXPECT_NEAR(left.left(), 100, 2);
    EXPECT_LE(left.right(), 100 + width);
    EXPECT_NEAR(right.right(), 699, 2);
    EXPECT_GE(right.left(), 700 - width);
    EXPECT_NEAR((centre.left() + centre.right()) / 2.0, 400, 2);
    EXPECT_GE(left.top(), 20); // the anchor is the top of the cell
}

TEST(EmfRoundTrip, SaveAndRestoreBringBackObjectsAndClip)
{
    const auto draw = [](PageCanvas& c) {
        c.setBrush({CanvasBrushStyle::Solid, Qt::blue});
        c.setPen({CanvasPenStyle::Clear, 1, Qt::black});
        c.save();
        c.setBrush({CanvasBrushStyle::Solid, Qt::red});
        c.intersectClipRect({0, 0, 10, 10});
        c.restore();
        c.rectangle({20, 20, 41, 41}); // blue, unclipped
        c.save();
        c.save();
        c.setBrush({CanvasBrushStyle::Solid, Qt::green});
        // left open: finish() unwinds the stack
    };
    const QByteArray emf = recordPage(draw);
    const QImage img = playPage(emf, false);
    EXPECT_EQ(QColor(img.pixel(30, 30)), QColor(Qt::blue));
    EXPECT_EQ(QColor(img.pixel(39, 39)), QColor(Qt::blue));
    int saves = 0, restores = 0;
    for (const auto& r : records(emf)) {
        saves += r.type == emf::EMR_SAVEDC;
        restores += r.type == emf::EMR_RESTOREDC;
    }
    EXPECT_EQ(saves, restores);
}

TEST(EmfRoundTrip, RecorderStartsAFreshPageAfterFinish)
{
    EmfRecorder rec(kA4Pixels, kA4Millimetres);
    rec.setBrush({CanvasBrushStyle::Solid, Qt::red});
    rec.rectangle({0, 0, 10, 10});
    const QByteArray first = rec.finish();
    rec.fillRect({50, 50, 60, 60}, Qt::green);
    const QByteArray second = rec.finish();
    const QImage a = playPage(first, false), b = playPage(second, false);
    EXPECT_EQ(QColor(a.pixel(5, 5)), QColor(Qt::red));
    EXPECT_EQ(QColor(a.pixel(55, 55)), QColor(Qt::white));
    EXPECT_EQ(QColor(b.pixel(5, 5)), QColor(Qt::white));
    EXPECT_EQ(QColor(b.pixel(55, 55)), QColor(Qt::green));
    EXPECT_EQ(EmfPlayer::readHeader(second).bytes, quint32(second.size()));
}

TEST(EmfRoundTrip, PlaysScaledOntoTheTargetRectangle)
{
    const QByteArray emf = recordPage([](PageCanvas& c) { c.fillRect({100, 200, 300, 400}, Qt::black); });
    QImage img = blankPage(QSize(397 + 20, 562 + 20));
    QPainter p(&img);
    EmfPlayer::play(emf, p, QRectF(20, 20, 397, 561.5)); // half size, offset
    p.end();
    const QRect ink = inkBox(img, img.rect(), isDark);
    EXPECT_EQ(ink, QRect(QPoint(70, 120), QPoint(169, 219)));
}

TEST(EmfRoundTrip, ImagesKeepTheirPixelsAndRowOrder)
{
    const QImage pic = quarters(8, 6);
    const QByteArray emf = recordPage([&](PageCanvas& c) { c.stretchImage({0, 0, 80, 60}, pic); });
    const QImage img = playPage(emf, false);
    EXPECT_EQ(img.pixel(20, 20), qRgb(255, 0, 0));   // top left quarter
    EXPECT_EQ(img.pixel(60, 20), qRgb(0, 200, 0));   // top right
    EXPECT_EQ(img.pixel(20, 40), qRgb(0, 0, 255));   // bottom left
    EXPECT_EQ(img.pixel(60, 40), qRgb(255, 255, 0)); // bottom right
    EXPECT_EQ(img.pixel(5, 30), qRgb(0, 0, 0));      // border, stretched to 10 px
    EXPECT_EQ(img.pixel(80, 30), qRgb(255, 255, 255));
}
