// The recorder's printer settings against printers described by script: what is read from a
// printer, which choices a printer takes, and the page layout and job options a print gets.
#include "report/pages/PrinterSettings.h"

#include "platform/print/PrinterInfo.h"

#include <QPageLayout>
#include <gtest/gtest.h>

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

} // namespace
