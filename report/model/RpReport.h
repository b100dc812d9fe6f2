#pragma once
// A report: page setup, the ordered band list, the record driver and the reference context used
// to measure text. TReport is the report the program's layouts hold.
// Knows: page, bands and their order, the record driver, units and zoom of all it holds.
// Must not know: layout text, generation, painting, where data sets come from. Untrusted: the
// band list as loaded: child chains that loop keep their order; zoom outside 1..300 is ignored.
#include "report/model/ReferenceContext.h"
#include "report/model/RpBand.h"
#include "report/model/RpController.h"
#include "report/model/RpItems.h"
#include "report/model/RpPage.h"
#include "report/model/RpPanel.h"
#include "report/model/RpPrinterSettings.h"

#include <QLocale>
#include <QStringList>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class TCustomReport;

// Presence flags of the band roles; setting one creates or deletes such a band.
class TReportBands {
public:
    explicit TReportBands(TCustomReport* report) : report_(report) {}
    bool Has(TRpBandType type) const;
    void SetHas(TRpBandType type, bool on);
    bool HasTitle() const { return Has(TRpBandType::rbTitle); }
    bool HasPageHeader() const { return Has(TRpBandType::rbPageHeader); }
    bool HasColumnHeader() const { return Has(TRpBandType::rbColumnHeader); }
    bool HasDetail() const { return Has(TRpBandType::rbDetail); }
    bool HasPageFooter() const { return Has(TRpBandType::rbPageFooter); }
    bool HasSummary() const { return Has(TRpBandType::rbSummary); }

private:
    TCustomReport* report_;
};

class TCustomReport : public TRpBasePanel {
public:
    explicit TCustomReport(const QLocale& locale = QLocale::system());
    ~TCustomReport() override;

    TCustomReport* Report() const override { return const_cast<TCustomReport*>(this); }

    TRpPage Page;
    TRpUnit Units() const { return units_; }
    // Sets the unit of the page, of every band size and of every item size.
    void SetUnits(TRpUnit u);
    int Zoom() const { return zoom_; }
    // Outside 1..300 ignored; otherwise every measured object follows and bounds are redone.
    void SetZoom(int zoom);

    EnumSet<TRpReportOption> Options;
    TReportPrinterSettings PrinterSettings;
    QString ReportTitle;
    bool ShowProgress = true;
    bool SnapToGrid = true;
    QStringList Description;
    // Named report constants, in stored order.
    std::vector<std::pair<QString, QString>> Functions;

    TRpController& Controller() { return controller_; }
    const TRpController& Controller() const { return controller_; }
    bool PrintIfEmpty() const { return controller_.PrintIfEmpty; }
    void SetPrintIfEmpty(bool on) { controller_.PrintIfEmpty = on; }
    TDataSet* DataSet() const { return controller_.DataSet(); }
    void SetDataSet(TDataSet* ds) { controller_.SetDataSet(ds); }

    TReportBands Bands() { return TReportBands(this); }

    // The band list in its order.
    const std::vector<std::unique_ptr<TRpCustomBand>>& BandList() const { return bands_; }
    TRpCustomBand* AddBand(std::unique_ptr<TRpCustomBand> band);
    std::unique_ptr<TRpCustomBand> RemoveBand(TRpCustomBand* band);
    // First band of a role in the list, or nullptr.
    TRpCustomBand* FindBand(TRpBandType type) const;

    // Page header, title, column header, the driver's detail and summary, page footer, then
    // the rest in their previous order; each followed by its chain of child bands.
    void ReorderBands();
    // Design-pixel layout of the bands under one another inside the margins.
    void LayoutBands();
    // Reorder and lay out, unless a layout is being loaded.
    void BandsChanged();

    // Design-surface size: page Width and Length in pixels.
    int DesignWidth() const;
    int DesignHeight() const;
    // Printable width and column width in design pixels.
    int PrintableWidthPixels() const;
    int ColumnWidthPixels() const;

    // Text measuring for AutoSize. Replaceable (tests measure with fixed widths).
    const TRpTextMeasure& Measure() const { return *measure_; }
    void SetMeasure(std::unique_ptr<TRpTextMeasure> measure);

    // While set, property writes do not reorder, lay out or format: a layout is being read.
    bool Loading() const { return loading_; }
    void SetLoading(bool on) { loading_ = on; }

    // Every text item of the report, bands first in list order, then items placed on the report.
    void ForEachItem(const std::function<void(TRpPrintable&)>& fn) const;

private:
    TRpUnit units_;
    int zoom_ = 100;
    TRpController controller_;
    std::vector<std::unique_ptr<TRpCustomBand>> bands_;
    std::unique_ptr<TRpTextMeasure> measure_;
    bool loading_ = false;
};

class TReport : public TCustomReport {
public:
    explicit TReport(const QLocale& locale = QLocale::system()) : TCustomReport(locale) {}
    QString ClassName() const override { return QStringLiteral("TReport"); }
};
