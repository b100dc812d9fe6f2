#include "report/printing/RpPrinting.h"

#include "platform/Exception.h"
#include "platform/print/PrinterInfo.h"
#include "report/generation/RpGenerator.h"
#include "report/model/RpReport.h"
#include "report/pages/RpError.h"
#include "report/pages/RpPrinter.h"
#include "report/printing/RpPrintSetup.h"
#include "report/printing/RpProgressForm.h"

#include <QApplication>
#include <QMessageBox>

namespace rpprinting {

std::function<void(const QString&)> ShowError = [](const QString& message) {
    QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(), message, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.exec();
};

std::function<void(TRpProgressForm&)> ProgressShown;

namespace {
// Runs a print request from a window: its error is shown, not thrown through the event loop.
void guarded(const std::function<void()>& request)
{
    try {
        request();
    } catch (const Exception& e) {
        ShowError(e.message());
    } catch (const std::exception& e) {
        ShowError(QString::fromLocal8Bit(e.what()));
    }
}
} // namespace

void Install(TRpGenerator& generator)
{
    generator.PrintRun = [&generator] { guarded([&] { PrintLive(generator); }); };
    generator.PrintSetup = [&generator] { guarded([&] { PrintSetup(generator); }); };
}

void PrintLive(TRpGenerator& generator)
{
    if (!generator.Available())
        return;
    if (!PrinterInfo::printerInstalled())
        throw ERpError(TRpPrinter::NoPrinterMessage());
    TRpPrinter recorder;
    recorder.SetDestination(TRpPrinterDestination::Printer);
    TRpProgressForm form(recorder);
    recorder.SetClient(&form);
    if (generator.Report().ShowProgress)
        form.show();
    if (ProgressShown)
        ProgressShown(form);
    // The report's own recorder (the preview's pages) is not touched: Generate runs on this one.
    generator.Generate(recorder);
    // A refused job, or no page in the range: the run itself ended normally.
    if (!recorder.JobError().isEmpty())
        throw ERpError(recorder.JobError());
}

void PrintFromPreview(TRpPrinter& recorder)
{
    guarded([&] { recorder.Print(); });
}

} // namespace rpprinting
