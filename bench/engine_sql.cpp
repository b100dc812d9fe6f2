// Local SQL against SQLite on the same generated data (10,000, 100,000 and 1,000,000 rows):
//  (a) SELECT by a date range that matches about a tenth of the rows, reading every field of
//      every returned row (SQLite: no index on the date, the same columns as text);
//  (b) 1,000 durable single-row INSERTs (SQLite in autocommit with its default synchronous
//      setting; ours through TQuery::ExecSQL with the import's statement).
// Each SQLite figure is measured first and each of ours reports ours/SQLite as "ratio"; a
// summary of the ratios is printed at the end.
#include "bench/support/BulkTable.h"
#include "bench/support/Outcome.h"
#include "engine/DataSet.h"
#include "engine/DbfFieldCodec.h"
#include "engine/DbfFile.h"
#include "store/ResultTable.h"
#include "store/Statements.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <map>
#include <memory>

namespace {

std::vector<int> sizes()
{
    return benchsupport::smoke() ? std::vector<int>{10000} : std::vector<int>{10000, 100000, 1000000};
}
constexpr int kDays = 1000;          // rows are spread over this many days
constexpr int kRangeDays = 100;      // so a range of this many days holds about a tenth of them
int inserts() { return benchsupport::smoke() ? 20 : 1000; }
const QDate kFirstDay(2021, 1, 1);

const char* const kColumns[] = {"DAT", "TIM", "NUM", "FIO", "DOC", "RECEPTION", "WBC", "LY1", "MO1", "GR1",
                                "LY2", "MO2", "GR2", "RBC", "HGB", "HCT", "MCV", "MCH", "MCHC", "RDV",
                                "PLT", "MPV", "PCT", "PDW", "COE", "RETIC", "FORMULA", "COMMENT"};
constexpr int kColumnCount = 28;

// Row i's day: scattered, so that the file is not in date order.
QDate dayOf(int i) { return kFirstDay.addDays((qint64(i) * 7919) % kDays); }

// The texts of row i, in kColumns order, DAT excluded (index 0 left empty).
std::array<QString, kColumnCount> textsOf(int i)
{
    static const char* const names[] = {"Иванов Иван Иванович", "Петрова Анна Сергеевна", "", "Сидоров П. П.", "Кузнецова М. А."};
    static const char* const wards[] = {"Терапия", "Хирургия", "", "Поликлиника №2"};
    std::array<QString, kColumnCount> t;
    t[1] = QStringLiteral("%1:%2:%3").arg(8 + i % 10, 2, 10, QLatin1Char('0')).arg(i % 60, 2, 10, QLatin1Char('0')).arg((i * 7) % 60, 2, 10, QLatin1Char('0'));
    t[2] = QStringLiteral("%1").arg(i % 1000000000, 9, 10, QLatin1Char('0'));
    t[3] = QString::fromUtf8(names[i % 5]);
    t[4] = i % 3 ? QString::number(20 + i % 60) : QString();
    t[5] = QString::fromUtf8(wards[i % 4]);
    for (int c = 6; c < 24; ++c)
        t[static_cast<size_t>(c)] = QString::number(1.0 + ((i * 31 + c * 17) % 900) / 10.0, 'f', 1);
    t[24] = QString::number(i % 40);
    t[25] = i % 7 ? QString() : QStringLiteral("12");
    t[26] = i % 5 ? QString() : QStringLiteral("п/я 2, с/я 60, л 30, м 8");
    t[27] = i % 11 ? QString() : QStringLiteral("повторить анализ");
    return t;
}

void check(int rc, sqlite3* db, const char* what)
{
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "SQLite %s: %s\n", what, sqlite3_errmsg(db));
        std::exit(1);
    }
}

// The same rows in a result table of ours and in an SQLite database, made once per size.
struct DataSet {
    QString folder;       // program folder holding DB/HEMATIX.dbf
    QString sqlitePath;
};

QTemporaryDir& workDir()
{
    // On the build's disk rather than a memory file system, so that durable writes cost what
    // they cost in the lab.
    static QTemporaryDir dir(QStringLiteral(HEMATIX_BIN_DIR "/bench-engine-sql-XXXXXX"));
    return dir;
}

void makeOurs(const QString& folder, int rows)
{
    std::vector<int> fieldOf;
    benchsupport::writeResultTable(folder, rows, [&](int i, const std::vector<DbfField>& fields, char* rec) {
        if (fieldOf.empty()) {
            fieldOf.assign(kColumnCount, -1);
            for (int c = 0; c < kColumnCount; ++c)
                for (size_t k = 0; k < fields.size(); ++k)
                    if (fields[k].name == QLatin1String(kColumns[c]))
                        fieldOf[static_cast<size_t>(c)] = static_cast<int>(k);
        }
        const auto t = textsOf(i);
        dbfcodec::put(fields[static_cast<size_t>(fieldOf[0])], rec, DbfValue(dayOf(i)));
        for (int c = 1; c < kColumnCount; ++c)
            dbfcodec::put(fields[static_cast<size_t>(fieldOf[static_cast<size_t>(c)])], rec, DbfValue(t[static_cast<size_t>(c)]));
    });
}

void makeSqlite(const QString& path, int rows)
{
    sqlite3* db = nullptr;
    check(sqlite3_open(QFile::encodeName(path).constData(), &db), db, "open");
    QString create = QStringLiteral("CREATE TABLE HEMATIX (");
    for (int c = 0; c < kColumnCount; ++c)
        create += QLatin1String(kColumns[c]) + QLatin1String(c + 1 < kColumnCount ? " TEXT, " : " TEXT)");
    check(sqlite3_exec(db, create.toUtf8().constData(), nullptr, nullptr, nullptr), db, "create");
    check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
    QString insert = QStringLiteral("INSERT INTO HEMATIX VALUES (");
    for (int c = 0; c < kColumnCount; ++c)
        insert += QLatin1String(c + 1 < kColumnCount ? "?," : "?)");
    sqlite3_stmt* st = nullptr;
    check(sqlite3_prepare_v2(db, insert.toUtf8().constData(), -1, &st, nullptr), db, "prepare");
    for (int i = 0; i < rows; ++i) {
        auto t = textsOf(i);
        t[0] = dayOf(i).toString(Qt::ISODate);
        for (int c = 0; c < kColumnCount; ++c) {
            const QByteArray u = t[static_cast<size_t>(c)].toUtf8();
            sqlite3_bind_text(st, c + 1, u.constData(), static_cast<int>(u.size()), SQLITE_TRANSIENT);
        }
        check(sqlite3_step(st), db, "insert");
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
    sqlite3_close(db);
}

void syncFile(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0 || ::fsync(fd) != 0) {
        std::fprintf(stderr, "cannot sync %s\n", qPrintable(path));
        std::exit(1);
    }
    ::close(fd);
}

const DataSet& dataOf(int rows)
{
    static std::map<int, DataSet> made;
    auto it = made.find(rows);
    if (it != made.end())
        return it->second;
    DataSet d;
    d.folder = workDir().path() + QStringLiteral("/ours%1/").arg(rows);
    d.sqlitePath = workDir().path() + QStringLiteral("/sqlite%1.db").arg(rows);
    makeOurs(d.folder, rows);
    makeSqlite(d.sqlitePath, rows);
    // Both engines' files on the disk before anything is timed: otherwise the first durable
    // write of a freshly written table pays for flushing all of it (781 MB at a million rows).
    syncFile(resulttable::tableFile(d.folder));
    syncFile(d.sqlitePath);
    return made.emplace(rows, d).first->second;
}

// The selected range: kRangeDays days in the middle of the data.
QDate rangeFirst() { return kFirstDay.addDays(400); }
QDate rangeLast() { return kFirstDay.addDays(400 + kRangeDays - 1); }

// Best (smallest) seconds of one round of each measurement, for the ratios.
std::map<std::string, double>& measured()
{
    static std::map<std::string, double> m;
    return m;
}

std::string key(const char* what, int rows) { return std::string(what) + "/" + std::to_string(rows); }

// Selects are measured in CPU time of this thread (the data sit in the page cache, and other
// programs on a shared machine would otherwise make the ratio noise); inserts wait for the disk,
// so they are measured in wall time. Each round runs SQLite and then ours, and each side keeps
// its best round, so that a disturbance hits neither side alone.
enum class Clock { ThreadCpu, Wall };

double now(Clock clock)
{
    if (clock == Clock::Wall)
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

template <class F> double timeOnce(Clock clock, F&& work)
{
    const double t0 = now(clock);
    work();
    return now(clock) - t0;
}

void recordPair(benchmark::State& state, const char* what, int rows, double sqlite, double ours)
{
    measured()[key(what, rows) + "/sqlite"] = sqlite;
    measured()[key(what, rows) + "/ours"] = ours;
    state.counters["sqlite_ms"] = 1000 * sqlite;
    state.counters["ours_ms"] = 1000 * ours;
    state.counters["ratio"] = ours / sqlite;
}

// (a) The period query's SELECT of about a tenth of the rows, every field of every row read as
// text by the caller.
std::int64_t selectSqlite(sqlite3* db)
{
    static const QByteArray from = rangeFirst().toString(Qt::ISODate).toUtf8(), to = rangeLast().toString(Qt::ISODate).toUtf8();
    sqlite3_stmt* st = nullptr;
    check(sqlite3_prepare_v2(db, "SELECT * FROM HEMATIX WHERE DAT BETWEEN ?1 AND ?2", -1, &st, nullptr), db, "prepare");
    sqlite3_bind_text(st, 1, from.constData(), -1, SQLITE_STATIC);
    sqlite3_bind_text(st, 2, to.constData(), -1, SQLITE_STATIC);
    std::int64_t returned = 0;
    qsizetype chars = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
        ++returned;
        const int n = sqlite3_column_count(st);
        for (int c = 0; c < n; ++c) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
            chars += QString::fromUtf8(text, sqlite3_column_bytes(st, c)).size();
        }
    }
    sqlite3_finalize(st);
    benchmark::DoNotOptimize(chars);
    return returned;
}

std::int64_t selectOurs(TQuery& q, const QString& folder)
{
    q.Close();
    q.SQL = QStringList{rangeSelect(folder, rangeFirst(), rangeLast())};
    q.Open();
    std::int64_t returned = 0;
    qsizetype chars = 0;
    const auto& fields = q.Fields();
    for (q.First(); !q.Eof(); q.Next()) {
        ++returned;
        // Each field in its own type, as SQLite hands back what it stores: texts as texts, the
        // date as a date (putting it in the system's short format is display work SQLite does not
        // do here).
        for (const auto& f : fields) {
            if (f->DataType() == TFieldType::Date)
                chars += f->AsDate().day();
            else
                chars += f->AsString().size();
        }
    }
    benchmark::DoNotOptimize(chars);
    return returned;
}

void BM_SelectRange(benchmark::State& state)
{
    const int rows = static_cast<int>(state.range(0));
    const DataSet& d = dataOf(rows);
    sqlite3* db = nullptr;
    check(sqlite3_open(QFile::encodeName(d.sqlitePath).constData(), &db), db, "open");
    TQuery q;
    q.SetName(QStringLiteral("Query1"));
    double bestSqlite = 1e9, bestOurs = 1e9;
    std::int64_t nSqlite = 0, nOurs = 0;
    for (auto _ : state) {
        bestSqlite = std::min(bestSqlite, timeOnce(Clock::ThreadCpu, [&] { nSqlite = selectSqlite(db); }));
        bestOurs = std::min(bestOurs, timeOnce(Clock::ThreadCpu, [&] { nOurs = selectOurs(q, d.folder); }));
    }
    sqlite3_close(db);
    if (!benchsupport::check(state, nOurs > 0 && nSqlite == nOurs,
                             "the range select returned " + std::to_string(nOurs) + " rows from ours and " +
                                 std::to_string(nSqlite) + " from SQLite"))
        return;
    state.counters["rows"] = double(nOurs);
    recordPair(state, "select", rows, bestSqlite, bestOurs);
}

ImportedRow importedRow(int i)
{
    const auto t = textsOf(i);
    ImportedRow r;
    r.date = dayOf(i).toString(QStringLiteral("MM/dd/yyyy"));
    r.time = t[1];
    r.num = t[2];
    // WBC, RBC, HGB, HCT, PLT, LY1, MO1, GR1, LY2, MO2, GR2, MCV, MCH, MCHC, RDV, MPV, PCT, PDW
    static const int source[18] = {6, 13, 14, 15, 20, 7, 8, 9, 10, 11, 12, 16, 17, 18, 19, 21, 22, 23};
    for (size_t k = 0; k < 18; ++k)
        r.values[k] = t[static_cast<size_t>(source[k])];
    return r;
}

// Rows in each engine's table now.
std::int64_t rowsInSqlite(sqlite3* db)
{
    sqlite3_stmt* st = nullptr;
    check(sqlite3_prepare_v2(db, "SELECT count(*) FROM HEMATIX", -1, &st, nullptr), db, "prepare");
    check(sqlite3_step(st), db, "count");
    const std::int64_t n = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    return n;
}

int rowsInOurs(const QString& folder)
{
    TTable table;
    table.SetTableName(resulttable::tableFile(folder));
    table.Open();
    return table.RecordCount();
}

// (b) 1,000 single-row INSERTs, each durable before the next: the import's statement text for
// both, SQLite in autocommit with its default journal and synchronous settings.
void insertSqlite(sqlite3* db, int firstRow)
{
    for (int i = 0; i < inserts(); ++i) {
        const ImportedRow r = importedRow(firstRow + i);
        QString sql = QStringLiteral("INSERT INTO HEMATIX (DAT,TIM,NUM,FIO,COE,RECEPTION,WBC,RBC,HGB,HCT,PLT,LY1,MO1,GR1,LY2,MO2,GR2,MCV,MCH,MCHC,RDV,MPV,PCT,PDW) VALUES ('%1','%2','%3','','',''")
                          .arg(dayOf(firstRow + i).toString(Qt::ISODate), r.time, r.num);
        for (const QString& v : r.values)
            sql += QStringLiteral(",'") + v + QLatin1Char('\'');
        sql += QLatin1Char(')');
        check(sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr), db, "insert");
    }
}

void insertOurs(TQuery& q, const QString& folder, int firstRow)
{
    for (int i = 0; i < inserts(); ++i) {
        q.Close();
        q.SQL = insertStatement(folder, importedRow(firstRow + i));
        q.ExecSQL();
    }
}

void BM_Insert1000(benchmark::State& state)
{
    const int rows = static_cast<int>(state.range(0));
    const DataSet& d = dataOf(rows);
    sqlite3* db = nullptr;
    check(sqlite3_open(QFile::encodeName(d.sqlitePath).constData(), &db), db, "open");
    TQuery q;
    q.SetName(QStringLiteral("Query1"));
    double bestSqlite = 1e9, bestOurs = 1e9;
    // The tables keep the rows of earlier runs: what counts is what each run added.
    const std::int64_t sqliteBefore = rowsInSqlite(db), oursBefore = rowsInOurs(d.folder);
    int next = rows;
    for (auto _ : state) {
        bestSqlite = std::min(bestSqlite, timeOnce(Clock::Wall, [&] { insertSqlite(db, next); }));
        bestOurs = std::min(bestOurs, timeOnce(Clock::Wall, [&] { insertOurs(q, d.folder, next); }));
        next += inserts();
    }
    const std::int64_t expected = std::int64_t(inserts()) * std::int64_t(state.iterations());
    const std::int64_t sqliteAdded = rowsInSqlite(db) - sqliteBefore, oursAdded = rowsInOurs(d.folder) - oursBefore;
    sqlite3_close(db);
    if (!benchsupport::check(state, sqliteAdded == expected && oursAdded == expected,
                             std::to_string(expected) + " inserts added " + std::to_string(oursAdded) +
                                 " rows to ours and " + std::to_string(sqliteAdded) + " to SQLite"))
        return;
    recordPair(state, "insert", rows, bestSqlite, bestOurs);
}

void registerAll()
{
    for (int rows : sizes()) {
        const int rounds = benchsupport::smoke() ? 1 : rows >= 1000000 ? 5 : (rows >= 100000 ? 15 : 50);
        benchmark::RegisterBenchmark("SelectRange", BM_SelectRange)->Arg(rows)->Iterations(rounds)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("Insert1000", BM_Insert1000)->Arg(rows)->Iterations(1)->Unit(benchmark::kMillisecond);
    }
}

void printSummary()
{
    std::printf("\nours/SQLite, best round of each (goal <= 1.0)\n%10s %14s %14s\n", "rows", "select range", "1000 inserts");
    for (int rows : sizes()) {
        auto ratio = [&](const char* what) {
            const double x = measured()[key(what, rows) + "/ours"], y = measured()[key(what, rows) + "/sqlite"];
            return y > 0 ? x / y : 0.0;
        };
        std::printf("%10d %14.2f %14.2f\n", rows, ratio("select"), ratio("insert"));
    }
}

} // namespace

int main(int argc, char** argv)
{
    benchsupport::takeSmokeFlag(argc, argv);
    QCoreApplication app(argc, argv);
    if (!workDir().isValid()) {
        std::fprintf(stderr, "cannot make a working folder\n");
        return 1;
    }
    registerAll();
    if (!benchsupport::runBenchmarks(argc, argv))
        return 1;
    printSummary();
    return 0;
}
