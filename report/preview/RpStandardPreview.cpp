#include "report/preview/RpStandardPreview.h"

#include "platform/Exception.h"
#include "report/pages/RpPrinter.h"
#include "report/preview/RpPreview.h"
#include "report/preview/RpPreviewIcons.h"
#include "report/preview/RpPreviewImage.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

namespace {
const QString kExtension = QStringLiteral("HRP");
const QString kReportFile = QStringLiteral("Report file");
} // namespace

QString TRpStandardPreview::SaveFilter()
{
    // As the dialog has always shown it: no blank before the parenthesis here, one in LoadFilter.
    return kReportFile + QStringLiteral("(*.") + kExtension + QStringLiteral(")");
}

QString TRpStandardPreview::PdfFilter() { return QStringLiteral("PDF files (*.pdf)"); }

QString TRpStandardPreview::LoadFilter()
{
    return kReportFile + QStringLiteral(" (*.") + kExtension + QStringLiteral(")");
}

TRpStandardPreview::TRpStandardPreview(TRpPrinter& recorder, TRpPreviewOwner* owner, QWidget* parent)
    : QMainWindow(parent), owner_(owner)
{
    setObjectName(QStringLiteral("RpStandardPreview"));
    setWindowTitle(QStringLiteral("Print Preview"));
    resize(652, 579);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    auto* bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize(QSize(24, 24));
    bar->setContentsMargins(2, 2, 2, 2);
    addToolBar(Qt::TopToolBarArea, bar);

    auto action = [&](const char* name, TRpPreviewIcon icon, const QString& hint, void (TRpStandardPreview::*handler)()) {
        auto* a = new QAction(rpPreviewIcon(icon), hint, this);
        a->setObjectName(QString::fromLatin1(name));
        a->setToolTip(hint);
        bar->addAction(a);
        connect(a, &QAction::triggered, this, [this, handler] { guarded([this, handler] { (this->*handler)(); }); });
        return a;
    };
    bar->addSeparator();
    ZoomFit = action("ZoomFit", TRpPreviewIcon::ZoomFit, QStringLiteral("Zoom to fit"), &TRpStandardPreview::ZoomToFitClick);
    Zoom100 = action("Zoom100", TRpPreviewIcon::Zoom100, QStringLiteral("100%"), &TRpStandardPreview::ZoomTo100Click);
    ZoomToWidth = action("ZoomToWidth", TRpPreviewIcon::ZoomWidth, QStringLiteral("Zoom to width"),
                         &TRpStandardPreview::ZoomToWidthClick);
    auto* zoomGroup = new QActionGroup(this);
    zoomGroup->setExclusive(true);
    for (QAction* a : {ZoomFit, Zoom100, ZoomToWidth}) {
        a->setCheckable(true);
        zoomGroup->addAction(a);
    }
    bar->addSeparator();
    FirstPage = action("FirstPage", TRpPreviewIcon::FirstPage, QStringLiteral("First page"), &TRpStandardPreview::FirstPageClick);
    PreviousPage = action("PreviousPage", TRpPreviewIcon::PreviousPage, QStringLiteral("Previous page"),
                          &TRpStandardPreview::PrevPageClick);
    NextPage = action("ToolButton2", TRpPreviewIcon::NextPage, QStringLiteral("Next page"), &TRpStandardPreview::NextPageClick);
    LastPage = action("LastPage", TRpPreviewIcon::LastPage, QStringLiteral("Last page"), &TRpStandardPreview::LastPageClick);
    bar->addSeparator();
    PrintSetup = action("PrintSetup", TRpPreviewIcon::PrintSetup, QStringLiteral("Printer setup"),
                        &TRpStandardPreview::PrintSetupClick);
    Print = action("Print", TRpPreviewIcon::Print, QStringLiteral("Print"), &TRpStandardPreview::PrintClick);
    PrintSetup->setEnabled(false);
    Print->setEnabled(false);
    bar->addSeparator();
    SaveReport = action("SaveReport", TRpPreviewIcon::Save, QStringLiteral("Save Report"), &TRpStandardPreview::SaveClick);
    LoadReport = action("LoadReport", TRpPreviewIcon::Load, QStringLiteral("Load Report"), &TRpStandardPreview::LoadClick);
    bar->addSeparator();
    ExitButton = new QToolButton(bar);
    ExitButton->setObjectName(QStringLiteral("ExitButton"));
    ExitButton->setText(QStringLiteral("&Close"));
    ExitButton->setToolButtonStyle(Qt::ToolButtonTextOnly);
    ExitButton->setMinimumSize(40, 22);
    bar->addWidget(ExitButton);
    connect(ExitButton, &QToolButton::clicked, this, [this] { ExitClick(); });

    RpPreview = new TRpPreview(this);
    setCentralWidget(RpPreview);
    RpPreview->OnPageAvailable = [this](TRpPreview*, int n) { guarded([this, n] { RpPreviewPageAvailable(n); }); };
    RpPreview->OnProgressUpdate = [this](TRpPreview*, int p) { RpPreviewProgressUpdate(p); };
    RpPreview->PageView()->OnPlayError = [this](const QString& message) {
        guarded([&message] { throw Exception(message); });
    };

    StatusPanel0 = new QLabel(QStringLiteral("0%"));
    StatusPanel0->setObjectName(QStringLiteral("StatusPanel0"));
    StatusPanel0->setFixedWidth(40);
    StatusPanel0->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    StatusPanel1 = new QLabel(QStringLiteral("Page"));
    StatusPanel1->setObjectName(QStringLiteral("StatusPanel1"));
    // The last panel reaches to the window's edge, so "Page 120 of 290" is never cut.
    StatusPanel1->setMinimumWidth(50);
    statusBar()->setObjectName(QStringLiteral("StatusBar"));
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addWidget(StatusPanel0);
    statusBar()->addWidget(StatusPanel1, 1);

    // The window sees keys before its controls (the scrolling box would take the page keys).
    qApp->installEventFilter(this);

    // Creating the window for a recorder.
    setWindowState(windowState() | Qt::WindowMaximized);
    SetRecorder(recorder);
    ZoomToWidth->setChecked(true);
}

TRpStandardPreview::~TRpStandardPreview()
{
    // The recorder may already be gone (released on closing); only our own pointers are dropped.
    RpPreview->ForgetRecorder();
}

void TRpStandardPreview::SetRecorder(TRpPrinter& recorder)
{
    if (recorder_ && recorder_ != &recorder) {
        // A fresh run counts its progress from the start.
        progress_ = TRpProgressText();
        StatusPanel0->setText(QStringLiteral("0%"));
    }
    recorder_ = &recorder;
    RpPreview->SetRecorder(&recorder);
    if (!recorder.Title().isEmpty())
        setWindowTitle(recorder.Title());
    updateButtons();
    writePagePosition();
}

void TRpStandardPreview::Show()
{
    showMaximized();
    writePagePosition();
}

void TRpStandardPreview::SetPrinting(bool printing)
{
    printing_ = printing;
    updateButtons();
}

void TRpStandardPreview::updateButtons()
{
    const bool finished = !printing_ && recorder_ && recorder_->Status() == TRpPrinterStatus::Finished;
    Print->setEnabled(finished);
    PrintSetup->setEnabled(finished && !recorder_->ReportLoaded());
    // Saving before the run has finished would write nothing, and loading would pull the pages
    // from under the run: both wait until it has finished.
    SaveReport->setEnabled(finished);
    LoadReport->setEnabled(finished);
}

void TRpStandardPreview::guarded(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const Exception& e) {
        if (ShowError)
            ShowError(e.message());
        else
            QMessageBox::critical(this, QApplication::applicationName(), e.message());
    }
}

void TRpStandardPreview::writePagePosition()
{
    StatusPanel1->setText(RpPreview->State().PagePositionText(recorder_ ? recorder_->PageCount() : 0));
}

void TRpStandardPreview::ZoomToFitClick()
{
    QCoreApplication::processEvents();
    RpPreview->ZoomToFit();
}

void TRpStandardPreview::ZoomTo100Click()
{
    QCoreApplication::processEvents();
    RpPreview->SetZoom(100);
}

void TRpStandardPreview::ZoomToWidthClick()
{
    QCoreApplication::processEvents();
    RpPreview->ZoomToWidth();
}

void TRpStandardPreview::FirstPageClick()
{
    RpPreview->SetPageNumber(RpPreview->State().FirstPage());
    writePagePosition();
}

void TRpStandardPreview::PrevPageClick()
{
    RpPreview->SetPageNumber(RpPreview->State().PreviousPage());
    writePagePosition();
}

void TRpStandardPreview::NextPageClick()
{
    RpPreview->SetPageNumber(RpPreview->State().NextPage());
    writePagePosition();
}

void TRpStandardPreview::LastPageClick()
{
    if (recorder_)
        RpPreview->SetPageNumber(TRpPreviewState::LastPage(recorder_->PageCount()));
    writePagePosition();
}

void TRpStandardPreview::PrintSetupClick()
{
    if (recorder_ && owner_ && !printing_ && !recorder_->ReportLoaded())
        owner_->PrintSetupRequested(*this);
}

void TRpStandardPreview::PrintClick()
{
    if (recorder_ && owner_ && !printing_)
        owner_->PrintRequested(*this);
}

TRpChosenFile TRpStandardPreview::defaultAskFileName(FileDialog kind, const QString& title, const QString& filter)
{
    QFileDialog dialog(this, title);
    dialog.setNameFilter(filter);
    if (kind == FileDialog::Save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(kExtension);
        // A name typed without an extension takes the chosen filter's.
        connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& chosen) {
            dialog.setDefaultSuffix(chosen == PdfFilter() ? QStringLiteral("pdf") : kExtension);
        });
        // An existing report of that name is replaced without a question, as it always was.
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::AnyFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return {dialog.selectedFiles().constFirst(), dialog.selectedNameFilter()};
}

void TRpStandardPreview::SaveClick()
{
    if (!recorder_ || printing_ || recorder_->Status() != TRpPrinterStatus::Finished)
        return;
    const QString title = QStringLiteral("Save report");
    const QString filters = SaveFilter() + QStringLiteral(";;") + PdfFilter();
    const TRpChosenFile file = AskFileName ? AskFileName(FileDialog::Save, title, filters)
                                           : defaultAskFileName(FileDialog::Save, title, filters);
    // The dialog let events run: the window may have closed or started printing meanwhile.
    if (file.name.isEmpty() || !recorder_ || printing_)
        return;
    if (file.filter == PdfFilter()) {
        if (owner_)
            owner_->SavePdfRequested(*this, file.name);
        return;
    }
    recorder_->Save(file.name);
}

void TRpStandardPreview::LoadClick()
{
    if (!recorder_ || printing_ || recorder_->Status() != TRpPrinterStatus::Finished)
        return;
    const QString title = QStringLiteral("Load report");
    const QString name = (AskFileName ? AskFileName(FileDialog::Load, title, LoadFilter())
                                      : defaultAskFileName(FileDialog::Load, title, LoadFilter())).name;
    if (name.isEmpty() || !recorder_ || printing_)
        return;
    if (!QFileInfo::exists(name)) {
        const QString text = QStringLiteral("File does not exist");
        if (ShowMessage)
            ShowMessage(text);
        else
            QMessageBox::information(this, QApplication::applicationName(), text);
        return;
    }
    recorder_->Load(name);
    RpPreview->ReloadPage(1);
    writePagePosition();
    updateButtons();
}

void TRpStandardPreview::ExitClick() { close(); }

void TRpStandardPreview::RpPreviewPageAvailable(int)
{
    writePagePosition();
    if (recorder_ && recorder_->Status() == TRpPrinterStatus::Finished)
        updateButtons();
}

void TRpStandardPreview::RpPreviewProgressUpdate(int percent)
{
    if (const auto text = progress_.Progress(percent))
        StatusPanel0->setText(*text);
}

void TRpStandardPreview::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    RpPreview->LayoutPage();
}

void TRpStandardPreview::closeEvent(QCloseEvent* event)
{
    if (!closing_ && recorder_) {
        closing_ = true;
        recorder_ = nullptr;
        // Detaching stops the preview (cancelling a busy run); then the owner lets the pages go.
        RpPreview->SetRecorder(nullptr);
        if (owner_)
            owner_->WindowClosed(*this);
    }
    event->accept();
    QMainWindow::closeEvent(event);
}

bool TRpStandardPreview::handleKey(int key, Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons)
{
    const bool ctrlOnly = (modifiers & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier)) == Qt::ControlModifier
                          && buttons == Qt::NoButton;
    switch (key) {
    case Qt::Key_Escape:
        close();
        return true;
    case Qt::Key_PageUp:
        ctrlOnly ? FirstPageClick() : PrevPageClick();
        return true;
    case Qt::Key_PageDown:
        ctrlOnly ? LastPageClick() : NextPageClick();
        return true;
    case Qt::Key_Home:
        FirstPageClick();
        return true;
    case Qt::Key_End:
        LastPageClick();
        return true;
    default:
        return false;
    }
}

bool TRpStandardPreview::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        if (w->window() == this) {
            auto* key = static_cast<QKeyEvent*>(event);
            bool handled = false;
            guarded([&] { handled = handleKey(key->key(), key->modifiers(), QApplication::mouseButtons()); });
            if (handled)
                return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
