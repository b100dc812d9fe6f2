// Printing a 290-page period report through the print service against the floor without it.
//
// Print: the report generated onto a printer recorder and handed to a PDF queue of the print
// service (CUPS with cups-pdf, a private instance started by scripts/print-queue.sh for this run),
// timed until the job is handed over and until the queue has written the PDF.
// Floor: the same report generated into the page store, saved, and rendered to one PDF by
// `hematix-pages pdf`: the same pages to the same kind of file, without the print service.
// Each side runs three rounds and keeps its best; the figure is the ratio of the two.
//
// Peak memory is measured in child processes (this program run with --child), each printing (or
// rendering) a report of 29 or 290 pages, so that one measurement does not inherit another's
// heap. Goal: memory flat in page count.
#include "bench/support/BulkTable.h"
#include "bench/support/Outcome.h"
#include "bench/support/PrintJobs.h"
#include "bench/support/PeakMemory.h"
#include "bench/support/PeriodPages.h"
#include "engine/DataSet.h"
#include "platform/Exception.h"
#include "platform/print/PrinterInfo.h"
#include "report/generation/RpGenerator.h"
#include "report/model/LayoutLoader.h"
#include "report/model/RpBinding.h"
#include "report/model/RpReport.h"
#include "report/pages/RpPrinter.h"
#include "report/printing/RpPrinting.h"
#include "store/PeriodQuery.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cups/cups.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using benchsupport::maxRssKb;

// Page 1 holds 34 details, every later page 35: 34 + 288 * 35 + 10 rows make 290 pages.
int rowsForPages(int pages) { return pages <= 1 ? 10 : benchsupport::periodRowsFilling(pages - 1) + 10; }

const QString kQueue = QStringLiteral("HematixBench_%1").arg(QCoreApplication::applicationPid());

// Where print-queue.sh records the queue's private state folder, which it makes and removes.
QString queuePointer()
{
    static const QTemporaryDir dir;
    return dir.filePath(QStringLiteral("print-queue.dir"));
}

bool queue(const char* action)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QStringLiteral(HEMATIX_SOURCE_DIR "/scripts/print-queue.sh"),
            {QString::fromLatin1(action), queuePointer(), kQueue});
    p.waitForFinished(60000);
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

int jobs(int which) { return benchsupport::printJobs(which); }

// Waits until the queue has no active job; false after ten minutes.
bool waitIdle() { return benchsupport::waitPrintIdle(600000, 20); }

// Print errors the printing unit has shown so far.
int& printErrors()
{
    static int n = 0;
    return n;
}

// A day of `rows` results with every measured value filled in.
struct Period {
    explicit Period(int rows)
    {
        const QString table = benchsupport::writeResultTable(dir.path(), rows, [](int i, const std::vector<DbfField>& fields, char* rec) {
            for (const DbfField& f : fields) {
                if (f.name == QLatin1String("DAT"))
                    dbfcodec::put(f, rec, DbfValue(QDate(2023, 6, 5)));
                else if (f.name == QLatin1String("NUM"))
                    dbfcodec::put(f, rec, DbfValue(QString::number(100000000 + i)));
                else if (f.name == QLatin1String("TIM"))
                    dbfcodec::put(f, rec, DbfValue(QStringLiteral("10:15:00")));
                else if (f.name == QLatin1String("FIO"))
                    dbfcodec::put(f, rec, DbfValue(QStringLiteral("Иванов Иван Иванович")));
                else if (f.type == 'C' && f.length == 10)
                    dbfcodec::put(f, rec, DbfValue(QString::number(4.5 + (i % 40) / 10.0)));
            }
        });
        data.SetName(QStringLiteral("Query1"));
        data.SetTableName(table);
        data.Open();
        report = layoutloader::loadBuiltin(QStringLiteral("Unit7"), QString(), QLocale(QLocale::Russian, QLocale::Russia));
        layoutloader::resolveDataSets(*report, [&](const QString& w, const QString& c) -> TDataSet* {
            return w == QLatin1String("Form6") && c == QLatin1String("Query1") ? &data : nullptr;
        });
        report->SetDataSet(&data);
        rpbinding::bindFields(*report, nullptr, periodquery::fieldBindings());
        report->ShowProgress = false;
        gen = std::make_unique<TRpGenerator>(*report);
        gen->ProcessEvents = [] {};
    }
    QTemporaryDir dir;
    TTable data;
    std::unique_ptr<TReport> report;
    std::unique_ptr<TRpGenerator> gen;
};

struct PrintTimes {
    double handedOver = 0;   // ms until the job is with the print service
    double written = 0;      // ms until the queue has written the PDF
    bool done = false;       // one more job completed, and no print error
};

PrintTimes printOnce(Period& p)
{
    const int completed = jobs(CUPS_WHICHJOBS_COMPLETED);
    const int errors = printErrors();
    QElapsedTimer t;
    t.start();
    try {
        rpprinting::PrintLive(*p.gen);
    } catch (const Exception& e) {
        ++printErrors();
        std::fprintf(stderr, "print error: %s\n", qPrintable(e.message()));
    }
    PrintTimes r;
    r.handedOver = static_cast<double>(t.nsecsElapsed()) / 1e6;
    const bool idle = waitIdle();
    r.written = static_cast<double>(t.nsecsElapsed()) / 1e6;
    r.done = idle && printErrors() == errors && jobs(CUPS_WHICHJOBS_COMPLETED) == completed + 1;
    return r;
}

// Pages into the store, saved, rendered by hematix-pages; returns ms, or -1 when no PDF came.
double floorOnce(Period& p, int* pages = nullptr)
{
    const QString hrp = p.dir.filePath(QStringLiteral("period.hrp"));
    const QString pdf = p.dir.filePath(QStringLiteral("period.pdf"));
    QElapsedTimer t;
    t.start();
    TRpPrinter pagesOnly;
    p.gen->Generate(pagesOnly);
    pagesOnly.Save(hrp);
    if (pages)
        *pages = pagesOnly.PageCount();
    QProcess tool;
    tool.start(QStringLiteral(HEMATIX_BIN_DIR "/hematix-pages"), {QStringLiteral("pdf"), hrp, pdf});
    tool.waitForFinished(600000);
    const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
    const bool made = tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0 && QFileInfo(pdf).size() > 0;
    if (!made)
        std::fprintf(stderr, "hematix-pages pdf failed: %s\n", tool.readAllStandardError().constData());
    // Gone before the next round, so that a round whose tool writes nothing cannot pass on this PDF.
    QFile::remove(pdf);
    return made ? ms : -1;
}

// Child: prints a report of n pages ("print") and reports its own peak, or renders it to PDF
// through the tool ("floor") and reports the larger of its own peak and the tool's. Prints nothing
// when the work failed, so that the parent reads no peak.
int runChild(const char* mode, int pages)
{
    Period p(rowsForPages(pages));
    if (std::strcmp(mode, "print") == 0) {
        if (!printOnce(p).done)
            return 1;
        std::printf("%ld\n", maxRssKb());
    } else {
        if (floorOnce(p) < 0)
            return 1;
        rusage tool{};
        getrusage(RUSAGE_CHILDREN, &tool);
        std::printf("%ld\n", std::max(maxRssKb(), static_cast<long>(tool.ru_maxrss)));
    }
    return 0;
}

long childPeakKb(const char* mode, int pages)
{
    return benchsupport::childPeakKb({QString::fromLatin1(mode), QString::number(pages)}, 600000,
                                     benchsupport::ChildErrors::Forwarded);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    benchsupport::takeSmokeFlag(argc, argv);
    const bool smoke = benchsupport::smoke();
    const bool child = argc == 4 && std::strcmp(argv[1], "--child") == 0;
    // A smoke run prints to the queue the test suite runs, named by CUPS_SERVER; a full run starts
    // its own. The queue's name carries the parent's process number; children inherit the address.
    if (smoke && qEnvironmentVariableIsEmpty("CUPS_SERVER")) {
        std::fprintf(stderr, "--smoke prints to a running print queue: set CUPS_SERVER to its socket\n");
        return 1;
    }
    if (!child && !smoke)
        qputenv("CUPS_SERVER", QStringLiteral("/tmp/HematixBench_%1.sock").arg(QCoreApplication::applicationPid()).toLocal8Bit());
    QApplication app(argc, argv);
    if (child)
        return runChild(argv[2], std::atoi(argv[3]));

    if (!smoke && !queue("start")) {
        std::fprintf(stderr, "the print queue could not be started (scripts/setup.sh test installs CUPS)\n");
        return 1;
    }
    // A smoke run prints the 29-page report once and measures memory at that size only.
    const int reportPages = smoke ? 29 : 290;
    const int rounds = smoke ? 1 : 3;
    std::vector<std::string> lines;
    PrintTimes bestPrint{1e300, 1e300, true};
    double bestFloor = 1e300;
    {
        Period period(rowsForPages(reportPages));
        int pages = 0;
        benchsupport::check(floorOnce(period, &pages) >= 0, "hematix-pages made no PDF");   // warms fonts and caches for both sides
        benchsupport::check(pages == reportPages, "the report had " + std::to_string(pages) + " pages, not " + std::to_string(reportPages));
        for (int round = 1; round <= rounds && !benchsupport::failed(); ++round) {
            const PrintTimes t = printOnce(period);
            const double f = floorOnce(period);
            if (!benchsupport::check(t.done, "round " + std::to_string(round) + ": the print queue did not complete the job") ||
                !benchsupport::check(f >= 0, "round " + std::to_string(round) + ": hematix-pages made no PDF"))
                break;
            char line[200];
            std::snprintf(line, sizeof line, "  round %d: print handed over %8.0f ms, PDF written %8.0f ms; floor %8.0f ms", round,
                          t.handedOver, t.written, f);
            lines.emplace_back(line);
            bestPrint.handedOver = std::min(bestPrint.handedOver, t.handedOver);
            bestPrint.written = std::min(bestPrint.written, t.written);
            bestFloor = std::min(bestFloor, f);
        }
    }
    long p29 = 0, p290 = 0, f29 = 0, f290 = 0;
    if (!benchsupport::failed()) {
        p29 = childPeakKb("print", 29);
        f29 = childPeakKb("floor", 29);
        if (!smoke) {
            p290 = childPeakKb("print", 290);
            f290 = childPeakKb("floor", 290);
        }
        benchsupport::check(p29 > 0 && f29 > 0 && (smoke || (p290 > 0 && f290 > 0)), "a memory measurement did not finish");
    }
    if (!smoke)
        queue("stop");
    if (smoke || benchsupport::failed())
        return benchsupport::exitStatus();

    std::printf("Period report: %d rows, %d pages, A4 landscape\n", rowsForPages(reportPages), reportPages);
    for (const std::string& line : lines)
        std::printf("%s\n", line.c_str());
    std::printf("Best of three: print %0.f ms (handed over %0.f ms), floor (generate + save + hematix-pages pdf) %0.f ms\n",
                bestPrint.written, bestPrint.handedOver, bestFloor);
    std::printf("Ratio print / floor: %.2f (program's part only, until the job is handed over: %.2f)\n",
                bestPrint.written / bestFloor, bestPrint.handedOver / bestFloor);
    std::printf("Peak memory (goal: independent of page count):\n");
    std::printf("  print  29 pages %7ld KB, 290 pages %7ld KB, ratio %.2f\n", p29, p290, double(p290) / double(p29));
    std::printf("  floor  29 pages %7ld KB, 290 pages %7ld KB, ratio %.2f\n", f29, f290, double(f290) / double(f29));
    std::printf("  print / floor at 290 pages: %.2f\n", double(p290) / double(f290));
    return 0;
}
