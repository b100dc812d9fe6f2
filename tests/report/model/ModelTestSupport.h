#pragma once
// Shared pieces of the report model tests: a measure with fixed character widths, so that line
// formatting can be checked to the pixel without depending on fonts.
#include "report/model/ReferenceContext.h"
#include "report/model/RpReport.h"

#include <memory>

namespace modeltest {

// Every character is charWidth pixels wide, every font cellHeight high.
class FixedMeasure : public TRpTextMeasure {
public:
    explicit FixedMeasure(int charWidth = 10, int cellHeight = 15)
        : charWidth_(charWidth), cellHeight_(cellHeight) {}
    std::vector<double> Advances(const TRpFont&, const QString& text) const override
    {
        return std::vector<double>(static_cast<size_t>(text.size()), charWidth_);
    }
    int CellHeight(const TRpFont&) const override { return cellHeight_; }

private:
    int charWidth_;
    int cellHeight_;
};

inline std::unique_ptr<TReport> metricReport()
{
    auto r = std::make_unique<TReport>(QLocale(QLocale::Russian, QLocale::Russia));
    r->SetMeasure(std::make_unique<FixedMeasure>());
    return r;
}

inline TRpCustomBand* addBand(TCustomReport& r, TRpBandType type, const QString& name,
                              int heightPixels = 40)
{
    auto b = std::make_unique<TRpBand>();
    b->Name = name;
    b->SetBandType(type);
    b->Size.StoreNative(TRpBandSize::Height, rpunits::pixelsToNative(heightPixels));
    b->UpdateBoundsFromSize();
    return r.AddBand(std::move(b));
}

} // namespace modeltest
