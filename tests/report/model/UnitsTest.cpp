// Unit conversions and rounding of report measures.
#include "report/model/RpPage.h"
#include "report/model/RpUnits.h"

#include <gtest/gtest.h>

#include <climits>
#include <limits>

using namespace rpunits;

TEST(UnitsConversion, EveryUnitBothWays)
{
    const UnitContext c{96, 100, 10};
    const struct {
        TRpUnit unit;
        TRpAxis axis;
        long double native;
        long double value;
    } cases[] = {
        {TRpUnit::MM, TRpAxis::Vertical, 254, 25.4L},
        {TRpUnit::Inches, TRpAxis::Horizontal, 254, 1},
        {TRpUnit::Pixels, TRpAxis::Horizontal, 254, 96},
        {TRpUnit::Native, TRpAxis::Vertical, 123.25L, 123.25L},
        // W(10) = 80 / 10 / 2.54 and H(10) = 145.3 / 10 / 2.54.
        {TRpUnit::Characters, TRpAxis::Horizontal, 254, 254 / (80.0L / 10 / 2.54L) / 10},
        {TRpUnit::Characters, TRpAxis::Vertical, 254, 254 / (145.3L / 10 / 2.54L) / 10},
    };
    for (const auto& k : cases) {
        EXPECT_NEAR(static_cast<double>(fromNative(k.native, k.unit, c, k.axis)),
                    static_cast<double>(k.value), 1e-9)
            << unitName(k.unit);
        EXPECT_NEAR(static_cast<double>(toNative(k.value, k.unit, c, k.axis)),
                    static_cast<double>(k.native), 1e-9)
            << unitName(k.unit);
    }
}

TEST(UnitsConversion, PixelsFollowResolutionAndZoom)
{
    EXPECT_NEAR(static_cast<double>(fromNative(254, TRpUnit::Pixels, {96, 200, 10}, TRpAxis::Horizontal)), 192, 1e-9);
    EXPECT_NEAR(static_cast<double>(fromNative(254, TRpUnit::Pixels, {120, 100, 10}, TRpAxis::Horizontal)), 120, 1e-9);
    EXPECT_NEAR(static_cast<double>(toNative(192, TRpUnit::Pixels, {96, 200, 10}, TRpAxis::Horizontal)), 254, 1e-9);
    // Characters take the report font's size: at 20 points a character is half as wide.
    EXPECT_NEAR(static_cast<double>(fromNative(254, TRpUnit::Characters, {96, 100, 20}, TRpAxis::Horizontal)),
                2 * static_cast<double>(fromNative(254, TRpUnit::Characters, {96, 100, 10}, TRpAxis::Horizontal)),
                1e-9);
}

TEST(UnitsConversion, BandHeightExample)
{
    const long double h = 240.770833333333L;
    EXPECT_NEAR(static_cast<double>(fromNative(h, TRpUnit::MM, {}, TRpAxis::Vertical)), 24.08, 0.005);   // 24.077 mm
    EXPECT_EQ(nativeToPixels(h), 91);
    EXPECT_EQ(nativeToPixels(2100), 794);
    EXPECT_EQ(nativeToPixels(2970), 1123);
    EXPECT_NEAR(static_cast<double>(pixelsToNative(718)), 1899.70833333333, 1e-9);
}

TEST(UnitsDefaults, LocaleMeasurementSystemChoosesUnitsAndPage)
{
    EXPECT_EQ(defaultUnits(QLocale(QLocale::English, QLocale::UnitedStates)), TRpUnit::Inches);
    EXPECT_EQ(defaultUnits(QLocale(QLocale::Russian, QLocale::Russia)), TRpUnit::MM);
    EXPECT_EQ(defaultUnits(QLocale(QLocale::English, QLocale::UnitedKingdom)), TRpUnit::MM);

    TRpPage us(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(us.PaperSize(), TRpPaperSize::Letter);
    EXPECT_EQ(us.Units(), TRpUnit::Inches);
    EXPECT_NEAR(static_cast<double>(us.Value(TRpPage::LeftMargin)), 0.5, 1e-12);
    EXPECT_NEAR(static_cast<double>(us.Native(TRpPage::Width)), 2159, 1e-9);

    TRpPage metric(QLocale(QLocale::Russian, QLocale::Russia));
    EXPECT_EQ(metric.PaperSize(), TRpPaperSize::A4);
    const std::vector<long double> a4{100, 2970, 100, 2100, 100, 100, 0};
    EXPECT_EQ(metric.NativeValues(), a4);
}

TEST(UnitsMeasuredObject, ValuesGoThroughTheCurrentUnitAndPixelsIsTemporary)
{
    TRpPage page(QLocale(QLocale::Russian, QLocale::Russia));
    page.SetValue(TRpPage::TopMargin, 12.5L);   // mm
    EXPECT_NEAR(static_cast<double>(page.Native(TRpPage::TopMargin)), 125, 1e-9);
    page.PushPixels();
    EXPECT_NEAR(static_cast<double>(page.Value(TRpPage::Width)), 2100 * 96 / 254.0, 1e-9);
    page.PopUnits();
    EXPECT_EQ(page.Units(), TRpUnit::MM);
    page.PopUnits();   // nothing pushed: no change
    EXPECT_EQ(page.Units(), TRpUnit::MM);
    EXPECT_EQ(page.Value(99), 0);
    page.SetValue(-1, 5);   // out of range: ignored
    page.SetZoom(0);
    page.SetZoom(301);
    EXPECT_EQ(page.Zoom(), 100);
    page.SetZoom(300);
    EXPECT_EQ(page.Zoom(), 300);
}
