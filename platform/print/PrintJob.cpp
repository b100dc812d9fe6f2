#include "platform/print/PrintJob.h"

#include <QPainter>
#include <QPrinter>
#include <cups/cups.h>
#include <vector>

PrintJob::PrintJob(QString printer, QString title, const QPageLayout& layout, int resolution)
    : printerName_(std::move(printer)), title_(std::move(title)), layout_(layout), resolution_(resolution > 0 ? resolution : 300)
{
}

PrintJob::~PrintJob()
{
    if (started())
        abort();
}

QPainter& PrintJob::begin()
{
    if (painter_)
        return *painter_;
    dir_ = std::make_unique<QTemporaryDir>();
    if (!dir_->isValid())
        throw PrintJobError(QStringLiteral("Cannot create a temporary folder for the print job of \"%1\": %2")
                                .arg(printerName_, dir_->errorString()));
    device_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    device_->setOutputFormat(QPrinter::PdfFormat);
    device_->setOutputFileName(dir_->filePath(QStringLiteral("job.pdf")));
    device_->setResolution(resolution_);
    device_->setDocName(title_);
    device_->setCreator(QStringLiteral("Hematix"));
    device_->setPageLayout(layout_);
    device_->setFullPage(false);
    painter_ = std::make_unique<QPainter>();
    if (!painter_->begin(device_.get())) {
        painter_.reset();
        device_.reset();
        dir_.reset();
        throw PrintJobError(QStringLiteral("Cannot start the print job for \"%1\"").arg(printerName_));
    }
    return *painter_;
}

void PrintJob::newPage()
{
    if (device_)
        device_->newPage();
}

int PrintJob::pageWidth() const
{
    return device_ ? device_->width() : layout_.paintRectPixels(resolution_).width();
}

int PrintJob::pageHeight() const
{
    return device_ ? device_->height() : layout_.paintRectPixels(resolution_).height();
}

void PrintJob::closeDocument()
{
    if (painter_ && painter_->isActive())
        painter_->end();
    painter_.reset();
    device_.reset();
}

int PrintJob::finish(const PrintJobOptions& options)
{
    if (!started())
        return 0;
    const QString file = dir_->filePath(QStringLiteral("job.pdf"));
    closeDocument();
    int job = 0;
    try {
        job = submit(printerName_, file, title_, layout_, options);
    } catch (...) {
        dir_.reset();
        throw;
    }
    dir_.reset();
    return job;
}

void PrintJob::abort()
{
    // The document is closed and its file removed before the service ever sees it.
    closeDocument();
    dir_.reset();
}

int PrintJob::submit(const QString& printer, const QString& pdfFile, const QString& title,
                     const QPageLayout& layout, const PrintJobOptions& options)
{
    std::vector<std::pair<QByteArray, QByteArray>> opts;
    const QPageSize size = layout.pageSize();
    const QSizeF mm = size.size(QPageSize::Millimeter);
    // A size the service knows by name goes by name; any other by its measures.
    const QString key = size.id() == QPageSize::Custom
                            ? QStringLiteral("Custom.%1x%2mm").arg(mm.width()).arg(mm.height())
                            : size.key();
    opts.emplace_back("media", key.toUtf8());
    if (layout.orientation() == QPageLayout::Landscape)
        opts.emplace_back("landscape", "");
    if (options.copies > 1) {
        opts.emplace_back("copies", QByteArray::number(options.copies));
        opts.emplace_back("Collate", options.collate ? "True" : "False");
    }
    const char* sides = !options.twoSided ? "one-sided"
                        : layout.orientation() == QPageLayout::Landscape ? "two-sided-short-edge"
                                                                         : "two-sided-long-edge";
    opts.emplace_back("sides", sides);
    if (!options.paperSource.isEmpty())
        opts.emplace_back("media-source", options.paperSource.toUtf8());

    std::vector<cups_option_t> list;
    list.reserve(opts.size());
    for (auto& o : opts)
        list.push_back(cups_option_t{o.first.data(), o.second.data()});
    const QByteArray name = printer.toUtf8();
    const QByteArray path = pdfFile.toLocal8Bit();
    const QByteArray jobTitle = (title.isEmpty() ? QStringLiteral("Hematix") : title).toUtf8();
    const int job = cupsPrintFile2(CUPS_HTTP_DEFAULT, name.constData(), path.constData(), jobTitle.constData(),
                                   static_cast<int>(list.size()), list.data());
    if (job <= 0)
        throw PrintJobError(QStringLiteral("The printer \"%1\" did not accept the job: %2")
                                .arg(printer, QString::fromUtf8(cupsLastErrorString())));
    return job;
}
