#include "report/session/RpReportSession.h"

#include "platform/Exception.h"
#include "report/generation/RpGenerator.h"
#include "report/model/RpReport.h"
#include "report/pages/RpPrinter.h"
#include "report/printing/RpPrintSetup.h"
#include "report/printing/RpPrinting.h"
#include "report/session/RpSessionUi.h"

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <set>

namespace {

// Every report's sessions, for CloseAll.
std::set<TRpReportSessions*>& allReports()
{
    static std::set<TRpReportSessions*> reports;
    return reports;
}

// Runs a request whose errors go to the error box, not through the event loop.
template <typename F>
void guarded(TRpSessionUi& ui, F&& request)
{
    try {
        request();
    } catch (const Exception& e) {
        ui.ShowError(e.message());
    } catch (const std::exception& e) {
        ui.ShowError(QString::fromLocal8Bit(e.what()));
    }
}

} // namespace

// ---- one run ----

TRpReportSession::TRpReportSession(TRpReportSessions& owner, Data data)
    : owner_(owner), data_(std::move(data)), recorder_(std::make_unique<TRpPrinter>())
{
}

TRpReportSession::~TRpReportSession()
{
    if (window_ && window_->Owner() == this)
        window_->SetOwner(nullptr);
}

void TRpReportSession::takeWindow(TRpStandardPreview& window)
{
    window_ = &window;
    window.SetOwner(this);
    window.SetPrinting(false);
    window.SetRecorder(*recorder_);
}

void TRpReportSession::PrintRequested(TRpStandardPreview& window)
{
    if (printing_ || closed_ || &window != window_ || !recorder_)
        return;
    printing_ = true;
    window.SetPrinting(true);
    // Posted: the print runs after the tool bar's handler has returned.
    QTimer::singleShot(0, this, [this] { runPrint(); });
}

void TRpReportSession::runPrint()
{
    TRpSessionUi& ui = owner_.Ui();
    guarded(ui, [&] {
        // Closed before the posted request ran: nothing is printed from a window no one sees.
        if (!recorder_ || closed_)
            return;
        if (recorder_->ReportLoaded())
            rpprinting::PrintStoredPages(*recorder_);
        else
            rpprinting::PrintLive(owner_.Generator(), [&ui](TRpProgressForm& form) { ui.ProgressShown(form); });
    });
    // Presses queued while the print ran are handled before the print counts as ended, so they
    // find it still going and do nothing.
    QTimer::singleShot(0, this, [this] { printEnded(); });
}

void TRpReportSession::SavePdfRequested(TRpStandardPreview& window, const QString& fileName)
{
    if (printing_ || closed_ || &window != window_ || !recorder_)
        return;
    // Written as the stored pages print, with events let run between pages: the pages stay
    // as they are meanwhile for the same reasons.
    printing_ = true;
    window.SetPrinting(true);
    guarded(owner_.Ui(), [&] { rpprinting::SaveStoredPagesAsPdf(*recorder_, fileName); });
    QTimer::singleShot(0, this, [this] { printEnded(); });
}

void TRpReportSession::printEnded()
{
    printing_ = false;
    if (window_)
        window_->SetPrinting(false);
    releaseIfIdle();
}

void TRpReportSession::PrintSetupRequested(TRpStandardPreview& window)
{
    if (printing_ || closed_ || &window != window_)
        return;
    TRpSessionUi& ui = owner_.Ui();
    // Its choice applies from the next run; nothing runs now (Print is off while a print runs).
    guarded(ui, [&] {
        ::PrintSetup(owner_.Generator(), recorder_.get(), &window,
                               [&ui](QPrintDialog& dialog) { ui.PrintSetupShown(dialog); });
    });
}

void TRpReportSession::WindowClosed(TRpStandardPreview& window)
{
    if (&window != window_)
        return;
    window_ = nullptr;
    close();
}

void TRpReportSession::close()
{
    if (closed_)
        return;
    closed_ = true;
    // A run still drawing this session's pages stops before its next record.
    if (running_)
        owner_.Generator().Cancel();
    releaseIfIdle();
}

void TRpReportSession::releaseIfIdle()
{
    if (!done())
        return;
    // The page store and its temporary file go now; the session object when the calls that
    // may be inside it have returned.
    recorder_.reset();
    owner_.reapLater();
}

// ---- the report's sessions ----

TRpReportSessions::TRpReportSessions(TRpGenerator& generator, TRpSessionUi& ui) : generator_(generator), ui_(ui)
{
    allReports().insert(this);
}

TRpReportSessions::~TRpReportSessions()
{
    allReports().erase(this);
    for (const auto& s : sessions_) {
        if (QPointer<TRpStandardPreview> window = s->window_) {
            window->SetOwner(nullptr);
            delete window.data();
        }
    }
    sessions_.clear();
}

TRpReportSession* TRpReportSessions::Current() const
{
    if (sessions_.empty() || sessions_.back()->Closed())
        return nullptr;
    return sessions_.back().get();
}

TRpStandardPreview* TRpReportSessions::Window() const
{
    const TRpReportSession* current = Current();
    // A closed window waits for its deletion; it shows nothing any more.
    if (!current || !current->Window() || !current->Window()->isVisible())
        return nullptr;
    return current->Window();
}

TRpStandardPreview& TRpReportSessions::openWindow(TRpReportSession& session, TRpReportSession* previous)
{
    if (previous && previous->window_ && previous->window_->isVisible()) {
        // A fresh run of the same report: into the window that is open, which the newer session
        // takes over; the older one ends as if closed.
        TRpStandardPreview& window = *previous->window_;
        previous->window_ = nullptr;
        // The window lets go of the older pages before they are freed.
        session.takeWindow(window);
        previous->close();
        window.raise();
        window.activateWindow();
        return window;
    }
    // A window opened from a modal dialog belongs to it, or the dialog would block it.
    QWidget* modal = QApplication::activeModalWidget();
    auto* window = new TRpStandardPreview(*session.recorder_, &session, modal);
    window->setWindowFlag(Qt::Window);
    // Closing that dialog closes its preview too, so the Preview call that waits for the window
    // cannot wait for one that is no longer seen.
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        QObject::connect(dialog, &QDialog::finished, window, &QWidget::close);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->ShowError = [this](const QString& text) { ui_.ShowError(text); };
    session.window_ = window;
    ui_.WindowOpened(*window);
    window->Show();
    return *window;
}

void TRpReportSessions::Preview(TRpReportSession::Data data)
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
    if (!generator_.Available())
        return;
    const bool windows = ui_.OpensWindows();
    TRpReportSession* previous = Current();
    if (previous && !windows)
        previous->close();
    sessions_.push_back(std::make_unique<TRpReportSession>(*this, std::move(data)));
    QPointer<TRpReportSession> session = sessions_.back().get();
    session->recorder_->SetTitle(generator_.Report().ReportTitle);
    if (windows)
        openWindow(*session, previous);

    session->running_ = true;
    try {
        generator_.Generate(*session->recorder_);
    } catch (...) {
        if (session) {
            session->running_ = false;
            session->releaseIfIdle();
        }
        throw;
    }
    if (!session)
        return;
    session->running_ = false;
    if (generator_.Cancelled())
        session->close();
    session->releaseIfIdle();
    if (!windows)
        return;
    // The preview shows the pages until the user closes it (or a newer run takes the window).
    QPointer<QCoreApplication> app = QCoreApplication::instance();
    while (app && !QCoreApplication::closingDown() && session && !session->Closed())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void TRpReportSessions::Print()
{
    guarded(ui_, [this] {
        rpprinting::PrintLive(generator_, [this](TRpProgressForm& form) { ui_.ProgressShown(form); });
    });
}

void TRpReportSessions::Release()
{
    TRpReportSession* current = Current();
    if (!current)
        return;
    if (current->window_)
        current->window_->close();   // the window tells the session
    else
        current->close();
}

void TRpReportSessions::reapLater()
{
    if (reapPosted_)
        return;
    reapPosted_ = true;
    QTimer::singleShot(0, this, [this] { reap(); });
}

void TRpReportSessions::reap()
{
    reapPosted_ = false;
    std::erase_if(sessions_, [](const std::unique_ptr<TRpReportSession>& s) { return s->done(); });
}

void TRpReportSessions::CloseAll()
{
    std::vector<QPointer<TRpStandardPreview>> open;
    for (TRpReportSessions* report : allReports())
        for (const auto& s : report->sessions_)
            if (s->window_ && s->window_->isVisible())
                open.push_back(s->window_);
    for (const QPointer<TRpStandardPreview>& window : open)
        if (window)
            window->close();
}
