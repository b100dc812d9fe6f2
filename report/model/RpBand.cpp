#include "report/model/RpBand.h"

#include "report/model/RpItems.h"
#include "report/model/RpReport.h"

void TRpBandSize::Changed(int index) { band_->SizeChanged(index); }

TRpCustomBand::TRpCustomBand() : TRpCustomBand(TRpBandType::rbTitle) {}

TRpCustomBand::TRpCustomBand(TRpBandType type)
    : TRpBasePanel(true), Size(this), bandType_(type)
{
    Size.StoreNative(TRpBandSize::Height, rpunits::pixelsToNative(kNewBandHeight));
    Height = kNewBandHeight;
}

TRpCustomBand::~TRpCustomBand()
{
    if (parentBand_ && parentBand_->child_ == this)
        parentBand_->child_ = nullptr;
    if (child_ && child_->parentBand_ == this)
        child_->parentBand_ = nullptr;
}

void TRpCustomBand::SetBandType(TRpBandType type)
{
    bandType_ = type;
    if (report_)
        report_->BandsChanged();
}

void TRpCustomBand::SetParentBand(TRpCustomBand* parent)
{
    // A band chain must not loop back on itself.
    for (TRpCustomBand* p = parent; p; p = p->parentBand_)
        if (p == this)
            return;
    if (parentBand_ && parentBand_->child_ == this)
        parentBand_->child_ = nullptr;
    parentBand_ = parent;
    if (parent) {
        if (parent->child_ && parent->child_ != this)
            parent->child_->parentBand_ = nullptr;
        parent->child_ = this;
    }
    if (report_)
        report_->BandsChanged();
}

TCustomReport* TRpCustomBand::Report() const { return report_; }

void TRpCustomBand::AttachToReport(TCustomReport* report)
{
    report_ = report;
    parent_ = report;
    if (report) {
        Size.SetUnits(report->Units());
        Size.SetZoom(report->Zoom());
        Size.FontPointsSource = [report]() -> long double { return report->Font().Size(); };
    } else {
        Size.FontPointsSource = nullptr;
    }
}

void TRpCustomBand::UpdateBoundsFromSize()
{
    Height = Size.PixelValue(TRpBandSize::Height);
    // A derived height of a new band's 40 pixels gives way to the stored pixel height on the
    // design surface; the stored native height stays the authority for printing.
    if (Height == kNewBandHeight && StoredHeight && *StoredHeight != Height && *StoredHeight >= 0)
        Height = *StoredHeight;
    Width = Size.PixelValue(TRpBandSize::Width);
}

TRpBandType TRpCustomBand::LayoutType() const
{
    const TRpCustomBand* b = this;
    int guard = 0;
    while (b->bandType_ == TRpBandType::rbChild && b->parentBand_ && ++guard < 10000)
        b = b->parentBand_;
    return b->bandType_;
}

void TRpCustomBand::SizeChanged(int /*index*/)
{
    UpdateBoundsFromSize();
    if (report_ && !report_->Loading())
        report_->LayoutBands();
}
