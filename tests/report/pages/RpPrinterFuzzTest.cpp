// Saved report files are untrusted: mutated files must load or be refused with an error, and every
// page that loads must play or be refused, never crash or read out of bounds (run under the
// sanitizer build to see the latter).
#include "platform/Exception.h"
#include "report/pages/RpPrinter.h"
#include "report/pages/RpStream.h"

#include "RpPageListFixtures.h"
#include "RpPrinterFixtures.h"
#include "support/TestSupport.h"

#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace rpfixtures;

namespace {

QByteArray mutate(const QByteArray& good, QRandomGenerator& rng)
{
    QByteArray b = good;
    const auto size = [&] { return quint32(b.size()); };
    switch (rng.bounded(6)) {
    case 0: { // a few random bytes
        const int n = 1 + int(rng.bounded(8));
        for (int i = 0; i < n; ++i)
            b[rng.bounded(size())] = char(rng.bounded(256));
        break;
    }
    case 1: { // an aligned 32-bit field set to a value that matters to offsets and counts
        const quint32 at = rng.bounded(size() / 4) * 4;
        const quint32 values[] = {0, 1, 0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, size(), size() - 4, size() + 4, 128, 12, 8};
        setU32(b, at, values[rng.bounded(quint32(std::size(values)))]);
        break;
    }
    case 2: // cut short
        b.truncate(qsizetype(rng.bounded(size())));
        break;
    case 3: { // bytes inserted or removed somewhere, shifting everything behind
        const quint32 at = rng.bounded(size());
        if (rng.bounded(2))
            b.insert(at, QByteArray(int(1 + rng.bounded(16)), char(rng.bounded(256))));
        else
            b.remove(at, qsizetype(1 + rng.bounded(16)));
        break;
    }
    case 4: { // a field inside the first metafile's records
        const quint32 at = 136 + rng.bounded(std::min<quint32>(2000, size() - 140) / 4) * 4;
        setU32(b, at, rng.generate());
        break;
    }
    default: { // a small random count or size somewhere in the records
        const quint32 at = 128 + rng.bounded((size() - 128) / 4) * 4;
        setU32(b, at, rng.bounded(4096));
        break;
    }
    }
    return b;
}

void loadAndPlay(const QString& file, int& loaded, int& played)
{
    TRpPrinter rp;
    try {
        rp.Load(file);
    } catch (const Exception&) {
        return;
    }
    ++loaded;
    QImage target(120, 170, QImage::Format_RGB32);
    for (int n = 1; n <= rp.PageCount(); ++n) {
        try {
            auto page = rp.GetPage(n);
            if (!page)
                continue;
            target.fill(Qt::white);
            QPainter p(&target);
            page->Play(p, QRectF(0, 0, 120, 170));
            ++played;
        } catch (const Exception&) {
        }
    }
}

TEST(RpPrinterFuzz, MutatedReportFilesNeverCrash)
{
    PrinterInfo::ScopedOverride noPrinter{{}};
    QTemporaryDir dir;
    QList<QByteArray> seeds;
    for (bool compressed : {false, true}) {
        TRpPrinter rp;
        rp.SetCompression(compressed);
        recordDocument(rp, 3);
        rp.Save(dir.filePath("seed.hrp"));
        seeds.append(testsupport::readFile(dir.filePath("seed.hrp")));
    }
    // A file holding a page that Windows GDI recorded next to one of ours.
    {
        TRpPrinter rp;
        recordDocument(rp, 1);
        TRpPageList list;
        list.Start(std::make_unique<TRpStream>(), false);
        list.AddPage(testsupport::readFile(testsupport::sourceDir() + QStringLiteral("/tests/platform/data/windows-gdi-page.emf")));
        list.AddPage(rp.GetPage(1)->Bytes());
        list.WriteHeader();
        seeds.append(list.Stream()->ReadAll());
    }
    QRandomGenerator rng(20261207);
    int loaded = 0, played = 0;
    const QString file = dir.filePath("mutant.hrp");
    const int rounds = 3000;
    for (int i = 0; i < rounds; ++i) {
        const QByteArray bytes = mutate(seeds[i % seeds.size()], rng);
        ASSERT_TRUE(testsupport::writeFile(file, bytes));
        loadAndPlay(file, loaded, played);
    }
    // The mutations must reach the players, not only the structure check.
    EXPECT_GT(loaded, rounds / 10);
    EXPECT_GT(played, rounds / 10);
    std::printf("%d of %d mutants loaded, %d pages played\n", loaded, rounds, played);
}

} // namespace
