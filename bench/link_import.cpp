// Import throughput: messages per second from a waiting capture file to a durable row, against
// the same number of direct single-row inserts of the same statements through the engine (the
// floor: no capture file to find, read, parse or remove, no table refresh). The line brings about
// one message per second at 9600 baud, so the import's rate over 1/s is its headroom.
#include "bench/support/Captures.h"
#include "bench/support/Outcome.h"
#include "engine/DataSet.h"
#include "link/CaptureFiles.h"
#include "link/MessageImport.h"
#include "store/DbfResultStore.h"
#include "store/ResultTable.h"
#include "store/Statements.h"

#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;

struct Folder {
    QTemporaryDir dir;
    QString path;
    TTable table;
    TQuery query;
    Folder()
    {
        path = dir.path() + QLatin1Char('/');
        QDir(path).mkpath(QStringLiteral("Temp"));
        resulttable::create(path);
        table.SetTableName(resulttable::tableFile(path));
        table.Open();
    }
};

struct Timing {
    double floorSeconds = 0;
    double importSeconds = 0;
    int floorRows = 0;
    int importRows = 0;
    int errors = 0;
};

// Both paths take the messages in turn, one message each, so that both see the same load on a
// shared machine. The import gets each message as the line brings it: one capture file waiting
// per pass. Writing the capture file is the receiver's work and is not counted; the floor's
// statements are built beforehand.
Timing measure(const QList<QByteArray>& messages)
{
    Folder direct;
    Folder imported;
    std::vector<QStringList> statements;
    for (const QByteArray& m : messages)
        statements.push_back(insertStatement(direct.path, parseCaptureFile(m).row));
    Timing t;
    DbfResultStore store(imported.path, &imported.query);
    MessageImport import(imported.path, store, [&](const QString&) { ++t.errors; },
                         [&] { imported.table.Refresh(); });
    capture::CaptureWriter writer(imported.path);
    Clock::duration floorSpent{};
    Clock::duration importSpent{};
    for (qsizetype i = 0; i < messages.size(); ++i) {
        auto t0 = Clock::now();
        direct.query.Close();
        direct.query.SQL = statements[size_t(i)];
        direct.query.ExecSQL();
        floorSpent += Clock::now() - t0;

        QString error;
        writer.write(messages[i], &error);
        t0 = Clock::now();
        import.tick();
        importSpent += Clock::now() - t0;
    }
    direct.table.Refresh();
    imported.table.Refresh();
    t.floorRows = direct.table.RecordCount();
    t.importRows = imported.table.RecordCount();
    t.floorSeconds = std::chrono::duration<double>(floorSpent).count();
    t.importSeconds = std::chrono::duration<double>(importSpent).count();
    return t;
}

void BM_ImportThroughput(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    const QList<QByteArray> messages = benchsupport::captures(count, 99);
    double floorRate = 0;
    double importRate = 0;
    for (auto _ : state) {
        const Timing t = measure(messages);
        if (!benchsupport::check(state, t.errors == 0 && t.importRows == count && t.floorRows == count,
                                 std::to_string(count) + " messages made " + std::to_string(t.importRows) +
                                     " rows by import (" + std::to_string(t.errors) + " errors) and " +
                                     std::to_string(t.floorRows) + " by direct inserts"))
            return;
        floorRate = count / t.floorSeconds;
        importRate = count / t.importSeconds;
    }
    state.counters["floor_msg_per_s"] = floorRate;
    state.counters["import_msg_per_s"] = importRate;
    state.counters["import_vs_floor"] = importRate / floorRate;
    state.counters["import_vs_line_1_per_s"] = importRate;
    std::printf("\nImport of %d messages: %.0f msg/s; direct inserts (floor): %.0f msg/s; "
                "ratio %.2f (goal >= 0.8); %.0f times the line's 1 msg/s\n",
                count, importRate, floorRate, importRate / floorRate, importRate);
}

void registerAll()
{
    auto* b = benchmark::RegisterBenchmark("BM_ImportThroughput", BM_ImportThroughput);
    if (benchsupport::smoke())
        b->Arg(20);
    else
        b->Arg(200)->Arg(500);
    b->Iterations(1)->Unit(benchmark::kMillisecond);
}

} // namespace

int main(int argc, char** argv)
{
    benchsupport::takeSmokeFlag(argc, argv);
    registerAll();
    return benchsupport::runBenchmarks(argc, argv) ? 0 : 1;
}
