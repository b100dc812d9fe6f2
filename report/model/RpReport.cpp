#include "report/model/RpReport.h"

#include "report/model/RpItems.h"

#include <algorithm>
#include <climits>
#include <unordered_map>

// ---- presence flags ----

bool TReportBands::Has(TRpBandType type) const { return report_->FindBand(type) != nullptr; }

void TReportBands::SetHas(TRpBandType type, bool on)
{
    if (on) {
        if (!Has(type)) {
            auto band = std::make_unique<TRpBand>();
            band->SetBandType(type);
            report_->AddBand(std::move(band));
        }
        return;
    }
    while (TRpCustomBand* b = report_->FindBand(type))
        report_->RemoveBand(b);
}

// ---- report ----

TCustomReport::TCustomReport(const QLocale& locale)
    : TRpBasePanel(false), Page(locale), units_(rpunits::defaultUnits(locale)),
      measure_(std::make_unique<ReferenceContext>())
{
    TRpFont font;
    if (locale.language() == QLocale::Japanese)
        font.Name = QStringLiteral("MS UI Gothic");
    font.SetSize(10);
    OwnFont() = font;
    Options.set(TRpReportOption::FirstPageHeader);
    Options.set(TRpReportOption::LastPageFooter);
    Functions = {{QStringLiteral("PAGENUMBER"), QStringLiteral("0")},
                 {QStringLiteral("COLUMNNUMBER"), QStringLiteral("0")},
                 {QStringLiteral("REPORTTITLE"), QStringLiteral("''")}};
    Page.FontPointsSource = [this]() -> long double { return Font().Size(); };
    Page.OnChange = [this] {
        if (!loading_)
            LayoutBands();
    };
    Width = DesignWidth();
    Height = DesignHeight();
}

TCustomReport::~TCustomReport()
{
    // Bands go first: their child links point at one another.
    bands_.clear();
}

void TCustomReport::SetUnits(TRpUnit u)
{
    units_ = u;
    Page.SetUnits(u);
    for (const auto& b : bands_) {
        b->Size.SetUnits(u);
        for (const auto& it : b->Items())
            it->Size.SetUnits(u);
    }
    for (const auto& it : Items())
        it->Size.SetUnits(u);
}

void TCustomReport::SetZoom(int zoom)
{
    if (zoom < 1 || zoom > 300)
        return;
    zoom_ = zoom;
    Page.SetZoom(zoom);
    for (const auto& b : bands_) {
        b->Size.SetZoom(zoom);
        b->UpdateBoundsFromSize();
        for (const auto& it : b->Items()) {
            it->Size.SetZoom(zoom);
            it->UpdateBoundsFromSize();
        }
    }
    for (const auto& it : Items()) {
        it->Size.SetZoom(zoom);
        it->UpdateBoundsFromSize();
    }
    if (!loading_) {
        LayoutBands();
        ForEachItem([](TRpPrintable& it) { it.ParentChanged(); });
    }
}

TRpCustomBand* TCustomReport::AddBand(std::unique_ptr<TRpCustomBand> band)
{
    TRpCustomBand* b = band.get();
    b->AttachToReport(this);
    bands_.push_back(std::move(band));
    b->UpdateBoundsFromSize();
    BandsChanged();
    return b;
}

std::unique_ptr<TRpCustomBand> TCustomReport::RemoveBand(TRpCustomBand* band)
{
    auto it = std::find_if(bands_.begin(), bands_.end(),
                           [band](const auto& p) { return p.get() == band; });
    if (it == bands_.end())
        return nullptr;
    std::unique_ptr<TRpCustomBand> out = std::move(*it);
    bands_.erase(it);
    out->AttachToReport(nullptr);
    if (controller_.Title == band)
        controller_.Title = nullptr;
    if (controller_.Detail == band)
        controller_.Detail = nullptr;
    if (controller_.Summary == band)
        controller_.Summary = nullptr;
    BandsChanged();
    return out;
}

TRpCustomBand* TCustomReport::FindBand(TRpBandType type) const
{
    for (const auto& b : bands_)
        if (b->BandType() == type)
            return b.get();
    return nullptr;
}

void TCustomReport::ReorderBands()
{
    std::vector<std::unique_ptr<TRpCustomBand>> previous = std::move(bands_);
    bands_.clear();
    std::vector<bool> placed(previous.size(), false);
    std::vector<TRpBandType> types;
    for (const auto& b : previous)
        types.push_back(b->BandType());
    std::unordered_map<const TRpCustomBand*, size_t> index;
    for (size_t i = 0; i < previous.size(); ++i)
        index.emplace(previous[i].get(), i);
    auto indexOf = [&](const TRpCustomBand* b) -> size_t {
        const auto it = index.find(b);
        return it == index.end() ? previous.size() : it->second;
    };
    // A band goes in with its chain of child bands right behind it.
    auto place = [&](size_t i) {
        for (TRpCustomBand* b = previous[i].get(); b;) {
            const size_t k = indexOf(b);
            if (k >= previous.size() || placed[k])
                break;
            placed[k] = true;
            bands_.push_back(std::move(previous[k]));
            b = bands_.back()->ChildBand();
        }
    };
    auto isChainHead = [&](size_t i) {
        const TRpCustomBand* b = previous[i].get();
        return !(b->BandType() == TRpBandType::rbChild && b->ParentBand()
                 && indexOf(b->ParentBand()) < previous.size());
    };
    auto placeAll = [&](TRpBandType type) {
        for (size_t i = 0; i < previous.size(); ++i)
            if (!placed[i] && types[i] == type && isChainHead(i))
                place(i);
    };
    auto placeFirst = [&](TRpBandType type) {
        for (size_t i = 0; i < previous.size(); ++i)
            if (types[i] == type) {
                if (!placed[i] && isChainHead(i))
                    place(i);
                return;
            }
    };
    placeAll(TRpBandType::rbPageHeader);
    placeAll(TRpBandType::rbTitle);
    placeAll(TRpBandType::rbColumnHeader);
    // The record driver's bands in record order: the title (placed above), detail, summary.
    placeFirst(TRpBandType::rbDetail);
    placeFirst(TRpBandType::rbSummary);
    placeAll(TRpBandType::rbPageFooter);
    for (size_t i = 0; i < previous.size(); ++i)
        if (!placed[i] && isChainHead(i))
            place(i);
    // Child bands whose chain could not be followed (a loop) keep their previous order.
    for (size_t i = 0; i < previous.size(); ++i)
        if (!placed[i]) {
            placed[i] = true;
            bands_.push_back(std::move(previous[i]));
        }
    controller_.Title = FindBand(TRpBandType::rbTitle);
    controller_.Detail = FindBand(TRpBandType::rbDetail);
    controller_.Summary = FindBand(TRpBandType::rbSummary);
}

int TCustomReport::DesignWidth() const { return Page.PixelValue(TRpPage::Width); }
int TCustomReport::DesignHeight() const { return Page.PixelValue(TRpPage::Length); }

int TCustomReport::PrintableWidthPixels() const
{
    return Page.PixelValue(TRpPage::Width) - Page.PixelValue(TRpPage::LeftMargin)
           - Page.PixelValue(TRpPage::RightMargin);
}

int TCustomReport::ColumnWidthPixels() const
{
    const int columns = std::max(1, Page.Columns());
    const long long space = Page.PixelValue(TRpPage::ColumnSpace);
    return static_cast<int>((PrintableWidthPixels() - space * (columns - 1)) / columns);
}

void TCustomReport::LayoutBands()
{
    Width = DesignWidth();
    Height = DesignHeight();
    const int left = Page.PixelValue(TRpPage::LeftMargin);
    const int full = PrintableWidthPixels();
    const int column = ColumnWidthPixels();
    long long y = Page.PixelValue(TRpPage::TopMargin);
    for (const auto& b : bands_) {
        switch (b->LayoutType()) {
        case TRpBandType::rbTitle:
        case TRpBandType::rbPageHeader:
        case TRpBandType::rbPageFooter:
        case TRpBandType::rbSummary:
        case TRpBandType::rbOverlay: b->Width = full; break;
        default: b->Width = column; break;
        }
        b->Left = left;
        b->Top = static_cast<int>(std::clamp<long long>(y, INT_MIN, INT_MAX));
        y += b->Height;
        b->Size.StoreNative(TRpBandSize::Width,
                            rpunits::pixelsToNative(b->Width, b->Size.Zoom(), b->Size.PixelsPerInch()));
        for (const auto& it : b->Items())
            if (auto* label = dynamic_cast<TRpCustomLabel*>(it.get()))
                label->ApplyAlignToBand(b->Width);
    }
}

void TCustomReport::BandsChanged()
{
    if (loading_)
        return;
    ReorderBands();
    LayoutBands();
}

void TCustomReport::SetMeasure(std::unique_ptr<TRpTextMeasure> measure)
{
    if (!measure)
        return;
    measure_ = std::move(measure);
    if (!loading_)
        ForEachItem([](TRpPrintable& it) { it.ParentChanged(); });
}

void TCustomReport::ForEachItem(const std::function<void(TRpPrintable&)>& fn) const
{
    for (const auto& b : bands_)
        for (const auto& it : b->Items())
            fn(*it);
    for (const auto& it : Items())
        fn(*it);
}
