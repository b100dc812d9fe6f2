#pragma once
// What the recorder needs to know about the installed printers: whether there is any, and which
// paper sizes (as Windows paper codes), default sheet, resolution, unprintable edges, copies,
// paper sources and two-sided printing each one offers, as Qt and the print service (CUPS) tell.
// Tests replace the system's answer with a scripted one, so that both "no printer" and "a printer
// that knows only A4" can be exercised on any machine without touching the print service.
#include <QList>
#include <QSizeF>
#include <QString>
#include <optional>

struct PrinterDescription {
    QString name;
    // Windows paper codes the driver offers (DMPAPER_*).
    QList<int> paperCodes;
    // The default sheet: its Windows paper code (0 when it has none) and its size, portrait, in
    // millimetres (empty when the driver does not say).
    int defaultPaperCode = 0;
    QSizeF defaultPaperMm;
    // The driver (make and model) and the port (the service's device address), for the settings
    // that name them.
    QString driver;
    QString port;
    // Dots per inch of its finest output, and the unprintable edge at the left and top of the
    // default sheet in millimetres.
    int resolution = 300;
    QSizeF offsetMm;
    bool copiesSupported = true;
    // Copies a job gets when it asks for none.
    int defaultCopies = 1;
    // Paper sources by the service's media-source keywords, and the one taken when none is chosen.
    QList<QString> paperSources;
    QString defaultPaperSource;
    bool duplexSupported = false;
    bool duplexDefault = false;
};

namespace PrinterInfo {

// Installed printers; empty means no printer is installed.
QList<PrinterDescription> printers();
bool printerInstalled();
// Printer at index in printers(), or the default printer for -1; none without printers.
std::optional<PrinterDescription> printer(int index = -1);

// While an override lives, printers() answers with its list instead of asking the system.
class ScopedOverride {
public:
    explicit ScopedOverride(QList<PrinterDescription> printers);
    ~ScopedOverride();
    ScopedOverride(const ScopedOverride&) = delete;
    ScopedOverride& operator=(const ScopedOverride&) = delete;

private:
    std::optional<QList<PrinterDescription>> previous_;
};

} // namespace PrinterInfo
