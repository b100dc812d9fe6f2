// Import throughput: messages per second from a waiting capture file to a durable row, against
// the same number of direct single-row inserts of the same statements through the engine (the
// floor: no capture file to find, read, parse or remove, no table refresh). The line brings about
// one message per second at 9600 baud, so the import's rate over 1/s is its headroom.
#include "engine/DataSet.h"
#include "link/AnalyserSimulator.h"
#include "link/CaptureFiles.h"
#include "link/MessageImport.h"
#include "store/ResultTable.h"
#include "store/Statements.h"

#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;

QList<QByteArray> captures(int count)
{
    sim::MessageGenerator gen(99, QDateTime(QDate(2023, 6, 5), QTime(8, 0, 0)));
    QList<QByteArray> out;
    for (int i = 0; i < count; ++i)
        out.append(sim::wireBytes(gen.next()).chopped(1));  // ENQ and frames, as the receiver keeps them
    return out;
}

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

// Seconds for count direct inserts of the statements the messages make.
double floorSeconds(const QList<QByteArray>& messages)
{
    Folder f;
    std::vector<QStringList> statements;
    for (const QByteArray& m : messages)
        statements.push_back(insertStatement(f.path, parseCaptureFile(m).row));
    const auto t0 = Clock::now();
    for (const QStringList& sql : statements) {
        f.query.Close();
        f.query.SQL = sql;
        f.query.ExecSQL();
    }
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Seconds the import spends on count messages arriving one per pass, as the line brings them.
// Writing each capture file is the receiver's work and is not counted.
double importSeconds(const QList<QByteArray>& messages, int* rows)
{
    Folder f;
    int failures = 0;
    MessageImport import(f.path, f.query, &f.table, [&](const QString&) { ++failures; });
    capture::CaptureWriter writer(f.path);
    Clock::duration spent{};
    for (const QByteArray& m : messages) {
        QString error;
        writer.write(m, &error);
        const auto t0 = Clock::now();
        import.tick();
        spent += Clock::now() - t0;
    }
    f.table.Refresh();
    *rows = failures == 0 ? f.table.RecordCount() : -failures;
    return std::chrono::duration<double>(spent).count();
}

void BM_ImportThroughput(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    const QList<QByteArray> messages = captures(count);
    double floorRate = 0;
    double importRate = 0;
    int rows = 0;
    for (auto _ : state) {
        floorRate = count / floorSeconds(messages);
        importRate = count / importSeconds(messages, &rows);
    }
    if (rows != count)
        state.SkipWithError("the import did not make one row per message");
    state.counters["floor_msg_per_s"] = floorRate;
    state.counters["import_msg_per_s"] = importRate;
    state.counters["import_vs_floor"] = importRate / floorRate;
    state.counters["import_vs_line_1_per_s"] = importRate;
    std::printf("\nImport of %d messages: %.0f msg/s; direct inserts (floor): %.0f msg/s; "
                "ratio %.2f (goal >= 0.5); %.0f times the line's 1 msg/s\n",
                count, importRate, floorRate, importRate / floorRate, importRate);
}
BENCHMARK(BM_ImportThroughput)->Arg(200)->Arg(500)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
