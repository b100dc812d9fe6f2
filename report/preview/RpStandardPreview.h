#pragma once
// The preview window: a tool bar (zoom group, page moves, printer setup, print, save, load,
// close), the preview control and a status bar with the progress and the page position. It shows
// one recorder's pages while they are recorded; closing it tells its owner (the report session),
// which cancels a run that is still going and lets the pages go.
//
// Keys reach the window before its controls: Esc closes it; Page Up / Page Down move one page,
// with Ctrl alone to the first / last page; Home and End go to the first and last page.
//
// Save offers the report file first (the recorder's Save) and then a PDF file, which its owner
// writes.
//
// Knows: the recorder (status, Save, Load), the preview control, its owner's requests.
// Must not know: generation or printing themselves, or how long the recorder lives. Untrusted:
// the file name the user picks (a missing file is refused with "File does not exist"; a broken
// one is refused by the recorder with an error shown in a box).
#include "report/preview/RpPreviewState.h"

#include <QMainWindow>
#include <QString>
#include <functional>
#include <utility>

class QAction;
class QLabel;
class QToolButton;
class TRpPrinter;
class TRpPreview;
class TRpStandardPreview;

// What the window asks of whoever owns its pages. Print, Print setup and Save as PDF arrive from
// inside the tool bar's handler; the owner decides when they run. After WindowClosed the window
// holds no recorder and asks nothing more.
class TRpPreviewOwner {
public:
    virtual void PrintRequested(TRpStandardPreview& window) = 0;
    virtual void PrintSetupRequested(TRpStandardPreview& window) = 0;
    virtual void SavePdfRequested(TRpStandardPreview& window, const QString& fileName) = 0;
    virtual void WindowClosed(TRpStandardPreview& window) = 0;

protected:
    ~TRpPreviewOwner() = default;
};

// A file name the user chose and the filter chosen with it (empty: the dialog's first filter).
struct TRpChosenFile {
    // From a name alone, as a dialog with one filter answers.
    TRpChosenFile(QString chosenName = {}, QString chosenFilter = {})
        : name(std::move(chosenName)), filter(std::move(chosenFilter))
    {
    }
    QString name;
    QString filter;
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
    // Asks for a file name (empty: the user cancelled); filter holds the dialog's filters separated
    // by ";;". The default is Qt's file dialog.
    std::function<TRpChosenFile(FileDialog kind, const QString& title, const QString& filter)> AskFileName;
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

    // The report file's filter, Save's first and default; then PdfFilter.
    static QString SaveFilter();
    static QString PdfFilter();
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
    TRpChosenFile defaultAskFileName(FileDialog kind, const QString& title, const QString& filter);

    TRpPrinter* recorder_ = nullptr;
    TRpPreviewOwner* owner_ = nullptr;
    TRpProgressText progress_;
    bool closing_ = false;
    bool printing_ = false;
};
