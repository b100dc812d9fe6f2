// Period report generation over 1,000 and 10,000 rows (about 30 and 290 pages): time to the first
// page, cost per page and peak memory, against drawing the same rows with QPainter straight into
// a PDF through QPdfWriter, the floor a user could write by hand.
//
// Goals: the first page comes in a time independent of the row count; the cost per page is flat
// (10,000 rows within 1.2 times the 1,000-row cost per page); memory is flat; generation into the
// page store costs no more per page than the QPdfWriter path.
//
// Times are processor time of this process (the machine is shared), the best of five rounds.
// Peak memory is measured in child processes (this program run with --child), each doing one run.
#include "bench/support/BulkTable.h"
#include "bench/support/CpuTime.h"
#include "bench/support/Outcome.h"
#include "bench/support/PeakMemory.h"
#include "bench/support/PeriodPages.h"
#include "engine/DataSet.h"
#include "platform/print/PrinterInfo.h"
#include "report/generation/RpGenerator.h"
#include "report/model/LayoutLoader.h"
#include "report/model/ReferenceContext.h"
#include "report/model/RpBinding.h"
#include "report/model/RpItems.h"
#include "report/model/RpReport.h"
#include "report/pages/RpPrinter.h"
#include "store/PeriodQuery.h"
#include "store/Statements.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <ctime>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace {

using benchsupport::cpuNs;
using benchsupport::maxRssKb;

const QDate kDay(2023, 6, 5);

// A program folder with a result table of n rows of one day.
QString makeFolder(const QString& root, int n)
{
    const QString folder = root + QStringLiteral("/rows-%1/").arg(n);
    benchsupport::writeResultTable(folder, n, [](int i, const std::vector<DbfField>& fields, char* rec) {
        static const char* const names[] = {"Иванов Иван Иванович", "Петрова Анна Сергеевна", "Сидоров П. П."};
        for (const DbfField& f : fields) {
            const QString name = f.name;
            if (name == QLatin1String("DAT"))
                dbfcodec::put(f, rec, DbfValue(kDay));
            else if (name == QLatin1String("NUM"))
                dbfcodec::put(f, rec, DbfValue(QString::number(100000000 + i)));
            else if (name == QLatin1String("TIM"))
                dbfcodec::put(f, rec, DbfValue(QStringLiteral("10:15:00")));
            else if (name == QLatin1String("FIO"))
                dbfcodec::put(f, rec, DbfValue(QString::fromUtf8(names[i % 3])));
            else if (name == QLatin1String("RECEPTION"))
                dbfcodec::put(f, rec, DbfValue(QStringLiteral("Терапия")));
            else if (name == QLatin1String("FORMULA"))
                dbfcodec::put(f, rec, DbfValue(QStringLiteral("п3 с60 л30 м7")));
            else if (name != QLatin1String("DOC") && name != QLatin1String("COMMENT"))
                dbfcodec::put(f, rec, DbfValue(QStringLiteral("%1.%2").arg(i % 97).arg(i % 10)));
        }
    });
    return folder;
}

struct Timing {
    double firstPageNs = 0;
    double totalNs = 0;
    int pages = 0;
};

// The period report as the program makes it, into the page store.
Timing generate(const QString& folder)
{
    TQuery query;
    query.SetName(QStringLiteral("Query1"));
    query.SQL << singleDaySelect(folder, kDay);
    query.Open();
    auto report = layoutloader::loadBuiltin(QStringLiteral("Unit7"), QString());
    rpbinding::bindFields(*report, nullptr, periodquery::fieldBindings());
    layoutloader::resolveDataSets(*report, [&](const QString&, const QString&) -> TDataSet* { return &query; });
    TRpGenerator gen(*report);
    gen.ProcessEvents = [] {};
    Timing t;
    const double t0 = cpuNs();
    gen.BeforeEndPage = [&](int page) {
        if (page == 1)
            t.firstPageNs = cpuNs() - t0;
    };
    TRpPrinter recorder;
    gen.Generate(recorder);
    t.totalNs = cpuNs() - t0;
    t.pages = recorder.PageCount();
    return t;
}

// The same rows drawn by hand with QPainter into a PDF: the column header, the rows with their
// lines, 35 rows a page (34 on the first below the title), the page frame.
Timing drawPdf(const QString& folder, const QString& pdf)
{
    TQuery query;
    query.SQL << singleDaySelect(folder, kDay);
    query.Open();
    std::vector<const TField*> fields;
    const auto& bindings = periodquery::fieldBindings();
    for (const auto& binding : bindings)
        fields.push_back(query.FieldByName(binding.second));
    static const int kLeft[] = {5, 169, 339, 699, 868, 953, 1037, 1143, 1228, 1312, 1397, 1482, 1588, 1672, 1757, 1842, 1926, 2032, 2159};

    Timing t;
    const double t0 = cpuNs();
    QPdfWriter writer(pdf);
    writer.setResolution(96);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF()));
    QPainter p(&writer);
    auto px = [](double native) { return int(native * 96 / 254 + 0.5); };
    QFont font(rpFamilySubstitute(QStringLiteral("Arial")));
    font.setPixelSize(11);
    p.setFont(font);
    const QFontMetrics fm(font);
    int y = 0, onPage = 0, page = 1;
    auto startPage = [&](bool first) {
        y = first ? 171 : 100;
        if (first)
            p.drawText(px(1100), px(100) + fm.ascent(), QStringLiteral("ОТЧЁТ  ") + kDay.toString(Qt::ISODate));
        for (size_t i = 0; i < bindings.size(); ++i)
            p.drawText(px(50 + kLeft[i]), px(y) + fm.ascent(), bindings[i].second);
        y += 64;
        p.drawLine(px(50), px(y), px(2870), px(y));
        onPage = 0;
    };
    startPage(true);
    for (query.First(); !query.Eof(); query.Next()) {
        if (onPage == (page == 1 ? 34 : 35)) {
            p.drawRect(px(50), px(100), px(2820), px(1950));
            if (page == 1)
                t.firstPageNs = cpuNs() - t0;
            writer.newPage();
            ++page;
            startPage(false);
        }
        for (size_t i = 0; i < fields.size(); ++i)
            p.drawText(px(50 + kLeft[i]), px(y) + fm.ascent(), fields[i]->DisplayText());
        y += 53;
        p.drawLine(px(50), px(y), px(2870), px(y));
        ++onPage;
    }
    p.drawText(px(92), px(y + 64) + fm.ascent(), QString::number(query.RecordCount()));
    p.drawRect(px(50), px(100), px(2820), px(1950));
    if (page == 1)
        t.firstPageNs = cpuNs() - t0;
    p.end();
    t.totalNs = cpuNs() - t0;
    t.pages = page;
    return t;
}

Timing best(int rounds, const std::function<Timing()>& run)
{
    Timing b;
    for (int round = 0; round < rounds; ++round) {
        const Timing t = run();
        if (round == 0 || t.totalNs < b.totalNs)
            b.totalNs = t.totalNs, b.pages = t.pages;
        if (round == 0 || t.firstPageNs < b.firstPageNs)
            b.firstPageNs = t.firstPageNs;
    }
    return b;
}

int runChild(const char* mode, const QString& folder)
{
    QTemporaryDir out;
    if (std::strcmp(mode, "gen") == 0) {
        benchmark::DoNotOptimize(generate(folder).pages);
    } else if (std::strcmp(mode, "data") == 0) {
        // The rows alone, read as both paths read them: what neither can do without.
        TQuery query;
        query.SQL << singleDaySelect(folder, kDay);
        query.Open();
        for (query.First(); !query.Eof(); query.Next())
            for (const auto& binding : periodquery::fieldBindings())
                benchmark::DoNotOptimize(query.FieldByName(binding.second)->DisplayText());
    } else {
        benchmark::DoNotOptimize(drawPdf(folder, out.filePath(QStringLiteral("out.pdf"))).pages);
    }
    std::printf("%ld\n", maxRssKb());
    return 0;
}

long childPeakKb(const char* mode, const QString& folder)
{
    return benchsupport::childPeakKb({QString::fromLatin1(mode), folder}, 600000);
}

double ratio(double a, double b) { return b > 0 ? a / b : 0.0; }

// Pages the period report takes for n rows.
int expectedPages(int n)
{
    return n <= benchsupport::kPeriodFirstPageRows
               ? 1
               : 1 + (n - benchsupport::kPeriodFirstPageRows + benchsupport::kPeriodPageRows - 1) / benchsupport::kPeriodPageRows;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    benchsupport::takeSmokeFlag(argc, argv);
    QGuiApplication app(argc, argv);
    // The recorder's page size must not depend on the machine's printers.
    PrinterInfo::ScopedOverride noPrinter{{}};
    if (argc == 4 && std::strcmp(argv[1], "--make") == 0) {
        makeFolder(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]));
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0)
        return runChild(argv[2], QString::fromLocal8Bit(argv[3]));

    const bool smoke = benchsupport::smoke();
    const std::vector<int> sizes = smoke ? std::vector<int>{1000} : std::vector<int>{1000, 10000};
    const int rounds = smoke ? 1 : 5;
    QTemporaryDir dir;
    std::map<int, QString> folders;
    std::map<int, Timing> gen, pdf;
    for (int n : sizes) {
        folders[n] = makeFolder(dir.path(), n);
        gen[n] = best(rounds, [&] { return generate(folders[n]); });
        pdf[n] = best(rounds, [&] { return drawPdf(folders[n], dir.filePath(QStringLiteral("out.pdf"))); });
        const int pages = expectedPages(n);
        benchsupport::check(gen[n].pages == pages && pdf[n].pages == pages,
                            std::to_string(n) + " rows made " + std::to_string(gen[n].pages) + " pages by generation and " +
                                std::to_string(pdf[n].pages) + " through QPdfWriter, not " + std::to_string(pages));
        benchsupport::check(QFileInfo(dir.filePath(QStringLiteral("out.pdf"))).size() > 0, "QPdfWriter wrote no PDF");
    }
    std::map<int, long> genKb, pdfKb, dataKb;
    for (int n : sizes) {
        genKb[n] = childPeakKb("gen", folders[n]);
        pdfKb[n] = childPeakKb("pdf", folders[n]);
        dataKb[n] = childPeakKb("data", folders[n]);
        benchsupport::check(genKb[n] > 0 && pdfKb[n] > 0 && dataKb[n] > 0,
                            "a memory measurement at " + std::to_string(n) + " rows did not finish");
    }
    // A smoke run has one size: nothing to set against the other.
    if (smoke || benchsupport::failed())
        return benchsupport::exitStatus();

    auto perPage = [](const Timing& t) { return t.pages > 0 ? t.totalNs / t.pages : 0.0; };
    std::printf("Period report, processor time (best of 5):\n");
    for (int n : sizes) {
        std::printf("  generation   %6d rows %5d pages  first page %8.2f ms  per page %8.3f ms\n", n,
                    gen[n].pages, gen[n].firstPageNs / 1e6, perPage(gen[n]) / 1e6);
        std::printf("  QPdfWriter   %6d rows %5d pages  first page %8.2f ms  per page %8.3f ms\n", n,
                    pdf[n].pages, pdf[n].firstPageNs / 1e6, perPage(pdf[n]) / 1e6);
    }
    std::printf("Ratios:\n");
    std::printf("  first page, 10,000 / 1,000 rows (goal about 1):      generation %.2f  QPdfWriter %.2f\n",
                ratio(gen[10000].firstPageNs, gen[1000].firstPageNs), ratio(pdf[10000].firstPageNs, pdf[1000].firstPageNs));
    std::printf("  per page, 10,000 / 1,000 rows (goal at most 1.2):    generation %.2f  QPdfWriter %.2f\n",
                ratio(perPage(gen[10000]), perPage(gen[1000])), ratio(perPage(pdf[10000]), perPage(pdf[1000])));
    std::printf("  per page, generation / QPdfWriter (goal at most 1):  1,000 rows %.2f  10,000 rows %.2f\n",
                ratio(perPage(gen[1000]), perPage(pdf[1000])), ratio(perPage(gen[10000]), perPage(pdf[10000])));
    const long g1 = genKb[1000], g10 = genKb[10000], p1 = pdfKb[1000], p10 = pdfKb[10000], d1 = dataKb[1000], d10 = dataKb[10000];
    std::printf("Peak memory (goal: flat):\n");
    std::printf("  the rows alone  1,000 rows %7ld KB  10,000 rows %7ld KB  ratio %.2f\n", d1, d10, ratio(double(d10), double(d1)));
    std::printf("  generation  1,000 rows %7ld KB  10,000 rows %7ld KB  ratio %.2f\n", g1, g10, ratio(double(g10), double(g1)));
    std::printf("  QPdfWriter  1,000 rows %7ld KB  10,000 rows %7ld KB  ratio %.2f\n", p1, p10, ratio(double(p10), double(p1)));
    std::printf("  over the rows alone: generation %ld KB and %ld KB, ratio %.2f; QPdfWriter %ld KB and %ld KB\n",
                g1 - d1, g10 - d10, ratio(double(g10 - d10), double(g1 - d1)), p1 - d1, p10 - d10);
    return 0;
}
