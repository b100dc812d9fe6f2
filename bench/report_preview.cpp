// Opening the preview of a period report of 30 and of 290 pages: how long until the first page is
// visible, and how long a page flip (next, last, first) takes once the pages are there. Both
// should not depend on the report's length: the window shows page 1 as soon as it is recorded,
// and the page store reaches page 2, the last and the first page in one or two record hops.
//
// Baselines, measured in the same run: generating a 2-page period report with no window, and a
// bare window showing one finished page plus generating one page. Goals: first page visible
// within 1.2 x the second; 290 pages within 1.3 x of 30 pages, for both measurements. Also ten
// previews opened and closed in a row: resident memory after the tenth within 1.1 x the first,
// and no page-store temporary file left. Times are processor time of this process (the machine
// is shared).
#include "bench/support/BulkTable.h"
#include "bench/support/CpuTime.h"
#include "bench/support/Outcome.h"
#include "bench/support/PeakMemory.h"
#include "bench/support/PeriodPages.h"
#include "engine/DataSet.h"
#include "report/generation/RpGenerator.h"
#include "report/model/LayoutLoader.h"
#include "report/model/RpBinding.h"
#include "report/model/RpReport.h"
#include "report/pages/RpPrinter.h"
#include "report/preview/RpPreview.h"
#include "report/preview/RpPreviewImage.h"
#include "report/session/RpReportSession.h"
#include "report/session/RpSessionUi.h"
#include "report/preview/RpStandardPreview.h"
#include "store/PeriodQuery.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace {

double cpuMs() { return benchsupport::cpuNs() / 1e6; }

// Rows that fill `pages` pages of the period report, the last five rows short of full.
int rowsFor(int pages) { return benchsupport::periodRowsFilling(pages) - 5; }

// A period report over a table of its own.
struct PeriodReport {
    explicit PeriodReport(int pages)
    {
        benchsupport::writeResultTable(dir.path() + QLatin1Char('/'), rowsFor(pages),
                                       [](int i, const std::vector<DbfField>& fields, char* rec) {
            for (const DbfField& f : fields) {
                if (f.name == QLatin1String("DAT"))
                    dbfcodec::put(f, rec, DbfValue(QDate(2023, 6, 5)));
                else if (f.name == QLatin1String("NUM"))
                    dbfcodec::put(f, rec, DbfValue(QString::number(100000000 + i)));
                else if (f.name == QLatin1String("FIO"))
                    dbfcodec::put(f, rec, DbfValue(QStringLiteral("Иванов Иван Иванович")));
                else if (f.name.size() <= 4 && f.name != QLatin1String("DOC"))
                    dbfcodec::put(f, rec, DbfValue(QStringLiteral("6.4")));
            }
        });
        query.SQL << QStringLiteral("SELECT * FROM \"%1/DB/HEMATIX.dbf\"").arg(dir.path());
        query.Open();
        report = layoutloader::loadBuiltin(QStringLiteral("Unit7"), QString());
        report->SetDataSet(&query);
        rpbinding::bindFields(*report, &query, periodquery::fieldBindings());
        generator = std::make_unique<TRpGenerator>(*report);
    }
    QTemporaryDir dir;
    TQuery query;
    std::unique_ptr<TReport> report;
    std::unique_ptr<TRpGenerator> generator;
};

// Generating the report with no window, to the end.
double generateMs(PeriodReport& r, int* pages = nullptr)
{
    TRpPrinter rp;
    const double t0 = cpuMs();
    r.generator->Generate(rp);
    const double t = cpuMs() - t0;
    if (pages)
        *pages = rp.PageCount();
    return t;
}

// Preview until page 1 has been played onto the screen; the window is then closed, which ends
// the run.
double firstPageVisibleMs(PeriodReport& r)
{
    struct Ui : TRpSessionUi {
        void WindowOpened(TRpStandardPreview& w) override { window = &w; }
        TRpStandardPreview* window = nullptr;
    } ui;
    TRpReportSessions sessions(*r.generator, ui);
    TRpStandardPreview*& window = ui.window;
    double t0 = 0, seen = -1;
    r.generator->ProcessEvents = [&] {
        QCoreApplication::processEvents();
        if (seen < 0 && window && window->RpPreview->PageView()->PlayCount() > 0) {
            seen = cpuMs() - t0;
            window->close();
        }
    };
    t0 = cpuMs();
    sessions.Preview();
    r.generator->ProcessEvents = nullptr;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return seen;
}

// A bare window showing one finished page image: the least a preview can cost, without a run.
double bareWindowMs(PeriodReport& one)
{
    TRpPrinter rp;
    one.generator->Generate(rp);
    const double t0 = cpuMs();
    TRpStandardPreview w(rp);
    w.Show();
    double seen = -1;
    for (int i = 0; i < 1000 && seen < 0; ++i) {
        QCoreApplication::processEvents();
        if (w.RpPreview->PageView()->PlayCount() > 0)
            seen = cpuMs() - t0;
    }
    w.close();
    return seen;
}

using benchsupport::rssKb;

QStringList pageStoreFiles() { return QDir::temp().entryList({QStringLiteral("HRP*.tmp")}, QDir::Files); }

struct Repeated {
    long firstKb = 0, lastKb = 0;
    bool allShown = true;      // every preview finished its pages before it was closed
    int filesLeft = 0;         // page-store temporary files left after the last close
};

// Previews opened, run to the end and closed, one after the other, as a technician does all day.
Repeated previewsInARow(PeriodReport& r, int count)
{
    struct Ui : TRpSessionUi {
        void WindowOpened(TRpStandardPreview& w) override { window = &w; }
        TRpStandardPreview* window = nullptr;
    } ui;
    TRpReportSessions sessions(*r.generator, ui);
    const QStringList before = pageStoreFiles();
    Repeated out;
    for (int i = 0; i < count; ++i) {
        ui.window = nullptr;
        bool finished = false;
        QTimer closer;
        closer.setInterval(1);
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (!ui.window || !ui.window->Recorder() || ui.window->Recorder()->Status() != TRpPrinterStatus::Finished)
                return;
            finished = ui.window->Recorder()->PageCount() > 1;
            closer.stop();
            ui.window->close();
        });
        closer.start();
        sessions.Preview();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        out.allShown = out.allShown && finished;
        const long kb = rssKb();
        if (i == 0)
            out.firstKb = kb;
        out.lastKb = kb;
    }
    for (const QString& f : pageStoreFiles())
        out.filesLeft += before.contains(f) ? 0 : 1;
    return out;
}

struct Flips {
    double next = 0, last = 0, first = 0;
    bool moved = true;   // every flip played a page, and the page it was asked for
};

// Page flips in a window on the finished pages: each flip fetches the page and plays it.
Flips flipMs(PeriodReport& r, int rounds)
{
    TRpPrinter rp;
    r.generator->Generate(rp);
    const int pages = rp.PageCount();
    TRpStandardPreview w(rp);
    w.Show();
    w.ZoomToWidthClick();
    QCoreApplication::processEvents();
    TRpPreviewImage* view = w.RpPreview->PageView();
    Flips f;
    auto timed = [&](void (TRpStandardPreview::*move)(), double& total) {
        const int plays = view->PlayCount();
        const double t0 = cpuMs();
        (w.*move)();
        view->repaint();
        total += cpuMs() - t0;
        f.moved = f.moved && view->PlayCount() > plays;
        return view->PageNumber();
    };
    for (int i = 0; i < rounds; ++i) {
        const int from = view->PageNumber();
        const int next = timed(&TRpStandardPreview::NextPageClick, f.next);
        const int last = timed(&TRpStandardPreview::LastPageClick, f.last);
        const int first = timed(&TRpStandardPreview::FirstPageClick, f.first);
        f.moved = f.moved && next == from + 1 && last - first == pages - 1 && first == from;
    }
    f.next /= rounds;
    f.last /= rounds;
    f.first /= rounds;
    w.close();
    return f;
}

template <typename F> double best(int rounds, F&& f)
{
    double b = 1e300;
    for (int i = 0; i < rounds; ++i)
        b = std::min(b, f());
    return b;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    benchsupport::takeSmokeFlag(argc, argv);
    // The page stores' temporary files in a folder of this run's own: tests running beside it
    // make theirs in the shared one, and would count as files left.
    QTemporaryDir ownTemp;
    if (!ownTemp.isValid()) {
        benchsupport::check(false, "no temporary folder of its own");
        return benchsupport::exitStatus();
    }
    qputenv("TMPDIR", QFile::encodeName(ownTemp.path()));
    QApplication app(argc, argv);

    // A smoke run leaves out the long report and measures each thing once.
    const bool smoke = benchsupport::smoke();
    const int rounds = smoke ? 1 : 7, flipRounds = smoke ? 1 : 3, flips = smoke ? 2 : 20;
    PeriodReport two(2), small(30);
    std::unique_ptr<PeriodReport> large = smoke ? nullptr : std::make_unique<PeriodReport>(290);
    int pages2 = 0, pages30 = 0, pages290 = 0;
    generateMs(two, &pages2);
    const double gen2 = best(rounds, [&] { return generateMs(two); });
    PeriodReport one(1);
    const double gen1 = best(rounds, [&] { return generateMs(one); });
    const double bare = best(rounds, [&] { return bareWindowMs(one); });
    const double first30 = best(rounds, [&] { return firstPageVisibleMs(small); });
    const double first290 = large ? best(rounds, [&] { return firstPageVisibleMs(*large); }) : 0;
    const double gen30 = generateMs(small, &pages30);
    const double gen290 = large ? generateMs(*large, &pages290) : 0;
    Flips flips30{1e300, 1e300, 1e300}, flips290{1e300, 1e300, 1e300};
    for (int round = 0; round < flipRounds; ++round) {
        const Flips a = flipMs(small, flips);
        flips30 = {std::min(flips30.next, a.next), std::min(flips30.last, a.last), std::min(flips30.first, a.first),
                   flips30.moved && a.moved};
        if (large) {
            const Flips b = flipMs(*large, flips);
            flips290 = {std::min(flips290.next, b.next), std::min(flips290.last, b.last), std::min(flips290.first, b.first),
                        flips290.moved && b.moved};
        }
    }
    benchsupport::check(pages2 == 2 && pages30 == 30 && (!large || pages290 == 290),
                        "the reports had " + std::to_string(pages2) + ", " + std::to_string(pages30) + " and " +
                            std::to_string(pages290) + " pages, not 2, 30 and 290");
    // firstPageVisibleMs gives -1 when the window never played page 1.
    benchsupport::check(first30 >= 0 && first290 >= 0, "the preview never showed its first page");
    benchsupport::check(flips30.moved && flips290.moved, "a page flip did not show the page asked for");
    benchsupport::check(bare >= 0, "the bare window never showed its page");
    const Repeated ten = previewsInARow(small, smoke ? 2 : 10);
    benchsupport::check(ten.allShown && ten.firstKb > 0, "a preview in the row was closed before its pages were there");
    benchsupport::check(ten.filesLeft == 0, std::to_string(ten.filesLeft) + " page-store temporary files were left");
    if (smoke || benchsupport::failed())
        return benchsupport::exitStatus();

    std::printf("period report pages: %d, %d, %d (baseline, small, large)\n", pages2, pages30, pages290);
    std::printf("generating %d pages, no window (baseline): %.2f ms; %d pages: %.1f ms; %d pages: %.1f ms\n",
                pages2, gen2, pages30, gen30, pages290, gen290);
    std::printf("first page visible: %d pages %.2f ms, %d pages %.2f ms\n", pages30, first30, pages290, first290);
    std::printf("  ratio to generating 2 pages: %.2f and %.2f\n", first30 / gen2, first290 / gen2);
    std::printf("  ratio 290 / 30 pages: %.2f (goal <= 1.3)\n", first290 / first30);
    std::printf("bare window showing one page %.2f ms + generating one page %.2f ms: first page visible at %.2f x "
                "(30 pages) and %.2f x (290 pages) of it (goal <= 1.2)\n",
                bare, gen1, first30 / (bare + gen1), first290 / (bare + gen1));
    std::printf("ten previews of %d pages opened and closed: resident %ld KB after the first, %ld KB after the "
                "tenth, ratio %.2f (goal <= 1.1); page-store files left: %d\n",
                pages30, ten.firstKb, ten.lastKb, static_cast<double>(ten.lastKb) / static_cast<double>(ten.firstKb),
                ten.filesLeft);
    std::printf("page flips (ms): next %.2f / %.2f, last %.2f / %.2f, first %.2f / %.2f (30 / 290 pages)\n",
                flips30.next, flips290.next, flips30.last, flips290.last, flips30.first, flips290.first);
    std::printf("  ratio 290 / 30 pages: next %.2f, last %.2f, first %.2f (goal <= 1.3)\n",
                flips290.next / flips30.next, flips290.last / flips30.last, flips290.first / flips30.first);
    return 0;
}
