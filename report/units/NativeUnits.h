#pragma once
// The arithmetic of report measures that every report room shares: native units are tenths of a
// millimetre (254 to the inch), page images measure their frames in hundredths of a millimetre,
// and every measure becomes a device position by one rounding, exact halves to the even
// neighbour. One place, so that the recorder, the model and the page store round alike.
//
// Knows: numbers only. Untrusted: any long double (NaN and infinities included) may arrive from a
// layout; results are clamped to int.
namespace rpunits {

constexpr int kDesignPixelsPerInch = 96;
constexpr long double kNativePerInch = 254.0L;
constexpr long double kNativePerPoint = 254.0L / 72.0L;
constexpr double kMmPerInch = 25.4;
constexpr double kHundredthsMmPerInch = 2540.0;

// Nearest integer, an exact half going to the even neighbour (63.5 -> 64, 52.5 -> 52).
long double roundHalfEven(long double v);
// The same, clamped to the int range (NaN gives 0), for pixel and device coordinates.
int roundToInt(long double v);
// a * b / c rounded to nearest with halves away from zero, as integer multiply-divide does; -1
// when c is 0.
int mulDiv(int a, int b, int c);

// a + b held within +-1e9, so that positions built from a layout's measures never overflow.
int clampAdd(int a, int b);

// Device pixels per native unit at a resolution in pixels per inch.
inline long double pixelsPerNative(int pixelsPerInch) { return static_cast<long double>(pixelsPerInch) / kNativePerInch; }

} // namespace rpunits
