#pragma once
// The page recorder: a generation run draws each page on the canvas the recorder hands out. With
// the page store as destination every page is a page image that goes into the store, from which
// the preview reads pages back by number while the run goes on. With a page sink as destination
// (the printer: the printing room gives one) the pages of the page range are drawn on the sink's
// pages and the others onto throwaway page images; the sink's document is handed over at EndDoc,
// and given up when the run was cancelled. The recorder also holds the printer settings that give
// the page its size, and tells its client window how far the run has got through queued events.
//
// Knows: page images, the page store, the printer settings, the page sink's interface. Knows
// nothing of print jobs, of the report model, of generation or of who owns it: printing the
// stored pages of a loaded report is the printing room's, and the report session decides when the
// recorder goes.
// Untrusted: report files (through the page store) and their pages.
#include "platform/canvas/EmfRecorder.h"
#include "report/pages/PaperSize.h"
#include "report/pages/PrinterSettings.h"
#include "report/pages/RpPageList.h"

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

enum class TRpPrinterDestination { PageStore = 0, Printer = 1 };
enum class TRpPrinterStatus { Ready = 0, Busy = 1, Finished = 2 };

// Notification posted to the recorder's client; it arrives when the client's thread next runs its
// event queue (once per record during generation), never from inside the recorder call.
class TRpNotifyEvent : public QEvent {
public:
    // Progress in percent (the first of the two, like WM_USER) and pages available (WM_USER + 1).
    static constexpr QEvent::Type ProgressType = static_cast<QEvent::Type>(QEvent::User);
    static constexpr QEvent::Type PagesAvailableType = static_cast<QEvent::Type>(QEvent::User + 1);

    TRpNotifyEvent(QEvent::Type type, int value) : QEvent(type), value_(value) {}
    int value() const { return value_; }

private:
    int value_;
};

class TRpPageSink;

class TRpPrinter {
public:
    TRpPrinter();
    // Runs Cleanup when not ready; the page store goes, and with it its temporary file.
    ~TRpPrinter();
    TRpPrinter(const TRpPrinter&) = delete;
    TRpPrinter& operator=(const TRpPrinter&) = delete;

    // Document. BeginDoc requires ready ("Report printer not ready"), NewPage busy ("Illegal call
    // to NewPage"); both raise ERpError otherwise. On the printer, EndDoc hands the job to the
    // print service, or discards it when the cancelled flag is set; a job the service refuses, or a
    // document with no page in the range, leaves its reason in JobError() (EndDoc ends a
    // generation run and must not fail it).
    void BeginDoc();
    void NewPage();
    void EndDoc();
    void Abort();
    void Cancel() { cancelled_ = true; }
    // A print of the stored pages starts afresh: a cancel from before (the run a load ended)
    // must not stop it.
    void ClearCancel() { cancelled_ = false; }

    // The canvas of the page being drawn; null before the first NewPage. A new canvas comes with
    // every NewPage, so callers ask for it again after each one.
    PageCanvas* Canvas() const;

    // Native units (0.1 mm) to device pixels, rounded to the nearest integer, halves to even.
    int XPos(double x) const;
    int YPos(double y) const;
    int XSize(double w) const;
    int YSize(double h) const;
    long double XFactor() const { return xFactor_; }
    long double YFactor() const { return yFactor_; }
    int LeftWaste() const { return leftWaste_; }
    int TopWaste() const { return topWaste_; }

    void SetProgress(int percent);
    int Progress() const { return progress_; }

    // Page n of the store, owned by the caller; none unless busy or finished and 1 <= n <= page
    // count, or while page n is still being drawn. A damaged stored page raises ERpError.
    std::unique_ptr<TRpPageImage> GetPage(int n);
    // Copies the store to a report file; only when finished, otherwise nothing happens.
    void Save(const QString& fileName);
    // Makes a report file the store. A file that is broken raises ERpError and leaves the recorder
    // as it was, pages included.
    void Load(const QString& fileName);
    void Cleanup();

    TRpPrinterStatus Status() const { return status_; }
    TRpPrinterDestination Destination() const
    {
        return sink_ ? TRpPrinterDestination::Printer : TRpPrinterDestination::PageStore;
    }
    // Pages go to the sink from the next document on (the printer as destination); only while
    // ready: a document keeps the destination it began with.
    void SetSink(std::unique_ptr<TRpPageSink> sink);
    int PageNumber() const { return pageNumber_; }
    int PageCount() const { return pageCount_; }
    int AvailablePages() const { return availablePages_; }
    bool Cancelled() const { return cancelled_; }
    bool ReportLoaded() const { return reportLoaded_; }
    const QString& Title() const { return title_; }
    void SetTitle(const QString& title) { title_ = title; }
    bool Compression() const { return compression_; }
    void SetCompression(bool compressed) { compression_ = compressed; }
    int FirstPage() const { return firstPage_; }
    int LastPage() const { return lastPage_; }
    void SetFirstPage(int page) { firstPage_ = page; }
    void SetLastPage(int page) { lastPage_ = page; }
    TRpPageList& PageList() { return pages_; }

    // The window that receives TRpNotifyEvent; events to a window that is gone are dropped.
    QObject* Client() const { return client_; }
    void SetClient(QObject* client) { client_ = client; }
    bool ShowingPreview() const { return showingPreview_; }
    // Clearing the flag (the preview lets go of the pages) cancels a busy recorder.
    void SetShowingPreview(bool showing);

    // Number the print service gave the last job of this recorder's printer document (0: none).
    int LastJob() const { return lastJob_; }
    // Why the last document was not printed: the service refused its job, or no page was in the
    // range. Empty when it printed, was cancelled, or had no pages.
    const QString& JobError() const { return jobError_; }
    // The error text of a print with no printer installed.
    static QString NoPrinterMessage();
    // The error text of a print whose page range holds none of the report's pages.
    QString EmptyRangeMessage() const;

    // Printer settings that give the page size. Setters answer whether the value was taken: with
    // a printer installed only what its driver offers, with none every size and orientation.
    TPrinterSettings& PrinterSettings() { return settings_; }
    const TPrinterSettings& PrinterSettings() const { return settings_; }
    bool PrinterPresent() const { return settings_.PrinterPresent(); }
    int PrinterIndex() const { return settings_.PrinterIndex(); }
    // Selects a printer (-1 the default) and reads its defaults, as a fresh device mode has them.
    void SetPrinterIndex(int index) { settings_.SelectPrinter(index); }
    TRpPaperSize PaperSize() const { return settings_.PaperSize(); }
    TRpOrientation Orientation() const { return settings_.Orientation(); }
    bool SetPaperSize(TRpPaperSize size) { return settings_.SetPaperSize(size); }
    bool SetOrientation(TRpOrientation orientation) { return settings_.SetOrientation(orientation); }
    bool SetCopies(int copies) { return settings_.SetCopies(copies); }
    bool SetOutputBin(TRpBin bin) { return settings_.SetOutputBin(bin); }
    // The custom sheet in native units; taken only while the paper size is Custom.
    bool SetPaperWidth(int width) { return settings_.SetPaperWidth(width); }
    bool SetPaperLength(int length) { return settings_.SetPaperLength(length); }
    // Page size in native units in the current orientation.
    int PaperWidth() const { return settings_.PaperWidth(); }
    int PaperLength() const { return settings_.PaperLength(); }

    // Resolution of the screen the page images refer to, in pixels per inch.
    static int ScreenPixelsPerInch();

private:
    void notify(QEvent::Type type, int value);
    void storeCurrentPage();
    void detectPaper(const TRpPageImage& page);
    bool inRange(int page) const;
    void finishPrinterPage();
    void startPrinterPage();

    TRpPrinterStatus status_ = TRpPrinterStatus::Ready;
    int pageNumber_ = 0;
    int pageCount_ = 0;
    int availablePages_ = 0;
    int progress_ = 0;
    bool cancelled_ = false;
    QString title_;
    long double xFactor_ = 0;   // device pixels per native unit, set for every page
    long double yFactor_ = 0;
    int leftWaste_ = 0;
    int topWaste_ = 0;
    std::unique_ptr<EmfRecorder> page_;
    // Printer destination: the sink, and the canvas of its page while a page of the range is drawn.
    std::unique_ptr<TRpPageSink> sink_;
    PageCanvas* sinkCanvas_ = nullptr;
    int lastJob_ = 0;
    QString jobError_;
    TRpPageList pages_;
    bool compression_ = false;
    QPointer<QObject> client_;
    bool showingPreview_ = false;
    bool reportLoaded_ = false;
    int firstPage_ = 0;
    int lastPage_ = 0;

    TPrinterSettings settings_;
};
