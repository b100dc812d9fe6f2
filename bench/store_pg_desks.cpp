// Several desks on one PostgreSQL store. (a) From one program storing a message to the row in
// another program's grid (a table over the rows, its grid shown, told by the listener as the
// window is): the median and 99th percentile over a stream of messages, against the store's own
// time for a message in the same run (goals: median within 0.2 s, p99 within 2 s). (b) Two
// programs storing a backlog at once against one alone, as the import stores one (the disk
// waited for once per MessageImport::kFlushEvery messages): their messages a second together
// over one's (goal: at least 1.6x). Beside it, the same with every message waiting for the disk
// itself (store()), and two bare INSERT loops (one durable commit each) against one, which says
// what the machine itself gives a second writer of durable commits.
//
// The server is one of this program's own (or the test run's), with fsync and synchronous commits
// on: the figures are about durable commits.
#include "app/DBGrid.h"
#include "bench/support/Backlog.h"
#include "bench/support/BareInserts.h"
#include "bench/support/Messages.h"
#include "bench/support/Outcome.h"
#include "bench/support/RunTimes.h"
#include "bench/support/PgServer.h"
#include "engine/DataSet.h"
#include "store/pg/PgConnection.h"
#include "store/pg/PgListener.h"
#include "store/pg/PgResultStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>

namespace {

const benchsupport::PgServer* server = nullptr;
QTemporaryDir* folder = nullptr;
std::atomic_int sent{0};  // messages made so far, each a new identity

QString uriOf(const QString& database) { return server->uri(database); }

QString freshDatabase(const char* what)
{
    return server->freshDatabase(
        QStringLiteral("hx_bench_desks_%1_%2").arg(QCoreApplication::applicationPid()).arg(QLatin1String(what)));
}

ImportedRow row(int n) { return benchsupport::resultRow(u'D', n); }

using benchsupport::analyserMessage;
using benchsupport::percentile;

int streamLength() { return benchsupport::smoke() ? 20 : 300; }

// (a) The writer stores a message every 20 to 60 ms on a thread of its own; the reader's window
// thread notes when each row appears in its grid.
void BM_CommitToAnotherGrid(benchmark::State& state)
{
    const QString db = freshDatabase("visible");
    const int n = streamLength();
    std::vector<double> latencies, storeTimes;
    bool allSeen = true;
    for (auto _ : state) {
        PgResultStore readerStore(folder->path() + QLatin1Char('/'), uriOf(db));
        TTable table;
        struct Source : TDataSource {
            explicit Source(TDataSet* ds) { DataSet = ds; }
        } source(&table);
        TDBGrid grid(&source, nullptr);
        grid.addColumn(QStringLiteral("NUM"), QStringLiteral("NUM"));
        grid.resize(600, 400);
        grid.show();
        readerStore.attachRows(table);
        table.Open();
        PgListener listener(uriOf(db), 500, 2000);
        QObject::connect(&listener, &PgListener::rowsChanged, [&](qint64 first, qint64 last) { table.TakeChangedRecords(int(first), int(last)); });
        QObject::connect(&listener, &PgListener::missed, [&] { table.TakeChangedRecords(1, std::numeric_limits<int>::max()); });
        listener.start();

        QElapsedTimer clock;
        clock.start();
        std::mutex m;
        std::vector<qint64> began(size_t(n), -1);  // when each message's store began, by its place
        const int first = sent.fetch_add(n);
        std::thread writer([&] {
            PgResultStore store(folder->path() + QLatin1Char('/'), uriOf(db));
            for (int i = 0; i < n; ++i) {
                const qint64 at = clock.nsecsElapsed();
                {
                    std::lock_guard lock(m);
                    began[size_t(i)] = at;
                }
                store.store(row(first + i), analyserMessage(first + i));
                storeTimes.push_back(double(clock.nsecsElapsed() - at) / 1e6);
                std::this_thread::sleep_for(std::chrono::milliseconds(20 + (i * 7) % 41));
            }
        });
        const TField* num = table.FieldByName(QStringLiteral("NUM"));
        int seen = 0;
        while (seen < n && clock.elapsed() < 120000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            // The grid's rows past those seen: each one's number says which message it is.
            while (seen < n && grid.gridModel()->rowCount() > seen) {
                const int place = table.DisplayTextAt(seen + 1, num).mid(1).toInt() - first;
                std::lock_guard lock(m);
                if (place < 0 || place >= n || began[size_t(place)] < 0)
                    break;
                latencies.push_back(double(clock.nsecsElapsed() - began[size_t(place)]) / 1e6);
                ++seen;
            }
        }
        writer.join();
        allSeen = allSeen && seen == n;
    }
    server->dropDatabase(db);
    if (!benchsupport::check(state, allSeen, "every row stored appeared in the other grid"))
        return;
    state.counters["median_ms"] = percentile(latencies, 0.5);
    state.counters["p99_ms"] = percentile(latencies, 0.99);
    state.counters["store_ms"] = percentile(storeTimes, 0.5);
}

enum class Way { Backlog, EachOnDisk, Bare };

// (b) Messages a second of `writers` programs storing at once, each with its own connection,
// made before the clock starts: what is timed is storing alone.
void together(benchmark::State& state, Way way)
{
    const int writers = int(state.range(0));
    const bool bare = way == Way::Bare;
    const char* names[] = {"backlog", "each", "bare"};
    const QString db = freshDatabase((names[int(way)] + std::string(writers == 1 ? "_one" : "_two")).c_str());
    const int each = benchsupport::smoke() ? 20 : 3000;
    qint64 stored = 0;
    bool connected = true;
    for (auto _ : state) {
        std::vector<std::unique_ptr<PgResultStore>> stores;
        std::vector<std::unique_ptr<benchsupport::Backlog>> backlogs;
        std::vector<std::unique_ptr<benchsupport::BareInserts>> loops;
        std::vector<std::function<bool(int)>> writes;
        for (int w = 0; w < writers; ++w) {
            if (bare) {
                loops.push_back(std::make_unique<benchsupport::BareInserts>(uriOf(db)));
                connected = loops.back()->connected() && connected;
                writes.emplace_back([l = loops.back().get()](int n) { return l->insert(u'D', n); });
            } else {
                stores.push_back(std::make_unique<PgResultStore>(folder->path() + QLatin1Char('/'), uriOf(db)));
                QString why;
                connected = stores.back()->reachable(&why) && connected;
                if (way == Way::EachOnDisk)
                    writes.emplace_back([s = stores.back().get()](int n) {
                        return s->store(row(n), analyserMessage(n)).answer == ResultStore::Insert::Stored;
                    });
                else {
                    backlogs.push_back(std::make_unique<benchsupport::Backlog>(*stores.back()));
                    writes.emplace_back([b = backlogs.back().get()](int n) { return b->store(row(n), n); });
                }
            }
        }
        std::atomic<qint64> done{0};
        QElapsedTimer clock;
        clock.start();
        std::vector<std::thread> threads;
        for (const auto& write : writes)
            threads.emplace_back([&] {
                const int first = sent.fetch_add(each);
                for (int i = 0; i < each; ++i)
                    done += write(first + i);
            });
        for (std::thread& t : threads)
            t.join();
        // The last messages' wait for the disk, as at the end of an import's pass.
        for (const auto& backlog : backlogs)
            backlog->flush();
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        stored += done;
    }
    const qint64 expected = qint64(state.iterations()) * writers * each;
    const qint64 rows = pg::Connection(uriOf(db), 5).exec(QStringLiteral("SELECT count(*) FROM results")).scalar()->toLongLong();
    server->dropDatabase(db);
    if (benchsupport::check(state, connected && stored == expected && rows == expected, "every message stored once"))
        state.SetItemsProcessed(expected);
}

void BM_StoreTogether(benchmark::State& state) { together(state, Way::Backlog); }
void BM_StoreEachTogether(benchmark::State& state) { together(state, Way::EachOnDisk); }
void BM_BareTogether(benchmark::State& state) { together(state, Way::Bare); }

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    benchsupport::takeSmokeFlag(argc, argv);
    QApplication app(argc, argv);
    QTemporaryDir programFolder;
    folder = &programFolder;
    benchsupport::PgServer pg;
    try {
        if (!pg.startOrSay(QStringLiteral("benchdesks"), true))
            return benchsupport::exitStatus();
        server = &pg;
        benchmark::RegisterBenchmark("BM_CommitToAnotherGrid", BM_CommitToAnotherGrid)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
        // Taking turns, so that a slower minute of the machine falls on both.
        for (int round = 0; round < (benchsupport::smoke() ? 1 : 3); ++round)
            for (const auto& [name, fn] : std::initializer_list<std::pair<const char*, void (*)(benchmark::State&)>>{
                     {"BM_StoreTogether", BM_StoreTogether},
                     {"BM_StoreEachTogether", BM_StoreEachTogether},
                     {"BM_BareTogether", BM_BareTogether}})
                for (int writers : {1, 2})
                    benchmark::RegisterBenchmark(name, fn)
                        ->Arg(writers)
                        ->Iterations(1)
                        ->Unit(benchmark::kMillisecond)
                        ->UseManualTime();
        struct Figures : benchmark::ConsoleReporter {
            std::map<std::string, std::vector<double>> rates;
            double median = 0, p99 = 0, store = 0;
            void ReportRuns(const std::vector<Run>& runs) override
            {
                ConsoleReporter::ReportRuns(runs);
                for (const Run& r : runs) {
                    if (r.error_occurred)
                        continue;
                    if (r.run_name.function_name == "BM_CommitToAnotherGrid") {
                        median = r.counters.at("median_ms");
                        p99 = r.counters.at("p99_ms");
                        store = r.counters.at("store_ms");
                    } else if (r.counters.count("items_per_second")) {
                        rates[r.run_name.function_name + "/" + r.run_name.args].push_back(r.counters.at("items_per_second"));
                    }
                }
            }
            double rate(const std::string& key) { return percentile(rates[key], 0.5); }
            double together(const char* name) { return benchsupport::pairedRatio(rates[name + std::string("/2")], rates[name + std::string("/1")]); }
        } figures;
        if (!benchsupport::runBenchmarks(argc, argv, &figures))
            return 1;
        std::printf("From a commit to the row in another program's grid: median %.1f ms, p99 %.1f ms (goals: 200 ms, 2000 ms); "
                    "the median %.1fx a message's own store time (%.1f ms)\n",
                    figures.median, figures.p99, figures.store > 0 ? figures.median / figures.store : 0.0, figures.store);
        std::printf("Two programs storing a backlog at once, as the import does: %.2fx one program's messages a second "
                    "(%.0f against %.0f; the goal at least 1.6x)\n",
                    figures.together("BM_StoreTogether"), figures.rate("BM_StoreTogether/2"), figures.rate("BM_StoreTogether/1"));
        std::printf("The same with every message waiting for the disk itself: %.2fx one (%.0f against %.0f)\n",
                    figures.together("BM_StoreEachTogether"), figures.rate("BM_StoreEachTogether/2"),
                    figures.rate("BM_StoreEachTogether/1"));
        std::printf("Two bare INSERT loops at once, what this machine gives a second writer of durable commits: %.2fx one "
                    "(%.0f against %.0f rows a second)\n",
                    figures.together("BM_BareTogether"), figures.rate("BM_BareTogether/2"), figures.rate("BM_BareTogether/1"));
    } catch (const Exception& e) {
        benchsupport::check(false, e.message().toStdString());
        return benchsupport::exitStatus();
    }
    return 0;
}
