// Opening the result table and moving to its last row, as the main window does at every showing,
// at 10,000, 100,000 and 1,000,000 rows, against SQLite opening its database and reading the last
// row of the same data. Reports ours / SQLite at each size and ours at 1,000,000 / ours at 10,000
// (the goal: within 2, i.e. near-constant in the table's size).
// Also appending 10,000 records to the table one by one against in batches of 1,000 (as
// hematix-migrate writes a database's rows back), each way synced as it goes: one by one / batched.
#include "bench/support/BulkTable.h"
#include "bench/support/Outcome.h"
#include "engine/DataSet.h"
#include "engine/DbfFieldCodec.h"
#include "engine/DbfFile.h"
#include "store/ResultTable.h"

#include <QDate>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

std::vector<int> sizes()
{
    return benchsupport::smoke() ? std::vector<int>{10000} : std::vector<int>{10000, 100000, 1000000};
}

// The values of row i, as the import stores them.
std::vector<QString> rowTexts(int i)
{
    const QDate day = QDate(2020, 1, 1).addDays(i / 50);
    std::vector<QString> v;
    v.push_back(day.toString(QStringLiteral("MM/dd/yyyy")));
    v.push_back(QStringLiteral("%1:%2:07").arg(i % 24, 2, 10, QLatin1Char('0')).arg(i % 60, 2, 10, QLatin1Char('0')));
    v.push_back(QStringLiteral("%1").arg(i, 9, 10, QLatin1Char('0')));
    v.push_back(i % 3 ? QStringLiteral("Иванов Иван Иванович") : QString());
    v.push_back(i % 5 ? QStringLiteral("45 лет") : QString());
    v.push_back(QStringLiteral("Терапия"));
    for (int k = 0; k < 18; ++k)
        v.push_back(QString::number(1 + (i + k) % 90 / 10.0, 'f', 1));
    v.push_back(QStringLiteral("12"));
    v.push_back(QString());
    v.push_back(i % 7 ? QString() : QStringLiteral("п/я 2, с/я 60, э 3, б 0, м 5, л 30"));
    v.push_back(QString());
    return v;
}

struct DataSet {
    std::unique_ptr<QTemporaryDir> dir;
    QString dbf;
    std::string sqlite;
};

std::map<int, DataSet>& dataSets()
{
    static std::map<int, DataSet> sets;
    return sets;
}

void sqliteExec(sqlite3* db, const char* sql)
{
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::string m = err ? err : "?";
        sqlite3_free(err);
        throw std::runtime_error(m);
    }
}

// Writes the same rows into our table (records in bulk, then the count in the header) and into
// an SQLite database with one text column per field.
const DataSet& dataSet(int rows)
{
    auto& sets = dataSets();
    auto found = sets.find(rows);
    if (found != sets.end())
        return found->second;
    DataSet set;
    set.dir = std::make_unique<QTemporaryDir>();
    const QString folder = set.dir->path() + QLatin1Char('/');
    // File fields are in the order of the result table's layout, as rowTexts gives them.
    set.dbf = benchsupport::writeResultTable(folder, rows, [](int i, const std::vector<DbfField>& fields, char* rec) {
        const std::vector<QString> v = rowTexts(i);
        for (size_t f = 0; f < fields.size(); ++f)
            dbfcodec::put(fields[f], rec, v[f]);
    });
    set.sqlite = (folder + QStringLiteral("hematix.sqlite")).toStdString();

    const auto& specs = resulttable::fields();
    sqlite3* db = nullptr;
    sqlite3_open(set.sqlite.c_str(), &db);
    std::string create = "CREATE TABLE results (";
    std::string insert = "INSERT INTO results VALUES (";
    for (size_t f = 0; f < specs.size(); ++f) {
        create += (f ? ", " : "") + specs[f].name.toStdString() + " TEXT";
        insert += f ? ", ?" : "?";
    }
    sqliteExec(db, (create + ")").c_str());
    sqliteExec(db, "BEGIN");
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, (insert + ")").c_str(), -1, &st, nullptr);
    for (int i = 0; i < rows; ++i) {
        const std::vector<QString> v = rowTexts(i);
        for (size_t f = 0; f < v.size(); ++f) {
            const QByteArray utf8 = v[f].toUtf8();
            sqlite3_bind_text(st, int(f + 1), utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        }
        sqlite3_step(st);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqliteExec(db, "COMMIT");
    sqlite3_close(db);
    return sets.emplace(rows, std::move(set)).first->second;
}

void BM_OpenAndLast_Ours(benchmark::State& state)
{
    const int rows = int(state.range(0));
    const DataSet& set = dataSet(rows);
    std::size_t chars = 0;
    int last = 0;
    for (auto _ : state) {
        TTable table;
        table.SetTableName(set.dbf);
        table.Open();
        table.Last();
        for (const auto& f : table.Fields())
            chars += size_t(f->AsString().size());
        last = table.RecNo();
    }
    benchsupport::check(state, last == rows && chars > 0,
                        "ours reached row " + std::to_string(last) + " of " + std::to_string(rows) + " and read " +
                            std::to_string(chars) + " characters");
}

void BM_OpenAndLast_SQLite(benchmark::State& state)
{
    const DataSet& set = dataSet(int(state.range(0)));
    std::size_t chars = 0;
    bool everyRunRead = true;
    for (auto _ : state) {
        sqlite3* db = nullptr;
        sqlite3_open_v2(set.sqlite.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT * FROM results ORDER BY rowid DESC LIMIT 1", -1, &st, nullptr);
        const bool read = sqlite3_step(st) == SQLITE_ROW;
        everyRunRead = everyRunRead && read;
        if (read)
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                // Decoded into the same text type the program shows.
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
                chars += size_t(QString::fromUtf8(text, sqlite3_column_bytes(st, c)).size());
            }
        sqlite3_finalize(st);
        sqlite3_close(db);
    }
    benchsupport::check(state, everyRunRead && chars > 0, "SQLite did not read the last row");
}

int appendRecords() { return benchsupport::smoke() ? 200 : 10000; }
int appendBatch() { return benchsupport::smoke() ? 100 : 1000; }

// Appends appendRecords() records to a new result table, range(0) at a time (1: append()).
void BM_Append(benchmark::State& state)
{
    const int perBatch = int(state.range(0));
    const int total = appendRecords();
    QTemporaryDir dir;
    const QString path = resulttable::create(dir.path() + QLatin1Char('/'));
    std::vector<QByteArray> records;
    {
        DbfFile f(path, DbfFile::Access::ReadOnly);
        for (int i = 0; i < total; ++i) {
            records.push_back(f.blankRecord());
            const std::vector<QString> v = rowTexts(i);
            for (size_t k = 0; k < f.fields().size(); ++k)
                dbfcodec::put(f.fields()[k], records.back().data(), v[k]);
        }
    }
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QByteArray empty = file.readAll();
    file.close();
    bool allThere = true;
    for (auto _ : state) {
        state.PauseTiming();
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(empty);
        file.close();
        state.ResumeTiming();
        DbfFile f(path, DbfFile::Access::ReadWrite);
        if (perBatch == 1)
            for (const QByteArray& r : records)
                f.append(r);
        else
            for (int first = 0; first < total; first += perBatch)
                f.appendMany({records.begin() + first, records.begin() + std::min(total, first + perBatch)});
        state.PauseTiming();
        DbfFile reread(path, DbfFile::Access::ReadOnly);
        allThere = allThere && reread.recordCount() == total && reread.warnings().isEmpty()
                   && QByteArray(reread.record(total - 1), reread.recordLength()) == records.back();
        state.ResumeTiming();
    }
    benchsupport::check(state, allThere, "the appended records are not all in the table, the last one last");
}

// Collects the time per iteration of every run for the closing summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && !r.error_occurred)
                times[r.run_name.function_name + "/" + r.run_name.args] = r.GetAdjustedRealTime();
    }
    std::map<std::string, double> times;
};

} // namespace

void registerAll()
{
    struct Entry {
        const char* name;
        void (*fn)(benchmark::State&);
    };
    for (auto [name, fn] : {Entry{"BM_OpenAndLast_Ours", &BM_OpenAndLast_Ours},
                            Entry{"BM_OpenAndLast_SQLite", &BM_OpenAndLast_SQLite}}) {
        auto* b = benchmark::RegisterBenchmark(name, fn)->Unit(benchmark::kMicrosecond);
        for (int rows : sizes())
            b->Arg(rows);
        if (benchsupport::smoke())
            b->Iterations(1);
        else
            b->MinTime(0.5);
    }
    // A run is thousands of synced records, one by one half a minute: one run tells enough.
    benchmark::RegisterBenchmark("BM_Append", &BM_Append)->Arg(1)->Arg(appendBatch())->Unit(benchmark::kMillisecond)
        ->Iterations(1);
}

int main(int argc, char** argv)
{
    benchsupport::takeSmokeFlag(argc, argv);
    registerAll();
    for (int rows : sizes()) {
        std::fprintf(stderr, "generating %d rows...\n", rows);
        dataSet(rows);
    }
    SummaryReporter reporter;
    if (!benchsupport::runBenchmarks(argc, argv, &reporter))
        return 1;
    auto time = [&](const char* name, int rows) {
        const auto it = reporter.times.find(std::string(name) + "/" + std::to_string(rows));
        return it == reporter.times.end() ? 0.0 : it->second;
    };
    std::printf("\nOpen the table and move to its last row (time per run, microseconds)\n");
    std::printf("%10s %12s %12s %16s\n", "rows", "ours", "SQLite", "ours / SQLite");
    for (int rows : sizes()) {
        const double ours = time("BM_OpenAndLast_Ours", rows);
        const double lite = time("BM_OpenAndLast_SQLite", rows);
        std::printf("%10d %12.1f %12.1f %16.2f\n", rows, ours, lite, lite > 0 ? ours / lite : 0.0);
    }
    const double small = time("BM_OpenAndLast_Ours", 10000);
    const double large = time("BM_OpenAndLast_Ours", 1000000);
    if (small > 0 && large > 0)
        std::printf("ours at 1,000,000 rows / ours at 10,000 rows: %.2f (goal: at most 2)\n", large / small);
    const double oneByOne = time("BM_Append", 1);
    const double batched = time("BM_Append", appendBatch());
    std::printf("\nAppend %d records (time per run, milliseconds)\n", appendRecords());
    std::printf("%14s %14s %24s\n", "one by one", "batches", "one by one / batches");
    std::printf("%14.1f %14.1f %24.1f\n", oneByOne, batched, batched > 0 ? oneByOne / batched : 0.0);
    dataSets().clear();
    return 0;
}
