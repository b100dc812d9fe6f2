// The main window's grid over the results on PostgreSQL (PgResultStore::attachRows): opening the
// rows and showing the last one, and moving through 1,000 rows with the grid following, at
// 1,000,000 rows against 10,000 (the goal: a cost independent of the table's size, within 2x),
// and against the same grid over a dBase table of the same rows (what reading blocks of rows from
// a server costs over reading a file's). And dragging the scroll thumb to the middle of a fresh
// table: the record numbers of a screen of rows there and their texts (the goal: within 0.1 s at
// 1,000,000 rows), against the same at 10,000.
//
// The server is the test run's or one of this program's own (bench/support/PgServer.h). The rows
// are made with generate_series.
#include "app/DBGrid.h"
#include "bench/support/BulkTable.h"
#include "bench/support/Outcome.h"
#include "bench/support/PgServer.h"
#include "bench/support/RunTimes.h"
#include "engine/DataSet.h"
#include "engine/DbfFieldCodec.h"
#include "store/ResultTable.h"
#include "store/pg/PgConnection.h"
#include "store/pg/PgResultStore.h"

#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>

namespace {

const benchsupport::PgServer* server = nullptr;

QString uriOf(const QString& database) { return server->uri(database); }

// The same rows in both stores: the sample number counting up, values as the analyser sends them.
QString valueOf(int i, const QString& field)
{
    if (field == QLatin1String("TIM"))
        return QStringLiteral("14:03:07");
    if (field == QLatin1String("NUM"))
        return QString::number(i + 1).rightJustified(9, u'0');
    return QStringLiteral("%1.%2 |").arg(i % 300).arg(i % 10);
}

// A database of n rows, made once per size; main drops them before the server stops.
std::map<int, QString> databases;

QString database(int rows)
{
    if (const auto it = databases.find(rows); it != databases.end())
        return it->second;
    const QString name = server->freshDatabase(QStringLiteral("hx_bench_grid_%1_%2").arg(QCoreApplication::applicationPid()).arg(rows));
    databases[rows] = name;
    pg::Connection c(uriOf(name), 5);
    QStringList values;
    for (qsizetype i = 0; i < resulttable::valueFields().size(); ++i)
        values << QStringLiteral("((g - 1) % 300) || '.' || ((g - 1) % 10) || ' |'");
    c.exec(QStringLiteral("INSERT INTO results (dat, tim, num, fio, coe, reception, %1) "
                          "SELECT date '2023-06-05', '14:03:07', lpad(g::text, 9, '0'), '', '', '', %2 "
                          "FROM generate_series(1, $1) g")
               .arg(resulttable::valueFields().join(QLatin1Char(',')).toLower(), values.join(QLatin1Char(','))),
           {QString::number(rows)});
    if (!benchsupport::PgServer::settle(c, {"results"}))
        throw EDatabaseError(QStringLiteral("The filled table's pages were never all marked visible"));
    return name;
}

void dropDatabases()
{
    for (const auto& [rows, name] : databases)
        server->dropDatabase(name);
}

struct DbfFixture {
    QTemporaryDir dir;
    QString path;
};

QString dbfTable(int rows)
{
    static std::map<int, std::unique_ptr<DbfFixture>> made;
    auto& f = made[rows];
    if (!f) {
        f = std::make_unique<DbfFixture>();
        f->path = benchsupport::writeResultTable(f->dir.path() + "/", rows, [](int i, const std::vector<DbfField>& fields, char* rec) {
            for (const DbfField& field : fields) {
                if (field.name == QLatin1String("DAT"))
                    dbfcodec::put(field, rec, DbfValue(QDate(2023, 6, 5)));
                else if (resulttable::valueFields().contains(field.name) || field.name == QLatin1String("TIM")
                         || field.name == QLatin1String("NUM"))
                    dbfcodec::put(field, rec, DbfValue(valueOf(i, field.name)));
            }
        });
    }
    return f->path;
}

enum class Store { Pg, Dbf };

// The main window's grid as it stands over Table1, shown at a working size, on either store.
struct GridOver {
    struct Source : TDataSource {
        explicit Source(TDataSet* ds) { DataSet = ds; }
    };
    QTemporaryDir folder;
    std::unique_ptr<PgResultStore> store;
    TTable table;
    Source source{&table};
    TDBGrid grid{&source, nullptr};
    GridOver(Store kind, int rows)
    {
        table.SetName("Table1");
        for (const char* field : {"NUM", "DAT", "TIM", "FIO", "RECEPTION", "WBC", "FORMULA", "RBC", "HGB", "PLT", "MCV"})
            grid.addColumn(field, field);
        grid.resize(1000, 700);
        grid.show();
        QCoreApplication::processEvents();
        if (kind == Store::Pg) {
            store = std::make_unique<PgResultStore>(folder.path() + QLatin1Char('/'), uriOf(database(rows)));
            store->attachRows(table);
        } else {
            table.SetTableName(dbfTable(rows));
        }
    }
};

void openAndShowLastRow(benchmark::State& state, Store kind)
{
    const int rows = int(state.range(0));
    int shown = 0;
    GridOver warm(kind, rows);  // the rows made before the clock runs
    for (auto _ : state) {
        GridOver g(kind, rows);
        g.table.Open();
        g.table.Last();
        g.grid.showCurrentRow();
        (void)g.grid.viewport()->grab();
        shown = g.grid.gridModel()->rowCount() == rows ? g.table.RecNo() : -g.grid.gridModel()->rowCount();
    }
    benchsupport::check(state, shown == rows, "the last row shown was " + std::to_string(shown) + " of " + std::to_string(rows));
}

void scroll1000Rows(benchmark::State& state, Store kind)
{
    const int rows = int(state.range(0));
    GridOver g(kind, rows);
    const int steps = benchsupport::smoke() ? 100 : 1000;
    g.table.Open();
    g.table.Last();
    bool moved = true;
    for (auto _ : state) {
        g.table.MoveBy(-steps + 1);
        moved = moved && g.table.RecNo() == rows - steps + 1;
        for (int i = 0; i < steps; ++i) {
            g.table.Next();
            (void)g.grid.viewport()->grab();
        }
        moved = moved && g.table.RecNo() == rows
                && g.table.FieldByName(QStringLiteral("NUM"))->AsString() == valueOf(rows - 1, QStringLiteral("NUM"));
    }
    benchsupport::check(state, moved, "the grid did not move through the last " + std::to_string(steps) + " of " + std::to_string(rows) + " rows");
}

// The thumb dragged to the middle of a table just opened: the grid maps each row of the screen
// there to its record (RecNoOfRow, which counts the shown rows before it) and reads its columns'
// texts (DisplayTextAt).
void dragThumbToMiddle(benchmark::State& state, Store kind)
{
    const int rows = int(state.range(0));
    constexpr int kScreen = 30;
    const char* const columns[] = {"NUM", "DAT", "TIM", "FIO", "RECEPTION", "WBC", "FORMULA", "RBC", "HGB", "PLT", "MCV"};
    QTemporaryDir folder;
    std::unique_ptr<PgResultStore> store;
    if (kind == Store::Pg)
        store = std::make_unique<PgResultStore>(folder.path() + QLatin1Char('/'), uriOf(database(rows)));
    const QString dbf = kind == Store::Dbf ? dbfTable(rows) : QString();
    bool right = true;
    for (auto _ : state) {
        state.PauseTiming();
        {
            TTable table;
            if (store)
                store->attachRows(table);
            else
                table.SetTableName(dbf);
            table.Open();
            std::vector<const TField*> fields;
            for (const char* name : columns)
                fields.push_back(table.FieldByName(QLatin1String(name)));
            state.ResumeTiming();
            for (int row = rows / 2 - kScreen / 2; row < rows / 2 + kScreen / 2; ++row) {
                const int recNo = table.RecNoOfRow(row);
                QString shown;
                for (const TField* f : fields)
                    shown += table.DisplayTextAt(recNo, f);
                right = right && recNo == row + 1 && shown.startsWith(valueOf(row, QStringLiteral("NUM")));
            }
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
    benchsupport::check(state, right, "the middle rows of " + std::to_string(rows) + " read as they are");
}

void BM_PgDragThumbToMiddle(benchmark::State& s) { dragThumbToMiddle(s, Store::Pg); }
void BM_DbfDragThumbToMiddle(benchmark::State& s) { dragThumbToMiddle(s, Store::Dbf); }

void BM_PgOpenAndShowLastRow(benchmark::State& s) { openAndShowLastRow(s, Store::Pg); }
void BM_DbfOpenAndShowLastRow(benchmark::State& s) { openAndShowLastRow(s, Store::Dbf); }
void BM_PgScroll1000Rows(benchmark::State& s) { scroll1000Rows(s, Store::Pg); }
void BM_DbfScroll1000Rows(benchmark::State& s) { scroll1000Rows(s, Store::Dbf); }

int smallSize() { return benchsupport::smoke() ? 1000 : 10000; }
int largeSize() { return benchsupport::smoke() ? 5000 : 1000000; }

void registerAll()
{
    struct Entry {
        const char* name;
        void (*fn)(benchmark::State&);
    };
    for (auto [name, fn] : {Entry{"BM_DbfOpenAndShowLastRow", &BM_DbfOpenAndShowLastRow},
                            Entry{"BM_PgOpenAndShowLastRow", &BM_PgOpenAndShowLastRow},
                            Entry{"BM_DbfScroll1000Rows", &BM_DbfScroll1000Rows},
                            Entry{"BM_PgScroll1000Rows", &BM_PgScroll1000Rows},
                            Entry{"BM_DbfDragThumbToMiddle", &BM_DbfDragThumbToMiddle},
                            Entry{"BM_PgDragThumbToMiddle", &BM_PgDragThumbToMiddle}}) {
        for (int rows : {smallSize(), largeSize()}) {
            auto* b = benchmark::RegisterBenchmark(name, fn)->Arg(rows)->Unit(benchmark::kMillisecond)->UseRealTime();
            if (benchsupport::smoke())
                b->Iterations(1);
            else
                b->MinTime(1.0);
        }
    }
}

void printRatios(const benchsupport::RunTimes& times)
{
    auto at = [&](const char* name, int rows) { return times.at(std::string(name) + "/" + std::to_string(rows)); };
    for (const char* name : {"BM_PgOpenAndShowLastRow", "BM_PgScroll1000Rows", "BM_PgDragThumbToMiddle"})
        if (at(name, smallSize()) > 0 && at(name, largeSize()) > 0)
            std::printf("%s: %d rows / %d rows = %.2f\n", name, largeSize(), smallSize(), at(name, largeSize()) / at(name, smallSize()));
    for (int rows : {smallSize(), largeSize()})
        for (auto [pg, dbf] : {std::pair{"BM_PgOpenAndShowLastRow", "BM_DbfOpenAndShowLastRow"},
                               std::pair{"BM_PgScroll1000Rows", "BM_DbfScroll1000Rows"},
                               std::pair{"BM_PgDragThumbToMiddle", "BM_DbfDragThumbToMiddle"}})
            if (at(pg, rows) > 0 && at(dbf, rows) > 0)
                std::printf("%s at %d rows / the dBase table = %.2f\n", pg, rows, at(pg, rows) / at(dbf, rows));
    const double drag = at("BM_PgDragThumbToMiddle", largeSize());
    std::printf("Dragging the thumb to the middle of %d rows on PostgreSQL: %.1f ms (the goal: within 100 ms%s)\n", largeSize(),
                drag, drag <= 100 ? "" : "; not met");
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    benchsupport::takeSmokeFlag(argc, argv);
    QApplication app(argc, argv);
    benchsupport::PgServer pg;
    try {
        if (!pg.startOrSay(QStringLiteral("benchgrid"), false))
            return benchsupport::exitStatus();
        server = &pg;
        registerAll();
        benchsupport::RunTimes reporter;
        if (!benchsupport::runBenchmarks(argc, argv, &reporter))
            return 1;
        printRatios(reporter);
        dropDatabases();
    } catch (const Exception& e) {
        benchsupport::check(false, e.message().toStdString());
        return benchsupport::exitStatus();
    }
    return 0;
}
