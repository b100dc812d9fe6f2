#include "report/pages/RpError.h"
#include "report/pages/RpPrinter.h"
#include "report/pages/RpStream.h"

#include "RpPageListFixtures.h"
#include "RpPrinterFixtures.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <limits>

using namespace rpfixtures;

namespace {

class RpPrinterNoPrinter : public ::testing::Test {
protected:
    PrinterInfo::ScopedOverride none_{{}};
    QTemporaryDir dir_;
    QString path(const char* name) const { return dir_.filePath(QLatin1String(name)); }
};

class RpPrinterWithPrinter : public RpPrinterNoPrinter {
protected:
    PrinterInfo::ScopedOverride office_{{officePrinter()}};
};

// Collects the recorder's notifications as they are delivered.
class Client : public QObject {
public:
    QList<QPair<int, int>> received; // (type, value)

protected:
    void customEvent(QEvent* e) override
    {
        if (e->type() == TRpNotifyEvent::ProgressType || e->type() == TRpNotifyEvent::PagesAvailableType)
            received.append({int(e->type()), static_cast<TRpNotifyEvent*>(e)->value()});
    }
};

std::string errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const ERpError& e) {
        return e.message().toStdString();
    }
    return "(no error)";
}

TEST_F(RpPrinterNoPrinter, PaperTableGivesThePageSize)
{
    TRpPrinter rp;
    EXPECT_FALSE(rp.PrinterPresent());
    EXPECT_EQ(rp.PaperSize(), TRpPaperSize::A4);
    EXPECT_EQ(rp.PaperWidth(), 2100);
    EXPECT_EQ(rp.PaperLength(), 2970);
    struct Row {
        TRpPaperSize size;
        int width, length;
    };
    for (const Row& r : {Row{TRpPaperSize::Env9, 984, 2254}, Row{TRpPaperSize::Note, 2159, 2790},
                         Row{TRpPaperSize::Ledger, 4318, 2794}, Row{TRpPaperSize::CSheet, 1000, 1000},
                         Row{TRpPaperSize::A3, 2970, 4200}}) {
        ASSERT_TRUE(rp.SetPaperSize(r.size));
        rp.SetOrientation(TRpOrientation::poPortrait);
        EXPECT_EQ(rp.PaperWidth(), r.width) << paperSizeInfo(r.size).name;
        EXPECT_EQ(rp.PaperLength(), r.length);
        rp.SetOrientation(TRpOrientation::poLandscape);
        EXPECT_EQ(rp.PaperWidth(), r.length);
        EXPECT_EQ(rp.PaperLength(), r.width);
    }
    // A custom sheet is not turned; its size is taken only while the size is Custom.
    EXPECT_FALSE(rp.SetPaperWidth(1500));
    ASSERT_TRUE(rp.SetPaperSize(TRpPaperSize::Custom));
    EXPECT_TRUE(rp.SetPaperWidth(1500));
    EXPECT_TRUE(rp.SetPaperLength(900));
    EXPECT_EQ(rp.PaperWidth(), 1500);
    EXPECT_EQ(rp.PaperLength(), 900);
}

TEST_F(RpPrinterNoPrinter, LandscapeIsKeptWithoutAPrinter)
{
    TRpPrinter rp;
    EXPECT_TRUE(rp.SetPaperSize(TRpPaperSize::A4));
    EXPECT_TRUE(rp.SetOrientation(TRpOrientation::poLandscape));
    EXPECT_EQ(rp.PaperWidth(), 2970);
    EXPECT_EQ(rp.PaperLength(), 2100);
    rp.BeginDoc();
    rp.NewPage();
    EXPECT_EQ(rp.Canvas()->pageSize(), QSize(rp.XSize(2970), rp.YSize(2100)));
    rp.EndDoc();
    auto page = rp.GetPage(1);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->FrameHundredthsMm().width() > page->FrameHundredthsMm().height(), true);
    EXPECT_NEAR(page->FrameHundredthsMm().width(), 29700, 2);
}

TEST_F(RpPrinterWithPrinter, OnlyWhatTheDriverOffersIsTaken)
{
    TRpPrinter rp;
    EXPECT_TRUE(rp.PrinterPresent());
    EXPECT_FALSE(rp.SetPaperSize(TRpPaperSize::A3));
    EXPECT_EQ(rp.PaperSize(), TRpPaperSize::A4);
    EXPECT_TRUE(rp.SetPaperSize(TRpPaperSize::Letter));
    EXPECT_EQ(rp.PaperWidth(), 2159);
    // Default is the printer's own sheet, turned for landscape.
    EXPECT_TRUE(rp.SetPaperSize(TRpPaperSize::Default));
    rp.SetOrientation(TRpOrientation::poLandscape);
    EXPECT_EQ(rp.PaperWidth(), 2970);
    EXPECT_EQ(rp.PaperLength(), 2100);
    EXPECT_TRUE(rp.SetPaperSize(TRpPaperSize::Custom));
    // Choosing the printer reads its default paper.
    rp.SetPrinterIndex(-1);
    EXPECT_EQ(rp.PaperSize(), TRpPaperSize::A4);
}

TEST_F(RpPrinterNoPrinter, DocumentOrderErrors)
{
    TRpPrinter rp;
    EXPECT_EQ(errorOf([&] { rp.NewPage(); }), "Illegal call to NewPage");
    rp.BeginDoc();
    rp.NewPage();
    drawPage(rp, 1);
    // Refused without harm to the page being drawn.
    EXPECT_EQ(errorOf([&] { rp.BeginDoc(); }), "Report printer not ready");
    ASSERT_NE(rp.Canvas(), nullptr);
    rp.EndDoc();
    EXPECT_NE(rp.GetPage(1), nullptr);
    EXPECT_EQ(rp.Status(), TRpPrinterStatus::Finished);
    EXPECT_EQ(errorOf([&] { rp.NewPage(); }), "Illegal call to NewPage");
    EXPECT_EQ(errorOf([&] { rp.BeginDoc(); }), "Report printer not ready");
    // EndDoc outside a document changes nothing.
    rp.EndDoc();
    EXPECT_EQ(rp.AvailablePages(), 1);
    rp.Cleanup();
    EXPECT_EQ(rp.Status(), TRpPrinterStatus::Ready);
    EXPECT_NO_THROW(rp.BeginDoc());
}

TEST_F(RpPrinterNoPrinter, DeviceMeasuresFollowTheScreen)
{
    TRpPrinter rp;
    const int dpi = TRpPrinter::ScreenPixelsPerInch();
    EXPECT_EQ(rp.XSize(2100), int(std::lround(2100.0 * dpi / 254)));
    EXPECT_EQ(rp.YPos(254), dpi);
    EXPECT_EQ(rp.XPos(-254), -dpi);
    // A measure a layout made NaN lands where the model's own rounding puts it.
    EXPECT_EQ(rp.XPos(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(rp.LeftWaste(), 0);
}

TEST_F(RpPrinterNoPrinter, NotificationsAreQueuedToTheClient)
{
    Client client;
    TRpPrinter rp;
    rp.SetClient(&client);
    rp.BeginDoc();
    rp.NewPage();
    rp.NewPage();
    rp.SetProgress(50);
    rp.NewPage();
    rp.EndDoc();
    EXPECT_TRUE(client.received.isEmpty()) << "nothing is delivered from inside the recorder";
    QCoreApplication::sendPostedEvents(&client);
    const int P = TRpNotifyEvent::PagesAvailableType;
    const int G = TRpNotifyEvent::ProgressType;
    const QList<QPair<int, int>> expected{{P, 1}, {G, 50}, {P, 2}, {P, 3}};
    EXPECT_EQ(client.received, expected);
    EXPECT_EQ(rp.Progress(), 50);

    // Events to a client that has gone are dropped.
    auto* gone = new Client;
    rp.SetClient(gone);
    rp.SetProgress(10);
    delete gone;
    EXPECT_EQ(rp.Client(), nullptr);
    QCoreApplication::sendPostedEvents();
}

TEST_F(RpPrinterNoPrinter, GetPageOnlyForStoredPages)
{
    TRpPrinter rp;
    EXPECT_EQ(rp.GetPage(1), nullptr);
    rp.BeginDoc();
    rp.NewPage();
    drawPage(rp, 1);
    EXPECT_EQ(rp.GetPage(1), nullptr) << "page 1 is still being drawn";
    rp.NewPage();
    EXPECT_EQ(rp.PageCount(), 2);
    EXPECT_EQ(rp.AvailablePages(), 1);
    EXPECT_NE(rp.GetPage(1), nullptr);
    EXPECT_EQ(rp.GetPage(2), nullptr);
    EXPECT_EQ(rp.GetPage(0), nullptr);
    rp.EndDoc();
    EXPECT_NE(rp.GetPage(2), nullptr);
    EXPECT_EQ(rp.GetPage(3), nullptr);
}

TEST_F(RpPrinterNoPrinter, OnePageReportFile)
{
    TRpPrinter rp;
    recordDocument(rp, 1);
    auto page = rp.GetPage(1);
    ASSERT_TRUE(page);
    rp.Save(path("one.hrp"));
    const QByteArray file = testsupport::readFile(path("one.hrp"));
    ASSERT_EQ(file.size(), 128 + 8 + page->Bytes().size() + 4);
    EXPECT_EQ(getU32(file, 8), 1u);
    EXPECT_EQ(getU32(file, 132), quint32(file.size()));
    EXPECT_EQ(getU32(file, file.size() - 4), 128u);
    EXPECT_EQ(file.mid(136, page->Bytes().size()), page->Bytes());
}

TEST_F(RpPrinterNoPrinter, SaveOnlyWhenFinishedAndLoadGivesTheSamePages)
{
    for (bool compressed : {false, true}) {
        TRpPrinter rp;
        rp.SetCompression(compressed);
        rp.BeginDoc();
        rp.NewPage();
        drawPage(rp, 1);
        rp.Save(path("early.hrp"));
        EXPECT_FALSE(QFileInfo::exists(path("early.hrp")));
        for (int p = 2; p <= 3; ++p) {
            rp.NewPage();
            drawPage(rp, p);
        }
        rp.EndDoc();
        const QString file = path(compressed ? "c.hrp" : "u.hrp");
        rp.Save(file);
        EXPECT_EQ(testsupport::readFile(file), rp.PageList().Stream()->ReadAll());
        EXPECT_EQ(getU32(testsupport::readFile(file), 8), 3u);

        TRpPrinter loaded;
        loaded.Load(file);
        EXPECT_EQ(loaded.Status(), TRpPrinterStatus::Finished);
        EXPECT_TRUE(loaded.ReportLoaded());
        EXPECT_EQ(loaded.PageCount(), 3);
        for (int n = 3; n >= 1; --n)
            EXPECT_EQ(loaded.GetPage(n)->Bytes(), rp.GetPage(n)->Bytes()) << n;
    }
    // The compressed and the uncompressed file hold the same pages.
    TRpPrinter u, c;
    u.Load(path("u.hrp"));
    c.Load(path("c.hrp"));
    for (int n = 1; n <= 3; ++n)
        EXPECT_EQ(u.GetPage(n)->Bytes(), c.GetPage(n)->Bytes());
    EXPECT_LT(QFileInfo(path("c.hrp")).size(), QFileInfo(path("u.hrp")).size());
}

TEST_F(RpPrinterNoPrinter, LoadDetectsThePaperLastMatchWins)
{
    using O = TRpOrientation;
    struct Row {
        TRpPaperSize recorded;
        O orientation;
        TRpPaperSize loaded;
        O loadedOrientation;
    };
    const Row rows[] = {
        {TRpPaperSize::A4, O::poLandscape, TRpPaperSize::A4Small, O::poLandscape},
        {TRpPaperSize::A4, O::poPortrait, TRpPaperSize::A4Small, O::poPortrait},
        {TRpPaperSize::Letter, O::poPortrait, TRpPaperSize::Note, O::poPortrait},
        {TRpPaperSize::A3, O::poLandscape, TRpPaperSize::A3, O::poLandscape},
        {TRpPaperSize::A5, O::poPortrait, TRpPaperSize::A5, O::poPortrait},
        {TRpPaperSize::Env10, O::poPortrait, TRpPaperSize::Env10, O::poPortrait},
        // Ledger is 11X17 turned, and 11X17 comes later in the table.
        {TRpPaperSize::Ledger, O::poPortrait, TRpPaperSize::rp11X17, O::poLandscape},
    };
    for (const Row& r : rows) {
        TRpPrinter rp;
        rp.SetPaperSize(r.recorded);
        rp.SetOrientation(r.orientation);
        recordDocument(rp, 1);
        rp.Save(path("paper.hrp"));
        TRpPrinter loaded;
        loaded.Load(path("paper.hrp"));
        EXPECT_EQ(loaded.PaperSize(), r.loaded) << paperSizeInfo(r.recorded).name;
        EXPECT_EQ(loaded.Orientation(), r.loadedOrientation) << paperSizeInfo(r.recorded).name;
    }
}

TEST_F(RpPrinterWithPrinter, DetectedSizeTheDriverLacksIsNotTaken)
{
    TRpPrinter rp;
    rp.SetOrientation(TRpOrientation::poLandscape);
    recordDocument(rp, 1);
    rp.Save(path("a4l.hrp"));
    TRpPrinter loaded;
    loaded.Load(path("a4l.hrp"));
    // A4Small is not offered, so the A4 match stands; the orientation is taken.
    EXPECT_EQ(loaded.PaperSize(), TRpPaperSize::A4);
    EXPECT_EQ(loaded.Orientation(), TRpOrientation::poLandscape);
}

TEST_F(RpPrinterNoPrinter, ZeroPageFile)
{
    TRpPrinter rp;
    rp.BeginDoc();
    rp.EndDoc();
    EXPECT_EQ(rp.PageCount(), 0);
    rp.Save(path("empty.hrp"));
    const QByteArray file = testsupport::readFile(path("empty.hrp"));
    ASSERT_EQ(file.size(), 128);
    EXPECT_EQ(getU32(file, 8), 0u);

    TRpPrinter loaded;
    loaded.SetPaperSize(TRpPaperSize::Letter);
    loaded.SetOrientation(TRpOrientation::poLandscape);
    loaded.Load(path("empty.hrp"));
    EXPECT_EQ(loaded.Status(), TRpPrinterStatus::Finished);
    EXPECT_EQ(loaded.PageCount(), 0);
    EXPECT_EQ(loaded.GetPage(1), nullptr);
    EXPECT_EQ(loaded.PaperSize(), TRpPaperSize::Letter);
    EXPECT_EQ(loaded.Orientation(), TRpOrientation::poLandscape);
}

TEST_F(RpPrinterNoPrinter, StoreMovesToATemporaryFileThatGoesWithTheRecorder)
{
    QString temp;
    {
        TRpPrinter rp;
        rp.BeginDoc();
        QList<QByteArray> before;
        int pages = 0;
        while (rp.PageList().Stream()->InMemory()) {
            rp.NewPage();
            ++pages;
            if (pages > 1)
                before.append(rp.GetPage(pages - 1)->Bytes());
            drawPage(rp, pages, 50);
            ASSERT_LT(pages, 200);
        }
        temp = rp.PageList().Stream()->FileName();
        EXPECT_TRUE(QFileInfo::exists(temp));
        rp.NewPage();
        rp.EndDoc();
        for (int n = 1; n <= before.size(); ++n)
            EXPECT_EQ(rp.GetPage(n)->Bytes(), before[n - 1]) << n;
        EXPECT_EQ(rp.PageCount(), pages + 1);
    }
    EXPECT_FALSE(QFileInfo::exists(temp));
}

TEST_F(RpPrinterNoPrinter, CleanupForgetsThePagesAndTheTemporaryFile)
{
    TRpPrinter rp;
    recordDocument(rp, 30, 50);
    const QString temp = rp.PageList().Stream()->FileName();
    ASSERT_FALSE(temp.isEmpty());
    rp.Cleanup();
    EXPECT_EQ(rp.Status(), TRpPrinterStatus::Ready);
    EXPECT_EQ(rp.GetPage(1), nullptr);
    EXPECT_EQ(rp.PageList().PageCount(), 0);
    EXPECT_FALSE(QFileInfo::exists(temp));
    recordDocument(rp, 2);
    EXPECT_NE(rp.GetPage(2), nullptr);
}

TEST_F(RpPrinterNoPrinter, ClosingThePreviewCancelsARun)
{
    TRpPrinter rp;
    rp.SetShowingPreview(false);
    EXPECT_FALSE(rp.Cancelled());
    rp.SetShowingPreview(true);
    rp.BeginDoc();
    rp.NewPage();
    rp.SetShowingPreview(false);
    EXPECT_TRUE(rp.Cancelled());
    rp.Abort();
    EXPECT_EQ(rp.Status(), TRpPrinterStatus::Finished);
    EXPECT_NE(rp.GetPage(1), nullptr) << "the open page is kept";
}

TEST_F(RpPrinterNoPrinter, AbortedDocumentSavesAllItsPages)
{
    TRpPrinter rp;
    rp.BeginDoc();
    for (int p = 1; p <= 3; ++p) {
        rp.NewPage();
        drawPage(rp, p);
    }
    rp.Cancel();
    rp.Abort();
    rp.Save(path("aborted.hrp"));
    TRpPrinter loaded;
    loaded.Load(path("aborted.hrp"));
    EXPECT_EQ(loaded.PageCount(), 3);
}

TEST_F(RpPrinterNoPrinter, LoadDuringARunEndsItCleanly)
{
    TRpPrinter source;
    recordDocument(source, 2);
    source.Save(path("two.hrp"));
    TRpPrinter rp;
    rp.BeginDoc();
    rp.NewPage();
    PageCanvas* canvas = rp.Canvas();
    rp.Load(path("two.hrp"));
    EXPECT_TRUE(rp.Cancelled());
    // The run may still draw on the canvas it holds, and then ends.
    canvas->textOut(1, 1, QStringLiteral("late"));
    rp.Abort();
    EXPECT_EQ(rp.Status(), TRpPrinterStatus::Finished);
    EXPECT_EQ(rp.PageCount(), 2);
    EXPECT_EQ(rp.GetPage(2)->Bytes(), source.GetPage(2)->Bytes());
}

TEST_F(RpPrinterNoPrinter, ReportFileWithAPageDrawnByWindows)
{
    // A page as the Windows build records it (GDI metafile, reference screen of 1024 x 768 px on
    // 271 x 203 mm), stored in a report file both ways.
    const QByteArray windowsPage =
        testsupport::readFile(testsupport::sourceDir() + QStringLiteral("/tests/platform/data/windows-gdi-page.emf"));
    ASSERT_FALSE(windowsPage.isEmpty());
    for (bool compressed : {false, true}) {
        TRpPageList list;
        list.Start(std::make_unique<TRpStream>(), compressed);
        list.AddPage(windowsPage);
        list.AddPage(windowsPage);
        list.WriteHeader();
        list.SaveToFile(path("windows.hrp"));

        TRpPrinter rp;
        rp.Load(path("windows.hrp"));
        EXPECT_EQ(rp.PageCount(), 2);
        EXPECT_EQ(rp.PaperSize(), TRpPaperSize::A4Small);
        EXPECT_EQ(rp.Orientation(), TRpOrientation::poPortrait);
        auto page = rp.GetPage(2);
        ASSERT_TRUE(page);
        EXPECT_EQ(page->Bytes(), windowsPage);
        QImage img(210, 297, QImage::Format_RGB32);
        img.fill(Qt::white);
        QPainter painter(&img);
        page->Play(painter, QRectF(0, 0, 210, 297));
        painter.end();
        int dark = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                dark += qGray(img.pixel(x, y)) < 128;
        EXPECT_GT(dark, 50) << "the page's text and frame are drawn";
    }
}

// Broken report files: each is refused with an error naming the file, and the recorder keeps the
// report it had.
class RpPrinterBrokenFile : public RpPrinterNoPrinter {
protected:
    void SetUp() override
    {
        TRpPrinter rp;
        recordDocument(rp, 3);
        rp.Save(path("good.hrp"));
        good_ = testsupport::readFile(path("good.hrp"));
        TRpPrinter rc;
        rc.SetCompression(true);
        recordDocument(rc, 3);
        rc.Save(path("goodc.hrp"));
        goodCompressed_ = testsupport::readFile(path("goodc.hrp"));
        shown_.Load(path("good.hrp"));
    }

    // Offsets of the records in a file.
    static QList<quint32> records(const QByteArray& file)
    {
        QList<quint32> r{128};
        while (r.size() < 3)
            r.append(getU32(file, r.back() + 4));
        return r;
    }

    void expectRefused(const QByteArray& bytes, const char* what)
    {
        const QString file = path("bad.hrp");
        ASSERT_TRUE(testsupport::writeFile(file, bytes));
        try {
            shown_.Load(file);
            ADD_FAILURE() << what << ": loaded";
        } catch (const ERpError& e) {
            EXPECT_TRUE(e.message().contains(file)) << what << ": " << e.message().toStdString();
        }
        EXPECT_EQ(shown_.Status(), TRpPrinterStatus::Finished) << what;
        EXPECT_EQ(shown_.PageCount(), 3) << what;
        EXPECT_NE(shown_.GetPage(2), nullptr) << what;
    }

    QByteArray good_, goodCompressed_;
    TRpPrinter shown_;
};

TEST_F(RpPrinterBrokenFile, WrongCounts)
{
    QByteArray b = good_;
    setU32(b, 8, 4);
    expectRefused(b, "one page more than present");
    setU32(b, 8, 0x7FFFFFFF);
    expectRefused(b, "huge count");
    setU32(b, 8, quint32(-1));
    expectRefused(b, "negative count");
    expectRefused(good_.left(100), "shorter than the header");
}

TEST_F(RpPrinterBrokenFile, BrokenLinks)
{
    const auto r = records(good_);
    QByteArray b = good_;
    setU32(b, r[1] + 4, quint32(good_.size() + 100));
    expectRefused(b, "next link past the end");
    b = good_;
    setU32(b, r[1] + 4, r[1]);
    expectRefused(b, "next link onto itself");
    b = good_;
    setU32(b, r[2] - 4, 200);
    expectRefused(b, "record start field wrong");
    b = good_;
    setU32(b, r[1], 7);
    expectRefused(b, "page number wrong");
    expectRefused(good_.left(good_.size() - 10), "last record runs past the end");
}

TEST_F(RpPrinterBrokenFile, PagesThatAreNoMetafile)
{
    const auto r = records(good_);
    QByteArray b = good_;
    setU32(b, r[0] + 8 + 40, 0);
    expectRefused(b, "page 1 signature");
    b = good_;
    setU32(b, r[2] + 8, 77);
    expectRefused(b, "page 3 first record");
    b = good_;
    setU32(b, r[1] + 8 + 48, 5000000);
    expectRefused(b, "page 2 metafile size");
}

TEST_F(RpPrinterBrokenFile, CompressedCountsThatLie)
{
    const auto r = records(goodCompressed_);
    // Page 1 is read while loading, so a lie there refuses the file.
    QByteArray b = goodCompressed_;
    setU32(b, r[0] + 8, getU32(b, r[0] + 8) + 10);
    expectRefused(b, "page 1 count too large");
    b = goodCompressed_;
    setU32(b, r[0] + 8, getU32(b, r[0] + 8) - 10);
    expectRefused(b, "page 1 count too small");
    b = goodCompressed_;
    setU32(b, r[0] + 8, 0x7FFFFFF0);
    expectRefused(b, "page 1 count huge");

    // A lie on page 2 is found when page 2 is asked for; the other pages stay readable.
    b = goodCompressed_;
    setU32(b, r[1] + 8, getU32(b, r[1] + 8) + 3);
    ASSERT_TRUE(testsupport::writeFile(path("lies2.hrp"), b));
    TRpPrinter rp;
    rp.Load(path("lies2.hrp"));
    try {
        rp.GetPage(2);
        ADD_FAILURE() << "page 2 decoded";
    } catch (const ERpError& e) {
        EXPECT_TRUE(e.message().contains(QLatin1String("page 2"))) << e.message().toStdString();
    }
    EXPECT_NE(rp.GetPage(3), nullptr);
    EXPECT_NE(rp.GetPage(1), nullptr);
}

TEST_F(RpPrinterBrokenFile, MissingFile)
{
    EXPECT_THROW(shown_.Load(path("missing.hrp")), ERpError);
    EXPECT_EQ(shown_.PageCount(), 3);
}

} // namespace
