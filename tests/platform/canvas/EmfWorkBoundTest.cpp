// What a page costs to draw is bounded by what the page claims, not by the size it is drawn at:
// a small hostile file (a thousand page-sized fills, glyphs taller than the sheet) stops with an
// EmfError instead of taking seconds, while real report pages cost a small part of the budget.
#include "EmfTestPages.h"
#include "fuzz/entries/HostilePages.h"
#include "platform/canvas/EmfFormat.h"
#include "support/TestSupport.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

using namespace emftest;

namespace {

// A pattern copy without a source bitmap filling the whole A4 page black: one record that covers
// one page area.
QByteArray pageFill(QSize px = kA4Pixels)
{
    const auto w = quint32(px.width()), h = quint32(px.height());
    std::vector<quint32> f = {0, 0, w - 1, h - 1, 0, 0, w, h, 0x00000042};
    f.resize(23, 0);
    return rec(emf::EMR_BITBLT, f);
}

QByteArray fills(int n)
{
    return assemble(std::vector<QByteArray>(size_t(n), pageFill()));
}

// n fills of a whole A0 sheet (841 x 1189 mm, sixteen A4 sheets) recorded at 96 dpi.
QByteArray a0Fills(int n)
{
    const QSize px(3179, 4494);
    QByteArray page = recordPage([](PageCanvas&) {}, px, QSizeF(841, 1189));
    page.truncate(qsizetype(emf::loadU32(reinterpret_cast<const uchar*>(page.constData()) + 4)));
    for (int i = 0; i < n; ++i)
        page += pageFill(px);
    page += rec(emf::EMR_EOF, {0, 16, 20});
    emf::patchU32(page, 48, quint32(page.size()));
    emf::patchU32(page, 52, quint32(n + 2));
    return page;
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
    // 499 of them stay within half a million units, 500 do not, and drawing stops at the 500th.
    const Played within = play(fills(499));
    EXPECT_TRUE(within.error.isEmpty()) << within.error.toStdString();
    EXPECT_NEAR(within.work, 499 * 1002.0, 10);
    EXPECT_LE(within.work, EmfPlayer::kMaxPageWork);

    const Played beyond = play(fills(500));
    EXPECT_TRUE(beyond.error.contains(QLatin1String("record 500 "))) << beyond.error.toStdString();
    EXPECT_TRUE(beyond.error.contains(QLatin1String("more drawing than a page may cost"))) << beyond.error.toStdString();
}

TEST(EmfWorkBound, ALargerSheetCostsByItsArea)
{
    // An A0 fill covers sixteen A4 sheets' worth of pixels at any resolution: 31 fit the budget,
    // 32 do not.
    EXPECT_TRUE(play(a0Fills(31), QSize(210, 297)).error.isEmpty());
    const Played beyond = play(a0Fills(32), QSize(210, 297));
    EXPECT_TRUE(beyond.error.contains(QLatin1String("record 32 "))) << beyond.error.toStdString();
}

TEST(EmfWorkBound, TheLimitIsTheSameAtEverySize)
{
    // The same page stops at the same record however large the target is, and a page within the
    // limit costs the same units at every size.
    const QByteArray heavy = fills(600);
    const QByteArray light = fills(10);
    const Played a4 = play(heavy);
    const double lightA4 = play(light).work;
    ASSERT_FALSE(a4.error.isEmpty());
    for (QSize target : {QSize(40, 56), QSize(397, 561), QSize(1588, 2246)}) {
        SCOPED_TRACE(testing::Message() << target.width() << " x " << target.height());
        if (target.width() < kA4Pixels.width()) {
            EXPECT_EQ(play(heavy, target).error, a4.error);
        }
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
    const Case cases[] = {{1100, 300, true}, {5000, 300, true}, {100000, 15, true},
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
    // Every operation a report uses, and a page of 60 lines of dense text in framed rows: each
    // under 5 % of the budget, so a real page is far from the limit.
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
        EXPECT_LT(p.work, EmfPlayer::kMaxPageWork * 0.05);
    }
}

namespace {

// A polygon or polyline of n points scattered over the page (seeded).
QByteArray scattered(quint32 type, int n)
{
    QByteArray r = rec(type, {0, 0, 794, 1123, quint32(n)});
    QRandomGenerator rng(7);
    emf::Writer w(r);
    for (int i = 0; i < n; ++i) {
        w.u16(quint16(rng.bounded(794)));
        w.u16(quint16(rng.bounded(1123)));
    }
    emf::patchU32(r, 4, quint32(r.size()));
    return r;
}

// n lines from far above left of the page to far below right, with a pen of the given style.
QByteArray longLines(quint32 style, int n)
{
    std::vector<QByteArray> records = {rec(emf::EMR_CREATEPEN, {1, style, 1, 0, 0}), rec(emf::EMR_SELECTOBJECT, {1})};
    for (int i = 0; i < n; ++i) {
        records.push_back(rec(emf::EMR_MOVETOEX, {quint32(-30000), quint32(-30000)}));
        records.push_back(rec(emf::EMR_LINETO, {30000, 30000}));
    }
    return assemble(records);
}

} // namespace

TEST(EmfWorkBound, OutlinesCountTheRowsTheyCrossAndDashesTheirLength)
{
    // Scattered points make edges that span a third of the page on average, each visited on every
    // row it spans; a stroked line is two such edges. Dashes are laid along a line's whole length.
    struct Case {
        const char* what;
        QByteArray page;
        bool refused;
    };
    const Case cases[] = {
        {"polygon of 100 points", assemble({scattered(emf::EMR_POLYGON16, 100)}), false},
        {"polygon of 4000 points", assemble({scattered(emf::EMR_POLYGON16, 4000)}), true},
        {"polyline of 500 points", assemble({scattered(emf::EMR_POLYLINE16, 500)}), false},
        {"polyline of 2000 points", assemble({scattered(emf::EMR_POLYLINE16, 2000)}), true},
        {"3000 solid lines across the page", longLines(0, 3000), false},
        {"300 dashed lines 85,000 pixels long", longLines(1, 300), false},
        {"10000 dashed lines 85,000 pixels long", longLines(1, 10000), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Played p = play(c.page, QSize(199, 281));
        EXPECT_EQ(!p.error.isEmpty(), c.refused) << p.error.toStdString() << " work " << p.work;
    }
}

TEST(EmfWorkBound, AClipOfManyRectanglesCostsWithEveryRecordUnderIt)
{
    // 5,000 separate squares as the clip, then thin lines across the page: every line is clipped
    // against all of them. Without the clip the same lines cost little.
    const quint32 n = 5000;
    QByteArray region;
    {
        emf::Writer w(region);
        for (quint32 v : {32u, 1u, n, n * 16, 0u, 0u, 794u, 1123u})
            w.u32(v);
        for (quint32 i = 0; i < n; ++i)
            for (quint32 v : {i * 7 % 794, i * 13 % 1123, i * 7 % 794 + 2, i * 13 % 1123 + 2})
                w.u32(v);
    }
    QByteArray clip = rec(emf::EMR_EXTSELECTCLIPRGN, {quint32(region.size()), 5});
    clip += region;
    emf::patchU32(clip, 4, quint32(clip.size()));
    const auto lines = [&](int count, bool clipped) {
        std::vector<QByteArray> records;
        if (clipped)
            records.push_back(clip);
        for (int i = 0; i < count; ++i) {
            records.push_back(rec(emf::EMR_MOVETOEX, {0, 0}));
            records.push_back(rec(emf::EMR_LINETO, {794, 1123}));
        }
        return assemble(records);
    };
    EXPECT_TRUE(play(lines(20000, false), QSize(199, 281)).error.isEmpty());
    EXPECT_TRUE(play(lines(1000, true), QSize(199, 281)).error.isEmpty());
    EXPECT_FALSE(play(lines(20000, true), QSize(199, 281)).error.isEmpty());
}

TEST(EmfWorkBound, ClipCombinationsAreBoundedByTheirResultBeforeItIsMade)
{
    // 100 rows (200 bands with the gaps) intersected with columns as tall as all of them: the
    // result may have 200 x (1 + columns) rectangles. 99 columns make exactly the most allowed,
    // 100 are refused before Qt builds the product, naming the record.
    struct Case {
        quint32 columns;
        bool refused;
    };
    for (const Case& c : {Case{99, false}, Case{100, true}}) {
        SCOPED_TRACE(c.columns);
        const QByteArray page = assemble({hostilepages::stripRegion(100, true, emf::RGN_COPY),
                                          hostilepages::stripRegion(c.columns, false, emf::RGN_AND, 200)});
        const Played p = play(page, QSize(199, 281));
        EXPECT_EQ(!p.error.isEmpty(), c.refused) << p.error.toStdString();
        if (c.refused) {
            EXPECT_TRUE(p.error.contains(QLatin1String("record 2 "))) << p.error.toStdString();
            EXPECT_TRUE(p.error.contains(QLatin1String("could make 20200"))) << p.error.toStdString();
        }
    }
}
