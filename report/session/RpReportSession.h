#pragma once
// Report sessions: one object per report run, owning everything the run needs for as long as it
// is needed: the recorder and its pages (page store, temporary file), the preview window, the
// print from that window (its job and progress window) and the data the run reads (the result
// sheet's row copy). It is the one place that says what may happen while something else goes on:
// - while a print from a preview runs (live or stored), or its pages are saved as PDF, that
//   window's Print, Printer setup, Save and Load are off and a second request is ignored;
// - closing a preview frees its recorder at once, or as soon as the run or print using it ends;
// - a second Preview while the report's window is open runs into that window (brought forward),
//   and the session it replaces goes the same way as a closed one.
// Print's route is one way: window -> session (posted, so it runs after the tool bar's handler) ->
// printing -> pages.
//
// Knows: generation's run, printing, print setup, the preview window, the program's seam.
// Must not know: which report it is or where its data comes from.
#include <QObject>
#include <QPointer>
#include <memory>
#include <vector>

#include "report/preview/RpStandardPreview.h"

class TRpGenerator;
class TRpPrinter;
class TRpReportSessions;
class TRpSessionUi;

class TRpReportSession : public QObject, private TRpPreviewOwner {
    Q_OBJECT
public:
    // The report's run data kept alive with the session (any object; the session never reads it).
    using Data = std::shared_ptr<const void>;

    TRpReportSession(TRpReportSessions& owner, Data data);
    ~TRpReportSession() override;

    // The run's pages; null once the session has let them go.
    TRpPrinter* Recorder() const { return recorder_.get(); }
    TRpStandardPreview* Window() const { return window_; }
    bool Printing() const { return printing_; }
    // The window closed or passed to a newer run: nothing may start from this session any more.
    bool Closed() const { return closed_; }
    const Data& RunData() const { return data_; }

private:
    friend class TRpReportSessions;
    void PrintRequested(TRpStandardPreview& window) override;
    void PrintSetupRequested(TRpStandardPreview& window) override;
    void SavePdfRequested(TRpStandardPreview& window, const QString& fileName) override;
    void WindowClosed(TRpStandardPreview& window) override;

    void runPrint();
    void printEnded();
    void takeWindow(TRpStandardPreview& window);
    // Closed: the pages go unless a run or print still uses them; the session itself goes later.
    void close();
    void releaseIfIdle();
    bool done() const { return closed_ && !running_ && !printing_; }

    TRpReportSessions& owner_;
    Data data_;
    std::unique_ptr<TRpPrinter> recorder_;
    QPointer<TRpStandardPreview> window_;
    bool running_ = false;
    bool printing_ = false;
    bool closed_ = false;
};

// The sessions of one report: its two entry points and the sessions still alive (the current one,
// and closed ones whose print has not ended yet).
class TRpReportSessions : public QObject {
    Q_OBJECT
public:
    TRpReportSessions(TRpGenerator& generator, TRpSessionUi& ui);
    // Closes the window without asking anything; every session goes.
    ~TRpReportSessions() override;

    TRpGenerator& Generator() const { return generator_; }
    TRpSessionUi& Ui() const { return ui_; }

    // Preview: ignored while a run goes on. Otherwise a new session (keeping data) whose recorder
    // gets one run, shown in the report's window (opened, or the open one brought forward). With
    // windows it returns when that window has closed or passed to a newer run, or the program
    // ends; the run's error reaches the caller. Without windows it returns after the run and the
    // pages stay in Current() until Release().
    void Preview(TRpReportSession::Data data = {});
    // A live print of the report without a preview: ignored while a run goes on; errors shown.
    void Print();
    // The session of the last Preview while it is not closed, or null.
    TRpReportSession* Current() const;
    TRpStandardPreview* Window() const;
    // Closes the current session (its window, if any): as the user closing it.
    void Release();
    // Sessions alive, the current one and those whose print goes on.
    int Count() const { return static_cast<int>(sessions_.size()); }

    // Closes every report's open preview window (the program is ending).
    static void CloseAll();

private:
    friend class TRpReportSession;
    TRpStandardPreview& openWindow(TRpReportSession& session, TRpReportSession* previous);
    // Deletes the sessions that are done, once the calls that may be inside them have returned.
    void reapLater();
    void reap();

    TRpGenerator& generator_;
    TRpSessionUi& ui_;
    std::vector<std::unique_ptr<TRpReportSession>> sessions_;
    bool reapPosted_ = false;
};
