#include "platform/PrinterInfo.h"

#include <QPageSize>
#include <QPrinterInfo>

namespace {
std::optional<QList<PrinterDescription>>& overridden()
{
    static std::optional<QList<PrinterDescription>> list;
    return list;
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
