#pragma once
// Page setup of a report: size, margins, column layout and paper size, held in native units.
// Knows: the paper table, orientation, columns, the seven stored page values. Must not know:
// bands, items, printers. Untrusted: nothing; the loader bounds stored measures, and fewer than
// one column is ignored.
#include "report/pages/PaperSize.h"
#include "report/model/RpUnits.h"

#include <QLocale>
#include <functional>

class TRpPage : public TRpUnitBase {
public:
    // Order of Page.Values in stored layouts.
    enum Index { BottomMargin, Length, TopMargin, Width, LeftMargin, RightMargin, ColumnSpace };
    static constexpr int kValueCount = 7;

    explicit TRpPage(const QLocale& locale = QLocale::system());

    TRpPaperSize PaperSize() const { return paperSize_; }
    // Any size but Default and Custom sets Width and Length from the paper table (swapped in
    // landscape).
    void SetPaperSize(TRpPaperSize size);
    TRpOrientation Orientation() const { return orientation_; }
    // Re-applies the current paper size.
    void SetOrientation(TRpOrientation o);
    int Columns() const { return columns_; }
    // 0 or less is ignored.
    void SetColumns(int columns);
    bool Ruler = true;

    // The seven stored numbers, native, whatever the paper size (loading).
    void SetStoredValues(const std::vector<long double>& values);

    // Printable width and length in native units.
    long double PrintableWidth() const { return Native(Width) - Native(LeftMargin) - Native(RightMargin); }
    long double PrintableLength() const { return Native(Length) - Native(TopMargin) - Native(BottomMargin); }

    // Called after any change that moves bands (the report lays its bands out again).
    std::function<void()> OnChange;

protected:
    TRpAxis AxisOf(int index) const override;
    bool Writable(int index) const override;
    void Changed(int index) override;

private:
    void ApplyPaperSize();
    void Notify()
    {
        if (OnChange)
            OnChange();
    }
    TRpPaperSize paperSize_ = TRpPaperSize::A4;
    TRpOrientation orientation_ = TRpOrientation::poPortrait;
    int columns_ = 1;
};
