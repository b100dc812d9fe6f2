// The import with the main window open: rounds of 100 new messages, each a capture file taken by
// the import's timer handler, inserted, the table refreshed and the grid brought up to date and
// repainted, on result tables of 10,000 and 1,000,000 rows (a few years of a busy laboratory).
// The baseline is the 10,000-row table in the same run; the goal is a per-message cost at a
// million rows within 1.2 times that: appending a row and showing it must not grow with the table.
#include "app/Application.h"
#include "app/DBGrid.h"
#include "app/Forms.h"
#include "app/Startup.h"
#include "app/Unit1.h"
#include "bench/support/BulkTable.h"
#include "bench/support/Captures.h"
#include "bench/support/Outcome.h"
#include "engine/DataSet.h"
#include "link/CaptureFiles.h"
#include "link/MessageImport.h"
#include "store/ResultTable.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// A program folder on the build's disk (durable writes cost there what they cost in the lab)
// with a result table of n rows, written and synced before anything is timed.
struct Folder {
    QTemporaryDir dir{QStringLiteral(HEMATIX_BIN_DIR "/bench-app-import-XXXXXX")};
    QString path;
    explicit Folder(int rows)
    {
        path = dir.path() + QLatin1Char('/');
        QDir(path).mkpath(QStringLiteral("Temp"));
        const QString table = benchsupport::writeResultTable(path, rows, [](int i, const std::vector<DbfField>& fields, char* rec) {
            for (const DbfField& field : fields) {
                QString v;
                if (field.name == QLatin1String("DAT"))
                    v = QStringLiteral("6/5/2023");
                else if (field.name == QLatin1String("NUM"))
                    v = QString::number(i + 1).rightJustified(9, u'0');
                else if (field.type == 'C' && field.length == 10)
                    v = QStringLiteral("7.5 |");
                if (!v.isEmpty())
                    dbfcodec::put(field, rec, DbfValue(v));
            }
        });
        const int fd = ::open(QFile::encodeName(table).constData(), O_RDONLY);
        if (fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
    }
};

// Runs every event that is waiting, deferred work and repaints included, until none is left.
void settle()
{
    QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance();
    for (int i = 0; i < 100000 && d->processEvents(QEventLoop::AllEvents); ++i) {
    }
}

// Seconds per message over one round of imports with the main window shown.
double round(const Folder& folder, const QList<QByteArray>& messages, int* errors)
{
    startup::setExecutablePathForTesting(folder.path + QStringLiteral("hematix"));
    forms::createAll();
    Form1->showMaximized();
    settle();
    capture::CaptureWriter writer(folder.path);
    Clock::duration spent{};
    for (const QByteArray& m : messages) {
        QString error;
        if (writer.write(m, &error).isEmpty())
            ++*errors;
        const auto t0 = Clock::now();
        Form1->Timer1Timer();
        settle();
        spent += Clock::now() - t0;
    }
    forms::destroyAll();
    return std::chrono::duration<double>(spent).count() / double(messages.size());
}

// Records in the folder's result table, read outside the timed part.
int recordsIn(const Folder& folder)
{
    TTable table;
    table.SetTableName(resulttable::tableFile(folder.path));
    table.Open();
    table.Last();
    return table.RecNo();
}

int messagesPerRound() { return benchsupport::smoke() ? 5 : 100; }

std::map<int, double> best;

void BM_ImportWithMainWindow(benchmark::State& state)
{
    const int rows = static_cast<int>(state.range(0));
    Folder folder(rows);
    double fastest = 1e9;
    int roundNo = 0;
    for (auto _ : state) {
        // Each round brings messages never stored before (other sample numbers, a later day):
        // the import stores a message once, and a round of messages already there inserts nothing.
        const QList<QByteArray> messages = benchsupport::captures(messagesPerRound(), 42u + unsigned(roundNo),
                                                                  QDate(2023, 6, 5).addDays(roundNo));
        ++roundNo;
        const int before = recordsIn(folder);
        int errors = 0;
        const double perMessage = round(folder, messages, &errors);
        const int inserted = recordsIn(folder) - before;
        if (!benchsupport::check(state, errors == 0 && inserted == messages.size(),
                                 "round " + std::to_string(roundNo) + " at " + std::to_string(rows) + " rows: " +
                                     std::to_string(inserted) + " rows for " + std::to_string(messages.size()) +
                                     " messages, " + std::to_string(errors) + " capture files not written"))
            return;
        fastest = std::min(fastest, perMessage);
    }
    best[rows] = fastest;
    state.counters["ms_per_message"] = fastest * 1000;
}

void registerAll()
{
    // Two rounds at least even in a smoke run: a second round that inserts nothing is the fault
    // most worth catching.
    const int rounds = benchsupport::smoke() ? 2 : 3;
    auto* b = benchmark::RegisterBenchmark("BM_ImportWithMainWindow", BM_ImportWithMainWindow);
    b->Arg(10000);
    if (!benchsupport::smoke())
        b->Arg(1000000);
    b->Iterations(rounds)->Unit(benchmark::kMillisecond);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    benchsupport::takeSmokeFlag(argc, argv);
    QApplication app(argc, argv);
    hematix::setUpApplication();
    registerAll();
    if (!benchsupport::runBenchmarks(argc, argv))
        return 1;
    if (best.count(10000) && best.count(1000000)) {
        const double ratio = best[1000000] / best[10000];
        std::printf("\nImport with the main window open, best round of %d messages:\n"
                    "  10,000 rows: %.2f ms per message; 1,000,000 rows: %.2f ms per message\n"
                    "  ratio 1,000,000 / 10,000: %.2f (goal <= 1.2)\n",
                    messagesPerRound(), best[10000] * 1000, best[1000000] * 1000, ratio);
    }
    return 0;
}
