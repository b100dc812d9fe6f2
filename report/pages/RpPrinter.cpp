#include "report/pages/RpPrinter.h"

#include "platform/PrinterInfo.h"
#include "report/pages/RpError.h"
#include "report/pages/RpStream.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <cmath>
#include <limits>

namespace {

// Nearest integer, exact halves to the even neighbour (the rounding of every report measure).
int roundEven(long double v)
{
    const long double r = std::nearbyint(v); // the default rounding mode rounds halves to even
    if (!(r > -2147483648.0L))
        return std::numeric_limits<int>::min();
    if (!(r < 2147483647.0L))
        return std::numeric_limits<int>::max();
    return static_cast<int>(r);
}

int tenthsOfMm(double mm) { return static_cast<int>(std::lround(mm * 10.0)); }

// 4-mm buckets of the paper detection; trunc as in the loaded file's page size.
int bucket(double mm) { return static_cast<int>(std::trunc(mm / 4.0)); }

} // namespace

TRpPrinter::TRpPrinter()
{
    printerPresent_ = PrinterInfo::printerInstalled();
    const long double f = static_cast<long double>(ScreenPixelsPerInch()) / 254.0L;
    xFactor_ = yFactor_ = f;
    if (printerPresent_) {
        // The supported sizes and the physical sheet come from the printer; the size itself
        // starts as A4 until a report or the printer setup chooses one.
        const auto info = PrinterInfo::printer(printerIndex_);
        if (info) {
            supportedPaperCodes_ = info->paperCodes;
            printerPaperWidth_ = tenthsOfMm(info->defaultPaperMm.width());
            printerPaperLength_ = tenthsOfMm(info->defaultPaperMm.height());
        }
    }
}

TRpPrinter::~TRpPrinter()
{
    if (status_ != TRpPrinterStatus::Ready)
        Cleanup();
    page_.reset();
    pages_.ReleaseStream();
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

int TRpPrinter::XPos(double x) const { return roundEven((static_cast<long double>(x) - leftWaste_) * xFactor_); }
int TRpPrinter::YPos(double y) const { return roundEven((static_cast<long double>(y) - topWaste_) * yFactor_); }
int TRpPrinter::XSize(double w) const { return roundEven(static_cast<long double>(w) * xFactor_); }
int TRpPrinter::YSize(double h) const { return roundEven(static_cast<long double>(h) * yFactor_); }

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
    status_ = TRpPrinterStatus::Busy;
    pages_.Start(std::make_unique<TRpStream>(TRpStream::kDefaultMemoryLimit), compression_);
    xFactor_ = yFactor_ = static_cast<long double>(ScreenPixelsPerInch()) / 254.0L;
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
    if (pageNumber_ > 0) {
        storeCurrentPage();
        ++availablePages_;
        notify(TRpNotifyEvent::PagesAvailableType, availablePages_);
    }
    ++pageCount_;
    ++pageNumber_;
    xFactor_ = yFactor_ = static_cast<long double>(ScreenPixelsPerInch()) / 254.0L;
    const int w = PaperWidth();
    const int l = PaperLength();
    const QSize pixels(std::max(1, XSize(w)), std::max(1, YSize(l)));
    const QSizeF mm(std::max(1, w) / 10.0, std::max(1, l) / 10.0);
    page_ = std::make_unique<EmfRecorder>(pixels, mm, QStringLiteral("Hematix") + QChar(0) + title_);
}

void TRpPrinter::EndDoc()
{
    if (status_ != TRpPrinterStatus::Busy)
        return;
    if (pageCount_ > 0)
        storeCurrentPage();
    ++availablePages_;
    notify(TRpNotifyEvent::PagesAvailableType, availablePages_);
    status_ = TRpPrinterStatus::Finished;
    pages_.WriteHeader();
}

void TRpPrinter::Abort()
{
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
    xFactor_ = yFactor_ = static_cast<long double>(ScreenPixelsPerInch()) / 254.0L;
    if (first)
        detectPaper(*first);
    status_ = TRpPrinterStatus::Finished;
    PrintSetupRequest = nullptr;
    ExportRequest = nullptr;
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
    if (was && !showing) {
        if (status_ == TRpPrinterStatus::Busy)
            Cancel();
        if (OnAfterPreview)
            OnAfterPreview();
    }
}

void TRpPrinter::SetPrinterIndex(int index)
{
    printerIndex_ = index;
    printerPresent_ = PrinterInfo::printerInstalled();
    if (!printerPresent_)
        return;
    readPrinterPaper();
}

void TRpPrinter::readPrinterPaper()
{
    const auto info = PrinterInfo::printer(printerIndex_);
    if (!info)
        return;
    supportedPaperCodes_ = info->paperCodes;
    printerPaperWidth_ = tenthsOfMm(info->defaultPaperMm.width());
    printerPaperLength_ = tenthsOfMm(info->defaultPaperMm.height());
    const auto size = paperSizeFromWindowsCode(info->defaultPaperCode);
    paperSize_ = size ? *size : TRpPaperSize::Default;
}

bool TRpPrinter::SetPaperSize(TRpPaperSize size)
{
    // Without a printer nothing restricts the page: every size of the table is taken, so that a
    // landscape report is not recorded on a portrait sheet.
    bool accepted = !printerPresent_ || size == TRpPaperSize::Default || size == TRpPaperSize::Custom
                    || supportedPaperCodes_.contains(paperSizeInfo(size).windowsCode);
    if (accepted)
        paperSize_ = size;
    return accepted;
}

bool TRpPrinter::SetOrientation(TRpOrientation orientation)
{
    // Every driver we reach through the print system turns pages; with no printer nothing refuses.
    orientation_ = orientation;
    return true;
}

bool TRpPrinter::SetPaperWidth(int width)
{
    if (paperSize_ != TRpPaperSize::Custom)
        return false;
    customWidth_ = width;
    return true;
}

bool TRpPrinter::SetPaperLength(int length)
{
    if (paperSize_ != TRpPaperSize::Custom)
        return false;
    customLength_ = length;
    return true;
}

int TRpPrinter::PaperWidth() const
{
    switch (paperSize_) {
    case TRpPaperSize::Custom:
        return customWidth_;
    case TRpPaperSize::Default: {
        // The printer's physical sheet; A4 when no printer says otherwise.
        const int w = printerPaperWidth_ > 0 ? printerPaperWidth_ : 2100;
        const int l = printerPaperLength_ > 0 ? printerPaperLength_ : 2970;
        return orientation_ == TRpOrientation::poLandscape ? l : w;
    }
    default: {
        const PaperSizeInfo& p = paperSizeInfo(paperSize_);
        return tenthsOfMm(orientation_ == TRpOrientation::poLandscape ? p.heightMm : p.widthMm);
    }
    }
}

int TRpPrinter::PaperLength() const
{
    switch (paperSize_) {
    case TRpPaperSize::Custom:
        return customLength_;
    case TRpPaperSize::Default: {
        const int w = printerPaperWidth_ > 0 ? printerPaperWidth_ : 2100;
        const int l = printerPaperLength_ > 0 ? printerPaperLength_ : 2970;
        return orientation_ == TRpOrientation::poLandscape ? w : l;
    }
    default: {
        const PaperSizeInfo& p = paperSizeInfo(paperSize_);
        return tenthsOfMm(orientation_ == TRpOrientation::poLandscape ? p.widthMm : p.heightMm);
    }
    }
}
