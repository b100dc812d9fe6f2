#include "report/model/RpPanel.h"

#include "report/model/RpItems.h"
#include "report/model/RpReport.h"

#include <algorithm>

TRpBasePanel::~TRpBasePanel() = default;

const TRpFont& TRpBasePanel::Font() const
{
    if (parentFont_ && parent_)
        return parent_->Font();
    return font_;
}

void TRpBasePanel::SetFont(const TRpFont& font)
{
    font_ = font;
    parentFont_ = false;
    if (TCustomReport* r = Report())
        r->ForEachItem([](TRpPrintable& it) { it.ParentChanged(); });
}

void TRpBasePanel::SetParentFont(bool on)
{
    if (on == parentFont_)
        return;
    // Leaving the parent's font starts from a copy of it.
    if (!on && parent_)
        font_ = parent_->Font();
    parentFont_ = on;
    FormatItems();
}

TCustomReport* TRpBasePanel::Report() const { return nullptr; }

TRpPrintable* TRpBasePanel::AddItem(std::unique_ptr<TRpPrintable> item)
{
    TRpPrintable* p = item.get();
    p->parent_ = this;
    if (TCustomReport* r = Report()) {
        p->Size.SetUnits(r->Units());
        p->Size.SetZoom(r->Zoom());
    }
    p->Size.FontPointsSource = [p]() -> long double {
        const TCustomReport* r = p->Report();
        return r ? r->Font().Size() : 10;
    };
    items_.push_back(std::move(item));
    p->UpdateBoundsFromSize();
    p->ParentChanged();
    return p;
}

std::unique_ptr<TRpPrintable> TRpBasePanel::RemoveItem(TRpPrintable* item)
{
    auto it = std::find_if(items_.begin(), items_.end(),
                           [item](const auto& p) { return p.get() == item; });
    if (it == items_.end())
        return nullptr;
    std::unique_ptr<TRpPrintable> out = std::move(*it);
    items_.erase(it);
    out->parent_ = nullptr;
    out->Size.FontPointsSource = nullptr;
    return out;
}

void TRpBasePanel::FormatItems()
{
    for (const auto& it : items_)
        it->ParentChanged();
}
