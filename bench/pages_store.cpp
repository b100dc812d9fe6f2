// Page store throughput and memory: 2,000 recorded pages of 50 text lines each, recorded into the
// store and fetched back in order and in reverse. The costs per page at 200 and at 2,000 pages
// should be the same (the store reaches every page through one or two record hops and keeps its
// pages in one temporary file), and they are set against writing and reading the same page bytes
// straight to and from a file, the floor any store has to pay.
//
// Peak memory is measured in child processes (this program run with --child), each recording a
// given number of pages, so that one measurement does not inherit another's heap.
#include "bench/support/CpuTime.h"
#include "bench/support/Outcome.h"
#include "bench/support/PeakMemory.h"
#include "platform/print/PrinterInfo.h"
#include "report/pages/RpPageList.h"
#include "report/pages/RpPrinter.h"
#include "report/pages/RpStream.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryFile>
#include <benchmark/benchmark.h>
#include <ctime>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kLines = 50;

// Page counts measured: a smoke run takes the smaller only.
std::vector<int> sizes() { return benchsupport::smoke() ? std::vector<int>{200} : std::vector<int>{200, 2000}; }
int maxPages() { return sizes().back(); }

void drawPage(PageCanvas& c, const TRpPrinter& rp, int page)
{
    c.fillRect({rp.XPos(100), rp.YPos(100), rp.XPos(2870), rp.YPos(171)}, QColor(230, 230, 230));
    CanvasFont font;
    font.face = QStringLiteral("Arial");
    font.height = -11;
    font.charset = 204;
    c.setFont(font);
    c.setTextAlign(CanvasTextAlign::Left);
    for (int i = 0; i < kLines; ++i)
        c.textOut(rp.XPos(100), rp.YPos(180 + 36 * i),
                  QStringLiteral("%1  Иванов И. И.  WBC 6.4  RBC 4.52  HGB 138  HCT 41.2  PLT 245  стр. %2")
                      .arg(page * kLines + i)
                      .arg(page));
}

// The bytes of maxPages() recorded pages, recorded once.
const std::vector<QByteArray>& recordedPages()
{
    static const std::vector<QByteArray> pages = [] {
        std::vector<QByteArray> v;
        TRpPrinter rp;
        rp.SetOrientation(TRpOrientation::poLandscape);
        rp.BeginDoc();
        for (int p = 1; p <= maxPages(); ++p) {
            rp.NewPage();
            drawPage(*rp.Canvas(), rp, p);
        }
        rp.EndDoc();
        for (int p = 1; p <= maxPages(); ++p)
            v.push_back(rp.GetPage(p)->Bytes());
        return v;
    }();
    return pages;
}

// Nanoseconds per page of each measurement, for the summary.
std::map<std::string, double>& perPage()
{
    static std::map<std::string, double> m;
    return m;
}

void expectPages(benchmark::State& state, const char* what, int got, int pages)
{
    benchsupport::check(state, got == pages, std::to_string(got) + " of " + std::to_string(pages) + " pages " + what);
}

template <typename F>
void measure(benchmark::State& state, const std::string& name, int pages, F&& body)
{
    // Processor time of this process (user and system): the machine is shared, and waiting for a
    // processor says nothing about the store.
    using benchsupport::cpuNs;
    double total = 0;
    for (auto _ : state) {
        const double t0 = cpuNs();
        body();
        total += cpuNs() - t0;
    }
    const double ns = total / double(state.iterations()) / pages;
    perPage()[name + "/" + std::to_string(pages)] = ns;
    state.counters["us_per_page"] = ns / 1000.0;
}

void BM_RecordPages(benchmark::State& state)
{
    const int n = int(state.range(0));
    int recorded = 0;
    measure(state, "record", n, [&] {
        TRpPrinter rp;
        rp.SetOrientation(TRpOrientation::poLandscape);
        rp.BeginDoc();
        for (int p = 1; p <= n; ++p) {
            rp.NewPage();
            drawPage(*rp.Canvas(), rp, p);
        }
        rp.EndDoc();
        recorded = rp.PageCount();
    });
    expectPages(state, "recorded", recorded, n);
}

void BM_StorePages(benchmark::State& state)
{
    const int n = int(state.range(0));
    const auto& pages = recordedPages();
    int stored = 0;
    measure(state, "store", n, [&] {
        TRpPageList list;
        list.Start(std::make_unique<TRpStream>(), false);
        for (int p = 0; p < n; ++p)
            list.AddPage(pages[size_t(p)]);
        list.WriteHeader();
        stored = list.PageCount();
    });
    expectPages(state, "stored", stored, n);
}

void BM_FloorWrite(benchmark::State& state)
{
    const int n = int(state.range(0));
    const auto& pages = recordedPages();
    qint64 expected = 0, written = 0;
    for (int p = 0; p < n; ++p)
        expected += pages[size_t(p)].size();
    measure(state, "floor-write", n, [&] {
        QTemporaryFile f;
        f.open();
        for (int p = 0; p < n; ++p)
            f.write(pages[size_t(p)]);
        f.flush();
        written = f.size();
    });
    benchsupport::check(state, written == expected && expected > 0,
                        "the floor wrote " + std::to_string(written) + " of " + std::to_string(expected) + " bytes");
}

// A finished store of n pages, kept between iterations.
TRpPageList& storeOf(int n)
{
    static std::map<int, std::unique_ptr<TRpPageList>> stores;
    auto& s = stores[n];
    if (!s) {
        s = std::make_unique<TRpPageList>();
        s->Start(std::make_unique<TRpStream>(), false);
        for (int p = 0; p < n; ++p)
            s->AddPage(recordedPages()[size_t(p)]);
        s->WriteHeader();
    }
    return *s;
}

void BM_FetchInOrder(benchmark::State& state)
{
    const int n = int(state.range(0));
    TRpPageList& list = storeOf(n);
    int fetched = 0;
    measure(state, "fetch-forward", n, [&] {
        fetched = 0;
        for (int p = 1; p <= n; ++p)
            fetched += list.GetPage(p) != nullptr;
    });
    expectPages(state, "fetched in order", fetched, n);
}

void BM_FetchReverse(benchmark::State& state)
{
    const int n = int(state.range(0));
    TRpPageList& list = storeOf(n);
    int fetched = 0;
    measure(state, "fetch-reverse", n, [&] {
        fetched = 0;
        for (int p = n; p >= 1; --p)
            fetched += list.GetPage(p) != nullptr;
    });
    expectPages(state, "fetched in reverse", fetched, n);
}

void BM_FloorRead(benchmark::State& state)
{
    const int n = int(state.range(0));
    const auto& pages = recordedPages();
    QTemporaryFile f;
    f.open();
    std::vector<qint64> offsets;
    for (int p = 0; p < n; ++p) {
        offsets.push_back(f.pos());
        f.write(pages[size_t(p)]);
    }
    f.flush();
    int read = 0;
    measure(state, "floor-read", n, [&] {
        read = 0;
        for (int p = 0; p < n; ++p) {
            f.seek(offsets[size_t(p)]);
            read += f.read(pages[size_t(p)].size()).size() == pages[size_t(p)].size();
        }
    });
    expectPages(state, "read back by the floor", read, n);
}

void registerAll()
{
    const bool smoke = benchsupport::smoke();
    // Recording is the slow one: fewer rounds for it.
    auto add = [&](const char* name, void (*fn)(benchmark::State&), int rounds200, int rounds2000) {
        for (int n : sizes())
            benchmark::RegisterBenchmark(name, fn)->Arg(n)->Iterations(smoke ? 1 : n == 200 ? rounds200 : rounds2000)->Unit(benchmark::kMillisecond);
    };
    add("BM_RecordPages", BM_RecordPages, 10, 2);
    add("BM_StorePages", BM_StorePages, 50, 5);
    add("BM_FloorWrite", BM_FloorWrite, 50, 5);
    add("BM_FetchInOrder", BM_FetchInOrder, 50, 5);
    add("BM_FetchReverse", BM_FetchReverse, 50, 5);
    add("BM_FloorRead", BM_FloorRead, 50, 5);
}

using benchsupport::maxRssKb;

// Child: records n pages into the store ("store") or draws them and writes their bytes straight
// to a file ("floor"), then prints its peak resident set in kilobytes.
int runChild(const char* mode, int n)
{
    TRpPrinter rp;
    rp.SetOrientation(TRpOrientation::poLandscape);
    if (std::strcmp(mode, "store") == 0) {
        rp.BeginDoc();
        for (int p = 1; p <= n; ++p) {
            rp.NewPage();
            drawPage(*rp.Canvas(), rp, p);
        }
        rp.EndDoc();
        // Reading every page back belongs to the store's working set too.
        for (int p = n; p >= 1; --p)
            benchmark::DoNotOptimize(rp.GetPage(p));
    } else {
        QTemporaryFile f;
        f.open();
        EmfRecorder page(QSize(rp.XSize(2970), rp.YSize(2100)), QSizeF(297, 210));
        for (int p = 1; p <= n; ++p) {
            drawPage(page, rp, p);
            f.write(page.finish());
        }
    }
    std::printf("%ld\n", maxRssKb());
    return 0;
}

long childPeakKb(const char* mode, int n)
{
    return benchsupport::childPeakKb({QString::fromLatin1(mode), QString::number(n)}, 300000);
}

struct Peaks {
    long store200, store2000, floor200, floor2000;
};

void printSummary(const Peaks& peaks)
{
    auto& m = perPage();
    auto ratio = [&](const std::string& a, const std::string& b) { return m.count(a) && m.count(b) ? m[a] / m[b] : 0.0; };
    std::printf("\nProcessor time per page, 200 and 2,000 pages, and their ratio (goal: flat, at most 1.5):\n");
    for (const char* k : {"record", "store", "fetch-forward", "fetch-reverse", "floor-write", "floor-read"})
        std::printf("  %-14s %8.1f us  %8.1f us  ratio %.2f\n", k, m[std::string(k) + "/200"] / 1000,
                    m[std::string(k) + "/2000"] / 1000, ratio(std::string(k) + "/2000", std::string(k) + "/200"));
    // Reading 44 MB of pages misses the processor caches where 4.4 MB did not; the floor pays that
    // too, so the store's own cost is what it adds over the floor.
    std::printf("Cost over the file floor per page, 200 and 2,000 pages, and their ratio:\n");
    for (auto [k, f] : {std::pair{"store", "floor-write"}, std::pair{"fetch-forward", "floor-read"},
                        std::pair{"fetch-reverse", "floor-read"}}) {
        const double a = m[std::string(k) + "/200"] - m[std::string(f) + "/200"];
        const double b = m[std::string(k) + "/2000"] - m[std::string(f) + "/2000"];
        std::printf("  %-14s %8.1f us  %8.1f us  ratio %.2f\n", k, a / 1000, b / 1000, a > 0 ? b / a : 0.0);
    }
    std::printf("Against the file floor at 2,000 pages:\n");
    std::printf("  store / floor-write          %.2f\n", ratio("store/2000", "floor-write/2000"));
    std::printf("  fetch-forward / floor-read   %.2f\n", ratio("fetch-forward/2000", "floor-read/2000"));
    std::printf("  fetch-reverse / floor-read   %.2f\n", ratio("fetch-reverse/2000", "floor-read/2000"));

    const auto [s200, s2000, f200, f2000] = peaks;
    std::printf("Peak memory (goal: independent of page count):\n");
    std::printf("  store  200 pages %6ld KB, 2,000 pages %6ld KB, ratio %.2f\n", s200, s2000, s2000 > 0 && s200 > 0 ? double(s2000) / double(s200) : 0.0);
    std::printf("  floor  200 pages %6ld KB, 2,000 pages %6ld KB, ratio %.2f\n", f200, f2000, f2000 > 0 && f200 > 0 ? double(f2000) / double(f200) : 0.0);
    std::printf("  store / floor at 2,000 pages: %.2f\n", f2000 > 0 ? double(s2000) / double(f2000) : 0.0);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    benchsupport::takeSmokeFlag(argc, argv);
    QGuiApplication app(argc, argv);
    // The recorder's page size must not depend on the machine's printers.
    PrinterInfo::ScopedOverride noPrinter{{}};
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0)
        return runChild(argv[2], std::atoi(argv[3]));
    registerAll();
    if (!benchsupport::runBenchmarks(argc, argv))
        return 1;
    if (benchsupport::smoke()) {
        // The children's path once, at the smaller size: no summary without both sizes.
        benchsupport::check(childPeakKb("store", 200) > 0 && childPeakKb("floor", 200) > 0,
                            "a memory measurement at 200 pages did not finish");
        return benchsupport::exitStatus();
    }
    const Peaks peaks{childPeakKb("store", 200), childPeakKb("store", 2000), childPeakKb("floor", 200), childPeakKb("floor", 2000)};
    if (!benchsupport::check(peaks.store200 > 0 && peaks.store2000 > 0 && peaks.floor200 > 0 && peaks.floor2000 > 0,
                             "a memory measurement did not finish"))
        return benchsupport::exitStatus();
    printSummary(peaks);
    return 0;
}
