#include "report/pages/RpCompress.h"
#include "report/pages/RpError.h"
#include "report/pages/RpPageList.h"
#include "report/pages/RpStream.h"

#include "RpPageListFixtures.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <atomic>
#include <thread>

using namespace rpfixtures;

namespace {

std::unique_ptr<TRpStream> recordingStream() { return std::make_unique<TRpStream>(TRpStream::kDefaultMemoryLimit); }

QByteArray pageAt(TRpPageList& list, int n)
{
    auto page = list.GetPage(n);
    return page ? page->Bytes() : QByteArray();
}

TEST(RpPageList, OnePageFileLayout)
{
    TRpPageList list;
    list.Start(recordingStream(), false);
    const QByteArray mf = a4Portrait(200);
    list.AddPage(mf);
    list.WriteHeader();
    const QByteArray file = list.Stream()->ReadAll();
    ASSERT_EQ(file.size(), 128 + 8 + mf.size() + 4);
    EXPECT_EQ(qFromLittleEndian<quint16>(file.constData()), 3);
    EXPECT_EQ(qFromLittleEndian<quint16>(file.constData() + 2), 305);
    EXPECT_EQ(getU32(file, 8), 1u);
    EXPECT_EQ(file[25], 0);
    EXPECT_EQ(getU32(file, 128), 1u) << "page number";
    EXPECT_EQ(getU32(file, 132), quint32(file.size())) << "next-record link is the file size";
    EXPECT_EQ(file.mid(136, mf.size()), mf) << "the metafile as it stores itself";
    EXPECT_EQ(getU32(file, file.size() - 4), 128u) << "last field is the record start";
    // The header's date is now, in days since 30 December 1899.
    TRpFileHeader h = TRpFileHeader::decode(file);
    EXPECT_NEAR(h.date, TRpFileHeader::dateFromQt(QDateTime::currentDateTime()), 1.0 / 24);
    EXPECT_EQ(TRpFileHeader::dateToQt(2.5), QDateTime(QDate(1900, 1, 1), QTime(12, 0)));
}

TEST(RpPageList, HeaderCountsOneUntilRewritten)
{
    TRpPageList list;
    list.Start(recordingStream(), false);
    for (quint32 i = 1; i <= 3; ++i)
        list.AddPage(a4Portrait(50, i));
    EXPECT_EQ(list.PageCount(), 3);
    EXPECT_EQ(getU32(list.Stream()->ReadAll(), 8), 1u);
    list.WriteHeader();
    EXPECT_EQ(getU32(list.Stream()->ReadAll(), 8), 3u);
}

TEST(RpPageList, PagesComeBackInAnyOrder)
{
    for (bool compressed : {false, true}) {
        TRpPageList list;
        list.Start(recordingStream(), compressed);
        QList<QByteArray> pages;
        for (quint32 i = 1; i <= 7; ++i) {
            pages.append(a4Portrait(int(100 * i), i));
            list.AddPage(pages.back());
        }
        // Page 2 of 3.. asked for while the stream stands at its end: reached through the last
        // record and the start field just before it.
        EXPECT_EQ(list.Stream()->Position(), list.Stream()->Size());
        EXPECT_EQ(pageAt(list, 2), pages[1]);
        for (int n = 1; n <= 7; ++n)
            EXPECT_EQ(pageAt(list, n), pages[n - 1]) << "forward " << n << " compressed " << compressed;
        for (int n = 7; n >= 1; --n)
            EXPECT_EQ(pageAt(list, n), pages[n - 1]) << "backward " << n;
        for (int n : {4, 1, 6, 6, 3, 7, 2, 5})
            EXPECT_EQ(pageAt(list, n), pages[n - 1]) << "jump " << n;
        EXPECT_EQ(list.GetPage(0), nullptr);
        EXPECT_EQ(list.GetPage(8), nullptr);
    }
}

TEST(RpPageList, ReadsDoNotInterleaveWithAppends)
{
    // One thread appends (the store moves to its file on the way) while another reads pages that
    // are already stored: every page read must be whole and the right one.
    TRpPageList list;
    list.Start(recordingStream(), false);
    constexpr int kPages = 150;
    std::atomic<bool> done{false};
    std::atomic<int> wrong{0}, reads{0};
    std::thread reader([&] {
        QRandomGenerator rng(3);
        while (!done.load()) {
            const int count = list.PageCount();
            if (count == 0)
                continue;
            const int n = 1 + int(rng.bounded(quint32(count)));
            auto page = list.GetPage(n);
            if (!page || page->Bytes() != a4Portrait(1000, quint32(n)))
                ++wrong;
            ++reads;
        }
    });
    for (int n = 1; n <= kPages; ++n)
        list.AddPage(a4Portrait(1000, quint32(n)));
    while (reads.load() < 200)
        std::this_thread::yield();
    done = true;
    reader.join();
    EXPECT_FALSE(list.Stream()->InMemory());
    EXPECT_EQ(wrong.load(), 0);
}

TEST(RpPageList, WalkFromTheEndToPageTwoOfThree)
{
    TRpPageList list;
    list.Start(recordingStream(), false);
    for (quint32 i = 1; i <= 3; ++i)
        list.AddPage(a4Portrait(64, i));
    const QByteArray file = list.Stream()->ReadAll();
    const quint32 page3 = getU32(file, file.size() - 4);
    const quint32 page2 = getU32(file, page3 - 4);
    list.Stream()->Seek(0, TRpSeekOrigin::FromEnd);
    list.SeekToPage(2);
    EXPECT_EQ(list.Stream()->Position(), page2);
    EXPECT_EQ(getU32(file, page2), 2u);
    EXPECT_EQ(getU32(file, page2 + 4), page3);
}

TEST(RpPageList, CompressedRecordsHoldTheCountThenTheCode)
{
    TRpPageList list;
    list.Start(recordingStream(), true);
    const QByteArray mf = a4Portrait(500);
    list.AddPage(mf);
    list.WriteHeader();
    const QByteArray file = list.Stream()->ReadAll();
    EXPECT_EQ(file[25], 1);
    EXPECT_EQ(getU32(file, 136), quint32(mf.size()));
    const QByteArray code = file.mid(140, file.size() - 140 - 4);
    EXPECT_EQ(code, TRpCompress::encodeBytes(mf));
    EXPECT_EQ(getU32(file, 132), quint32(file.size()));
}

TEST(RpPageList, SamePagesBeforeAndAfterTheMoveToAFile)
{
    TRpPageList list;
    list.Start(recordingStream(), false);
    QList<QByteArray> pages;
    int n = 0;
    while (list.Stream()->InMemory()) {
        ++n;
        pages.append(a4Portrait(9000, quint32(n)));
        list.AddPage(pages.back());
        if (list.Stream()->InMemory()) {
            ASSERT_EQ(pageAt(list, n), pages.back());
        }
    }
    ASSERT_GT(n, 2);
    const QString temp = list.Stream()->FileName();
    EXPECT_TRUE(QFileInfo::exists(temp));
    for (int i = 1; i <= n; ++i)
        EXPECT_EQ(pageAt(list, i), pages[i - 1]);
    list.AddPage(a4Portrait(10, 999));
    EXPECT_EQ(pageAt(list, n + 1), a4Portrait(10, 999));
    list.ReleaseStream();
    EXPECT_FALSE(QFileInfo::exists(temp));
}

TEST(RpPageList, SavedAndLoadedFilesMatchByteForByte)
{
    QTemporaryDir dir;
    for (bool compressed : {false, true}) {
        TRpPageList list;
        list.Start(recordingStream(), compressed);
        for (quint32 i = 1; i <= 4; ++i)
            list.AddPage(a4Landscape(3000, i));
        list.WriteHeader();
        const QString path = dir.filePath(compressed ? "c.hrp" : "u.hrp");
        list.SaveToFile(path);
        EXPECT_EQ(testsupport::readFile(path), list.Stream()->ReadAll());

        TRpPageList loaded;
        loaded.LoadFromFile(path);
        EXPECT_EQ(loaded.PageCount(), 4);
        EXPECT_EQ(loaded.Compressed(), compressed);
        for (int n = 4; n >= 1; --n)
            EXPECT_EQ(pageAt(loaded, n), a4Landscape(3000, quint32(n)));
    }
}

TEST(RpPageList, AnyNonZeroCompressionByteMeansCompressed)
{
    TRpPageList list;
    list.Start(recordingStream(), true);
    list.AddPage(a4Portrait(300, 5));
    list.WriteHeader();
    QByteArray file = list.Stream()->ReadAll();
    file[25] = 2;
    QTemporaryDir dir;
    ASSERT_TRUE(testsupport::writeFile(dir.filePath("flag2.hrp"), file));
    TRpPageList loaded;
    loaded.LoadFromFile(dir.filePath("flag2.hrp"));
    EXPECT_TRUE(loaded.Compressed());
    EXPECT_EQ(pageAt(loaded, 1), a4Portrait(300, 5));
}

TEST(RpPageList, ExtraRecordsAfterTheCountedPagesAreIgnored)
{
    // A document aborted by an older writer keeps "1" in its header with more records behind.
    TRpPageList list;
    list.Start(recordingStream(), false);
    for (quint32 i = 1; i <= 3; ++i)
        list.AddPage(a4Portrait(64, i));
    QTemporaryDir dir;
    list.SaveToFile(dir.filePath("aborted.hrp"));
    TRpPageList loaded;
    loaded.LoadFromFile(dir.filePath("aborted.hrp"));
    EXPECT_EQ(loaded.PageCount(), 1);
    EXPECT_EQ(pageAt(loaded, 1), a4Portrait(64, 1));
}

TEST(RpPageList, MetafileHeaderIsChecked)
{
    EXPECT_NO_THROW(TRpPageImage{a4Portrait()});
    QByteArray bad = a4Portrait();
    setU32(bad, 40, 0x12345678);
    EXPECT_THROW(TRpPageImage{bad}, ERpError);
    bad = a4Portrait();
    setU32(bad, 48, quint32(bad.size() + 4));
    EXPECT_THROW(TRpPageImage{bad}, ERpError);
    EXPECT_THROW(TRpPageImage{QByteArray(20, '\0')}, ERpError);
    // A reference device of one pixel across 210 mm, or a frame of no size, is no page.
    bad = a4Portrait();
    setU32(bad, 72, 1);
    EXPECT_THROW(TRpPageImage{bad}, ERpError);
    bad = a4Portrait();
    setU32(bad, 32, 0);
    EXPECT_THROW(TRpPageImage{bad}, ERpError);
    const TRpPageImage img(a4Landscape());
    EXPECT_EQ(img.Width(96), 1122);
    EXPECT_EQ(img.Height(96), 794);
}

} // namespace
