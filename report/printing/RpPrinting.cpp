#include "report/printing/RpPrinting.h"

#include "platform/canvas/EmfPlayer.h"
#include "platform/print/PrintJob.h"
#include "platform/print/PrinterInfo.h"
#include "report/generation/RpGenerator.h"
#include "report/model/RpReport.h"
#include "report/pages/RpError.h"
#include "report/pages/RpPrinter.h"
#include "report/pages/RpStream.h"
#include "report/printing/RpPrintJobSink.h"
#include "report/printing/RpProgressForm.h"

#include <QCoreApplication>
#include <QPainter>
#include <algorithm>
#include <memory>

namespace rpprinting {

void PrintLive(TRpGenerator& generator, const std::function<void(TRpProgressForm&)>& shown)
{
    if (!generator.Available())
        return;
    if (!PrinterInfo::printerInstalled())
        throw ERpError(TRpPrinter::NoPrinterMessage());
    TRpPrinter recorder;
    recorder.SetSink(std::make_unique<TRpPrintJobSink>());
    TRpProgressForm form(recorder);
    recorder.SetClient(&form);
    if (generator.Report().ShowProgress)
        form.show();
    if (shown)
        shown(form);
    // The report's own recorder (the preview's pages) is not touched: Generate runs on this one.
    generator.Generate(recorder);
    // A refused job, or no page in the range: the run itself ended normally.
    if (!recorder.JobError().isEmpty())
        throw ERpError(recorder.JobError());
}

int PrintStoredPages(TRpPrinter& recorder)
{
    if (recorder.Status() != TRpPrinterStatus::Finished)
        return 0;
    if (!PrinterInfo::printerInstalled())
        throw ERpError(TRpPrinter::NoPrinterMessage());
    TPrinterSettings& settings = recorder.PrinterSettings();
    // A recorder made while no printer was installed learns of the one there is now.
    if (!settings.PrinterPresent())
        settings.SelectPrinter(settings.PrinterIndex());
    // The range keeps to the stored pages: a bound past them prints no empty sheets.
    const int count = recorder.PageCount();
    int from = 1;
    int to = count;
    if (recorder.FirstPage() != 0 || recorder.LastPage() != 0) {
        from = std::max(1, recorder.FirstPage());
        to = recorder.LastPage() > 0 ? std::min(recorder.LastPage(), count) : count;
    }
    if (from > to)
        throw ERpError(recorder.EmptyRangeMessage());
    recorder.ClearCancel();
    // Loaded pages are untrusted: besides each page's own bound, the whole print may cost what a
    // file of its size may (a unit per byte, at least as much as a file of 1 MB).
    const TRpStream* stored = recorder.PageList().Stream();
    double left = std::max<double>(1 << 20, stored ? static_cast<double>(stored->Size()) : 0);
    // A job that fails part way is aborted by its destructor: nothing half-printed is sent.
    PrintJob job(settings.Device(), recorder.Title(), settings.PageLayout(), settings.XPixelsPerInch());
    try {
        for (int i = from; i <= to; ++i) {
            QCoreApplication::processEvents();
            if (i > from)
                job.newPage();
            QPainter& painter = job.begin();
            if (auto page = recorder.GetPage(i)) {
                try {
                    left -= page->Play(painter, QRectF(0, 0, job.pageWidth(), job.pageHeight()),
                                       std::min(left, EmfPlayer::kMaxPageWork));
                } catch (const EmfError& e) {
                    throw ERpError(QStringLiteral("Page %1 of the report cannot be printed: %2").arg(i).arg(e.message()));
                }
            }
            if (recorder.Cancelled()) {
                job.abort();
                return 0;
            }
        }
        return job.finish(settings.JobOptions());
    } catch (const PrintJobError& e) {
        throw ERpError(e.message());
    }
}

} // namespace rpprinting
