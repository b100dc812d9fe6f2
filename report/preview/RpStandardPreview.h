#pragma once
// The preview window: a tool bar (zoom group, page moves, printer setup, print, save, load,
// close), the preview control and a status bar with the progress and the page position. It shows
// one recorder's pages while they are recorded; closing it tells its owner (the report session),
// which cancels a run that is still going and lets the pages go.
//
// Keys reach the window before its controls: Esc closes it; Page Up / Page Down move one page,
// with Ctrl alone to the first / last page; Home and End go to the first and last page.
//
// Knows: the recorder (status, Save, Load), the preview control, its owner's three requests.
// Must not know: generation or printing themselves, or how long the recorder lives. Untrusted:
// the file name the user picks (a missing file is refused with "File does not exist"; a broken
// one is refused by the recorder with an error shown in a box).
#include "report/preview/RpPreviewState.h"

#include <QMainWindow>
#include <functional>

class QAction;
class QLabel;
class QToolButton;
class TRpPrinter;
class TRpPreview;
class TRpStandardPreview;

// What the window asks of whoever owns its pages. Print and Print setup arrive from inside the
// tool bar's handler; the owner decides when they run. After WindowClosed the window holds no
// recorder and asks nothing more.
class TRpPreviewOwner {
public:
    virtual void PrintRequested(TRpStandardPreview& window) = 0;
    virtual void PrintSetupRequested(TRpStandardPreview& window) = 0;
    virtual void WindowClosed(TRpStandardPreview& window) = 0;

protected:
    ~TRpPreviewOwner() = default;
};

class TRpStandardPreview : public QMainWindow {
    Q_OBJECT
public:
    enum class FileDialog { Save, Load };

    // Creates the window for a recorder (attaches it, presses "Zoom to width"); Show() opens it.
    explicit TRpStandardPreview(TRpPrinter& recorder, TRpPreviewOwner* owner = nullptr, QWidget* parent = nullptr);
    ~TRpStandardPreview() override;

    // Shows the window maximised and writes the page position.
    void Show();
    // A fresh run of the same report into this window: the new recorder replaces the shown one.
    void SetRecorder(TRpPrinter& recorder);
    TRpPrinter* Recorder() const { return recorder_; }
    TRpPreviewOwner* Owner() const { return owner_; }
    void SetOwner(TRpPreviewOwner* owner) { owner_ = owner; }
    // While a print from this window runs, Print, Printer setup, Save and Load are off (and a
    // press already queued does nothing): the pages being printed must stay as they are.
    void SetPrinting(bool printing);
    bool Printing() const { return printing_; }

    // Seams for tests and the program.
    // Asks for a file name (empty: the user cancelled). The default is Qt's file dialog.
    std::function<QString(FileDialog kind, const QString& title, const QString& filter)> AskFileName;
    // Shows a message ("File does not exist") or an error's text. The default is a message box.
    std::function<void(const QString& text)> ShowMessage;
    std::function<void(const QString& text)> ShowError;

    // Handlers, named after their controls.
    void ZoomToFitClick();
    void ZoomTo100Click();
    void ZoomToWidthClick();
    void FirstPageClick();
    void PrevPageClick();
    void NextPageClick();
    void LastPageClick();
    void PrintSetupClick();
    void PrintClick();
    void SaveClick();
    void LoadClick();
    void ExitClick();
    void RpPreviewPageAvailable(int pageCount);
    void RpPreviewProgressUpdate(int percent);

    TRpPreview* RpPreview;
    QAction* ZoomFit;
    QAction* Zoom100;
    QAction* ZoomToWidth;
    QAction* FirstPage;
    QAction* PreviousPage;
    QAction* NextPage;
    QAction* LastPage;
    QAction* PrintSetup;
    QAction* Print;
    QAction* SaveReport;
    QAction* LoadReport;
    QToolButton* ExitButton;
    // Status bar panels: 0 progress, 1 page position.
    QLabel* StatusPanel0;
    QLabel* StatusPanel1;

    static QString SaveFilter();
    static QString LoadFilter();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void writePagePosition();
    void updateButtons();
    void guarded(const std::function<void()>& handler);
    bool handleKey(int key, Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons);
    QString defaultAskFileName(FileDialog kind, const QString& title, const QString& filter);

    TRpPrinter* recorder_ = nullptr;
    TRpPreviewOwner* owner_ = nullptr;
    TRpProgressText progress_;
    bool closing_ = false;
    bool printing_ = false;
};
