// The recorder's printer settings against printers described by script: what is read from a
// printer, which choices a printer takes, and the page layout and job options a print gets; and
// how often, and how long, the print service is asked for them.
#include "report/pages/PrinterSettings.h"

#include "platform/print/PrinterInfo.h"

#include <QPageLayout>
#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <optional>

namespace {

PrinterDescription laser()
{
    PrinterDescription d;
    d.name = QStringLiteral("Laser");
    d.driver = QString(80, QLatin1Char('d'));
    d.port = QStringLiteral("ipp://printers/laser");
    d.paperCodes = {1, 9, 11};
    d.defaultPaperCode = 1;
    d.defaultPaperMm = QSizeF(215.9, 279.4);
    d.resolution = 600;
    d.offsetMm = QSizeF(4.2, 5.1);
    d.copiesSupported = true;
    d.paperSources = {QStringLiteral("auto"), QStringLiteral("manual"), QStringLiteral("tray-1")};
    d.defaultPaperSource = QStringLiteral("tray-1");
    d.duplexSupported = true;
    d.duplexDefault = false;
    return d;
}

PrinterDescription plain()
{
    PrinterDescription d;
    d.name = QStringLiteral("Plain");
    d.paperCodes = {9};
    d.defaultPaperCode = 9;
    d.defaultPaperMm = QSizeF(210, 297);
    d.copiesSupported = false;
    return d;
}

TEST(PrinterSettings, BinCodesFollowTheTable)
{
    struct Row {
        TRpBin bin;
        int code;
    };
    for (const Row& r : {Row{TRpBin::First, 1}, Row{TRpBin::Lower, 2}, Row{TRpBin::Middle, 3}, Row{TRpBin::Manual, 4},
                         Row{TRpBin::Envelope, 5}, Row{TRpBin::EnvManual, 6}, Row{TRpBin::Auto, 7},
                         Row{TRpBin::Tractor, 8}, Row{TRpBin::SmallFormat, 9}, Row{TRpBin::LargeFormat, 10},
                         Row{TRpBin::LargeCapacity, 11}, Row{TRpBin::Cassette, 14}, Row{TRpBin::Last, 14}})
        EXPECT_EQ(rpBinCode(r.bin), r.code);
    // A code two sources share reads as the first of them; unknown codes read as none.
    EXPECT_EQ(rpBinFromCode(14), TRpBin::Cassette);
    EXPECT_EQ(rpBinFromCode(1), TRpBin::First);
    EXPECT_FALSE(rpBinFromCode(12).has_value());
    EXPECT_FALSE(rpBinFromCode(0).has_value());
    EXPECT_EQ(rpBinFromSourceKeyword(QStringLiteral("tray-1")), TRpBin::First);
    EXPECT_EQ(rpBinFromSourceKeyword(QStringLiteral("manual")), TRpBin::Manual);
    EXPECT_FALSE(rpBinFromSourceKeyword(QStringLiteral("photo")).has_value());
}

TEST(PrinterSettings, ReadFromThePrinter)
{
    PrinterInfo::ScopedOverride printers{{plain(), laser()}};
    TPrinterSettings s;
    // A fresh settings object reads the default printer but starts on A4.
    EXPECT_EQ(s.Device(), QStringLiteral("Plain"));
    EXPECT_EQ(s.PaperSize(), TRpPaperSize::A4);
    s.SelectPrinter(1);
    EXPECT_TRUE(s.PrinterPresent());
    EXPECT_EQ(s.Device(), QStringLiteral("Laser"));
    EXPECT_EQ(s.Driver().size(), 63);
    EXPECT_EQ(s.Port(), QStringLiteral("ipp://printers/laser"));
    EXPECT_EQ(s.XPixelsPerInch(), 600);
    EXPECT_EQ(s.LeftOffset(), 42);
    EXPECT_EQ(s.TopOffset(), 51);
    EXPECT_EQ(s.PaperSize(), TRpPaperSize::Letter);
    EXPECT_EQ(s.PhysicalWidth(), 2159);
    EXPECT_EQ(s.OutputBin(), TRpBin::First);
    EXPECT_FALSE(s.Duplex());
    EXPECT_EQ(s.Copies(), 1);
    // An index past the list is the default printer.
    s.SelectPrinter(7);
    EXPECT_EQ(s.Device(), QStringLiteral("Plain"));
    EXPECT_EQ(s.PaperSize(), TRpPaperSize::A4);
}

TEST(PrinterSettings, OnlyWhatThePrinterOffersIsTaken)
{
    PrinterInfo::ScopedOverride printers{{plain(), laser()}};
    TPrinterSettings s;
    s.SelectPrinter(0);   // no copies, no sources, A4 only
    EXPECT_FALSE(s.SetCopies(3));
    EXPECT_EQ(s.Copies(), 1);
    EXPECT_FALSE(s.SetOutputBin(TRpBin::Manual));
    EXPECT_FALSE(s.SetPaperSize(TRpPaperSize::A5));
    EXPECT_EQ(s.PaperSize(), TRpPaperSize::A4);
    EXPECT_TRUE(s.SetPaperSize(TRpPaperSize::Custom));
    EXPECT_TRUE(s.SetOrientation(TRpOrientation::poLandscape));

    s.SelectPrinter(1);
    EXPECT_TRUE(s.SetCopies(3));
    EXPECT_TRUE(s.SetCopies(0));   // no copies is one copy
    EXPECT_EQ(s.Copies(), 1);
    EXPECT_TRUE(s.SetCopies(100000));
    EXPECT_EQ(s.Copies(), 32767);
    EXPECT_TRUE(s.SetOutputBin(TRpBin::Manual));
    EXPECT_EQ(s.JobOptions().paperSource, QStringLiteral("manual"));
    // A source the printer lacks is kept in the settings but not asked of the printer.
    EXPECT_TRUE(s.SetOutputBin(TRpBin::Envelope));
    EXPECT_TRUE(s.JobOptions().paperSource.isEmpty());
    EXPECT_TRUE(s.SetPaperSize(TRpPaperSize::A5));

    // Without printers every size and orientation is taken, nothing else.
    PrinterInfo::ScopedOverride none{{}};
    TPrinterSettings bare;
    EXPECT_FALSE(bare.PrinterPresent());
    EXPECT_TRUE(bare.SetPaperSize(TRpPaperSize::Ledger));
    EXPECT_FALSE(bare.SetOutputBin(TRpBin::Manual));
}

TEST(PrinterSettings, PageLayoutOfAPrint)
{
    PrinterInfo::ScopedOverride printers{{laser()}};
    TPrinterSettings s;
    struct Row {
        TRpPaperSize size;
        TRpOrientation orientation;
        QSizeF portraitMm;   // the sheet as it goes through the printer
        QPageLayout::Orientation turned;
    };
    for (const Row& r : {Row{TRpPaperSize::A4, TRpOrientation::poPortrait, {210, 297}, QPageLayout::Portrait},
                         Row{TRpPaperSize::A4, TRpOrientation::poLandscape, {210, 297}, QPageLayout::Landscape},
                         Row{TRpPaperSize::Letter, TRpOrientation::poPortrait, {215.9, 279.4}, QPageLayout::Portrait},
                         Row{TRpPaperSize::A5, TRpOrientation::poLandscape, {148, 210}, QPageLayout::Landscape}}) {
        ASSERT_TRUE(s.SetPaperSize(r.size));
        s.SetOrientation(r.orientation);
        const QPageLayout l = s.PageLayout();
        const QSizeF mm = l.pageSize().size(QPageSize::Millimeter);
        EXPECT_NEAR(mm.width(), r.portraitMm.width(), 0.5) << paperSizeInfo(r.size).name;
        EXPECT_NEAR(mm.height(), r.portraitMm.height(), 0.5);
        EXPECT_EQ(l.orientation(), r.turned);
        // The printer's unprintable edges are the margins: positions are measured from there.
        EXPECT_NEAR(l.margins(QPageLayout::Millimeter).left(), 4.2, 0.01);
        EXPECT_NEAR(l.margins(QPageLayout::Millimeter).top(), 5.1, 0.01);
    }
    // A custom sheet lies as its measures say.
    ASSERT_TRUE(s.SetPaperSize(TRpPaperSize::Custom));
    ASSERT_TRUE(s.SetPaperWidth(1500));
    ASSERT_TRUE(s.SetPaperLength(1000));
    EXPECT_EQ(s.PageLayout().orientation(), QPageLayout::Landscape);
    EXPECT_EQ(s.PaperWidth(), 1500);
    EXPECT_NEAR(s.PageLayout().pageSize().size(QPageSize::Millimeter).width(), 100, 0.01);
    s.SetDuplex(true);
    EXPECT_TRUE(s.JobOptions().twoSided);
}

// A print service scripted by the test: each ask describes the printers of `answers` (the next
// row per ask, the last row from then on), and an ask told to hang describes the first printer
// and then waits until the test lets it go. The bound is short so that no test waits long.
class ScriptedService {
public:
    explicit ScriptedService(QList<QList<PrinterDescription>> answers) : answers_(std::move(answers))
    {
        asker_.emplace([this](const PrinterInfo::ScopedAsker::Found& found) {
            const int n = asks_++;
            const QList<PrinterDescription>& row = answers_[std::min<qsizetype>(n, answers_.size() - 1)];
            for (qsizetype i = 0; i < row.size(); ++i) {
                if (i == 1 && hang_)
                    released_.wait();
                found(row[i]);
            }
        }, std::chrono::milliseconds(250));
        PrinterInfo::setNoAnswerListener([this](const QString& m) { told_.append(m); });
    }
    ~ScriptedService()
    {
        letGo();
        asker_.reset();   // waits for a hanging ask
        PrinterInfo::setNoAnswerListener(nullptr);
    }
    void hang() { hang_ = true; }
    void letGo()
    {
        if (hang_.exchange(false))
            release_.set_value();
    }
    void settle() { asker_->settle(); }
    int asks() const { return asks_; }
    const QStringList& told() const { return told_; }

private:
    QList<QList<PrinterDescription>> answers_;
    std::atomic<int> asks_{0};
    std::atomic<bool> hang_{false};
    std::promise<void> release_;
    std::shared_future<void> released_ = release_.get_future().share();
    QStringList told_;
    std::optional<PrinterInfo::ScopedAsker> asker_;
};

QStringList names(const QList<PrinterDescription>& printers)
{
    QStringList n;
    for (const PrinterDescription& d : printers)
        n << d.name;
    return n;
}

TEST(PrinterSettings, TheServiceIsAskedOncePerRunAndForANameItDidNotKnow)
{
    PrinterDescription added = laser();
    added.name = QStringLiteral("Added");
    ScriptedService service({{plain(), laser()}, {plain(), laser(), added}});
    // Every recorder reads its settings, and every run selects and reads its printer again.
    for (int run = 0; run < 5; ++run) {
        TPrinterSettings s;
        s.SelectPrinter(1);
        s.ReadFromPrinter();
        EXPECT_EQ(s.Device(), QStringLiteral("Laser"));
    }
    EXPECT_TRUE(PrinterInfo::printerInstalled());
    EXPECT_EQ(service.asks(), 1);
    EXPECT_EQ(PrinterInfo::printer(QStringLiteral("Laser"))->port, QStringLiteral("ipp://printers/laser"));
    EXPECT_EQ(service.asks(), 1);
    // A printer installed since is found by asking again; one that is not there costs one ask.
    ASSERT_TRUE(PrinterInfo::printer(QStringLiteral("Added")));
    EXPECT_EQ(service.asks(), 2);
    EXPECT_FALSE(PrinterInfo::printer(QStringLiteral("Gone")));
    EXPECT_EQ(service.asks(), 3);
    EXPECT_FALSE(PrinterInfo::lastAskTimedOut());
    EXPECT_TRUE(service.told().isEmpty());
}

TEST(PrinterSettings, APrintFindsThePrinterInstalledSinceNoneWas)
{
    ScriptedService service({{}, {plain()}});
    TPrinterSettings s;
    EXPECT_FALSE(s.PrinterPresent());
    EXPECT_TRUE(PrinterInfo::printerInstalled());
    EXPECT_TRUE(PrinterInfo::printerInstalled());
    EXPECT_EQ(service.asks(), 2);
}

TEST(PrinterSettings, AServiceThatDoesNotAnswerLeavesTheKnownPrinters)
{
    struct Row {
        const char* name;
        bool knownBefore;          // an answer came before the service stopped answering
        QStringList whileHanging;  // what printers() says then
    };
    for (const Row& r : {Row{"known before", true, {"Plain", "Laser"}},
                         // Nothing known: the default printer, described before the hang, is taken.
                         Row{"nothing known", false, {"Plain"}}}) {
        SCOPED_TRACE(r.name);
        PrinterDescription newer = plain();
        newer.name = QStringLiteral("Newer");
        ScriptedService service({{plain(), laser()}, {newer, laser()}});
        if (r.knownBefore) {
            ASSERT_EQ(PrinterInfo::printers().size(), 2);
        }
        const int before = service.asks();
        service.hang();
        // Bounded: the ask runs out, the run goes on with what is known, and the user is told.
        PrinterInfo::refresh();
        EXPECT_EQ(names(PrinterInfo::printers()), r.whileHanging);
        TPrinterSettings s;
        EXPECT_EQ(s.Device(), QStringLiteral("Plain"));
        EXPECT_TRUE(PrinterInfo::lastAskTimedOut());
        // While that ask hangs, another returns at once and starts none.
        PrinterInfo::refresh();
        EXPECT_FALSE(PrinterInfo::printer(QStringLiteral("Elsewhere")));
        EXPECT_EQ(service.asks(), before + 1);
        EXPECT_EQ(service.told(), QStringList(3, PrinterInfo::noAnswerMessage()));
        // Its late answer is dropped; once it has ended, the next ask is heard.
        service.letGo();
        service.settle();
        PrinterInfo::refresh();
        EXPECT_EQ(service.asks(), before + 2);
        EXPECT_FALSE(PrinterInfo::lastAskTimedOut());
        EXPECT_EQ(names(PrinterInfo::printers()), QStringList({"Newer", "Laser"}));
    }
}

} // namespace
