#include "report/pages/RpPrinter.h"

#include "report/pages/RpError.h"
#include "report/pages/RpPageSink.h"
#include "report/pages/RpStream.h"
#include "report/units/NativeUnits.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <cmath>
#include <limits>

namespace {

// 4-mm buckets of the paper detection; trunc as in the loaded file's page size.
int bucket(double mm) { return static_cast<int>(std::trunc(mm / 4.0)); }

} // namespace

TRpPrinter::TRpPrinter()
{
    const long double f = rpunits::pixelsPerNative(ScreenPixelsPerInch());
    xFactor_ = yFactor_ = f;
}

TRpPrinter::~TRpPrinter()
{
    if (status_ != TRpPrinterStatus::Ready)
        Cleanup();
    sinkCanvas_ = nullptr;
    if (sink_)
        sink_->Abort();
    page_.reset();
    pages_.ReleaseStream();
}

PageCanvas* TRpPrinter::Canvas() const
{
    if (sinkCanvas_)
        return sinkCanvas_;
    return page_.get();
}

void TRpPrinter::SetSink(std::unique_ptr<TRpPageSink> sink)
{
    if (status_ == TRpPrinterStatus::Ready)
        sink_ = std::move(sink);
}

bool TRpPrinter::inRange(int page) const
{
    return (firstPage_ <= 0 || page >= firstPage_) && (lastPage_ <= 0 || page <= lastPage_);
}

QString TRpPrinter::NoPrinterMessage()
{
    return QStringLiteral("No printer is installed");
}

QString TRpPrinter::EmptyRangeMessage() const
{
    // An open start is the report's first page; an open end is said as such, since the
    // report's own last page comes before the start.
    const int first = firstPage_ > 0 ? firstPage_ : 1;
    if (lastPage_ <= 0)
        return QStringLiteral("No page of this report is in the chosen range from page %1: it has %2 pages")
            .arg(first)
            .arg(pageCount_);
    return QStringLiteral("No page of this report is in the chosen range %1\u2013%2").arg(first).arg(lastPage_);
}

int TRpPrinter::ScreenPixelsPerInch()
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const int dpi = static_cast<int>(std::lround(screen->logicalDotsPerInchX()));
            if (dpi > 0)
                return dpi;
        }
    }
    return 96;
}

void TRpPrinter::notify(QEvent::Type type, int value)
{
    if (client_)
        QCoreApplication::postEvent(client_.data(), new TRpNotifyEvent(type, value));
}

int TRpPrinter::XPos(double x) const { return rpunits::roundToInt((static_cast<long double>(x) - leftWaste_) * xFactor_); }
int TRpPrinter::YPos(double y) const { return rpunits::roundToInt((static_cast<long double>(y) - topWaste_) * yFactor_); }
int TRpPrinter::XSize(double w) const { return rpunits::roundToInt(static_cast<long double>(w) * xFactor_); }
int TRpPrinter::YSize(double h) const { return rpunits::roundToInt(static_cast<long double>(h) * yFactor_); }

void TRpPrinter::SetProgress(int percent)
{
    progress_ = percent;
    notify(TRpNotifyEvent::ProgressType, percent);
}

void TRpPrinter::BeginDoc()
{
    // Refused before anything is cleared: a second BeginDoc must not throw away the page that the
    // running document is drawing.
    if (status_ != TRpPrinterStatus::Ready)
        throw ERpError(QStringLiteral("Report printer not ready"));
    page_.reset();
    availablePages_ = 0;
    cancelled_ = false;
    leftWaste_ = 0;
    topWaste_ = 0;
    pageNumber_ = 0;
    pageCount_ = 0;
    jobError_.clear();
    if (sink_) {
        if (!settings_.PrinterPresent())
            throw ERpError(NoPrinterMessage());
        sinkCanvas_ = nullptr;
        sink_->Begin(settings_, title_);
        leftWaste_ = settings_.LeftOffset();
        topWaste_ = settings_.TopOffset();
        xFactor_ = rpunits::pixelsPerNative(settings_.XPixelsPerInch());
        yFactor_ = rpunits::pixelsPerNative(settings_.YPixelsPerInch());
        status_ = TRpPrinterStatus::Busy;
        return;
    }
    status_ = TRpPrinterStatus::Busy;
    pages_.Start(std::make_unique<TRpStream>(TRpStream::kDefaultMemoryLimit), compression_);
    xFactor_ = yFactor_ = rpunits::pixelsPerNative(ScreenPixelsPerInch());
}

void TRpPrinter::storeCurrentPage()
{
    if (!page_)
        return;
    const QByteArray bytes = page_->finish();
    page_.reset();
    pages_.AddPage(bytes);
}

void TRpPrinter::NewPage()
{
    if (status_ != TRpPrinterStatus::Busy)
        throw ERpError(QStringLiteral("Illegal call to NewPage"));
    const bool printer = sink_ != nullptr;
    if (pageNumber_ > 0) {
        if (printer)
            finishPrinterPage();
        else
            storeCurrentPage();
        ++availablePages_;
        notify(TRpNotifyEvent::PagesAvailableType, availablePages_);
    }
    ++pageCount_;
    ++pageNumber_;
    if (printer) {
        startPrinterPage();
        return;
    }
    xFactor_ = yFactor_ = rpunits::pixelsPerNative(ScreenPixelsPerInch());
    const int w = PaperWidth();
    const int l = PaperLength();
    const QSize pixels(std::max(1, XSize(w)), std::max(1, YSize(l)));
    const QSizeF mm(std::max(1, w) / 10.0, std::max(1, l) / 10.0);
    page_ = std::make_unique<EmfRecorder>(pixels, mm, QStringLiteral("Hematix") + QChar(0) + title_);
}

void TRpPrinter::finishPrinterPage()
{
    // A printed page ends with its canvas; a page outside the range was drawn on a throwaway image.
    if (sinkCanvas_) {
        sinkCanvas_ = nullptr;
        sink_->FinishPage();
    }
    page_.reset();
}

void TRpPrinter::startPrinterPage()
{
    if (!sink_ || !sink_->Open())
        throw ERpError(QStringLiteral("Illegal call to NewPage"));
    xFactor_ = rpunits::pixelsPerNative(settings_.XPixelsPerInch());
    yFactor_ = rpunits::pixelsPerNative(settings_.YPixelsPerInch());
    if (inRange(pageCount_)) {
        sinkCanvas_ = &sink_->StartPage();
        // The sink's resolution is the one the page is measured in.
        xFactor_ = yFactor_ = rpunits::pixelsPerNative(sink_->Resolution());
        return;
    }
    const int w = PaperWidth();
    const int l = PaperLength();
    const QSize pixels(std::max(1, XSize(w)), std::max(1, YSize(l)));
    const QSizeF mm(std::max(1, w) / 10.0, std::max(1, l) / 10.0);
    page_ = std::make_unique<EmfRecorder>(pixels, mm);
}

void TRpPrinter::EndDoc()
{
    if (status_ != TRpPrinterStatus::Busy)
        return;
    if (sink_) {
        finishPrinterPage();
        ++availablePages_;
        notify(TRpNotifyEvent::PagesAvailableType, availablePages_);
        status_ = TRpPrinterStatus::Finished;
        if (!sink_->Started()) {
            sink_->Abort();
            // Nothing was drawn for the job: said, unless the run was cancelled before the range.
            if (!cancelled_ && pageCount_ > 0)
                jobError_ = EmptyRangeMessage();
            return;
        }
        // A run cancelled from the progress window still ends normally; the job must not print.
        if (cancelled_) {
            sink_->Abort();
            return;
        }
        try {
            lastJob_ = sink_->Finish(settings_);
        } catch (const ERpError& e) {
            // Kept for whoever started the run: EndDoc ends a generation, which must finish.
            jobError_ = e.message();
        }
        return;
    }
    if (pageCount_ > 0)
        storeCurrentPage();
    ++availablePages_;
    notify(TRpNotifyEvent::PagesAvailableType, availablePages_);
    status_ = TRpPrinterStatus::Finished;
    pages_.WriteHeader();
}

void TRpPrinter::Abort()
{
    if (sink_) {
        sinkCanvas_ = nullptr;
        sink_->Abort();
        page_.reset();
        status_ = TRpPrinterStatus::Finished;
        return;
    }
    // Only a running document adds its open page; after a Cleanup the page belongs to no store.
    if (status_ == TRpPrinterStatus::Busy && pages_.Stream()) {
        storeCurrentPage();
        // The header tells the truth about the pages kept, so a saved aborted document keeps
        // them all when loaded again.
        pages_.WriteHeader();
    }
    page_.reset();
    status_ = TRpPrinterStatus::Finished;
}

std::unique_ptr<TRpPageImage> TRpPrinter::GetPage(int n)
{
    if (status_ == TRpPrinterStatus::Ready || n < 1 || n > pageCount_)
        return nullptr;
    return pages_.GetPage(n);
}

void TRpPrinter::Save(const QString& fileName)
{
    if (status_ != TRpPrinterStatus::Finished)
        return;
    pages_.SaveToFile(fileName);
}

void TRpPrinter::Cleanup()
{
    if (status_ == TRpPrinterStatus::Busy)
        Cancel();
    // A job under way is given up; the canvas on its page goes with it, so a run still drawing
    // draws on the throwaway image that stays (below).
    if (sink_ && sink_->Open()) {
        sinkCanvas_ = nullptr;
        sink_->Abort();
    }
    // The open page image stays until the next document: a run still holding its canvas must not
    // draw on freed memory; it will not be stored anywhere.
    pages_.ReleaseStream();
    pageCount_ = 0;
    pageNumber_ = 0;
    availablePages_ = 0;
    status_ = TRpPrinterStatus::Ready;
}

void TRpPrinter::Load(const QString& fileName)
{
    // The file is checked, and its first page read, before anything of ours is given up.
    TRpPageList loaded;
    loaded.LoadFromFile(fileName);
    std::unique_ptr<TRpPageImage> first;
    if (loaded.PageCount() > 0)
        first = loaded.GetPage(1);

    if (status_ != TRpPrinterStatus::Ready)
        Cleanup();
    pages_.ReleaseStream();
    pages_.Adopt(loaded);
    pageCount_ = pages_.PageCount();
    availablePages_ = pageCount_;
    xFactor_ = yFactor_ = rpunits::pixelsPerNative(ScreenPixelsPerInch());
    if (first)
        detectPaper(*first);
    status_ = TRpPrinterStatus::Finished;
    reportLoaded_ = true;
}

void TRpPrinter::detectPaper(const TRpPageImage& page)
{
    // The page size in 4-mm units, taken from the metafile's frame (0.01 mm). Going through whole
    // screen pixels first rounds twice, and then A3 and A5 pages match no entry at all.
    const QRect frame = page.FrameHundredthsMm();
    const auto W = static_cast<long long>(std::trunc((static_cast<double>(frame.right()) - frame.left()) / 400.0));
    const auto H = static_cast<long long>(std::trunc((static_cast<double>(frame.bottom()) - frame.top()) / 400.0));
    // Every match overwrites the one before: the last matching entry of the table wins.
    for (const PaperSizeInfo& entry : paperSizes()) {
        if (entry.size == TRpPaperSize::Default || entry.size == TRpPaperSize::Custom)
            continue;
        const int tw = bucket(entry.widthMm);
        const int th = bucket(entry.heightMm);
        if (W == tw && H == th) {
            SetPaperSize(entry.size);
            SetOrientation(TRpOrientation::poPortrait);
        }
        if (H == tw && W == th) {
            SetPaperSize(entry.size);
            SetOrientation(TRpOrientation::poLandscape);
        }
    }
}

void TRpPrinter::SetShowingPreview(bool showing)
{
    const bool was = showingPreview_;
    showingPreview_ = showing;
    if (was && !showing && status_ == TRpPrinterStatus::Busy)
        Cancel();
}
