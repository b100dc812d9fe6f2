// The index of sample numbers and patient names beside the result table, at 10,000 and
// 1,000,000 rows (each patient has 20 rows at both sizes):
//  (a) making it from the table, against reading the table's records and doing nothing with them;
//  (b) a find that reads every row (a text no row holds) and one found near the end, against
//      SQLite's LIKE over a name column folded beforehand and the number column of the same rows
//      (the goal: at most 1x);
//  (c) a patient's history as the window gets it (the rows and their values read), at 1,000,000
//      rows against 10,000 (the goal: flat);
//  (d) storing rows with the index kept up to date after each, against storing them without an
//      index (the goal: at least 0.9x the throughput).
// Ratios are printed at the end; the absolute times of (a) and (b) answer "within 10 s" and
// "within 0.3 s" at a million rows.
#include "bench/support/BulkTable.h"
#include "bench/support/Outcome.h"
#include "bench/support/RunTimes.h"
#include "engine/DbfFieldCodec.h"
#include "engine/DbfFile.h"
#include "reading/PatientHistory.h"
#include "store/DbfNameIndex.h"
#include "store/DbfResultStore.h"
#include "store/ResultTable.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <map>
#include <memory>

namespace {

constexpr int kRowsPerPatient = 20;
const char* const kSurnames[] = {"Иванов", "Петрова", "Сидоров", "Кузнецова", "Смирнов", "Попова", "Лебедев", "Козлова"};

// Patient p's name: a surname, and a number that makes it the patient's own.
QString patientName(int p)
{
    return QStringLiteral("%1 Пациент %2").arg(QString::fromUtf8(kSurnames[p % 8])).arg(p);
}
QString sampleNumber(int i) { return QString::number(i + 1).rightJustified(9, u'0'); }

struct Table {
    QTemporaryDir dir;
    QString folder;
    QString path;
    int rows = 0;
    int patients() const { return rows / kRowsPerPatient; }
};

Table& tableOf(int rows)
{
    static std::map<int, std::unique_ptr<Table>> tables;
    auto& t = tables[rows];
    if (!t) {
        t = std::make_unique<Table>();
        t->rows = rows;
        t->folder = t->dir.path() + "/";
        const int patients = rows / kRowsPerPatient;
        t->path = benchsupport::writeResultTable(t->folder, rows, [&](int i, const std::vector<DbfField>& fields, char* rec) {
            for (const DbfField& f : fields) {
                QString v;
                if (f.name == QLatin1String("DAT"))
                    v = QStringLiteral("6/5/2023");
                else if (f.name == QLatin1String("TIM"))
                    v = QStringLiteral("14:03:07");
                else if (f.name == QLatin1String("NUM"))
                    v = sampleNumber(i);
                else if (f.name == QLatin1String("FIO"))
                    v = patientName(i % patients);
                else if (f.type == 'C' && f.length == 10)
                    v = QStringLiteral("%1.%2 |").arg(i % 200).arg(i % 10);
                if (!v.isEmpty())
                    dbfcodec::put(f, rec, DbfValue(v));
            }
        });
    }
    return *t;
}

void BM_ReadRecords(benchmark::State& state)
{
    Table& t = tableOf(int(state.range(0)));
    qint64 seen = 0;
    for (auto _ : state) {
        DbfFile file(t.path, DbfFile::Access::ReadOnly);
        seen = 0;
        file.scan(0, file.recordCount(), [&](int, const char* r) { seen += r[0] != '*'; });
        benchmark::DoNotOptimize(seen);
    }
    benchsupport::check(state, seen == t.rows, "read " + std::to_string(seen) + " of " + std::to_string(t.rows) + " rows");
}

void BM_MakeIndex(benchmark::State& state)
{
    Table& t = tableOf(int(state.range(0)));
    bool ready = true;
    for (auto _ : state) {
        QFile::remove(DbfNameIndex::cacheFile(t.path));
        DbfNameIndex index(t.path);
        index.open();
        ready = ready && index.waitReady() && !index.fromCache();
        state.PauseTiming();
        ready = ready && index.patientRecords(patientName(t.patients() - 1), {}).size() == kRowsPerPatient;
        state.ResumeTiming();
    }
    benchsupport::check(state, ready, "the index was not made from the table or misses a patient's rows");
}

// One index per size, made once, for the requests.
DbfNameIndex& indexOf(Table& t)
{
    static std::map<int, std::unique_ptr<DbfNameIndex>> indexes;
    auto& ix = indexes[t.rows];
    if (!ix) {
        ix = std::make_unique<DbfNameIndex>(t.path);
        ix->open();
        ix->waitReady();
    }
    return *ix;
}

// What is looked for: a name no row holds (every row read) and the last patient's name part.
QString lookedFor(int kind, const Table& t)
{
    return kind == 0 ? QStringLiteral("Никто") : QStringLiteral("Пациент %1").arg(t.patients() - 1);
}

void BM_Find(benchmark::State& state)
{
    Table& t = tableOf(int(state.range(0)));
    DbfNameIndex& index = indexOf(t);
    const QString text = lookedFor(int(state.range(1)), t);
    int found = -1;
    for (auto _ : state) {
        const auto m = index.find(text, 0, false, {});
        found = m ? m->record : 0;
    }
    const int expected = state.range(1) == 0 ? 0 : t.patients();
    benchsupport::check(state, found == expected, "found record " + std::to_string(found) + ", not " + std::to_string(expected));
}

// SQLite over the same rows: record, number and the name folded beforehand, no index on them.
sqlite3* sqliteOf(Table& t)
{
    static std::map<int, sqlite3*> dbs;
    sqlite3*& db = dbs[t.rows];
    if (!db) {
        sqlite3_open(":memory:", &db);
        sqlite3_exec(db, "CREATE TABLE r(rec INTEGER PRIMARY KEY, num TEXT, name TEXT)", nullptr, nullptr, nullptr);
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* ins = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO r VALUES(?,?,?)", -1, &ins, nullptr);
        for (int i = 0; i < t.rows; ++i) {
            const QByteArray num = sampleNumber(i).toUtf8();
            const QByteArray name = patientName(i % t.patients()).toLower().toUtf8();
            sqlite3_bind_int(ins, 1, i + 1);
            sqlite3_bind_text(ins, 2, num.constData(), int(num.size()), SQLITE_TRANSIENT);
            sqlite3_bind_text(ins, 3, name.constData(), int(name.size()), SQLITE_TRANSIENT);
            sqlite3_step(ins);
            sqlite3_reset(ins);
        }
        sqlite3_finalize(ins);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
    return db;
}

void BM_SqliteLike(benchmark::State& state)
{
    Table& t = tableOf(int(state.range(0)));
    sqlite3* db = sqliteOf(t);
    const QByteArray pattern = "%" + lookedFor(int(state.range(1)), t).toLower().toUtf8() + "%";
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(db, "SELECT rec FROM r WHERE rec > ? AND (num LIKE ?2 OR name LIKE ?2) ORDER BY rec LIMIT 1", -1,
                       &q, nullptr);
    int found = -1;
    for (auto _ : state) {
        sqlite3_bind_int(q, 1, 0);
        sqlite3_bind_text(q, 2, pattern.constData(), int(pattern.size()), SQLITE_STATIC);
        found = sqlite3_step(q) == SQLITE_ROW ? sqlite3_column_int(q, 0) : 0;
        sqlite3_reset(q);
    }
    sqlite3_finalize(q);
    const int expected = state.range(1) == 0 ? 0 : t.patients();
    benchsupport::check(state, found == expected, "SQLite found record " + std::to_string(found));
}

void BM_PatientHistory(benchmark::State& state)
{
    Table& t = tableOf(int(state.range(0)));
    DbfNameIndex& index = indexOf(t);
    const QString name = patientName(t.patients() / 2);
    qsizetype lines = 0;
    for (auto _ : state) {
        QList<reading::HistoryRow> rows;
        for (int record : index.patientRecords(name, {}))
            rows.append(reading::historyRowOf(record, index.valuesAt(record)));
        lines = reading::readHistory(rows, reading::ReferenceRanges::defaults()).size();
    }
    benchsupport::check(state, lines == kRowsPerPatient, "the history held " + std::to_string(lines) + " rows");
}

// Stores rows of new samples; with the index, each is followed by what a request does first.
void storeRows(benchmark::State& state, bool indexed)
{
    const int perRound = benchsupport::smoke() ? 20 : 200;
    int stored = 0, round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        const QString folder = dir.path() + "/";
        benchsupport::writeResultTable(folder, 10000, [](int, const std::vector<DbfField>&, char*) {});
        DbfResultStore store(folder);
        if (indexed) {
            store.openFinder();
            static_cast<DbfNameIndex&>(store.finder()).waitReady();
        }
        ++round;
        state.ResumeTiming();
        for (int i = 0; i < perRound; ++i) {
            ImportedRow r;
            r.date = QStringLiteral("12/07/2026");
            r.time = QStringLiteral("09:%1:%2").arg(i / 60, 2, 10, QLatin1Char('0')).arg(i % 60, 2, 10, QLatin1Char('0'));
            r.num = sampleNumber(round * 100000 + i);
            stored += store.store(r, {}).answer == ResultStore::Insert::Stored;
            if (indexed)
                stored -= !store.finder().ready();
        }
        state.PauseTiming();
        if (indexed)
            stored -= store.finder().find(sampleNumber(round * 100000 + perRound - 1), 0, false, {})->record != 10000 + perRound;
        state.ResumeTiming();
    }
    state.counters["rows/s"] = benchmark::Counter(double(stored), benchmark::Counter::kIsRate);
    benchsupport::check(state, stored == round * perRound, "stored " + std::to_string(stored) + " rows");
}

void BM_StoreBare(benchmark::State& state) { storeRows(state, false); }
void BM_StoreIndexed(benchmark::State& state) { storeRows(state, true); }

void registerAll()
{
    const std::vector<int> sizes = benchsupport::smoke() ? std::vector<int>{10000} : std::vector<int>{10000, 1000000};
    auto add = [](const char* name, void (*fn)(benchmark::State&), std::vector<int64_t> args) {
        auto* b = benchmark::RegisterBenchmark(name, fn)->Args(args)->Unit(benchmark::kMillisecond);
        if (benchsupport::smoke())
            b->Iterations(1);
        else
            b->MinTime(0.5);
    };
    for (int rows : sizes) {
        add("BM_ReadRecords", BM_ReadRecords, {rows});
        add("BM_MakeIndex", BM_MakeIndex, {rows});
        for (int kind : {0, 1}) {
            add("BM_SqliteLike", BM_SqliteLike, {rows, kind});
            add("BM_Find", BM_Find, {rows, kind});
        }
        add("BM_PatientHistory", BM_PatientHistory, {rows});
    }
    add("BM_StoreBare", BM_StoreBare, {0});
    add("BM_StoreIndexed", BM_StoreIndexed, {0});
}


void printRatios(const benchsupport::RunTimes& times)
{
    auto at = [&](const std::string& key) { return times.at(key); };
    for (const char* rows : {"10000", "1000000"}) {
        const std::string r = rows;
        if (at("BM_MakeIndex/" + r) > 0 && at("BM_ReadRecords/" + r) > 0)
            std::printf("Index made at %s rows: %.0f ms, %.2fx reading the records\n", rows, at("BM_MakeIndex/" + r),
                        at("BM_MakeIndex/" + r) / at("BM_ReadRecords/" + r));
        for (const char* kind : {"0", "1"}) {
            const std::string k = r + "/" + kind;
            if (at("BM_Find/" + k) > 0 && at("BM_SqliteLike/" + k) > 0)
                std::printf("Find at %s rows (%s): %.2f ms, %.3fx SQLite's LIKE\n", rows,
                            *kind == '0' ? "no row holds it" : "found near the end", at("BM_Find/" + k),
                            at("BM_Find/" + k) / at("BM_SqliteLike/" + k));
        }
    }
    if (at("BM_PatientHistory/10000") > 0 && at("BM_PatientHistory/1000000") > 0)
        std::printf("Patient history: %.2f ms at 1,000,000 rows, %.2fx 10,000 rows\n", at("BM_PatientHistory/1000000"),
                    at("BM_PatientHistory/1000000") / at("BM_PatientHistory/10000"));
    if (at("BM_StoreBare/0") > 0 && at("BM_StoreIndexed/0") > 0)
        std::printf("Storing rows with the index kept: %.2fx the throughput without\n",
                    at("BM_StoreBare/0") / at("BM_StoreIndexed/0"));
}

} // namespace

int main(int argc, char** argv)
{
    benchsupport::takeSmokeFlag(argc, argv);
    QCoreApplication app(argc, argv);
    registerAll();
    benchsupport::RunTimes reporter;
    if (!benchsupport::runBenchmarks(argc, argv, &reporter))
        return 1;
    printRatios(reporter);
    return 0;
}
