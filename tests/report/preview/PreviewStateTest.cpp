// The preview's rules without a window: zoom arithmetic, page number rules, the arriving-page
// rule, the status texts and the page view's place.
#include "report/preview/RpPreviewState.h"

#include <gtest/gtest.h>

namespace {

const QSize kA4(794, 1123); // A4 portrait at zoom 100, 96 pixels per inch

TEST(PreviewState, AutomaticZooms)
{
    struct Case {
        QSize control;
        QSize page;
        int width;
        int fit;
    };
    const Case cases[] = {
        {{1000, 700}, kA4, 113, 59},   // 1000 / 794 * 90 = 113.35; 700 / 1123 * 95 = 59.2
        {{1000, 3000}, kA4, 113, 120}, // tall control: the width ratio is the smaller one
        {{794, 1123}, kA4, 90, 95},
        {{1123, 794}, {1123, 794}, 90, 95}, // landscape page
        {{9, 9}, kA4, 1, 1},           // below 2 after rounding
        {{100, 100}, {0, 0}, 0, 0},    // no page: no ratio
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TRpPreviewState::WidthZoom(c.control, c.page), c.width) << c.control.width();
        EXPECT_EQ(TRpPreviewState::FitZoom(c.control, c.page), c.fit) << c.control.width();
    }
    // Exact halves go to the even neighbour (ratios over 64 are exact in binary).
    EXPECT_EQ(TRpPreviewState::WidthZoom({16, 10}, {64, 10}), 22);  // 22.5
    EXPECT_EQ(TRpPreviewState::WidthZoom({48, 10}, {64, 10}), 68);  // 67.5
}

TEST(PreviewState, ZoomOutsideTheBoundsLeavesThePreviousZoom)
{
    struct Case {
        int zoom;
        bool taken;
    };
    const Case cases[] = {{1, false}, {2, true}, {100, true}, {2000, true}, {2001, false}, {0, false}, {-5, false}};
    for (const Case& c : cases) {
        TRpPreviewState s;
        ASSERT_TRUE(s.SetZoom(57));
        EXPECT_EQ(s.SetZoom(c.zoom), c.taken) << c.zoom;
        EXPECT_EQ(s.Zoom(), c.taken ? c.zoom : 57) << c.zoom;
    }
    // An automatic zoom that computes a refused value keeps the zoom but takes the mode, so that
    // the next resize tries again.
    TRpPreviewState s;
    EXPECT_FALSE(s.ZoomToWidth({9, 9}, kA4));
    EXPECT_EQ(s.Zoom(), 100);
    EXPECT_EQ(s.ZoomMode(), TRpZoomMode::Width);
    EXPECT_FALSE(s.ZoomToFit({100000, 100000}, {2, 2}));
    EXPECT_EQ(s.Zoom(), 100);
    EXPECT_EQ(s.ZoomMode(), TRpZoomMode::Fit);
    EXPECT_TRUE(s.ZoomToWidth({1000, 700}, kA4));
    EXPECT_EQ(s.Zoom(), 113);
    EXPECT_TRUE(s.SetZoom(100)); // "100%" leaves the automatic mode
    EXPECT_EQ(s.ZoomMode(), TRpZoomMode::Fixed);
}

TEST(PreviewState, PageNumberRules)
{
    struct Case {
        int current;
        int request;
        int pageCount;
        bool imageShown;
        bool taken;
    };
    const Case cases[] = {
        {1, 2, 3, true, true},   {1, 3, 3, true, true},  {1, 4, 3, true, false}, // one past the count
        {2, 0, 3, true, false},  {2, -1, 3, true, false}, {2, 1, 3, true, true},
        {2, 2, 3, true, false},  // the page shown
        {2, 2, 3, false, true},  // the page asked for again while it shows nothing
        {1, 1, 0, false, false}, // nothing recorded
    };
    for (const Case& c : cases) {
        TRpPreviewState s;
        s.ResetPageNumber(c.current);
        EXPECT_EQ(s.SetPageNumber(c.request, c.pageCount, c.imageShown), c.taken)
            << c.current << " -> " << c.request << " of " << c.pageCount;
        EXPECT_EQ(s.PageNumber(), c.taken ? c.request : c.current);
    }
}

TEST(PreviewState, ArrivingPageIsShownWhenItIsThePageAskedFor)
{
    struct Case {
        int pageNumber;
        int n;
        bool imageShown;
        int available;
        bool show;
    };
    const Case cases[] = {
        {1, 1, false, 1, true},  // the first page arrives
        {1, 1, true, 1, false},  // already shown
        {1, 2, false, 2, false}, // another page
        {5, 5, false, 5, true},  // the page moved to before it was complete
        {5, 5, false, 4, false}, // not stored yet
    };
    for (const Case& c : cases) {
        TRpPreviewState s;
        s.ResetPageNumber(c.pageNumber);
        EXPECT_EQ(s.ShowOnAvailable(c.n, c.imageShown, c.available, c.pageNumber), c.show) << c.pageNumber << "/" << c.n;
    }
}

TEST(PreviewState, StatusTexts)
{
    TRpPreviewState s;
    ASSERT_TRUE(s.SetPageNumber(2, 5, false));
    EXPECT_EQ(s.PagePositionText(5), QStringLiteral("Page 2 of 5"));

    struct Step {
        int p;
        const char* text; // nullptr: the panel keeps its text
    };
    const std::vector<std::vector<Step>> runs = {
        {{3, nullptr}, {4, nullptr}, {9, "9%"}, {10, nullptr}, {15, "15%"}},
        {{5, "5%"}, {9, nullptr}, {10, "10%"}, {100, ""}},
        {{0, ""}, {4, nullptr}, {5, "5%"}},   // 0 empties the panel without becoming the last value
        {{50, "50%"}, {20, nullptr}, {54, nullptr}, {55, "55%"}}, // never lowered
        {{-2147483647 - 1, nullptr}, {2147483647, "2147483647%"}}, // no overflow on odd values
    };
    for (const auto& run : runs) {
        TRpProgressText t;
        for (const Step& step : run) {
            const auto text = t.Progress(step.p);
            if (!step.text)
                EXPECT_FALSE(text.has_value()) << step.p;
            else {
                ASSERT_TRUE(text.has_value()) << step.p;
                EXPECT_EQ(*text, QString::fromLatin1(step.text)) << step.p;
            }
        }
    }
}

TEST(PreviewState, PageViewPlace)
{
    EXPECT_EQ(TRpPreviewState::ViewSize({794, 1123}), QSize(798, 1127));
    struct Case {
        QSize viewport;
        QSize view;
        QPoint place;
    };
    const Case cases[] = {
        {{1000, 700}, {798, 1127}, {101, 0}}, // centred across, from the top down
        {{1000, 2000}, {798, 1127}, {101, 436}},
        {{798, 1127}, {798, 1127}, {0, 0}},   // equal: at 0
        {{799, 1128}, {798, 1127}, {0, 0}},   // one wider: (1 div 2) = 0
        {{500, 500}, {798, 1127}, {0, 0}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TRpPreviewState::ViewPlace(c.viewport, c.view), c.place) << c.viewport.width();
}

} // namespace

#include "report/preview/RpPreviewIcons.h"

#include <QImage>
#include <QPixmap>

namespace {

QImage iconImage(TRpPreviewIcon kind) { return rpPreviewIcon(kind).pixmap(24, 24).toImage().convertToFormat(QImage::Format_ARGB32); }

TEST(PreviewIcons, EveryIconIsDrawnAndThePageMovesPointTheirWay)
{
    const TRpPreviewIcon all[] = {TRpPreviewIcon::ZoomFit,  TRpPreviewIcon::Zoom100,    TRpPreviewIcon::ZoomWidth,
                                  TRpPreviewIcon::FirstPage, TRpPreviewIcon::PreviousPage, TRpPreviewIcon::NextPage,
                                  TRpPreviewIcon::LastPage,  TRpPreviewIcon::PrintSetup, TRpPreviewIcon::Print,
                                  TRpPreviewIcon::Save,      TRpPreviewIcon::Load};
    std::vector<QImage> images;
    for (TRpPreviewIcon kind : all) {
        const QImage img = iconImage(kind);
        ASSERT_EQ(img.size(), QSize(24, 24));
        int inked = 0;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 24; ++x)
                inked += qAlpha(img.pixel(x, y)) > 0 ? 1 : 0;
        EXPECT_GT(inked, 20) << int(kind);
        for (const QImage& other : images)
            EXPECT_NE(img, other) << int(kind);
        images.push_back(img);
    }
    // A triangle pointing left has its tip (the narrow end) on the left: fewer inked pixels in its
    // leftmost inked column than in its rightmost.
    auto tipOnLeft = [](const QImage& img, int from, int to) {
        auto column = [&](int x) {
            int n = 0;
            for (int y = 0; y < 24; ++y)
                n += qAlpha(img.pixel(x, y)) > 128 ? 1 : 0;
            return n;
        };
        int left = from, right = to;
        while (left < to && column(left) == 0)
            ++left;
        while (right > from && column(right) == 0)
            --right;
        return column(left) < column(right);
    };
    EXPECT_TRUE(tipOnLeft(iconImage(TRpPreviewIcon::PreviousPage), 0, 23));
    EXPECT_FALSE(tipOnLeft(iconImage(TRpPreviewIcon::NextPage), 0, 23));
    EXPECT_TRUE(tipOnLeft(iconImage(TRpPreviewIcon::FirstPage), 8, 23));  // right of its bar
    EXPECT_FALSE(tipOnLeft(iconImage(TRpPreviewIcon::LastPage), 0, 15)); // left of its bar
}

} // namespace
