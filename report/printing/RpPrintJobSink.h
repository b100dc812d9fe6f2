#pragma once
// The printer document's pages drawn straight onto a print job: each page of the range gets the
// job's next page and a canvas on it, through the same painting code that plays page images.
//
// Knows: print jobs, the printer settings' device, layout and job options. Untrusted: nothing.
#include "report/pages/RpPageSink.h"

#include <memory>

class PainterCanvas;
class PrintJob;

class TRpPrintJobSink : public TRpPageSink {
public:
    TRpPrintJobSink();
    // An unfinished job is aborted.
    ~TRpPrintJobSink() override;

    void Begin(const TPrinterSettings& settings, const QString& title) override;
    bool Open() const override { return job_ != nullptr; }
    PageCanvas& StartPage() override;
    void FinishPage() override;
    bool Started() const override;
    int Resolution() const override;
    int Finish(const TPrinterSettings& settings) override;
    void Abort() override;

private:
    std::unique_ptr<PrintJob> job_;
    // Declared after the job, so that it goes first.
    std::unique_ptr<PainterCanvas> canvas_;
};
