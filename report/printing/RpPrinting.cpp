#include "report/printing/RpPrinting.h"

#include "platform/canvas/EmfPlayer.h"
#include "platform/durable/DurableIo.h"
#include "platform/print/PrintJob.h"
#include "platform/print/PrinterInfo.h"
#include "report/generation/RpGenerator.h"
#include "report/model/RpReport.h"
#include "report/pages/RpError.h"
#include "report/pages/RpPrinter.h"
#include "report/pages/RpStream.h"
#include "report/printing/RpPrintJobSink.h"
#include "report/printing/RpProgressForm.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFileInfo>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace {

// Stored pages from..to, one on each sheet of a device, each scaled onto the sheet's printable
// area, with pending events let run before each page. A print and a PDF file both play them here,
// so that a saved PDF is the sheets a print would give. Device: begin() (the painter, the first
// sheet started), newPage(), pageWidth(), pageHeight(). Answers false when the recorder's
// cancelled flag stopped it.
template <typename Device>
bool playStoredPages(TRpPrinter& recorder, int from, int to, Device& device, const char* verb)
{
    recorder.ClearCancel();
    // Loaded pages are untrusted: besides each page's own bound, the whole run may cost what a
    // file of its size may (a unit per byte, at least as much as a file of 1 MB).
    const TRpStream* stored = recorder.PageList().Stream();
    double left = std::max<double>(1 << 20, stored ? static_cast<double>(stored->Size()) : 0);
    for (int i = from; i <= to; ++i) {
        QCoreApplication::processEvents();
        if (i > from)
            device.newPage();
        QPainter& painter = device.begin();
        if (auto page = recorder.GetPage(i)) {
            try {
                left -= page->Play(painter, QRectF(0, 0, device.pageWidth(), device.pageHeight()),
                                   std::min(left, EmfPlayer::kMaxPageWork));
            } catch (const EmfError& e) {
                throw ERpError(QStringLiteral("Page %1 of the report cannot be %2: %3")
                                   .arg(i).arg(QLatin1String(verb), e.message()));
            }
        }
        if (recorder.Cancelled())
            return false;
    }
    return true;
}

// A PDF document in memory with the sheets a print job of the settings would have: the same
// layout (paper, orientation, the printer's unprintable edges) at the same resolution.
class PdfSheets {
public:
    PdfSheets(QIODevice& out, const TPrinterSettings& settings, const QString& title)
        : writer_(&out)
    {
        // A print job takes 300 dpi from settings that name none.
        writer_.setResolution(settings.XPixelsPerInch() > 0 ? settings.XPixelsPerInch() : 300);
        writer_.setPageLayout(settings.PageLayout());
        writer_.setTitle(title);
        writer_.setCreator(QStringLiteral("Hematix"));
    }
    QPainter& begin()
    {
        if (!painter_.isActive() && !painter_.begin(&writer_))
            throw ERpError(QStringLiteral("Cannot start a PDF document"));
        return painter_;
    }
    void newPage() { writer_.newPage(); }
    int pageWidth() const { return writer_.width(); }
    int pageHeight() const { return writer_.height(); }
    void end() { painter_.end(); }

private:
    QPdfWriter writer_;
    // Declared after the writer, so that it ends first.
    QPainter painter_;
};

QString errnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

} // namespace

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
    // A job that fails part way is aborted by its destructor: nothing half-printed is sent.
    PrintJob job(settings.Device(), recorder.Title(), settings.PageLayout(), settings.XPixelsPerInch());
    try {
        if (!playStoredPages(recorder, from, to, job, "printed")) {
            job.abort();
            return 0;
        }
        return job.finish(settings.JobOptions());
    } catch (const PrintJobError& e) {
        throw ERpError(e.message());
    }
}

void SaveStoredPagesAsPdf(TRpPrinter& recorder, const QString& fileName)
{
    if (recorder.Status() != TRpPrinterStatus::Finished || recorder.PageCount() < 1)
        return;
    // Made in memory, so that nothing reaches the folder before the whole document exists.
    QBuffer bytes;
    bytes.open(QIODevice::WriteOnly);
    try {
        PdfSheets pdf(bytes, recorder.PrinterSettings(), recorder.Title());
        if (!playStoredPages(recorder, 1, recorder.PageCount(), pdf, "drawn"))
            return;
        pdf.end();
    } catch (const ERpError& e) {
        throw ERpError(QStringLiteral("Cannot save the PDF file \"%1\": %2").arg(fileName, e.message()));
    }
    if (const int err = durable::replaceWhole(fileName, bytes.data()))
        throw ERpError(QStringLiteral("Cannot save the PDF file \"%1\": %2").arg(fileName, errnoText(err)));
}

} // namespace rpprinting
