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
#include "bench/support/PeakMemory.h"
#include "bench/support/PeriodPages.h"
#include "engine/DataSet.h"
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

void waitIdle()
{
    for (;;) {
        cups_job_t* jobs = nullptr;
        const int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, nullptr, 0, CUPS_WHICHJOBS_ACTIVE);
        cupsFreeJobs(n, jobs);
        if (n <= 0)
            return;
        QThread::msleep(20);
    }
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
        rpprinting::ShowError = [](const QString& m) { std::fprintf(stderr, "print error: %s\n", qPrintable(m)); };
        rpprinting::Install(*gen);
    }
    QTemporaryDir dir;
    TTable data;
    std::unique_ptr<TReport> report;
    std::unique_ptr<TRpGenerator> gen;
};

struct PrintTimes {
    double handedOver = 0;   // ms until the job is with the print service
    double written = 0;      // ms until the queue has written the PDF
};

PrintTimes printOnce(Period& p)
{
    QElapsedTimer t;
    t.start();
    p.gen->Print();
    PrintTimes r;
    r.handedOver = static_cast<double>(t.nsecsElapsed()) / 1e6;
    waitIdle();
    r.written = static_cast<double>(t.nsecsElapsed()) / 1e6;
    return r;
}

// Pages into the store, saved, rendered by hematix-pages; returns ms.
double floorOnce(Period& p, int* pages = nullptr)
{
    const QString hrp = p.dir.filePath(QStringLiteral("period.hrp"));
    const QString pdf = p.dir.filePath(QStringLiteral("period.pdf"));
    QElapsedTimer t;
    t.start();
    p.gen->Preview();
    p.gen->Recorder()->Save(hrp);
    if (pages)
        *pages = p.gen->Recorder()->PageCount();
    QProcess tool;
    tool.start(QStringLiteral(HEMATIX_BIN_DIR "/hematix-pages"), {QStringLiteral("pdf"), hrp, pdf});
    tool.waitForFinished(600000);
    const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
    if (tool.exitCode() != 0 || !QFile::exists(pdf))
        std::fprintf(stderr, "hematix-pages pdf failed: %s\n", tool.readAllStandardError().constData());
    return ms;
}

// Child: prints a report of n pages ("print") and reports its own peak, or renders it to PDF
// through the tool ("floor") and reports the larger of its own peak and the tool's.
int runChild(const char* mode, int pages)
{
    Period p(rowsForPages(pages));
    if (std::strcmp(mode, "print") == 0) {
        printOnce(p);
        std::printf("%ld\n", maxRssKb());
    } else {
        floorOnce(p);
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
    const bool child = argc == 4 && std::strcmp(argv[1], "--child") == 0;
    // The queue's name carries the parent's process number; children inherit the address.
    if (!child)
        qputenv("CUPS_SERVER", QStringLiteral("/tmp/HematixBench_%1.sock").arg(QCoreApplication::applicationPid()).toLocal8Bit());
    QApplication app(argc, argv);
    if (child)
        return runChild(argv[2], std::atoi(argv[3]));

    if (!queue("start")) {
        std::fprintf(stderr, "the print queue could not be started (scripts/setup.sh test installs CUPS)\n");
        return 1;
    }
    int rc = 0;
    {
        Period period(rowsForPages(290));
        int pages = 0;
        floorOnce(period, &pages);   // warms fonts and caches for both sides
        std::printf("Period report: %d rows, %d pages, A4 landscape\n", rowsForPages(290), pages);
        PrintTimes bestPrint{1e300, 1e300};
        double bestFloor = 1e300;
        for (int round = 1; round <= 3; ++round) {
            const PrintTimes t = printOnce(period);
            const double f = floorOnce(period);
            std::printf("  round %d: print handed over %8.0f ms, PDF written %8.0f ms; floor %8.0f ms\n", round,
                        t.handedOver, t.written, f);
            bestPrint.handedOver = std::min(bestPrint.handedOver, t.handedOver);
            bestPrint.written = std::min(bestPrint.written, t.written);
            bestFloor = std::min(bestFloor, f);
        }
        std::printf("Best of three: print %0.f ms (handed over %0.f ms), floor (generate + save + hematix-pages pdf) %0.f ms\n",
                    bestPrint.written, bestPrint.handedOver, bestFloor);
        std::printf("Ratio print / floor: %.2f (program's part only, until the job is handed over: %.2f)\n",
                    bestPrint.written / bestFloor, bestPrint.handedOver / bestFloor);
        if (pages != 290)
            rc = 1;
    }
    const long p29 = childPeakKb("print", 29), p290 = childPeakKb("print", 290);
    const long f29 = childPeakKb("floor", 29), f290 = childPeakKb("floor", 290);
    std::printf("Peak memory (goal: independent of page count):\n");
    std::printf("  print  29 pages %7ld KB, 290 pages %7ld KB, ratio %.2f\n", p29, p290,
                p29 > 0 ? double(p290) / double(p29) : 0.0);
    std::printf("  floor  29 pages %7ld KB, 290 pages %7ld KB, ratio %.2f\n", f29, f290,
                f29 > 0 ? double(f290) / double(f29) : 0.0);
    std::printf("  print / floor at 290 pages: %.2f\n", f290 > 0 ? double(p290) / double(f290) : 0.0);
    queue("stop");
    return rc;
}
