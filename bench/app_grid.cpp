// The main window's grid over the result table: opening the table and showing its last row, and
// moving through 1,000 rows with the grid following, at 1,000,000 rows against 10,000 rows.
// The goal is a cost independent of the table's size (the million-row figures within 2x).
// Scrolling is also measured with the values flagged against the default reference limits, as
// the main window shows them, against the same grid without flags (the goal: within 1.1x).
#include "app/DBGrid.h"
#include "bench/support/BulkTable.h"
#include "bench/support/Outcome.h"
#include "bench/support/RunTimes.h"
#include "engine/DataSet.h"
#include "engine/DbfFile.h"
#include "reading/ReferenceRanges.h"
#include "store/ResultTable.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <map>

namespace {

// A result table of n rows with the sample number counting up and the same values in each.
QString makeTable(const QString& folder, int n)
{
    return benchsupport::writeResultTable(folder, n, [](int i, const std::vector<DbfField>& fields, char* rec) {
        for (const DbfField& field : fields) {
            QString v;
            if (field.name == QLatin1String("DAT"))
                v = QStringLiteral("6/5/2023");
            else if (field.name == QLatin1String("TIM"))
                v = QStringLiteral("14:03:07");
            else if (field.name == QLatin1String("NUM"))
                v = QString::number(i + 1).rightJustified(9, u'0');
            else if (field.type == 'C' && field.length == 10)
                v = QStringLiteral("%1.%2 |").arg(i % 300).arg(i % 10);  // some in, some past their limits
            else if (field.type == 'C' && field.length >= 5)
                v = QStringLiteral("7.5 |");
            if (!v.isEmpty())
                dbfcodec::put(field, rec, DbfValue(v));
        }
    });
}

struct Fixture {
    QTemporaryDir dir;
    QString path;
};

Fixture& tableOf(int rows)
{
    static std::map<int, std::unique_ptr<Fixture>> tables;
    auto& f = tables[rows];
    if (!f) {
        f = std::make_unique<Fixture>();
        f->path = makeTable(f->dir.path() + "/", rows);
    }
    return *f;
}

// The main window's grid as it stands over Table1, shown at a working size.
struct GridOver {
    // The grid follows its data set only when the set is named before the grid is made, as in
    // the main window.
    struct Source : TDataSource {
        explicit Source(TDataSet* ds) { DataSet = ds; }
    };
    TTable table;
    Source source{&table};
    TDBGrid grid{&source, nullptr};
    explicit GridOver(const QString& path, bool flagged = false)
    {
        table.SetName("Table1");
        for (const char* field : {"NUM", "DAT", "TIM", "FIO", "RECEPTION", "WBC", "FORMULA", "RBC", "HGB", "PLT", "MCV"})
            grid.addColumn(field, field);
        if (flagged)
            grid.gridModel()->setRanges(std::make_shared<const reading::ReferenceRanges>(reading::ReferenceRanges::defaults()));
        grid.resize(1000, 700);
        grid.show();
        // Painting happens only once the window is exposed.
        QCoreApplication::processEvents();
        table.SetTableName(path);
    }
};

void BM_OpenAndShowLastRow(benchmark::State& state)
{
    const int rows = int(state.range(0));
    Fixture& f = tableOf(rows);
    int shown = 0;
    for (auto _ : state) {
        GridOver g(f.path);
        g.table.Open();
        g.table.Last();
        g.grid.showCurrentRow();
        // grab() paints the visible cells whatever the platform does with an unexposed repaint.
        (void)g.grid.viewport()->grab();
        shown = g.grid.gridModel()->rowCount() == rows ? g.table.RecNo() : -g.grid.gridModel()->rowCount();
    }
    benchsupport::check(state, shown == rows, "the last row shown was " + std::to_string(shown) + " of " + std::to_string(rows));
}

void scroll1000Rows(benchmark::State& state, bool flagged)
{
    const int rows = int(state.range(0));
    Fixture& f = tableOf(rows);
    GridOver g(f.path, flagged);
    // A smoke run only proves the moves still happen: a tenth of them.
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
        moved = moved && g.table.RecNo() == rows;
    }
    benchsupport::check(state, moved && g.grid.gridModel()->rowCount() == rows,
                        "the grid did not show and move through the last " + std::to_string(steps) + " of " + std::to_string(rows) + " rows");
    if (flagged) {
        const QModelIndex hgb = g.grid.gridModel()->index(g.grid.gridModel()->rowCount() - 1, 8);
        benchsupport::check(state, g.grid.gridModel()->data(hgb, Qt::ForegroundRole).isValid(),
                            "the flagged grid showed no flag");
    }
}

void BM_Scroll1000Rows(benchmark::State& state) { scroll1000Rows(state, false); }
void BM_Scroll1000RowsFlagged(benchmark::State& state) { scroll1000Rows(state, true); }

// The floor: Qt's own table view over a model that reads nothing, with the same rows and
// columns. The view keeps per-row header entries, which grow with the table whatever the model
// does; what the grid adds on top of this is the grid's own cost.
struct BareModel : QAbstractTableModel {
    int rows = 0;
    int rowCount(const QModelIndex& p = {}) const override { return p.isValid() ? 0 : rows; }
    int columnCount(const QModelIndex& p = {}) const override { return p.isValid() ? 0 : 8; }
    QVariant data(const QModelIndex& i, int role) const override { return role == Qt::DisplayRole ? QVariant(i.row()) : QVariant(); }
    void setRows(int n)
    {
        beginResetModel();
        rows = n;
        endResetModel();
    }
};

void BM_BareViewShowLastRow(benchmark::State& state)
{
    bool atBottom = true;
    for (auto _ : state) {
        BareModel model;
        QTableView view;
        view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        view.setModel(&model);
        view.resize(1000, 700);
        view.show();
        QCoreApplication::processEvents();
        model.setRows(int(state.range(0)));
        view.scrollToBottom();
        view.viewport()->repaint();
        const QScrollBar* bar = view.verticalScrollBar();
        atBottom = atBottom && bar->maximum() > 0 && bar->value() == bar->maximum();
    }
    benchsupport::check(state, atBottom, "the bare view did not reach its last row");
}

void registerAll()
{
    const std::vector<int> sizes = benchsupport::smoke() ? std::vector<int>{10000} : std::vector<int>{10000, 1000000};
    struct Entry {
        const char* name;
        void (*fn)(benchmark::State&);
    };
    for (auto [name, fn] : {Entry{"BM_BareViewShowLastRow", &BM_BareViewShowLastRow},
                            Entry{"BM_OpenAndShowLastRow", &BM_OpenAndShowLastRow},
                            Entry{"BM_Scroll1000Rows", &BM_Scroll1000Rows},
                            Entry{"BM_Scroll1000RowsFlagged", &BM_Scroll1000RowsFlagged}}) {
        for (int rows : sizes) {
            auto* b = benchmark::RegisterBenchmark(name, fn)->Arg(rows)->Unit(benchmark::kMillisecond);
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
    for (const char* name : {"BM_BareViewShowLastRow", "BM_OpenAndShowLastRow", "BM_Scroll1000Rows"}) {
        if (at(name, 10000) > 0 && at(name, 1000000) > 0)
            std::printf("%s: 1,000,000 rows / 10,000 rows = %.2f\n", name, at(name, 1000000) / at(name, 10000));
    }
    for (int rows : {10000, 1000000})
        if (at("BM_Scroll1000Rows", rows) > 0 && at("BM_Scroll1000RowsFlagged", rows) > 0)
            std::printf("Scrolling at %d rows with flags / without = %.2f\n", rows,
                        at("BM_Scroll1000RowsFlagged", rows) / at("BM_Scroll1000Rows", rows));
    // Against Qt's bare view of the same size: the part of the growth that is the grid's own.
    for (int rows : {10000, 1000000})
        if (at("BM_BareViewShowLastRow", rows) > 0 && at("BM_OpenAndShowLastRow", rows) > 0)
            std::printf("Open and show the last row at %d rows / bare view = %.2f\n", rows,
                        at("BM_OpenAndShowLastRow", rows) / at("BM_BareViewShowLastRow", rows));
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    benchsupport::takeSmokeFlag(argc, argv);
    QApplication app(argc, argv);
    registerAll();
    benchsupport::RunTimes reporter;
    if (!benchsupport::runBenchmarks(argc, argv, &reporter))
        return 1;
    printRatios(reporter);
    return 0;
}
