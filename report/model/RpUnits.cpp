#include "report/model/RpUnits.h"

#include <climits>
#include <cmath>

namespace rpunits {

namespace {
// Characters: W(s) = 80 / s / 2.54 across, H(s) = 145.3 / s / 2.54 down.
long double characterSize(const UnitContext& c, TRpAxis axis)
{
    const long double s = c.fontPoints > 0 ? c.fontPoints : 10.0L;
    return (axis == TRpAxis::Horizontal ? 80.0L : 145.3L) / s / 2.54L;
}
} // namespace

long double fromNative(long double v, TRpUnit unit, const UnitContext& c, TRpAxis axis)
{
    switch (unit) {
    case TRpUnit::MM: return v / 10.0L;
    case TRpUnit::Inches: return v / kNativePerInch;
    case TRpUnit::Pixels:
        return v / (kNativePerInch / c.pixelsPerInch) * c.zoom / 100.0L;
    case TRpUnit::Characters: return v / characterSize(c, axis) / 10.0L;
    case TRpUnit::Native: return v;
    }
    return v;
}

long double toNative(long double value, TRpUnit unit, const UnitContext& c, TRpAxis axis)
{
    switch (unit) {
    case TRpUnit::MM: return value * 10.0L;
    case TRpUnit::Inches: return value * kNativePerInch;
    case TRpUnit::Pixels:
        return value * (kNativePerInch / c.pixelsPerInch) * 100.0L / c.zoom;
    case TRpUnit::Characters: return value * 10.0L * characterSize(c, axis);
    case TRpUnit::Native: return value;
    }
    return value;
}

int nativeToPixels(long double native, int zoom, int pixelsPerInch)
{
    return roundToInt(fromNative(native, TRpUnit::Pixels, {pixelsPerInch, zoom, 10},
                                 TRpAxis::Horizontal));
}

long double pixelsToNative(long double pixels, int zoom, int pixelsPerInch)
{
    return toNative(pixels, TRpUnit::Pixels, {pixelsPerInch, zoom, 10}, TRpAxis::Horizontal);
}

const char* unitName(TRpUnit unit)
{
    switch (unit) {
    case TRpUnit::MM: return "MM";
    case TRpUnit::Inches: return "Inches";
    case TRpUnit::Pixels: return "Pixels";
    case TRpUnit::Characters: return "Characters";
    case TRpUnit::Native: return "Native";
    }
    return "MM";
}

std::optional<TRpUnit> unitFromName(const QString& name)
{
    for (TRpUnit u : {TRpUnit::MM, TRpUnit::Inches, TRpUnit::Pixels, TRpUnit::Characters,
                      TRpUnit::Native})
        if (name.compare(QLatin1String(unitName(u)), Qt::CaseInsensitive) == 0)
            return u;
    return std::nullopt;
}

bool isUsMeasurement(const QLocale& locale)
{
    return locale.measurementSystem() == QLocale::ImperialUSSystem;
}

TRpUnit defaultUnits(const QLocale& locale)
{
    return isUsMeasurement(locale) ? TRpUnit::Inches : TRpUnit::MM;
}

} // namespace rpunits

void TRpUnitBase::SetZoom(int zoom)
{
    if (zoom < 1 || zoom > 300)
        return;
    context_.zoom = zoom;
}

void TRpUnitBase::SetPixelsPerInch(int ppi)
{
    if (ppi > 0)
        context_.pixelsPerInch = ppi;
}

void TRpUnitBase::PushPixels()
{
    unitStack_.push_back(units_);
    units_ = TRpUnit::Pixels;
}

void TRpUnitBase::PopUnits()
{
    if (unitStack_.empty())
        return;
    units_ = unitStack_.back();
    unitStack_.pop_back();
}

rpunits::UnitContext TRpUnitBase::Context() const
{
    rpunits::UnitContext c = context_;
    if (FontPointsSource)
        c.fontPoints = FontPointsSource();
    return c;
}

long double TRpUnitBase::Native(int index) const
{
    if (index < 0 || index >= Count())
        return 0;
    return values_[static_cast<size_t>(index)];
}

long double TRpUnitBase::Value(int index) const
{
    if (index < 0 || index >= Count())
        return 0;
    return rpunits::fromNative(Native(index), units_, Context(), AxisOf(index));
}

void TRpUnitBase::SetValue(int index, long double value)
{
    if (index < 0 || index >= Count())
        return;
    SetNative(index, rpunits::toNative(value, units_, Context(), AxisOf(index)));
}

void TRpUnitBase::SetNative(int index, long double native)
{
    if (index < 0 || index >= Count() || !Writable(index))
        return;
    values_[static_cast<size_t>(index)] = native;
    Changed(index);
}

void TRpUnitBase::StoreNative(int index, long double native)
{
    if (index >= 0 && index < Count())
        values_[static_cast<size_t>(index)] = native;
}

int TRpUnitBase::PixelValue(int index) const
{
    return rpunits::nativeToPixels(Native(index), Zoom(), PixelsPerInch());
}
