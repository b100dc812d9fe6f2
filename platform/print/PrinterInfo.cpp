#include "platform/print/PrinterInfo.h"

#include <QCoreApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <QPrinterInfo>
#include <algorithm>
#include <condition_variable>
#include <cups/cups.h>
#include <mutex>
#include <thread>
#include <utility>

namespace {

using PrinterInfo::ScopedAsker;

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

// The system's ask. Qt's printer information and QPrinter may be used off the window thread;
// the service's client library keeps one connection per thread.
void askService(const ScopedAsker::Found& found)
{
    // The default printer comes first, so that index -1 and 0 agree when there is one.
    const QPrinterInfo def = QPrinterInfo::defaultPrinter();
    if (!def.isNull())
        found(describe(def));
    for (const QPrinterInfo& info : QPrinterInfo::availablePrinters())
        if (def.isNull() || info.printerName() != def.printerName())
            found(describe(info));
}

// One ask on its thread: what it has described so far, and whether it has ended.
struct Ask {
    std::mutex m;
    std::condition_variable cv;
    QList<PrinterDescription> found;
    bool done = false;

    bool ended()
    {
        const std::lock_guard lock(m);
        return done;
    }
};

struct State {
    std::mutex m;
    // The last answer taken; none before the first ask that brought one.
    std::optional<QList<PrinterDescription>> known;
    bool timedOut = false;
    // The last ask that ran out of time; while it has not ended, no other is started.
    std::shared_ptr<Ask> overrun;
    ScopedAsker::Ask ask;   // empty: the service
    std::chrono::milliseconds bound = PrinterInfo::kAskBound;
    std::function<void(const QString&)> listener;
};

// Never destroyed: an ask that ran out may still end after main() has returned.
State& state()
{
    static State* s = new State;
    return *s;
}

void tellNoAnswer(std::function<void(const QString&)> listener)
{
    if (listener)
        listener(PrinterInfo::noAnswerMessage());
}

// Asks the service (or the test's asker) and settles the known answer; returns it.
QList<PrinterDescription> askNow()
{
    State& s = state();
    std::unique_lock lock(s.m);
    if (s.overrun && !s.overrun->ended()) {
        s.timedOut = true;
        const QList<PrinterDescription> known = s.known.value_or(QList<PrinterDescription>());
        auto listener = s.listener;
        lock.unlock();
        tellNoAnswer(std::move(listener));
        return known;
    }
    auto ask = std::make_shared<Ask>();
    const ScopedAsker::Ask run = s.ask ? s.ask : ScopedAsker::Ask(askService);
    const auto bound = s.bound;
    lock.unlock();

    std::thread([ask, run] {
        try {
            run([&ask](const PrinterDescription& d) {
                const std::lock_guard g(ask->m);
                ask->found.append(d);
            });
        } catch (...) {
            // A failing ask answers with what it found before; the service says no more.
        }
        {
            const std::lock_guard g(ask->m);
            ask->done = true;
        }
        ask->cv.notify_all();
    }).detach();

    std::unique_lock wait(ask->m);
    const bool answered = ask->cv.wait_for(wait, bound, [&] { return ask->done; });
    const QList<PrinterDescription> found = ask->found;
    wait.unlock();

    lock.lock();
    s.timedOut = !answered;
    if (answered) {
        s.known = found;
        return found;
    }
    s.overrun = ask;
    // With nothing known, the printers described in time are better than none.
    if (!s.known && !found.isEmpty())
        s.known = found;
    const QList<PrinterDescription> known = s.known.value_or(found);
    auto listener = s.listener;
    lock.unlock();
    tellNoAnswer(std::move(listener));
    return known;
}

} // namespace

namespace PrinterInfo {

QList<PrinterDescription> printers()
{
    if (overridden())
        return *overridden();
    {
        State& s = state();
        const std::lock_guard lock(s.m);
        if (s.known)
            return *s.known;
    }
    return askNow();
}

bool printerInstalled()
{
    if (!printers().isEmpty())
        return true;
    // Asked before a print: one installed since the last answer is found rather than refused.
    refresh();
    return !printers().isEmpty();
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

std::optional<PrinterDescription> printer(const QString& name)
{
    const auto named = [&name](const QList<PrinterDescription>& all) -> std::optional<PrinterDescription> {
        for (const PrinterDescription& d : all)
            if (d.name == name)
                return d;
        return std::nullopt;
    };
    if (auto found = named(printers()))
        return found;
    // A printer added since the last answer.
    refresh();
    return named(printers());
}

void refresh()
{
    if (!overridden())
        askNow();
}

bool lastAskTimedOut()
{
    State& s = state();
    const std::lock_guard lock(s.m);
    return s.timedOut;
}

QString noAnswerMessage()
{
    return QCoreApplication::translate("PrinterInfo", "The printer did not answer; its last known settings are used");
}

void setNoAnswerListener(std::function<void(const QString& message)> listener)
{
    State& s = state();
    const std::lock_guard lock(s.m);
    s.listener = std::move(listener);
}

ScopedOverride::ScopedOverride(QList<PrinterDescription> printers) : previous_(overridden())
{
    overridden() = std::move(printers);
}

ScopedOverride::~ScopedOverride() { overridden() = previous_; }

struct ScopedAsker::Saved {
    std::optional<QList<PrinterDescription>> known;
    bool timedOut = false;
    std::shared_ptr<::Ask> overrun;
    Ask ask;
    std::chrono::milliseconds bound{};
};

ScopedAsker::ScopedAsker(Ask ask, std::chrono::milliseconds bound) : saved_(std::make_unique<Saved>())
{
    State& s = state();
    const std::lock_guard lock(s.m);
    saved_->known = std::exchange(s.known, std::nullopt);
    saved_->timedOut = std::exchange(s.timedOut, false);
    saved_->overrun = std::exchange(s.overrun, nullptr);
    saved_->ask = std::exchange(s.ask, std::move(ask));
    saved_->bound = std::exchange(s.bound, bound);
}

void ScopedAsker::settle()
{
    State& s = state();
    std::shared_ptr<::Ask> running;
    {
        const std::lock_guard lock(s.m);
        running = s.overrun;
    }
    if (running) {
        std::unique_lock wait(running->m);
        running->cv.wait(wait, [&] { return running->done; });
    }
}

ScopedAsker::~ScopedAsker()
{
    settle();
    State& s = state();
    const std::lock_guard lock(s.m);
    s.known = std::move(saved_->known);
    s.timedOut = saved_->timedOut;
    s.overrun = std::move(saved_->overrun);
    s.ask = std::move(saved_->ask);
    s.bound = saved_->bound;
}

} // namespace PrinterInfo
