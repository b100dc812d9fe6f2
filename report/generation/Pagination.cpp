#include "report/generation/Pagination.h"

#include "report/units/NativeUnits.h"

#include <algorithm>

using rpunits::clampAdd;
using rpunits::roundToInt;

int TRpPagination::Available(int y) const
{
    return roundToInt(g_.paperLength - g_.bottomMargin - g_.footerReserve - y);
}

int TRpPagination::BottomAlignedTop(long double bandHeight) const
{
    return roundToInt(g_.alignLength - g_.bottomMargin - bandHeight - g_.footerReserve);
}

int TRpPagination::FooterTop() const { return roundToInt(g_.pageLength - g_.bottomMargin - g_.footerReserve); }

int TRpPagination::TopMargin() const { return roundToInt(g_.topMargin); }

int TRpPagination::LeftMargin() const { return roundToInt(g_.leftMargin); }

bool TRpPagination::MovesOn(int bandHeight, int y, bool firstPage, bool pageFooter, bool pageFresh) const
{
    if (firstPage)
        return true;
    const bool fits = Available(y) >= bandHeight;
    const bool tallerThanPage = bandHeight > g_.printableLength;
    return !pageFooter && !fits && !tallerThanPage && !pageFresh;
}

std::optional<int> TRpPagination::NextColumnX(int column, int x) const
{
    if (column >= std::max(1, g_.columns))
        return std::nullopt;
    return clampAdd(x, clampAdd(g_.columnWidth, g_.columnSpace));
}
