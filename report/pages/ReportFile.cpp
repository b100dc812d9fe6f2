#include "report/pages/ReportFile.h"

#include "platform/canvas/EmfPlayer.h"
#include "platform/Exception.h"
#include "report/pages/PaperSize.h"
#include "report/pages/RpError.h"
#include "report/pages/RpPageList.h"
#include "report/pages/RpStream.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextStream>
#include <cmath>

namespace reportfile {

namespace {

QSizeF pageMillimetres(const TRpPageImage& page)
{
    const QRect f = page.FrameHundredthsMm();
    return {(static_cast<double>(f.right()) - f.left()) / 100.0, (static_cast<double>(f.bottom()) - f.top()) / 100.0};
}

// The table entry the sheet matches within half a millimetre, turned or not.
QString paperName(QSizeF mm)
{
    for (const PaperSizeInfo& p : paperSizes()) {
        if (p.widthMm <= 0)
            continue;
        if (std::fabs(p.widthMm - mm.width()) < 0.5 && std::fabs(p.heightMm - mm.height()) < 0.5)
            return QLatin1String(p.name);
        if (std::fabs(p.heightMm - mm.width()) < 0.5 && std::fabs(p.widthMm - mm.height()) < 0.5)
            return QLatin1String(p.name) + QStringLiteral(" landscape");
    }
    return QStringLiteral("custom");
}

// A page size that must be drawable: the frame of a hostile file may say anything.
void checkDrawable(QSizeF mm, int n)
{
    if (!(mm.width() >= 1 && mm.height() >= 1 && std::max(mm.width(), mm.height()) <= kLargestSheetLongSideMm
          && std::min(mm.width(), mm.height()) <= kLargestSheetShortSideMm))
        throw ERpError(QStringLiteral("Page %1 has an unusable size of %2 x %3 mm").arg(n).arg(mm.width()).arg(mm.height()));
}

// Drawing a whole file is bounded besides each page: a file may cost kFileWorkPerByte units per
// byte of its size, and at least as much as a file of 1 MB, so that a small file of many pages
// that each stay under a page's bound still costs no more than a second or so. Real pages cost
// far less than a unit per byte they take: a period report's page about 8,000 units in 125 KB
// (30 KB compressed), a result sheet about 4,000 in 46 KB.
constexpr double kFileWorkPerByte = 1;
constexpr qint64 kSmallFileBytes = 1 << 20;

// The work still allowed of a file's budget, with the page that stops it named.
class FileBudget {
public:
    FileBudget(const QString& fileName)
        : fileName_(fileName), left_(kFileWorkPerByte * double(std::max(kSmallFileBytes, QFileInfo(fileName).size())))
    {
    }
    void play(const TRpPageImage& image, int page, QPainter& painter, const QRectF& target)
    {
        try {
            left_ -= image.Play(painter, target, std::min(left_, EmfPlayer::kMaxPageWork));
        } catch (const EmfError& e) {
            throw ERpError(QStringLiteral("Report file %1: page %2: %3").arg(fileName_).arg(page).arg(e.message()));
        }
    }

private:
    QString fileName_;
    double left_;
};

} // namespace

bool describe(const QString& fileName, QTextStream& out)
{
    std::unique_ptr<TRpStream> stream;
    try {
        stream = TRpStream::openForReading(fileName);
    } catch (const Exception& e) {
        out << "error: " << e.message() << "\n";
        return false;
    }
    const qint64 size = stream->Size();
    out << "File: " << fileName << "\n";
    out << "Size: " << size << " bytes\n";
    QByteArray head(TRpFileHeader::kSize, '\0');
    stream->Seek(0, TRpSeekOrigin::FromBeginning);
    if (stream->Read(head.data(), head.size()) == head.size()) {
        const TRpFileHeader h = TRpFileHeader::decode(head);
        const QDateTime when = TRpFileHeader::dateToQt(h.date);
        out << "Header: " << h.word0 << " " << h.word1 << "\n";
        out << "Pages: " << h.pageCount << "\n";
        out << "Compressed: " << (h.compressed ? "yes" : "no") << "\n";
        out << "Written: " << (when.isValid() ? when.toString(Qt::ISODate) : QStringLiteral("(invalid date)")) << "\n";
    }
    std::vector<TRpRecordInfo> records;
    try {
        records = TRpPageList::checkStructure(*stream, fileName);
    } catch (const Exception& e) {
        out << "error: " << e.message() << "\n";
        return false;
    }
    stream.reset();
    TRpPageList list;
    list.LoadFromFile(fileName);
    bool sound = true;
    for (const TRpRecordInfo& r : records) {
        out << "Page " << r.page << ": offset " << r.start << ", next " << r.next << ", " << r.dataSize() << " bytes";
        try {
            const auto page = list.GetPage(r.page);
            const QSizeF mm = pageMillimetres(*page);
            out << ", " << QString::number(mm.width(), 'f', 1) << " x " << QString::number(mm.height(), 'f', 1)
                << " mm (" << paperName(mm) << ")";
            if (list.Compressed())
                out << ", metafile " << page->Bytes().size() << " bytes";
            out << "\n";
        } catch (const Exception& e) {
            out << "\nerror: " << e.message() << "\n";
            sound = false;
        }
    }
    if (!records.empty() && records.back().next != size)
        out << "Note: " << size - records.back().next << " bytes follow the last counted page\n";
    out << (sound ? "Links: OK\n" : "Links: OK, pages damaged\n");
    return sound;
}

QStringList renderPng(const QString& fileName, const QString& outDir, double dpi, int page)
{
    if (!(dpi >= 10 && dpi <= 1200))
        throw ERpError(QStringLiteral("Resolution %1 dpi is outside 10 to 1200").arg(dpi));
    TRpPageList list;
    list.LoadFromFile(fileName);
    if (page < 0 || page > list.PageCount())
        throw ERpError(QStringLiteral("Report file %1 has no page %2 (it has %3)").arg(fileName).arg(page).arg(list.PageCount()));
    if (!QDir().mkpath(outDir))
        throw ERpError(QStringLiteral("Cannot create the folder %1").arg(outDir));
    QStringList written;
    FileBudget budget(fileName);
    const int first = page == 0 ? 1 : page;
    const int last = page == 0 ? list.PageCount() : page;
    for (int n = first; n <= last; ++n) {
        const auto image = list.GetPage(n);
        const QSizeF mm = pageMillimetres(*image);
        checkDrawable(mm, n);
        const QSize px(std::max(1, int(std::lround(mm.width() * dpi / 25.4))),
                       std::max(1, int(std::lround(mm.height() * dpi / 25.4))));
        QImage target(px, QImage::Format_RGB32);
        if (target.isNull())
            throw ERpError(QStringLiteral("Report file %1: page %2: no memory for a picture of %3 x %4 pixels")
                               .arg(fileName)
                               .arg(n)
                               .arg(px.width())
                               .arg(px.height()));
        target.setDotsPerMeterX(int(std::lround(dpi / 0.0254)));
        target.setDotsPerMeterY(int(std::lround(dpi / 0.0254)));
        target.fill(Qt::white);
        {
            QPainter painter(&target);
            budget.play(*image, n, painter, QRectF(QPointF(0, 0), QSizeF(px)));
        }
        const QString name = QDir(outDir).filePath(QStringLiteral("page-%1.png").arg(n, 3, 10, QLatin1Char('0')));
        if (!target.save(name, "PNG"))
            throw ERpError(QStringLiteral("Cannot write %1").arg(name));
        written.append(name);
    }
    return written;
}

void writePdf(const QString& fileName, const QString& pdfName)
{
    TRpPageList list;
    list.LoadFromFile(fileName);
    if (list.PageCount() == 0)
        throw ERpError(QStringLiteral("Report file %1 has no pages").arg(fileName));
    const auto pageOf = [&](int n) {
        std::unique_ptr<TRpPageImage> page = list.GetPage(n);
        checkDrawable(pageMillimetres(*page), n);
        return page;
    };
    auto layoutOf = [](const TRpPageImage& page) {
        const QSizeF mm = pageMillimetres(page);
        const bool landscape = mm.width() > mm.height();
        const QSizeF portrait = landscape ? mm.transposed() : mm;
        const QPageSize size(portrait, QPageSize::Millimeter, QString(), QPageSize::FuzzyMatch);
        return QPageLayout(size, landscape ? QPageLayout::Landscape : QPageLayout::Portrait, QMarginsF());
    };
    // Pages are read, drawn and let go one at a time, so memory stays that of one page; a page
    // that fails removes the half-written PDF.
    std::unique_ptr<TRpPageImage> page = pageOf(1);
    FileBudget budget(fileName);
    QPdfWriter writer(pdfName);
    writer.setCreator(QStringLiteral("Hematix"));
    writer.setResolution(300);
    writer.setPageLayout(layoutOf(*page));
    QPainter painter;
    if (!painter.begin(&writer))
        throw ERpError(QStringLiteral("Cannot write %1").arg(pdfName));
    try {
        for (int n = 1; n <= list.PageCount(); ++n) {
            if (n > 1) {
                page = pageOf(n);
                writer.setPageLayout(layoutOf(*page));
                writer.newPage();
            }
            budget.play(*page, n, painter, QRectF(0, 0, writer.width(), writer.height()));
            page.reset();
        }
    } catch (...) {
        painter.end();
        QFile::remove(pdfName);
        throw;
    }
    if (!painter.end())
        throw ERpError(QStringLiteral("Cannot write %1").arg(pdfName));
}

int runTool(const QStringList& args, QTextStream& out, QTextStream& err)
{
    const QString usage = QStringLiteral(
        "usage: hematix-pages info FILE\n"
        "       hematix-pages png FILE OUTDIR [--dpi N] [--page N]\n"
        "       hematix-pages pdf FILE OUT.pdf\n");
    if (args.size() < 2) {
        err << usage;
        return 2;
    }
    const QString command = args[0];
    const QString file = args[1];
    try {
        if (command == QLatin1String("info") && args.size() == 2)
            return describe(file, out) ? 0 : 1;
        if (command == QLatin1String("png") && args.size() >= 3) {
            double dpi = 96;
            int page = 0;
            for (qsizetype i = 3; i < args.size(); ++i) {
                bool ok = false;
                if (args[i] == QLatin1String("--dpi") && i + 1 < args.size())
                    dpi = args[++i].toDouble(&ok);
                else if (args[i] == QLatin1String("--page") && i + 1 < args.size())
                    page = args[++i].toInt(&ok);
                if (!ok || page < 0) {
                    err << "hematix-pages: bad option " << args[i] << "\n" << usage;
                    return 2;
                }
            }
            for (const QString& f : renderPng(file, args[2], dpi, page))
                out << f << "\n";
            return 0;
        }
        if (command == QLatin1String("pdf") && args.size() == 3) {
            writePdf(file, args[2]);
            out << args[2] << "\n";
            return 0;
        }
    } catch (const Exception& e) {
        err << "hematix-pages: " << e.message() << "\n";
        return 1;
    }
    err << usage;
    return 2;
}

} // namespace reportfile
