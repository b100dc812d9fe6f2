// What a page costs to draw is bounded by what the page claims, not by the size it is drawn at:
// a small hostile file (a thousand page-sized fills, glyphs taller than the sheet) stops with an
// EmfError instead of taking seconds, while real report pages cost a small part of the budget.
#include "EmfTestPages.h"
#include "platform/EmfFormat.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace emftest;

namespace {

// A pattern copy without a source bitmap filling the whole A4 page black: one record that covers
// one page area.
QByteArray pageFill()
{
    std::vector<quint32> f = {0, 0, 793, 1122, 0, 0, 794, 1123, 0x00000042};
    f.resize(23, 0);
    return rec(emf::EMR_BITBLT, f);
}

QByteArray fills(int n)
{
    return assemble(std::vector<QByteArray>(size_t(n), pageFill()));
}

struct Played {
    double work = 0;
    QString error;
};

Played play(const QByteArray& emf, QSize target = kA4Pixels)
{
    QImage img = blankPage(target);
    QPainter p(&img);
    Played out;
    try {
        out.work = EmfPlayer::play(emf, p, QRectF(QPointF(0, 0), QSizeF(target)));
    } catch (const EmfError& e) {
        out.error = e.message();
    }
    return out;
}

// Glyph runs of `records` records of 40 wide letters at the given em height, each at the top left.
QByteArray letters(int emHeight, int records)
{
    return recordPage([&](PageCanvas& c) {
        CanvasFont f;
        f.height = -emHeight;
        c.setFont(f);
        for (int i = 0; i < records; ++i)
            c.textOut(0, 0, QStringLiteral("WMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWMWM"));
    });
}

} // namespace

TEST(EmfWorkBound, PageAreasCoveredOnTheEdgeOfTheLimit)
{
    // Each fill costs its record, its call and a thousand units for the page it covers: 1002.
    // 998 of them stay within a million units, 999 do not, and drawing stops at the 999th.
    const Played within = play(fills(998));
    EXPECT_TRUE(within.error.isEmpty()) << within.error.toStdString();
    EXPECT_NEAR(within.work, 998 * 1002.0, 10);
    EXPECT_LE(within.work, EmfPlayer::kMaxPageWork);

    const Played beyond = play(fills(999));
    EXPECT_TRUE(beyond.error.contains(QLatin1String("record 999 "))) << beyond.error.toStdString();
    EXPECT_TRUE(beyond.error.contains(QLatin1String("more drawing than a page may cost"))) << beyond.error.toStdString();
}

TEST(EmfWorkBound, TheLimitIsTheSameAtEverySize)
{
    // The same page stops at the same record however large the target is, and a page within the
    // limit costs the same units at every size.
    const QByteArray heavy = fills(1200);
    const QByteArray light = fills(10);
    const Played a4 = play(heavy);
    const double lightA4 = play(light).work;
    ASSERT_FALSE(a4.error.isEmpty());
    for (QSize target : {QSize(40, 56), QSize(397, 561), QSize(1588, 2246)}) {
        SCOPED_TRACE(testing::Message() << target.width() << " x " << target.height());
        EXPECT_EQ(play(heavy, target).error, a4.error);
        EXPECT_DOUBLE_EQ(play(light, target).work, lightA4);
    }
}

TEST(EmfWorkBound, GlyphsTallerThanThePageAreRefusedOrdinaryTextIsNot)
{
    struct Case {
        int emHeight;
        int records;
        bool refused;
    };
    // 12,000 glyphs each as tall as the sheet: refused early. The same letters at report sizes,
    // or a few sheet-sized ones, draw.
    const Case cases[] = {{1100, 300, true}, {5000, 300, true}, {100000, 30, true},
                          {13, 300, false}, {40, 300, false}, {1100, 5, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "em " << c.emHeight << ", " << c.records << " records");
        const Played p = play(letters(c.emHeight, c.records));
        EXPECT_EQ(!p.error.isEmpty(), c.refused) << p.error.toStdString();
        if (c.refused) {
            EXPECT_TRUE(p.error.contains(QLatin1String("type 84"))) << p.error.toStdString();
        }
    }
}

TEST(EmfWorkBound, RealPagesCostLittleOfTheBudget)
{
    // Every operation a report uses, and a page of 60 lines of dense text: each under 2 % of the
    // budget, so a real page is far from the limit.
    const QByteArray every = recordPage(drawEveryOperation);
    const QByteArray dense = recordPage([](PageCanvas& c) {
        c.setFont(CanvasFont());
        for (int i = 0; i < 60; ++i)
            c.textOut(20, 20 + 18 * i, QString(110, QLatin1Char('8')));
        c.setBrush({CanvasBrushStyle::Solid, QColor(240, 240, 240)});
        for (int i = 0; i < 60; ++i)
            c.rectangle({10, 18 + 18 * i, 784, 37 + 18 * i});
    });
    for (const QByteArray& page : {every, dense}) {
        const Played p = play(page);
        EXPECT_TRUE(p.error.isEmpty()) << p.error.toStdString();
        EXPECT_GT(p.work, 0);
        EXPECT_LT(p.work, EmfPlayer::kMaxPageWork * 0.02);
    }
}
