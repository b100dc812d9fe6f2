#include "report/pages/PrinterSettings.h"

#include "platform/print/PrinterInfo.h"

#include <QMarginsF>
#include <QPageSize>
#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

struct BinInfo {
    TRpBin bin;
    int code;             // DMBIN_*
    const char* keyword;  // the print service's media-source, or null
};
// In table order: the first entry of a code is the one a printer's code reads as.
constexpr BinInfo kBins[] = {
    {TRpBin::First, 1, "main"},          {TRpBin::Lower, 2, "bottom"},
    {TRpBin::Middle, 3, "middle"},       {TRpBin::Manual, 4, "manual"},
    {TRpBin::Envelope, 5, "envelope"},   {TRpBin::EnvManual, 6, "by-pass-tray"},
    {TRpBin::Auto, 7, "auto"},           {TRpBin::Tractor, 8, nullptr},
    {TRpBin::SmallFormat, 9, nullptr},   {TRpBin::LargeFormat, 10, nullptr},
    {TRpBin::LargeCapacity, 11, "large-capacity"}, {TRpBin::Cassette, 14, nullptr},
    {TRpBin::Last, 14, nullptr},
};

// Other names the service gives the upper tray.
constexpr const char* kUpperKeywords[] = {"top", "tray-1", "main"};

int native(double mm) { return static_cast<int>(std::lround(mm * 10.0)); }

// Names are kept as the settings' fixed buffers held them.
QString cut(const QString& s, int length) { return s.left(length); }

} // namespace

int rpBinCode(TRpBin bin)
{
    for (const BinInfo& b : kBins)
        if (b.bin == bin)
            return b.code;
    return 7;
}

std::optional<TRpBin> rpBinFromCode(int code)
{
    for (const BinInfo& b : kBins)
        if (b.code == code)
            return b.bin;
    return std::nullopt;
}

QString rpBinSourceKeyword(TRpBin bin)
{
    for (const BinInfo& b : kBins)
        if (b.bin == bin && b.keyword)
            return QString::fromLatin1(b.keyword);
    return {};
}

std::optional<TRpBin> rpBinFromSourceKeyword(const QString& keyword)
{
    for (const char* upper : kUpperKeywords)
        if (keyword == QLatin1String(upper))
            return TRpBin::First;
    for (const BinInfo& b : kBins)
        if (b.keyword && keyword == QLatin1String(b.keyword))
            return b.bin;
    return std::nullopt;
}

TPrinterSettings::TPrinterSettings()
{
    if (const auto printer = PrinterInfo::printer(index_)) {
        read(*printer);
        // A fresh recorder starts on A4 whatever the printer's own sheet; generation sets the page.
        paperSize_ = TRpPaperSize::A4;
    }
}

void TPrinterSettings::SelectPrinter(int index)
{
    index_ = index;
    const auto printer = PrinterInfo::printer(index_);
    present_ = printer.has_value();
    if (printer)
        read(*printer);
}

void TPrinterSettings::ReadFromPrinter()
{
    // By name first: once the list was asked again, the index may point at another printer.
    auto printer = device_.isEmpty() ? std::nullopt : PrinterInfo::printer(device_);
    if (!printer)
        printer = PrinterInfo::printer(index_);
    present_ = printer.has_value();
    if (printer)
        read(*printer);
}

void TPrinterSettings::read(const PrinterDescription& p)
{
    present_ = true;
    device_ = cut(p.name, 127);
    driver_ = cut(p.driver, 63);
    port_ = cut(p.port, 127);
    xDpi_ = yDpi_ = p.resolution > 0 ? p.resolution : 300;
    copiesSupported_ = p.copiesSupported;
    copies_ = 1;
    sources_ = p.paperSources;
    bin_ = TRpBin::First;
    if (!sources_.isEmpty())
        bin_ = rpBinFromSourceKeyword(p.defaultPaperSource).value_or(TRpBin::First);
    duplexSupported_ = p.duplexSupported;
    duplex_ = p.duplexSupported && p.duplexDefault;
    leftOffset_ = native(p.offsetMm.width());
    topOffset_ = native(p.offsetMm.height());
    supportedCodes_ = p.paperCodes;
    paperSize_ = paperSizeFromWindowsCode(p.defaultPaperCode).value_or(TRpPaperSize::Default);
    if (paperSize_ == TRpPaperSize::Custom)
        paperSize_ = TRpPaperSize::Default;
    physicalWidth_ = native(p.defaultPaperMm.width());
    physicalLength_ = native(p.defaultPaperMm.height());
}

bool TPrinterSettings::SetCopies(int copies)
{
    if (present_ && !copiesSupported_)
        return false;
    // A count held in 16 bits; none or fewer means one copy.
    copies_ = std::clamp(copies, 1, 32767);
    return true;
}

bool TPrinterSettings::SetOrientation(TRpOrientation orientation)
{
    // Every driver the print service reaches turns pages.
    orientation_ = orientation;
    return true;
}

bool TPrinterSettings::SetOutputBin(TRpBin bin)
{
    if (!present_ || sources_.isEmpty())
        return false;
    bin_ = bin;
    return true;
}

bool TPrinterSettings::Supports(TRpPaperSize size) const
{
    return !present_ || size == TRpPaperSize::Default || size == TRpPaperSize::Custom
           || supportedCodes_.contains(paperSizeInfo(size).windowsCode);
}

bool TPrinterSettings::SetPaperSize(TRpPaperSize size)
{
    if (!Supports(size))
        return false;
    paperSize_ = size;
    return true;
}

bool TPrinterSettings::SetPaperWidth(int width)
{
    if (paperSize_ != TRpPaperSize::Custom)
        return false;
    customWidth_ = width;
    return true;
}

bool TPrinterSettings::SetPaperLength(int length)
{
    if (paperSize_ != TRpPaperSize::Custom)
        return false;
    customLength_ = length;
    return true;
}

int TPrinterSettings::PaperWidth() const
{
    switch (paperSize_) {
    case TRpPaperSize::Custom:
        return customWidth_;
    case TRpPaperSize::Default: {
        // The printer's physical sheet; A4 when no printer says otherwise.
        const int w = physicalWidth_ > 0 ? physicalWidth_ : 2100;
        const int l = physicalLength_ > 0 ? physicalLength_ : 2970;
        return orientation_ == TRpOrientation::poLandscape ? l : w;
    }
    default: {
        const PaperSizeInfo& p = paperSizeInfo(paperSize_);
        return native(orientation_ == TRpOrientation::poLandscape ? p.heightMm : p.widthMm);
    }
    }
}

int TPrinterSettings::PaperLength() const
{
    switch (paperSize_) {
    case TRpPaperSize::Custom:
        return customLength_;
    case TRpPaperSize::Default: {
        const int w = physicalWidth_ > 0 ? physicalWidth_ : 2100;
        const int l = physicalLength_ > 0 ? physicalLength_ : 2970;
        return orientation_ == TRpOrientation::poLandscape ? w : l;
    }
    default: {
        const PaperSizeInfo& p = paperSizeInfo(paperSize_);
        return native(orientation_ == TRpOrientation::poLandscape ? p.widthMm : p.heightMm);
    }
    }
}

QPageLayout TPrinterSettings::PageLayout() const
{
    const bool landscape = orientation_ == TRpOrientation::poLandscape;
    QPageSize size;
    if (paperSize_ == TRpPaperSize::Custom) {
        // A custom sheet is given as it lies; the job's page is portrait-shaped either way.
        const double w = std::max(1, customWidth_) / 10.0;
        const double l = std::max(1, customLength_) / 10.0;
        size = QPageSize(QSizeF(std::min(w, l), std::max(w, l)), QPageSize::Millimeter, QString(),
                         QPageSize::ExactMatch);
    } else if (paperSize_ == TRpPaperSize::Default) {
        const double w = (physicalWidth_ > 0 ? physicalWidth_ : 2100) / 10.0;
        const double l = (physicalLength_ > 0 ? physicalLength_ : 2970) / 10.0;
        size = QPageSize(QSizeF(w, l), QPageSize::Millimeter);
    } else {
        const auto id = QPageSize::id(paperSizeInfo(paperSize_).windowsCode);
        const PaperSizeInfo& p = paperSizeInfo(paperSize_);
        // Our table's measure rules: its three sheets are not the sizes Qt knows by those codes.
        const QPageSize known(id);
        const QSizeF mm = known.size(QPageSize::Millimeter);
        if (id != QPageSize::Custom && std::abs(mm.width() - p.widthMm) < 1 && std::abs(mm.height() - p.heightMm) < 1)
            size = known;
        else
            size = QPageSize(QSizeF(p.widthMm, p.heightMm), QPageSize::Millimeter, QString(), QPageSize::ExactMatch);
    }
    bool turned = landscape;
    if (paperSize_ == TRpPaperSize::Custom)
        turned = customWidth_ > customLength_;
    QPageLayout layout(size, turned ? QPageLayout::Landscape : QPageLayout::Portrait, QMarginsF(),
                       QPageLayout::Millimeter);
    // The unprintable edges as margins put the painter's origin where the printer starts; the
    // recorder subtracts the same offsets from every position.
    layout.setMinimumMargins(QMarginsF());
    layout.setMargins(QMarginsF(leftOffset_ / 10.0, topOffset_ / 10.0, leftOffset_ / 10.0, topOffset_ / 10.0));
    return layout;
}

PrintJobOptions TPrinterSettings::JobOptions() const
{
    PrintJobOptions o;
    o.copies = copies_;
    o.collate = true;
    o.twoSided = duplex_ && duplexSupported_;
    if (sources_.contains(rpBinSourceKeyword(bin_)))
        o.paperSource = rpBinSourceKeyword(bin_);
    return o;
}
