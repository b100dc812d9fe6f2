#include "platform/print/PrinterInfo.h"

#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <QPrinterInfo>
#include <algorithm>
#include <cups/cups.h>

namespace {
std::optional<QList<PrinterDescription>>& overridden()
{
    static std::optional<QList<PrinterDescription>> list;
    return list;
}

// What Qt does not tell: the device address and the paper sources.
void describeFromService(PrinterDescription& d)
{
    const QByteArray name = d.name.toUtf8();
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, name.constData(), nullptr);
    if (!dest)
        return;
    if (const char* uri = cupsGetOption("device-uri", dest->num_options, dest->options))
        d.port = QString::fromUtf8(uri);
    if (cups_dinfo_t* dinfo = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest)) {
        if (ipp_attribute_t* a = cupsFindDestSupported(CUPS_HTTP_DEFAULT, dest, dinfo, CUPS_MEDIA_SOURCE))
            for (int i = 0; i < ippGetCount(a); ++i)
                if (const char* v = ippGetString(a, i, nullptr))
                    d.paperSources.append(QString::fromUtf8(v));
        if (ipp_attribute_t* a = cupsFindDestDefault(CUPS_HTTP_DEFAULT, dest, dinfo, CUPS_COPIES))
            d.defaultCopies = std::max(1, ippGetInteger(a, 0));
        if (ipp_attribute_t* a = cupsFindDestDefault(CUPS_HTTP_DEFAULT, dest, dinfo, CUPS_MEDIA_SOURCE))
            if (const char* v = ippGetString(a, 0, nullptr))
                d.defaultPaperSource = QString::fromUtf8(v);
        cupsFreeDestInfo(dinfo);
    }
    cupsFreeDests(1, dest);
}

PrinterDescription describe(const QPrinterInfo& info)
{
    PrinterDescription d;
    d.name = info.printerName();
    for (const QPageSize& size : info.supportedPageSizes()) {
        const int code = size.windowsId();
        if (code > 0 && !d.paperCodes.contains(code))
            d.paperCodes.append(code);
    }
    const QPageSize def = info.defaultPageSize();
    if (def.isValid()) {
        d.defaultPaperCode = def.windowsId();
        const QSizeF mm = def.size(QPageSize::Millimeter);
        d.defaultPaperMm = mm.width() <= mm.height() ? mm : mm.transposed();
    }
    d.driver = info.makeAndModel();
    const QPrinter printer(info, QPrinter::HighResolution);
    d.resolution = printer.resolution();
    d.copiesSupported = printer.supportsMultipleCopies();
    const QPageLayout layout = printer.pageLayout();
    const QMarginsF edges = layout.minimumMargins();
    const double toMm = layout.units() == QPageLayout::Millimeter ? 1.0
                        : layout.units() == QPageLayout::Point    ? 25.4 / 72.0
                        : layout.units() == QPageLayout::Inch     ? 25.4
                                                                   : 25.4 / 72.0;
    d.offsetMm = QSizeF(edges.left() * toMm, edges.top() * toMm);
    const auto duplex = info.supportedDuplexModes();
    d.duplexSupported = duplex.contains(QPrinter::DuplexLongSide) || duplex.contains(QPrinter::DuplexAuto);
    d.duplexDefault = info.defaultDuplexMode() != QPrinter::DuplexNone;
    describeFromService(d);
    return d;
}
} // namespace

namespace PrinterInfo {

QList<PrinterDescription> printers()
{
    if (overridden())
        return *overridden();
    QList<PrinterDescription> result;
    // The default printer comes first, so that index -1 and 0 agree when there is one.
    const QPrinterInfo def = QPrinterInfo::defaultPrinter();
    if (!def.isNull())
        result.append(describe(def));
    for (const QPrinterInfo& info : QPrinterInfo::availablePrinters())
        if (def.isNull() || info.printerName() != def.printerName())
            result.append(describe(info));
    return result;
}

bool printerInstalled()
{
    if (overridden())
        return !overridden()->isEmpty();
    return !QPrinterInfo::availablePrinters().isEmpty();
}

std::optional<PrinterDescription> printer(int index)
{
    const QList<PrinterDescription> all = printers();
    if (all.isEmpty())
        return std::nullopt;
    if (index < 0 || index >= all.size())
        return all.front();
    return all[index];
}

ScopedOverride::ScopedOverride(QList<PrinterDescription> printers) : previous_(overridden())
{
    overridden() = std::move(printers);
}

ScopedOverride::~ScopedOverride() { overridden() = previous_; }

} // namespace PrinterInfo
