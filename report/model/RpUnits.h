#pragma once
// Units of report measures. Everything is stored in native units (tenths of a millimetre) as long
// double; a unit only chooses how a measure is read and written through the programming
// interface. Design pixels are 96 per inch at zoom 100.
// Knows: native units and their conversions, rounding, the locale's measuring system. Must not
// know: items, pages, layout text, painting. Untrusted: measures from layouts (any long double,
// NaN included): pixel values are clamped to int, a bad index or zoom changes nothing.
#include "report/units/NativeUnits.h"

#include <QLocale>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

enum class TRpUnit { MM, Inches, Pixels, Characters, Native };

enum class TRpAxis { Horizontal, Vertical };

namespace rpunits {


// What the measuring context of a unit conversion needs: the screen resolution taken when the
// object was created, the object's zoom and, for Characters, the report font's size in points.
struct UnitContext {
    int pixelsPerInch = kDesignPixelsPerInch;
    int zoom = 100;
    long double fontPoints = 10;
};

long double fromNative(long double native, TRpUnit unit, const UnitContext& c, TRpAxis axis);
long double toNative(long double value, TRpUnit unit, const UnitContext& c, TRpAxis axis);

// Native length to design pixels (96 per inch) at the given zoom, rounded; and back, exact.
int nativeToPixels(long double native, int zoom = 100, int pixelsPerInch = kDesignPixelsPerInch);
long double pixelsToNative(long double pixels, int zoom = 100,
                           int pixelsPerInch = kDesignPixelsPerInch);

const char* unitName(TRpUnit unit);
std::optional<TRpUnit> unitFromName(const QString& name);
// MM, or Inches where the locale measures in the US system.
TRpUnit defaultUnits(const QLocale& locale);
bool isUsMeasurement(const QLocale& locale);

} // namespace rpunits

// A measured object: a fixed number of native values read and written through its own Units and
// Zoom. Page, band size and item size derive from it.
class TRpUnitBase {
public:
    virtual ~TRpUnitBase() = default;

    TRpUnit Units() const { return units_; }
    void SetUnits(TRpUnit u) { units_ = u; }
    int Zoom() const { return context_.zoom; }
    // Zoom outside 1..300 is ignored.
    void SetZoom(int zoom);
    int PixelsPerInch() const { return context_.pixelsPerInch; }
    void SetPixelsPerInch(int ppi);

    // Switch temporarily to Pixels (design-surface layout) and back to the unit before.
    void PushPixels();
    void PopUnits();

    int Count() const { return static_cast<int>(values_.size()); }
    // Value at an index in the current Units; out-of-range indexes read 0 and write nothing.
    long double Value(int index) const;
    void SetValue(int index, long double value);
    long double Native(int index) const;
    void SetNative(int index, long double native);
    // Pixel value at the object's zoom, rounded.
    int PixelValue(int index) const;
    const std::vector<long double>& NativeValues() const { return values_; }
    // Stores a native value without the write rule or any notification: loading and the
    // owner's own updates (layout, line formatting) use it.
    void StoreNative(int index, long double native);

    // Font size for the Characters unit; the report sets it to follow its font.
    std::function<long double()> FontPointsSource;

protected:
    explicit TRpUnitBase(int count) : values_(static_cast<size_t>(count), 0.0L) {}
    virtual TRpAxis AxisOf(int index) const = 0;
    // Whether a write through SetValue/SetNative is accepted (the page refuses some).
    virtual bool Writable(int /*index*/) const { return true; }
    virtual void Changed(int /*index*/) {}
    rpunits::UnitContext Context() const;
    std::vector<long double> values_;

private:
    TRpUnit units_ = TRpUnit::MM;
    rpunits::UnitContext context_;
    std::vector<TRpUnit> unitStack_;
};
