#include "report/printing/RpPrintJobSink.h"

#include "platform/canvas/PainterCanvas.h"
#include "platform/print/PrintJob.h"
#include "report/pages/PrinterSettings.h"
#include "report/pages/RpError.h"

TRpPrintJobSink::TRpPrintJobSink() = default;

TRpPrintJobSink::~TRpPrintJobSink() { Abort(); }

void TRpPrintJobSink::Begin(const TPrinterSettings& settings, const QString& title)
{
    Abort();
    // The settings go to the job now; the job itself starts at the first page printed.
    job_ = std::make_unique<PrintJob>(settings.Device(), title, settings.PageLayout(), settings.XPixelsPerInch());
}

PageCanvas& TRpPrintJobSink::StartPage()
{
    if (!job_)
        throw ERpError(QStringLiteral("Illegal call to NewPage"));
    canvas_.reset();
    try {
        if (job_->started())
            job_->newPage();
        QPainter& painter = job_->begin();
        canvas_ = std::make_unique<PainterCanvas>(painter, QSize(job_->pageWidth(), job_->pageHeight()));
    } catch (const PrintJobError& e) {
        throw ERpError(e.message());
    }
    return *canvas_;
}

void TRpPrintJobSink::FinishPage() { canvas_.reset(); }

bool TRpPrintJobSink::Started() const { return job_ && job_->started(); }

int TRpPrintJobSink::Resolution() const { return job_ ? job_->resolution() : 0; }

int TRpPrintJobSink::Finish(const TPrinterSettings& settings)
{
    canvas_.reset();
    std::unique_ptr<PrintJob> job = std::move(job_);
    if (!job || !job->started())
        return 0;
    try {
        return job->finish(settings.JobOptions());
    } catch (const PrintJobError& e) {
        throw ERpError(e.message());
    }
}

void TRpPrintJobSink::Abort()
{
    canvas_.reset();
    if (job_)
        job_->abort();
    job_.reset();
}
