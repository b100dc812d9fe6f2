// The rounding and unit arithmetic every report room shares.
#include "report/units/NativeUnits.h"

#include <gtest/gtest.h>

#include <climits>
#include <limits>

using namespace rpunits;

TEST(UnitsRounding, HalvesGoToTheEvenNeighbour)
{
    const struct {
        long double in;
        long double out;
    } cases[] = {{63.5L, 64}, {52.5L, 52}, {0.5L, 0},      {1.5L, 2},     {2.5L, 2},
                 {-0.5L, 0},  {-1.5L, -2}, {-2.5L, -2},    {2.4999L, 2},  {2.5001L, 3},
                 {-2.5001L, -3}, {90.99999999999987L, 91}, {0, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(roundHalfEven(c.in), c.out) << static_cast<double>(c.in);
}

TEST(UnitsRounding, RoundToIntClampsInsteadOfOverflowing)
{
    EXPECT_EQ(roundToInt(1e30L), INT_MAX);
    EXPECT_EQ(roundToInt(-1e30L), INT_MIN);
    EXPECT_EQ(roundToInt(std::numeric_limits<long double>::quiet_NaN()), 0);
    EXPECT_EQ(roundToInt(37.795L), 38);
    EXPECT_EQ(roundToInt(std::numeric_limits<long double>::infinity()), INT_MAX);
    EXPECT_EQ(roundToInt(-std::numeric_limits<long double>::infinity()), INT_MIN);
}

TEST(UnitsRounding, MulDivRoundsHalvesAwayFromZero)
{
    EXPECT_EQ(mulDiv(27, 100, 100), 27);
    EXPECT_EQ(mulDiv(3, 1, 2), 2);
    EXPECT_EQ(mulDiv(-3, 1, 2), -2);
    EXPECT_EQ(mulDiv(31, 150, 100), 47);   // 46.5
    EXPECT_EQ(mulDiv(5, 1, 0), -1);
}

TEST(UnitsRounding, NativeUnitsToDevicePixels)
{
    // A4's 2100 native units across: 794 screen pixels at 96 dpi, 2480 at 300, 4961 at 600.
    EXPECT_EQ(roundToInt(2100 * pixelsPerNative(96)), 794);
    EXPECT_EQ(roundToInt(2100 * pixelsPerNative(300)), 2480);
    EXPECT_EQ(roundToInt(2100 * pixelsPerNative(600)), 4961);
    EXPECT_EQ(roundToInt(254 * pixelsPerNative(kDesignPixelsPerInch)), kDesignPixelsPerInch);
    EXPECT_DOUBLE_EQ(kHundredthsMmPerInch, kMmPerInch * 100);
}
