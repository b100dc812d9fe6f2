// "Печать" with an unreachable network printer installed, against the same print without it.
//
// Print: the result sheet of one row generated live onto the printer and handed to the PDF queue
// of a private print service (scripts/print-queue.sh), timed until the job is handed over and
// until the queue has written the PDF. The two sides take turns round by round: with a second
// printer, QUEUE_Far, a network queue at an address no host answers (print-queue.sh far-add), and
// without it. Each side starts as a program run does, asking the service once for its printers
// (timed on its own: the one ask a run pays); the prints after it must not ask again. Goal: the
// print with the unreachable printer at most 1.1x the print without it. Each side keeps its best
// of seven rounds.
//
// Every print must complete one job on the PDF queue and leave a new PDF in the queue's output
// folder; a side whose printer list is not the one it set up fails the run.
#include "bench/support/BulkTable.h"
#include "bench/support/Outcome.h"
#include "bench/support/PrintJobs.h"
#include "engine/DataSet.h"
#include "platform/Exception.h"
#include "platform/print/PrinterInfo.h"
#include "report/generation/RpGenerator.h"
#include "report/model/LayoutLoader.h"
#include "report/model/RpReport.h"
#include "report/printing/RpPrinting.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cups/cups.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

namespace {

QString gQueue;
QString gPointer;

bool queue(const char* action)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QStringLiteral(HEMATIX_SOURCE_DIR "/scripts/print-queue.sh"), {QString::fromLatin1(action), gPointer, gQueue});
    p.waitForFinished(60000);
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// The folder the queue writes its PDFs into (print-queue.sh records its state folder in POINTER).
QDir outFolder()
{
    QFile pointer(gPointer);
    pointer.open(QIODevice::ReadOnly);
    return QDir(QString::fromLocal8Bit(pointer.readAll().trimmed()) + QStringLiteral("/out"));
}

int jobs(int which) { return benchsupport::printJobs(which); }

bool waitIdle() { return benchsupport::waitPrintIdle(60000, 5); }

int gPrintErrors = 0;

// The result sheet of one stored row, set up as the program's "Печать" prints it.
struct Sheet {
    Sheet()
    {
        const QString table = benchsupport::writeResultTable(dir.path(), 1, [](int, const std::vector<DbfField>& fields, char* rec) {
            for (const DbfField& f : fields) {
                if (f.name == QLatin1String("DAT"))
                    dbfcodec::put(f, rec, DbfValue(QDate(2023, 6, 5)));
                else if (f.name == QLatin1String("NUM"))
                    dbfcodec::put(f, rec, DbfValue(QStringLiteral("100000001")));
                else if (f.name == QLatin1String("TIM"))
                    dbfcodec::put(f, rec, DbfValue(QStringLiteral("10:15:00")));
                else if (f.name == QLatin1String("FIO"))
                    dbfcodec::put(f, rec, DbfValue(QStringLiteral("Иванов Иван Иванович")));
                else if (f.type == 'C' && f.length == 10)
                    dbfcodec::put(f, rec, DbfValue(QStringLiteral("4.5")));
            }
        });
        data.SetName(QStringLiteral("Table1"));
        data.SetTableName(table);
        data.Open();
        data.Last();
        report = layoutloader::loadBuiltin(QStringLiteral("Report"), QString(), QLocale(QLocale::Russian, QLocale::Russia));
        layoutloader::resolveDataSets(*report, [&](const QString& w, const QString& c) -> TDataSet* {
            return w == QLatin1String("Form1") && c == QLatin1String("Table1") ? &data : nullptr;
        });
        report->ShowProgress = false;
        gen = std::make_unique<TRpGenerator>(*report);
        gen->ProcessEvents = [] {};
    }
    QTemporaryDir dir;
    TTable data;
    std::unique_ptr<TReport> report;
    std::unique_ptr<TRpGenerator> gen;
};

struct Times {
    double handedOver = 1e300;
    double written = 1e300;
    double asked = 1e300;   // the run's one ask of the service
};

// One print; false when no job completed, no new PDF appeared or an error was shown.
bool printOnce(Sheet& sheet, Times& best)
{
    const QDir out = outFolder();
    const QStringList before = out.entryList(QDir::Files);
    const int completed = jobs(CUPS_WHICHJOBS_COMPLETED);
    const int errors = gPrintErrors;
    QElapsedTimer t;
    t.start();
    try {
        rpprinting::PrintLive(*sheet.gen);
    } catch (const Exception& e) {
        ++gPrintErrors;
        std::fprintf(stderr, "print error: %s\n", qPrintable(e.message()));
    }
    const double handedOver = static_cast<double>(t.nsecsElapsed()) / 1e6;
    const bool idle = waitIdle();
    const double written = static_cast<double>(t.nsecsElapsed()) / 1e6;
    bool pdf = false;
    for (const QString& name : out.entryList(QDir::Files))
        if (!before.contains(name)) {
            QFile f(out.filePath(name));
            pdf = f.open(QIODevice::ReadOnly) && f.read(5) == "%PDF-";
            f.close();
            f.remove();
        }
    if (!benchsupport::check(idle && gPrintErrors == errors && jobs(CUPS_WHICHJOBS_COMPLETED) == completed + 1 && pdf,
                             "the print of the result sheet did not complete with a PDF"))
        return false;
    best.handedOver = std::min(best.handedOver, handedOver);
    best.written = std::min(best.written, written);
    return true;
}

// Sets up one side's printers and asks the service once, as a program run starts.
bool startSide(bool far, Times& best)
{
    if (!benchsupport::check(queue(far ? "far-add" : "far-remove"), "the unreachable printer could not be set up"))
        return false;
    QElapsedTimer t;
    t.start();
    PrinterInfo::refresh();
    best.asked = std::min(best.asked, static_cast<double>(t.nsecsElapsed()) / 1e6);
    const auto printers = PrinterInfo::printers();
    return benchsupport::check(!PrinterInfo::lastAskTimedOut() && printers.size() == (far ? 2 : 1) &&
                                   printers.front().name == gQueue,
                               far ? "the service did not list the PDF queue and the unreachable printer"
                                   : "the service did not list the PDF queue alone");
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool smoke = benchsupport::takeSmokeFlag(argc, argv);
    // A smoke run prints to the suite's queue (its socket in CUPS_SERVER, its state folder in
    // HEMATIX_PRINT_QUEUE_POINTER); a full run starts its own.
    QTemporaryDir own;
    if (smoke) {
        gPointer = qEnvironmentVariable("HEMATIX_PRINT_QUEUE_POINTER");
        gQueue = QFileInfo(qEnvironmentVariable("CUPS_SERVER")).completeBaseName();
        if (gPointer.isEmpty() || gQueue.isEmpty()) {
            std::fprintf(stderr, "--smoke prints to a running print queue: set CUPS_SERVER and HEMATIX_PRINT_QUEUE_POINTER\n");
            return 1;
        }
    } else {
        gQueue = QStringLiteral("HematixFar_%1").arg(QCoreApplication::applicationPid());
        gPointer = own.filePath(QStringLiteral("print-queue.dir"));
        qputenv("CUPS_SERVER", QStringLiteral("/tmp/%1.sock").arg(gQueue).toLocal8Bit());
    }
    QApplication app(argc, argv);
    if (!smoke && !queue("start")) {
        std::fprintf(stderr, "the print queue could not be started (scripts/setup.sh test installs CUPS)\n");
        return 1;
    }
    const int rounds = smoke ? 1 : 7;
    Times without, with;
    {
        Sheet sheet;
        // Warms fonts, the layout and the service's filters for both sides.
        Times warm;
        if (startSide(false, warm))
            printOnce(sheet, warm);
        for (int round = 0; round < rounds && !benchsupport::failed(); ++round) {
            // Alternate which side goes first, so that neither always follows the other.
            for (const bool far : {round % 2 == 1, round % 2 == 0})
                if (!startSide(far, far ? with : without) || !printOnce(sheet, far ? with : without))
                    break;
        }
    }
    queue("far-remove");
    if (!smoke)
        queue("stop");
    if (smoke || benchsupport::failed())
        return benchsupport::exitStatus();

    std::printf("Result sheet printed live to the PDF queue, best of %d rounds per side\n", rounds);
    std::printf("  without the unreachable printer: handed over %7.1f ms, PDF written %7.1f ms; the run's ask %6.1f ms\n",
                without.handedOver, without.written, without.asked);
    std::printf("  with it (ipp://192.0.2.1):       handed over %7.1f ms, PDF written %7.1f ms; the run's ask %6.1f ms\n",
                with.handedOver, with.written, with.asked);
    std::printf("Ratio with / without (goal at most 1.10): handed over %.2f, PDF written %.2f\n",
                with.handedOver / without.handedOver, with.written / without.written);
    return 0;
}
