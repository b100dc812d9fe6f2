#include "report/generation/RpGenerator.h"

#include "engine/DataSet.h"
#include "report/model/RpReport.h"
#include "report/pages/RpError.h"
#include "report/pages/RpPrinter.h"
#include "report/pages/RpStream.h"

#include <QCoreApplication>
#include <algorithm>
#include <limits>

namespace {

using rpunits::clampAdd;
using rpunits::roundToInt;

bool isPageBand(TRpBandType t)
{
    return t == TRpBandType::rbTitle || t == TRpBandType::rbPageHeader
           || t == TRpBandType::rbPageFooter || t == TRpBandType::rbOverlay;
}

// First enabled band of a role, or null.
TRpCustomBand* enabledBand(const TReport& report, TRpBandType type)
{
    for (const auto& b : report.BandList())
        if (b->BandType() == type && b->Enabled)
            return b.get();
    return nullptr;
}

long double bandHeight(const TRpCustomBand& band) { return band.Size.Native(TRpBandSize::Height); }

} // namespace

TRpGenerator::TRpGenerator(TReport& report) : report_(report) {}

TRpGenerator::~TRpGenerator() = default;

int TRpGenerator::DetailNumber() const { return report_.Controller().DetailNumber; }

void TRpGenerator::processEvents()
{
    if (ProcessEvents)
        ProcessEvents();
    else if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

void TRpGenerator::Cancel()
{
    if (available_)
        return;
    cancelled_ = true;
    if (printer_)
        printer_->Cancel();
}

// ---- one run ----

void TRpGenerator::Generate(TRpPrinter& recorder)
{
    if (!available_)
        return;
    TRpPage& page = report_.Page;
    // Margins that leave no printable width or length give way.
    if (page.Native(TRpPage::Width) - page.Native(TRpPage::LeftMargin)
            - page.Native(TRpPage::RightMargin) < 0) {
        page.SetNative(TRpPage::LeftMargin, 0);
        page.SetNative(TRpPage::RightMargin, 0);
    }
    if (page.Native(TRpPage::Length) - page.Native(TRpPage::TopMargin)
            - page.Native(TRpPage::BottomMargin) < 0) {
        page.SetNative(TRpPage::TopMargin, 0);
        page.SetNative(TRpPage::BottomMargin, 0);
    }
    available_ = false;
    cancelled_ = false;
    lastPage_ = false;
    skipNextForcedPage_ = false;
    columnForced_ = false;
    printer_ = &recorder;
    const TRpUnit previousUnits = report_.Units();
    report_.SetUnits(TRpUnit::Native);

    bool begun = false;
    auto finish = [&](bool failed) {
        report_.SetUnits(previousUnits);
        if (begun) {
            // A half-made printed document must not reach the paper; a preview keeps the pages
            // it has, so they can be read beside the error.
            if (cancelled_ || (failed && recorder.Destination() == TRpPrinterDestination::Printer))
                recorder.Abort();
            else
                recorder.EndDoc();
        }
        printer_ = nullptr;
        available_ = true;
    };
    try {
        // Page setup.
        recorder.SetPrinterIndex(printerIndex_);
        recorder.SetPaperSize(page.PaperSize());
        if (recorder.PaperSize() == TRpPaperSize::Custom) {
            recorder.SetPaperWidth(roundToInt(page.Native(TRpPage::Width)));
            recorder.SetPaperLength(roundToInt(page.Native(TRpPage::Length)));
        }
        recorder.SetOrientation(page.Orientation());
        recorder.SetCopies(report_.PrinterSettings.Copies);
        recorder.SetOutputBin(report_.PrinterSettings.OutputBin);
        recorder.SetFirstPage(report_.PrinterSettings.FirstPage);
        recorder.SetLastPage(report_.PrinterSettings.LastPage);
        recorder.SetTitle(report_.ReportTitle);
        recorder.SetCompression(report_.Options.has(TRpReportOption::Compression));
        recorder.BeginDoc();
        begun = true;

        currentY_ = -1;
        pageCount_ = 0;
        column_ = page.Columns();
        long double footers = 0;
        for (const auto& b : report_.BandList()) {
            if (b->BandType() != TRpBandType::rbPageFooter || !b->Enabled)
                continue;
            int guard = 0;
            for (const TRpCustomBand* c = b.get(); c && guard < 10000; c = c->ChildBand(), ++guard)
                footers += bandHeight(*c);
        }
        items_.Prepare(report_);
        TRpController& driver = report_.Controller();
        driver.Title = report_.FindBand(TRpBandType::rbTitle);
        driver.Detail = report_.FindBand(TRpBandType::rbDetail);
        driver.Summary = report_.FindBand(TRpBandType::rbSummary);

        TRpPagination::Geometry g;
        g.paperLength = recorder.PaperLength();
        g.alignLength = paperLengthForAlign();
        g.pageLength = page.Native(TRpPage::Length);
        g.topMargin = page.Native(TRpPage::TopMargin);
        g.bottomMargin = page.Native(TRpPage::BottomMargin);
        g.leftMargin = page.Native(TRpPage::LeftMargin);
        g.printableLength = page.PrintableLength();
        g.footerReserve = roundToInt(footers);
        g.columns = std::max(1, page.Columns());
        g.columnSpace = roundToInt(page.Native(TRpPage::ColumnSpace));
        g.columnWidth = driver.Detail ? roundToInt(driver.Detail->Size.Native(TRpBandSize::Width))
                                      : (roundToInt(page.PrintableWidth()) - g.columnSpace * (g.columns - 1)) / g.columns;
        pages_ = TRpPagination(g);
        currentX_ = pages_.LeftMargin();
        executeDriver();

        currentX_ = roundToInt(page.Native(TRpPage::LeftMargin));
        lastPage_ = true;
        if (!cancelled_)
            endPage();
        items_.Unprepare(report_);
    } catch (...) {
        try {
            items_.Unprepare(report_);
        } catch (...) {
            // The run's own error is the one the caller hears about.
        }
        finish(true);
        throw;
    }
    finish(false);
}

void TRpGenerator::executeDriver()
{
    TRpController& driver = report_.Controller();
    TDataSet* ds = driver.DataSet();
    driver.DetailNumber = 0;
    recordCount_ = 0;
    if (!ds || !ds->Active()) {
        if (driver.PrintIfEmpty)
            printEmpty();
        return;
    }
    ds->First();
    bool records = !ds->Eof();
    try {
        recordCount_ = ds->RecordCount();
    } catch (const Exception&) {
        recordCount_ = 1;
    }
    if (!records) {
        if (driver.PrintIfEmpty)
            printEmpty();
        return;
    }
    processEvents();
    if (cancelled_)
        return;
    printBand(driver.Title);
    skipNextForcedPage_ = true;
    if (pageCount_ <= 1) {
        if (TRpCustomBand* header = enabledBand(report_, TRpBandType::rbColumnHeader)) {
            printBand(header);
            skipNextForcedPage_ = true;
        }
    }
    while (records) {
        processEvents();
        if (printer_->Cancelled() || cancelled_)
            return;
        ++driver.DetailNumber;
        printBand(driver.Detail);
        ds->Next();
        records = !ds->Eof();
        if (recordCount_ != 0)
            printer_->SetProgress(static_cast<int>(static_cast<long long>(driver.DetailNumber)
                                                   * 100 / recordCount_));
    }
    if (driver.Summary) {
        if (pageCount_ == 0)
            newPage();
        printBand(driver.Summary);
    }
}

void TRpGenerator::printEmpty()
{
    const TRpController& driver = report_.Controller();
    printBand(driver.Title);
    printBand(driver.Detail);
    printBand(driver.Summary);
}

// ---- bands ----

int TRpGenerator::paperLengthForAlign() const
{
    if (printer_->PaperSize() == TRpPaperSize::Custom
        && printer_->Orientation() == TRpOrientation::poLandscape)
        return printer_->PaperWidth();
    return printer_->PaperLength();
}

int TRpGenerator::AvailableSpace() const
{
    if (available_ || !printer_ || currentY_ == -1)
        return 0;
    return pages_.Available(currentY_);
}

void TRpGenerator::printBand(TRpCustomBand* band) { printBandAs(band, band ? band->BandType() : TRpBandType::rbTitle); }

void TRpGenerator::printBandAs(TRpCustomBand* band, TRpBandType type)
{
    if (!band)
        return;
    if (band->AlignToBottom) {
        const int target = pages_.BottomAlignedTop(bandHeight(*band));
        if (currentY_ < target)
            currentY_ = target;
    }
    if (band->Enabled) {
        if (band->ForceNewPage && !isPageBand(type) && pageCount_ > 0)
            forcedPageBreak();
        else if (band->ForceNewColumn && !isPageBand(type) && pageCount_ > 0)
            forcedColumnBreak();
        else
            makeSpace(*band, type);
        if (band->Height != 0)
            printItems(*band, type);
    }
    if (TRpCustomBand* child = band->ChildBand(); child && depth_ < kMaxChildDepth) {
        ++depth_;
        printBandAs(child, type == TRpBandType::rbPageFooter ? TRpBandType::rbPageFooter
                                                             : TRpBandType::rbChild);
        --depth_;
    }
}

void TRpGenerator::printItems(TRpCustomBand& band, TRpBandType type)
{
    if (type != TRpBandType::rbPageHeader && type != TRpBandType::rbColumnHeader
        && type != TRpBandType::rbPageFooter)
        pageFresh_ = false;
    TRpPrinter& p = *printer_;
    TRpBandExtent extent;
    extent.height = bandHeight(band);
    const long double width = band.Size.Native(TRpBandSize::Width);
    if (OnBandPrinted)
        OnBandPrinted(band, pageCount_, currentY_);
    p.Canvas()->fillRect(rpdevice::clampRect({p.XPos(currentX_), p.YPos(currentY_),
                                              p.XPos(static_cast<double>(currentX_ + width)),
                                              p.YPos(static_cast<double>(currentY_ + extent.height))}),
                         rpcolor::toQColor(band.Color));
    TRpPrintRun run;
    run.printer = printer_;
    run.pageCount = pageCount_;
    run.detailNumber = report_.Controller().DetailNumber;
    run.now = Now;
    run.availableSpace = [this] { return AvailableSpace(); };

    bool firstPass = true;
    for (;;) {
        bool unfinished = false;
        bool progressed = false;
        for (const auto& item : band.Items()) {
            if (!item->Enabled)
                continue;
            if (!firstPass && items_.Finished(*item))
                continue;
            const qsizetype before = items_.NextLine(*item);
            const bool done = items_.Print(*item, currentX_, currentY_, extent, run);
            if (done || items_.NextLine(*item) != before)
                progressed = true;
            unfinished = unfinished || !done;
        }
        // The canvas is a new one after a page break.
        // The band before drew its bottom frame line one native unit into this band, where this
        // band's fill and item backgrounds may have covered it (at screen resolution about
        // every third row line would vanish): it is drawn again.
        if (firstPass && previousBottomLine_.right > previousBottomLine_.left) {
            p.Canvas()->fillRect(previousBottomLine_, previousBottomColor_);
            previousBottomLine_ = {};
        }
        const DeviceRect frame = rpdevice::clampRect(
            {p.XPos(currentX_), p.YPos(currentY_), p.XPos(static_cast<double>(currentX_ + width)),
             p.YPos(static_cast<double>(currentY_ + extent.height + extent.expansion + 1))});
        rpframe::draw(*p.Canvas(), band.Frame, frame, p.XFactor(), p.YFactor());
        previousBottomLine_ = {};
        if (band.Frame.DrawBottom) {
            const long long top = static_cast<long long>(frame.bottom)
                                  - rpframe::horizontalThickness(band.Frame, p.YFactor());
            previousBottomLine_ = {frame.left, rpdevice::clamp(top), frame.right, frame.bottom};
            previousBottomColor_ = rpcolor::toQColor(band.Frame.Color);
        }
        if (!unfinished)
            break;
        // A line that fits no fresh page would ask for pages for ever: it is dropped instead.
        if (!firstPass && !progressed) {
            items_.FinishAll(band);
            break;
        }
        newColumn();
        run.pageCount = pageCount_;
        extent.height = bandHeight(band);
        extent.expansion = 0;
        firstPass = false;
    }
    currentY_ = clampAdd(currentY_, roundToInt(extent.height + extent.expansion));
}

void TRpGenerator::makeSpace(TRpCustomBand& band, TRpBandType type)
{
    if (pages_.MovesOn(roundToInt(bandHeight(band)), currentY_, pageCount_ == 0, type == TRpBandType::rbPageFooter,
                       pageFresh_))
        newColumn();
}

void TRpGenerator::forcedPageBreak()
{
    if (available_)
        return;
    if (skipNextForcedPage_) {
        skipNextForcedPage_ = false;
        return;
    }
    int guard = 0;
    do {
        newColumn();
    } while (column_ != 1 && ++guard < 10000);
}

void TRpGenerator::forcedColumnBreak()
{
    if (available_)
        return;
    if (columnForced_ || column_ > 1)
        newColumn();
    else
        columnForced_ = true;
}

void TRpGenerator::newColumn()
{
    if (const auto x = pages_.NextColumnX(column_, currentX_)) {
        currentX_ = *x;
        currentY_ = columnTop_;
        ++column_;
    } else {
        column_ = 1;
        currentX_ = pages_.LeftMargin();
        newPage();
    }
    if (!(column_ == 1 && pageCount_ == 1))
        printBand(enabledBand(report_, TRpBandType::rbColumnHeader));
}

void TRpGenerator::refuseUnstorableRun() const
{
    // Page 1 is in the store now: its size and the records it took tell what the whole run
    // needs, long before the store itself would run out after gigabytes of drawing.
    const TRpPageList& store = printer_->PageList();
    const int done = report_.Controller().DetailNumber - 1;
    if (printer_->Destination() != TRpPrinterDestination::PageStore || !store.Stream() || done < 1
        || recordCount_ <= done)
        return;
    const long double perRecord = static_cast<long double>(store.Stream()->Size()) / done;
    const long double needed = perRecord * recordCount_;
    if (needed > static_cast<long double>(TRpPageList::kMaxStoreBytes))
        throw ERpError(QStringLiteral("The report's pages would need about %1 MB (%2 records, the first page's %3 "
                                      "took %4 KB): more than the page store's 2 GB")
                           .arg(static_cast<qint64>(needed / (1024 * 1024)))
                           .arg(recordCount_)
                           .arg(done)
                           .arg(store.Stream()->Size() / 1024));
}

void TRpGenerator::newPage()
{
    endPage();
    ++pageCount_;
    printer_->NewPage();
    if (pageCount_ == 2)
        refuseUnstorableRun();
    pageFresh_ = true;
    previousBottomLine_ = {};
    currentY_ = pages_.TopMargin();
    if (pageCount_ > 1 || report_.Options.has(TRpReportOption::FirstPageHeader))
        printBand(enabledBand(report_, TRpBandType::rbPageHeader));
    columnTop_ = currentY_;
    if (pageCount_ == 1 && report_.Controller().Title)
        columnTop_ = clampAdd(columnTop_, roundToInt(bandHeight(*report_.Controller().Title)));
}

void TRpGenerator::endPage()
{
    if (pageCount_ <= 0)
        return;
    if (BeforeEndPage)
        BeforeEndPage(pageCount_);
    const TRpPage& page = report_.Page;
    currentY_ = pages_.FooterTop();
    currentX_ = pages_.LeftMargin();
    if (!lastPage_ || report_.Options.has(TRpReportOption::LastPageFooter))
        printBand(enabledBand(report_, TRpBandType::rbPageFooter));

    TRpPrinter& p = *printer_;
    TRpPrintRun run;
    run.printer = printer_;
    run.pageCount = pageCount_;
    run.detailNumber = report_.Controller().DetailNumber;
    run.now = Now;
    TRpBandExtent none;
    for (const auto& item : report_.Items())
        items_.Print(*item, 0, 0, none, run);
    rpframe::draw(*p.Canvas(), report_.Frame,
                  {p.XPos(static_cast<double>(page.Native(TRpPage::LeftMargin))),
                   p.YPos(static_cast<double>(page.Native(TRpPage::TopMargin))),
                   p.XPos(static_cast<double>(page.Native(TRpPage::Width)
                                              - page.Native(TRpPage::RightMargin))),
                   p.YPos(static_cast<double>(page.Native(TRpPage::Length)
                                              - page.Native(TRpPage::BottomMargin)))},
                  p.XFactor(), p.YFactor());
}
