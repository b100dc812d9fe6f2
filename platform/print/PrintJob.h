#pragma once
// One job for a printer of the system's print service (CUPS): pages are painted into a PDF in a
// temporary file and handed to the service when the job ends, with the job's options (paper,
// orientation, copies, paper source, two-sided). We hand the file over ourselves rather than let
// QPrinter do it, because QPrinter neither tells whether the service took the job (its painter
// ends "successfully" either way) nor can abort a job it has begun: here finish() asks the
// service for the job number and raises PrintJobError when there is none, and abort() discards
// the file so that nothing reaches the printer.
//
// Knows: Qt's PDF output and the print service's client library. Knows nothing of reports.
// Untrusted: nothing; the printer name and options come from the service's own list.
#include "platform/Exception.h"

#include <QPageLayout>
#include <QString>
#include <QTemporaryDir>
#include <memory>

class QPainter;
class QPrinter;

class PrintJobError : public Exception {
public:
    using Exception::Exception;
};

struct PrintJobOptions {
    int copies = 1;
    bool collate = true;
    bool twoSided = false;
    // The service's media-source keyword ("auto", "manual", ...); empty leaves the printer's own.
    QString paperSource;
};

class PrintJob {
public:
    // A job for the named printer with pages of the given layout (the margins are the printer's
    // unprintable edges: the painter's origin is the printable area's top-left corner) drawn at
    // resolution dots per inch. Nothing is created until begin().
    PrintJob(QString printer, QString title, const QPageLayout& layout, int resolution);
    // An unfinished job is aborted.
    ~PrintJob();
    PrintJob(const PrintJob&) = delete;
    PrintJob& operator=(const PrintJob&) = delete;

    // Starts the document and its first page; the painter stays valid until finish() or abort().
    // Raises PrintJobError when the temporary file cannot be written.
    QPainter& begin();
    // Ends the page and starts the next one.
    void newPage();
    // Ends the document and hands it to the printer; returns the service's job number. Raises
    // PrintJobError naming the printer and the service's reason when the job is refused.
    int finish(const PrintJobOptions& options);
    // Ends the document without printing it.
    void abort();

    bool started() const { return painter_ != nullptr; }
    // The printable area in device pixels.
    int pageWidth() const;
    int pageHeight() const;
    int resolution() const { return resolution_; }

    // Hands an existing PDF file to the printer (what finish() does); returns the job number or
    // raises PrintJobError.
    static int submit(const QString& printer, const QString& pdfFile, const QString& title,
                      const QPageLayout& layout, const PrintJobOptions& options);

private:
    void closeDocument();

    QString printerName_;
    QString title_;
    QPageLayout layout_;
    int resolution_;
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QPrinter> device_;
    std::unique_ptr<QPainter> painter_;
};
