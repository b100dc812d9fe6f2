#include "report/printing/RpPrintSetup.h"

#include "platform/print/PrinterInfo.h"
#include "report/generation/RpGenerator.h"
#include "report/model/RpReport.h"
#include "report/pages/RpPrinter.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <memory>
#include <utility>

namespace {

std::unique_ptr<QPrinter>& shared()
{
    static std::unique_ptr<QPrinter> printer;
    return printer;
}

// Places the dialog when it first shows: centred across, at one third down.
class ThirdOfScreen : public QObject {
public:
    explicit ThirdOfScreen(TRpPrintSetupShown shown) : shown_(std::move(shown)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            auto* w = static_cast<QWidget*>(watched);
            const QScreen* screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
            if (screen) {
                const QRect s = screen->geometry();
                const QRect frame = w->frameGeometry();
                w->move(s.x() + (s.width() - frame.width()) / 2, s.y() + (s.height() - frame.height()) / 3);
            }
            if (!announced_ && shown_) {
                announced_ = true;
                auto* dialog = static_cast<QPrintDialog*>(w);
                QTimer::singleShot(0, dialog, [dialog, shown = shown_] { shown(*dialog); });
            }
        }
        return false;
    }

private:
    TRpPrintSetupShown shown_;
    bool announced_ = false;
};

// The dialog only keeps settings for the next run, so its paper choice (size, custom size, source)
// would be shown and then lost: every run takes the paper from the report's page. It sits in the
// printer properties dialog, next to the orientation, which is kept; that dialog is made only when
// its button is pressed, so its paper group is hidden as it shows.
class NoPaperChoice : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::ChildAdded && watched->inherits("QPrintDialog")) {
            // Still being built here: whether it is a dialog shows only when it is shown.
            QObject* child = static_cast<QChildEvent*>(event)->child();
            if (child->isWidgetType())
                child->installEventFilter(this);
        } else if (event->type() == QEvent::Show && watched->inherits("QDialog")
                   && !watched->inherits("QPrintDialog")) {
            if (auto* paper = watched->findChild<QComboBox*>(QStringLiteral("pageSizeCombo")))
                if (QWidget* group = paper->parentWidget(); group && group != watched)
                    group->hide();
        }
        return false;
    }
};

int indexOfPrinter(const QString& name)
{
    const auto printers = PrinterInfo::printers();
    for (int i = 0; i < printers.size(); ++i)
        if (printers[i].name == name)
            return i;
    return -1;
}

} // namespace

QPrinter& SharedPrinter()
{
    if (!shared())
        shared() = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *shared();
}

TRpPrintSetupLimits PrintSetupLimits(const TRpPrinter* recorder)
{
    TRpPrintSetupLimits l;
    if (recorder && recorder->Status() == TRpPrinterStatus::Finished) {
        l.minPage = 1;
        l.maxPage = std::max(1, recorder->PageCount());
        l.fromPage = 1;
        l.toPage = l.maxPage;
    }
    return l;
}

void ApplyPrintSetup(TRpGenerator& generator, const TRpPrintSetupChoice& choice)
{
    TReport& report = generator.Report();
    const int index = indexOfPrinter(choice.printer);
    int copies = choice.copies;
    if (copies == 1) {
        if (const auto printer = PrinterInfo::printer(index))
            copies = printer->defaultCopies;
    }
    report.PrinterSettings.Copies = std::max(1, copies);
    generator.SetPrinterIndex(index);
    report.Page.SetOrientation(choice.orientation);
    if (choice.range == TRpPrintSetupChoice::Range::PageNumbers) {
        report.PrinterSettings.FirstPage = choice.fromPage;
        report.PrinterSettings.LastPage = choice.toPage;
    } else {
        report.PrinterSettings.FirstPage = 0;
        report.PrinterSettings.LastPage = 0;
    }
}

std::optional<TRpPrintSetupChoice> RunPrintSetupDialog(TRpGenerator& generator, const TRpPrinter* recorder,
                                                       QWidget* parent, const TRpPrintSetupShown& shown)
{
    // The dialog lists what the service has now: a printer installed since the start shows.
    PrinterInfo::refresh();
    if (!PrinterInfo::printerInstalled())
        return std::nullopt;
    TReport& report = generator.Report();
    // The shared printer reloads the chosen printer's defaults: only what the dialog returns counts.
    const auto described = PrinterInfo::printer(generator.PrinterIndex());
    QPrinterInfo info = described ? QPrinterInfo::printerInfo(described->name) : QPrinterInfo();
    if (info.isNull())
        info = QPrinterInfo::defaultPrinter();
    shared() = info.isNull() ? std::make_unique<QPrinter>(QPrinter::HighResolution)
                             : std::make_unique<QPrinter>(info, QPrinter::HighResolution);
    QPrinter& printer = *shared();

    const TRpPrintSetupLimits limits = PrintSetupLimits(recorder);
    printer.setPageOrientation(report.Page.Orientation() == TRpOrientation::poLandscape ? QPageLayout::Landscape
                                                                                        : QPageLayout::Portrait);
    printer.setCopyCount(std::max(1, report.PrinterSettings.Copies));
    printer.setPrintRange(QPrinter::AllPages);

    QPrintDialog dialog(&printer, parent ? parent : QApplication::activeWindow());
    dialog.setOptions(QAbstractPrintDialog::PrintPageRange | QAbstractPrintDialog::PrintCollateCopies
                      | QAbstractPrintDialog::PrintShowPageSize);
    dialog.setMinMax(limits.minPage, limits.maxPage);
    printer.setFromTo(limits.fromPage, limits.toPage);
    // Confirming keeps the choice for the next run and prints nothing: the button says so.
    if (auto* buttons = dialog.findChild<QDialogButtonBox*>())
        if (QPushButton* ok = buttons->button(QDialogButtonBox::Ok))
            ok->setText(QStringLiteral("OK"));
    ThirdOfScreen placer(shown);
    dialog.installEventFilter(&placer);
    NoPaperChoice noPaper;
    dialog.installEventFilter(&noPaper);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;

    TRpPrintSetupChoice choice;
    choice.printer = printer.printerName();
    choice.copies = printer.copyCount();
    choice.orientation = printer.pageLayout().orientation() == QPageLayout::Landscape ? TRpOrientation::poLandscape
                                                                                      : TRpOrientation::poPortrait;
    switch (dialog.printRange()) {
    case QAbstractPrintDialog::Selection:
        choice.range = TRpPrintSetupChoice::Range::Selection;
        break;
    case QAbstractPrintDialog::PageRange:
        choice.range = TRpPrintSetupChoice::Range::PageNumbers;
        break;
    default:
        choice.range = TRpPrintSetupChoice::Range::AllPages;
        break;
    }
    choice.fromPage = dialog.fromPage();
    choice.toPage = dialog.toPage();
    return choice;
}

void PrintSetup(TRpGenerator& generator, const TRpPrinter* recorder, QWidget* parent, const TRpPrintSetupShown& shown)
{
    if (const auto choice = RunPrintSetupDialog(generator, recorder, parent, shown))
        ApplyPrintSetup(generator, *choice);
}
