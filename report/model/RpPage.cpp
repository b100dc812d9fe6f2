#include "report/model/RpPage.h"

TRpPage::TRpPage(const QLocale& locale) : TRpUnitBase(kValueCount)
{
    const bool us = rpunits::isUsMeasurement(locale);
    SetUnits(rpunits::defaultUnits(locale));
    const long double margin = us ? rpunits::kNativePerInch / 2 : 100.0L;
    StoreNative(BottomMargin, margin);
    StoreNative(TopMargin, margin);
    StoreNative(LeftMargin, margin);
    StoreNative(RightMargin, margin);
    StoreNative(ColumnSpace, 0);
    paperSize_ = us ? TRpPaperSize::Letter : TRpPaperSize::A4;
    ApplyPaperSize();
}

TRpAxis TRpPage::AxisOf(int index) const
{
    switch (index) {
    case Width:
    case LeftMargin:
    case RightMargin:
    case ColumnSpace: return TRpAxis::Horizontal;
    default: return TRpAxis::Vertical;
    }
}

bool TRpPage::Writable(int index) const
{
    // The sheet size follows the paper size unless the paper size is Custom.
    if (index == Width || index == Length)
        return paperSize_ == TRpPaperSize::Custom;
    return true;
}

void TRpPage::Changed(int /*index*/) { Notify(); }

void TRpPage::ApplyPaperSize()
{
    if (paperSize_ == TRpPaperSize::Default || paperSize_ == TRpPaperSize::Custom)
        return;
    const PaperSizeInfo& info = paperSizeInfo(paperSize_);
    long double w = static_cast<long double>(info.widthMm) * 10.0L;
    long double l = static_cast<long double>(info.heightMm) * 10.0L;
    if (orientation_ == TRpOrientation::poLandscape)
        std::swap(w, l);
    StoreNative(Width, w);
    StoreNative(Length, l);
}

void TRpPage::SetPaperSize(TRpPaperSize size)
{
    paperSize_ = size;
    ApplyPaperSize();
    Notify();
}

void TRpPage::SetOrientation(TRpOrientation o)
{
    orientation_ = o;
    ApplyPaperSize();
    Notify();
}

void TRpPage::SetColumns(int columns)
{
    if (columns <= 0)
        return;
    columns_ = columns;
    Notify();
}

void TRpPage::SetStoredValues(const std::vector<long double>& values)
{
    for (int i = 0; i < kValueCount && i < static_cast<int>(values.size()); ++i)
        StoreNative(i, values[static_cast<size_t>(i)]);
    Notify();
}
