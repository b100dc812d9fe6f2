#pragma once
// The page recorder, recording side: a generation run draws each page on the canvas of a fresh page
// image; every finished page goes into the page store, from which the preview reads pages back by
// number while the run goes on. The recorder also holds the paper size and orientation that give
// the page its size, and tells its client window how far the run has got through queued events.
#include "platform/EmfRecorder.h"
#include "report/pages/PaperSize.h"
#include "report/pages/RpPageList.h"

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
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

class TRpPrinter {
public:
    TRpPrinter();
    // Runs Cleanup when not ready; the page store goes, and with it its temporary file.
    ~TRpPrinter();
    TRpPrinter(const TRpPrinter&) = delete;
    TRpPrinter& operator=(const TRpPrinter&) = delete;

    // Document. BeginDoc requires ready ("Report printer not ready"), NewPage busy ("Illegal call
    // to NewPage"); both raise ERpError otherwise.
    void BeginDoc();
    void NewPage();
    void EndDoc();
    void Abort();
    void Cancel() { cancelled_ = true; }

    // The canvas of the page being drawn; null before the first NewPage. A new canvas comes with
    // every NewPage, so callers ask for it again after each one.
    PageCanvas* Canvas() const { return page_.get(); }

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
    TRpPrinterDestination Destination() const { return destination_; }
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
    // Clearing the flag cancels a busy recorder, then raises OnAfterPreview.
    void SetShowingPreview(bool showing);

    // Requests to the report that owns this recorder; Load clears the two it cannot serve.
    std::function<void()> OnAfterPreview;
    std::function<void()> PrintSetupRequest;
    std::function<void()> ExportRequest;

    // Printer settings that give the page size. Setters answer whether the value was taken: with
    // a printer installed only what its driver offers, with none every size and orientation.
    bool PrinterPresent() const { return printerPresent_; }
    int PrinterIndex() const { return printerIndex_; }
    // Selects a printer (-1 the default) and reads its default paper, as a fresh device mode has it.
    void SetPrinterIndex(int index);
    TRpPaperSize PaperSize() const { return paperSize_; }
    TRpOrientation Orientation() const { return orientation_; }
    bool SetPaperSize(TRpPaperSize size);
    bool SetOrientation(TRpOrientation orientation);
    // The custom sheet in native units; taken only while the paper size is Custom.
    bool SetPaperWidth(int width);
    bool SetPaperLength(int length);
    // Page size in native units in the current orientation.
    int PaperWidth() const;
    int PaperLength() const;

    // Resolution of the screen the page images refer to, in pixels per inch.
    static int ScreenPixelsPerInch();

private:
    void notify(QEvent::Type type, int value);
    void storeCurrentPage();
    void detectPaper(const TRpPageImage& page);
    void readPrinterPaper();

    TRpPrinterDestination destination_ = TRpPrinterDestination::PageStore;
    TRpPrinterStatus status_ = TRpPrinterStatus::Ready;
    int pageNumber_ = 0;
    int pageCount_ = 0;
    int availablePages_ = 0;
    int progress_ = 0;
    bool cancelled_ = false;
    QString title_;
    long double xFactor_ = 96.0L / 254.0L;
    long double yFactor_ = 96.0L / 254.0L;
    int leftWaste_ = 0;
    int topWaste_ = 0;
    std::unique_ptr<EmfRecorder> page_;
    TRpPageList pages_;
    bool compression_ = false;
    QPointer<QObject> client_;
    bool showingPreview_ = false;
    bool reportLoaded_ = false;
    int firstPage_ = 0;
    int lastPage_ = 0;

    bool printerPresent_ = false;
    int printerIndex_ = -1;
    QList<int> supportedPaperCodes_;
    int printerPaperWidth_ = 0;  // physical sheet of the printer's default paper, portrait
    int printerPaperLength_ = 0;
    TRpPaperSize paperSize_ = TRpPaperSize::A4;
    TRpOrientation orientation_ = TRpOrientation::poPortrait;
    int customWidth_ = 0;
    int customLength_ = 0;
};
