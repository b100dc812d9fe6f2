#pragma once
// What the recorder needs to know about the installed printers: whether there is any, and which
// paper sizes (as Windows paper codes), default sheet, resolution, unprintable edges, copies,
// paper sources and two-sided printing each one offers, as Qt and the print service (CUPS) tell.
//
// The service is asked once per program run, on first use, and again only through refresh() (the
// print dialog opening), when a printer is looked up by a name the last answer did not hold, or
// when a print asks whether any printer is installed and none was. Asked for every recorder, one
// printer that does not answer (a network queue whose device is unreachable) would stall every
// report run. Every ask runs on a thread of its own and is waited for at most
// kAskBound; when that runs out the answer known before stands (when none was ever known: the
// printers described by then, the default one first, or none), the ask's late answer is dropped,
// and the no-answer listener is told. While an ask that ran out is still going, no other is
// started: later asks return the known answer at once.
//
// Tests replace the system's answer with a scripted list (ScopedOverride: no ask at all) or with
// a scripted ask (ScopedAsker: a function run in place of the service, with its own bound), so
// that "no printer", "a printer that knows only A4" and "a service that does not answer" can be
// exercised on any machine without touching the print service.
//
// Knows: Qt's printer information and the print service's client library. Knows nothing of
// reports or windows. Untrusted: nothing; names and capabilities come from the service.
#include <QList>
#include <QSizeF>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
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

// Installed printers, the default one first, as last known; asks the service on first use.
// Empty means no printer is installed (or none ever answered).
QList<PrinterDescription> printers();
// Whether any printer is installed; asks the service again when none was known.
bool printerInstalled();
// Printer at index in printers(), or the default printer for -1; none without printers.
std::optional<PrinterDescription> printer(int index = -1);
// The printer of that name; when the known list lacks it, the service is asked again first.
std::optional<PrinterDescription> printer(const QString& name);
// Asks the service again (bounded like every ask) and keeps its answer when it came in time.
void refresh();

// Whether the latest ask ran out of time, so that what printers() says is the answer known
// before it.
bool lastAskTimedOut();
// The text for the user when an ask ran out of time.
QString noAnswerMessage();
// Called with noAnswerMessage() each time an ask runs out of time or is refused because one that
// did is still going, on the thread that asked (the report's, normally the window thread), after
// the known answer has been settled. One listener: installing one replaces the last; an empty
// function removes it.
void setNoAnswerListener(std::function<void(const QString& message)> listener);

// How long an ask of the service is waited for.
constexpr std::chrono::milliseconds kAskBound{2000};

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

// While an asker lives, asks run `ask` (on their own thread, as the system's ask does) instead of
// asking the service, waited for at most `bound`, starting from nothing known. `ask` hands each
// printer to `found` as soon as it is described, the default one first: when an ask runs out of
// time with nothing known before, the printers it had described by then are taken. The known
// answer from before comes back when the asker ends, which first waits for an ask still running,
// so that `ask` may use the test's own objects.
class ScopedAsker {
public:
    using Found = std::function<void(const PrinterDescription&)>;
    using Ask = std::function<void(const Found& found)>;
    ScopedAsker(Ask ask, std::chrono::milliseconds bound);
    ~ScopedAsker();
    // Waits until an ask that ran out of time has ended, so that the next one starts.
    void settle();
    ScopedAsker(const ScopedAsker&) = delete;
    ScopedAsker& operator=(const ScopedAsker&) = delete;

private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
};

} // namespace PrinterInfo
