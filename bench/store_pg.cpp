// The PostgreSQL store: (a) storing messages with their archive entries, each in its own
// transaction, against a bare libpq loop of single-row INSERTs committed one by one (the same
// durability: synchronous_commit on), and as the import stores a backlog (benchsupport::Backlog);
// (b) the cost of a message at 1,000,000 rows against 10,000;
// (c) find and a patient's rows at 1,000,000 rows: near and far, common, short, and held by no row;
// (d) the period query of one day (1,000 rows) at 1,000,000 rows against the dBase store's on a
// table of the same rows (the goal: at most 0.1x).
//
// The server is the test run's or one of this program's own (bench/support/PgServer.h), with
// fsync on, since the figures are about durable commits. The rows are filled with generate_series,
// the dBase table's with the same values.
#include "bench/support/BareInserts.h"
#include "bench/support/Backlog.h"
#include "bench/support/BulkTable.h"
#include "bench/support/Messages.h"
#include "bench/support/Outcome.h"
#include "bench/support/PgServer.h"
#include "bench/support/RunTimes.h"
#include "engine/DataSet.h"
#include "link/MessageImport.h"
#include "store/DbfResultStore.h"
#include "store/ResultTable.h"
#include "store/pg/PgConnection.h"
#include "store/pg/PgResultStore.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <iterator>
#include <map>

namespace {

const benchsupport::PgServer* server = nullptr;
QTemporaryDir* folder; // the program folder the stores are given
int sent = 0;          // messages made so far: each is a new sample and a new capture

QString uriOf(const QString& database) { return server->uri(database); }

// A database filled with rows (and as many archive entries), made once per size.
QString database(int rows)
{
    static std::map<int, QString> made;
    if (const auto it = made.find(rows); it != made.end())
        return it->second;
    const QString name = server->freshDatabase(QStringLiteral("hx_bench_%1_%2").arg(QCoreApplication::applicationPid()).arg(rows));
    pg::Connection c(uriOf(name), 5);
    QStringList values;
    for (qsizetype i = 0; i < resulttable::valueFields().size(); ++i)
        values << QStringLiteral("'5.5 |'");
    // Patients of 20 rows each; numbers as the analyser gives them.
    c.exec(QStringLiteral("INSERT INTO results (dat, tim, num, fio, coe, reception, %1, identity_key) "
                          "SELECT date '2020-01-01' + g / 1000, '09:15:02', lpad(g::text, 9, '0'), "
                          "(ARRAY['Иванов','Петрова','Сидоров','Кузнецова','Смирнов'])[1 + g % 5] || ' ' || (g % 50000), "
                          "'', '', %2, md5(g::text) FROM generate_series(1, $1) g")
               .arg(resulttable::valueFields().join(QLatin1Char(',')).toLower(), values.join(QLatin1Char(','))),
           {QString::number(rows)});
    c.exec(QStringLiteral("INSERT INTO archive (seq, prev, time, kind, record, capture, entry) "
                          "SELECT g, repeat('0', 64), now() - interval '1 day', 'message', g, md5('c' || g), "
                          "'{\"seq\":' || g || ',\"kind\":\"message\"}' FROM generate_series(1, $1) g"),
           {QString::number(rows)});
    if (!benchsupport::PgServer::settle(c, {"results", "archive"}))
        throw EDatabaseError(QStringLiteral("The filled tables' pages were never all marked visible"));
    made[rows] = name;
    return name;
}

qint64 count(const QString& db, const char* table)
{
    return pg::Connection(uriOf(db), 5).exec(QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(table))).scalar()->toLongLong();
}

ImportedRow row(int n) { return benchsupport::resultRow(u'B', n); }

int messagesPerRound() { return benchsupport::smoke() ? 20 : 200; }

// args: rows before. Each message on disk before the next (store), or as the import stores a
// backlog.
void storing(benchmark::State& state, bool backlog)
{
    const QString db = database(int(state.range(0)));
    PgResultStore store(folder->path() + QLatin1Char('/'), uriOf(db));
    benchsupport::Backlog pass(store);
    const qint64 before = count(db, "archive");
    qint64 stored = 0;
    for (auto _ : state) {
        for (int i = 0; i < messagesPerRound(); ++i) {
            ++sent;
            stored += backlog ? pass.store(row(sent), sent)
                              : store.store(row(sent), benchsupport::analyserMessage(sent)).answer == ResultStore::Insert::Stored;
        }
        pass.flush();
    }
    const qint64 expected = qint64(state.iterations()) * messagesPerRound();
    benchsupport::check(state, stored == expected && count(db, "archive") - before == expected,
                        "every message stored once with its archive entry");
    state.SetItemsProcessed(expected);
}

void BM_StoreMessages(benchmark::State& state) { storing(state, false); }
void BM_StoreBacklog(benchmark::State& state) { storing(state, true); }

// The same rows through libpq alone: one INSERT a transaction, no archive, no function of ours.
void BM_BareInserts(benchmark::State& state)
{
    benchsupport::BareInserts bare(uriOf(database(int(state.range(0)))));
    if (!benchsupport::check(state, bare.connected(), "connected"))
        return;
    qint64 inserted = 0;
    for (auto _ : state)
        for (int i = 0; i < messagesPerRound(); ++i)
            inserted += bare.insert(u'B', ++sent);
    const qint64 expected = qint64(state.iterations()) * messagesPerRound();
    benchsupport::check(state, inserted == expected, "every row inserted");
    state.SetItemsProcessed(expected);
}

// What BM_Find asks, by its second argument.
const char* const findWhat[] = {"find part of a name", "find part of a number", "a patient's rows",
                                "find a text no row holds", "find 2 characters no row holds",
                                "find 1 character (a near row)", "find a common text round the end"};

// args: rows, what (findWhat).
void BM_Find(benchmark::State& state)
{
    const int rows = int(state.range(0));
    const QString db = database(rows);
    PgResultStore store(folder->path() + QLatin1Char('/'), uriOf(db));
    RowFinder& finder = store.finder();
    // Each found near the middle of the rows, from the start.
    const QString part = QStringLiteral("ова %1").arg(rows / 2 % 50000 / 10 * 10 + 1);
    const QString number = QString::number(rows / 2 + 7).right(6);
    const QString patient = QStringLiteral("Сидоров %1").arg((rows / 2 / 5 * 5 + 2) % 50000);
    const int what = int(state.range(1));
    int found = 0;
    for (auto _ : state) {
        switch (what) {
        case 0: found += finder.find(part, 0, false, {}).has_value(); break;
        case 1: found += finder.find(number, 0, false, {}).has_value(); break;
        case 2: found += !finder.patientRecords(patient, {}).isEmpty(); break;
        case 3: found += !finder.find(QStringLiteral("Нетакого"), 0, false, {}).has_value(); break;
        case 4: found += !finder.find(QStringLiteral("zq"), 0, false, {}).has_value(); break;
        case 5: found += finder.find(QStringLiteral("7"), rows / 2, false, {}).has_value(); break;
        default: found += finder.find(QStringLiteral("ова"), rows, false, {}).value_or(RowFinder::Match{}).wrapped; break;
        }
    }
    benchsupport::check(state, found == int(state.iterations()), "every request answered as expected");
}

// The dBase table of the rows database(rows) holds, made once per size.
QString dbfFolder(int rows)
{
    static std::map<int, std::unique_ptr<QTemporaryDir>> made;
    auto& dir = made[rows];
    if (!dir) {
        dir = std::make_unique<QTemporaryDir>();
        const QString names[] = {QStringLiteral("Иванов"), QStringLiteral("Петрова"), QStringLiteral("Сидоров"),
                                 QStringLiteral("Кузнецова"), QStringLiteral("Смирнов")};
        benchsupport::writeResultTable(dir->path() + QLatin1Char('/'), rows, [&](int i, const std::vector<DbfField>& fields, char* rec) {
            const int g = i + 1;
            for (const DbfField& f : fields) {
                if (f.name == QLatin1String("DAT"))
                    dbfcodec::put(f, rec, DbfValue(QDate(2020, 1, 1).addDays(g / 1000)));
                else if (f.name == QLatin1String("TIM"))
                    dbfcodec::put(f, rec, DbfValue(QStringLiteral("09:15:02")));
                else if (f.name == QLatin1String("NUM"))
                    dbfcodec::put(f, rec, DbfValue(QString::number(g).rightJustified(9, u'0')));
                else if (f.name == QLatin1String("FIO"))
                    dbfcodec::put(f, rec, DbfValue(names[g % 5] + QLatin1Char(' ') + QString::number(g % 50000)));
                else if (resulttable::valueFields().contains(f.name))
                    dbfcodec::put(f, rec, DbfValue(QStringLiteral("5.5 |")));
            }
        });
    }
    return dir->path() + QLatin1Char('/');
}

// The day in the middle of `rows` rows: 1,000 rows of it (generate_series puts g / 1000 days
// after 2020-01-01).
QDate middleDay(int rows) { return QDate(2020, 1, 1).addDays(rows / 2 / 1000); }

// args: rows. The period report's query of one day, its rows read whole, on either store.
void periodDay(benchmark::State& state, ResultStore& store)
{
    const int rows = int(state.range(0));
    const QDate day = middleDay(rows);
    int read = 0;
    bool right = true;
    for (auto _ : state) {
        TQuery query;
        store.selectPeriod(query, day, day);
        read = 0;
        const TField* num = query.FieldByName(QStringLiteral("NUM"));
        const TField* dat = query.FieldByName(QStringLiteral("DAT"));
        for (; !query.Eof(); query.Next()) {
            ++read;
            right = right && dat->AsDate() == day && !num->AsString().isEmpty();
        }
    }
    benchsupport::check(state, read == 1000 && right, "the day's 1000 rows read, " + std::to_string(read) + " found");
}

void BM_PgPeriodDay(benchmark::State& state)
{
    PgResultStore store(folder->path() + QLatin1Char('/'), uriOf(database(int(state.range(0)))));
    periodDay(state, store);
}

void BM_DbfPeriodDay(benchmark::State& state)
{
    DbfResultStore store(dbfFolder(int(state.range(0))));
    periodDay(state, store);
}

void registerAll()
{
    const int small = benchsupport::smoke() ? 200 : 10000;
    const int large = benchsupport::smoke() ? 2000 : 1000000;
    auto add = [](const char* name, void (*fn)(benchmark::State&), std::vector<int64_t> args) {
        auto* b = benchmark::RegisterBenchmark(name, fn)->Args(args)->Unit(benchmark::kMillisecond)->UseRealTime();
        if (benchsupport::smoke())
            b->Iterations(1);
        else
            b->MinTime(2.0);
    };
    // Taking turns over both sizes, three rounds (each ratio is the median of the rounds' own),
    // so that a slower minute of the machine falls on both.
    for (int round = 0; round < (benchsupport::smoke() ? 1 : 3); ++round)
        for (int rows : {small, large}) {
            add("BM_BareInserts", BM_BareInserts, {rows});
            add("BM_StoreMessages", BM_StoreMessages, {rows});
            add("BM_StoreBacklog", BM_StoreBacklog, {rows});
        }
    for (int what = 0; what < int(std::size(findWhat)); ++what)
        add("BM_Find", BM_Find, {large, what});
    add("BM_DbfPeriodDay", BM_DbfPeriodDay, {large});
    add("BM_PgPeriodDay", BM_PgPeriodDay, {large});
}

void printRatios(const benchsupport::RunTimes& times, int small, int large)
{
    auto at = [&](const std::string& key) { return times.at(key); };
    const std::string s = std::to_string(small), l = std::to_string(large);
    std::printf("Storing messages with their archive entries: %.2fx the throughput of bare single-row INSERTs "
                "(%s rows; %.2fx at %s rows)\n",
                times.ratio("BM_BareInserts/" + s, "BM_StoreMessages/" + s), s.c_str(),
                times.ratio("BM_BareInserts/" + l, "BM_StoreMessages/" + l), l.c_str());
    std::printf("Storing a backlog as the import does (the disk waited for once per %d messages): %.2fx the same bare "
                "INSERTs (%s rows; %.2fx at %s rows)\n",
                MessageImport::kFlushEvery, times.ratio("BM_BareInserts/" + s, "BM_StoreBacklog/" + s), s.c_str(),
                times.ratio("BM_BareInserts/" + l, "BM_StoreBacklog/" + l), l.c_str());
    std::printf("A message's cost at %s rows: %.2fx at %s rows (%.2f ms a message)\n", l.c_str(),
                times.ratio("BM_StoreMessages/" + l, "BM_StoreMessages/" + s), s.c_str(),
                at("BM_StoreMessages/" + l) / messagesPerRound());
    for (int i = 0; i < int(std::size(findWhat)); ++i)
        std::printf("At %s rows, %s: %.2f ms\n", l.c_str(), findWhat[i], at("BM_Find/" + l + "/" + std::to_string(i)));
    const double pgDay = at("BM_PgPeriodDay/" + l), dbfDay = at("BM_DbfPeriodDay/" + l);
    std::printf("The period query of one day (1000 rows) at %s rows: %.3fx the dBase store's (%.2f ms against %.2f ms; "
                "the goal at most 0.1x)\n",
                l.c_str(), pgDay / dbfDay, pgDay, dbfDay);
}

} // namespace

int main(int argc, char** argv)
{
    benchsupport::takeSmokeFlag(argc, argv);
    QCoreApplication app(argc, argv);
    QTemporaryDir programFolder;
    folder = &programFolder;
    benchsupport::PgServer pg;
    try {
        if (!pg.startOrSay(QStringLiteral("bench"), true))
            return benchsupport::exitStatus();
        server = &pg;
        registerAll();
        benchsupport::RunTimes reporter;
        if (!benchsupport::runBenchmarks(argc, argv, &reporter))
            return 1;
        printRatios(reporter, benchsupport::smoke() ? 200 : 10000, benchsupport::smoke() ? 2000 : 1000000);
    } catch (const Exception& e) {
        benchsupport::check(false, e.message().toStdString());
        return benchsupport::exitStatus();
    }
    return 0;
}
