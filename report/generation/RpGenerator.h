#pragma once
// Generation: turns a report model and its data set into pages on a page recorder. Decides where
// each band lands, when a page ends, what repeats on every page, and keeps the page and record
// counters. One run at a time, onto a recorder someone else owns: the report session decides
// what a run is for (a preview, a print) and how long its pages live.
//
// Knows: the report model, the record driver's data set (moved from its first row to its end),
// the page recorder's operations, the printable items' drawing (RpItemPrint).
// Must not know: windows, printers or sessions.
// Untrusted: the layout's measures (margins, band heights) may be anything a loaded layout holds;
// negative printable sizes are set to 0, and every position is clamped to int range.
#include "report/generation/Pagination.h"
#include "report/generation/RpItemPrint.h"
#include "report/model/RpTypes.h"

#include <QDateTime>
#include <functional>
#include <memory>

class TReport;
class TRpCustomBand;
class TRpPrinter;

class TRpGenerator {
public:
    explicit TRpGenerator(TReport& report);
    ~TRpGenerator();
    TRpGenerator(const TRpGenerator&) = delete;
    TRpGenerator& operator=(const TRpGenerator&) = delete;

    TReport& Report() const { return report_; }
    // False while a run goes on; requests to generate are then ignored.
    bool Available() const { return available_; }

    // One whole run onto a recorder the caller has set up (destination, client). Always finishes
    // the recorder: Abort when the run was cancelled, or failed onto the printer (no partial job
    // is sent), else EndDoc; the run's error reaches the caller after that, and the report
    // accepts later runs.
    void Generate(TRpPrinter& recorder);
    // The report's cancel: nothing unless a run goes on; otherwise the run stops before the next
    // detail, gets no last EndPage, and the recorder is aborted.
    void Cancel();

    // Printer chosen in print setup (-1 the default), handed to the recorder at the next run.
    int PrinterIndex() const { return printerIndex_; }
    void SetPrinterIndex(int index) { printerIndex_ = index; }

    // Generation state, native units.
    int CurrentX() const { return currentX_; }
    int CurrentY() const { return currentY_; }
    int PageCount() const { return pageCount_; }
    int DetailNumber() const;
    bool Cancelled() const { return cancelled_; }
    // Native height left on the page above the bottom margin and the page footers; 0 outside a
    // run or before the first page.
    int AvailableSpace() const;

    // Where pending window events run (before the title and before each detail). Default: the
    // application's event loop, when there is an application.
    std::function<void()> ProcessEvents;
    // The clock of system data items; default the current local time.
    std::function<QDateTime()> Now;
    // Observers for tests and tools: a band printed with its top at y on page; an EndPage about to
    // run (CurrentY still where the last band left it).
    std::function<void(const TRpCustomBand& band, int page, int y)> OnBandPrinted;
    std::function<void(int page)> BeforeEndPage;

private:
    void executeDriver();
    void printEmpty();
    void printBand(TRpCustomBand* band);
    // Prints a band in a role: a page footer's child bands print as page footers.
    void printBandAs(TRpCustomBand* band, TRpBandType type);
    void printItems(TRpCustomBand& band, TRpBandType type);
    void makeSpace(TRpCustomBand& band, TRpBandType type);
    void forcedPageBreak();
    void forcedColumnBreak();
    void newColumn();
    void newPage();
    void refuseUnstorableRun() const;
    void endPage();
    void processEvents();
    int paperLengthForAlign() const;
    static constexpr int kMaxChildDepth = 1000;

    TReport& report_;
    TRpPrinter* printer_ = nullptr;   // the recorder of the run going on
    TRpItemPrinter items_;
    bool available_ = true;
    bool cancelled_ = false;
    bool lastPage_ = false;
    bool skipNextForcedPage_ = false;
    bool columnForced_ = false;
    bool pageFresh_ = false;   // nothing but headers on the page yet
    int depth_ = 0;
    DeviceRect previousBottomLine_;   // the last band's bottom frame line on this page
    QColor previousBottomColor_;
    int currentX_ = 0;
    int currentY_ = -1;
    int pageCount_ = 0;
    int column_ = 1;
    int columnTop_ = 0;
    TRpPagination pages_;   // the run's page arithmetic, set up at its start
    int printerIndex_ = -1;
    int recordCount_ = 0;
};
