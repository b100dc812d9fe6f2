// The report model: band order and design layout, page rules, zoom and columns, fonts, bounds.
#include "ModelTestSupport.h"

#include "engine/DataSet.h"
#include "report/model/RpItems.h"
#include "report/model/RpReport.h"

#include <gtest/gtest.h>

using namespace modeltest;

namespace {
QStringList bandNames(const TCustomReport& r)
{
    QStringList out;
    for (const auto& b : r.BandList())
        out << b->Name;
    return out;
}

void setPage(TCustomReport& r, std::vector<long double> values, TRpOrientation o)
{
    r.Page.SetPaperSize(TRpPaperSize::A4);
    r.Page.SetOrientation(o);
    r.Page.SetStoredValues(values);
}
} // namespace

TEST(ModelBands, TwoTitleBandsKeepTheirOrderAndStackOnTheDesignSurface)
{
    auto r = metricReport();
    TRpCustomBand* first = addBand(*r, TRpBandType::rbTitle, QStringLiteral("First"), 91);
    addBand(*r, TRpBandType::rbDetail, QStringLiteral("Detail"), 381);
    TRpCustomBand* second = addBand(*r, TRpBandType::rbTitle, QStringLiteral("Second"), 40);
    EXPECT_EQ(bandNames(*r), (QStringList{"First", "Second", "Detail"}));
    EXPECT_EQ(first->Top, 38);
    EXPECT_EQ(second->Top, 38 + 91);
    EXPECT_EQ(r->BandList()[2]->Top, 38 + 91 + 40);
    // Only the first of a role is the one the record driver prints.
    EXPECT_EQ(r->Controller().Title, first);
}

TEST(ModelBands, ReorderPutsRolesInPrintOrderAndChildrenBehindTheirParent)
{
    auto r = metricReport();
    addBand(*r, TRpBandType::rbPageFooter, QStringLiteral("Footer"));
    addBand(*r, TRpBandType::rbOverlay, QStringLiteral("Overlay"));
    addBand(*r, TRpBandType::rbSummary, QStringLiteral("Summary"));
    TRpCustomBand* detail = addBand(*r, TRpBandType::rbDetail, QStringLiteral("Detail"));
    addBand(*r, TRpBandType::rbDetail, QStringLiteral("Detail2"));
    addBand(*r, TRpBandType::rbColumnHeader, QStringLiteral("ColHead"));
    addBand(*r, TRpBandType::rbPageHeader, QStringLiteral("Header"));
    addBand(*r, TRpBandType::rbTitle, QStringLiteral("Title"));
    auto child = std::make_unique<TRpChildBand>();
    child->Name = QStringLiteral("DetailChild");
    TRpCustomBand* c = r->AddBand(std::move(child));
    c->SetParentBand(detail);
    EXPECT_EQ(bandNames(*r), (QStringList{"Header", "Title", "ColHead", "Detail", "DetailChild", "Summary",
                                           "Footer", "Overlay", "Detail2"}));
    // Changing a role reorders at once.
    r->BandList().back()->SetBandType(TRpBandType::rbPageHeader);
    EXPECT_EQ(bandNames(*r).first(2), (QStringList{"Header", "Detail2"}));
}

TEST(ModelBands, PresenceFlagsFollowAndChangeTheBandList)
{
    auto r = metricReport();
    EXPECT_FALSE(r->Bands().HasSummary());
    r->Bands().SetHas(TRpBandType::rbSummary, true);
    r->Bands().SetHas(TRpBandType::rbSummary, true);
    EXPECT_TRUE(r->Bands().HasSummary());
    EXPECT_EQ(r->BandList().size(), 1u);
    r->Bands().SetHas(TRpBandType::rbSummary, false);
    EXPECT_FALSE(r->Bands().HasSummary());
    EXPECT_TRUE(r->BandList().empty());
}

TEST(ModelPage, PortraitAndLandscapeDesignSizesAndBandWidths)
{
    auto r = metricReport();
    TRpCustomBand* title = addBand(*r, TRpBandType::rbTitle, QStringLiteral("T"));
    setPage(*r, {100, 2970, 100, 2100, 100, 100, 0}, TRpOrientation::poPortrait);
    EXPECT_EQ(r->DesignWidth(), 794);
    EXPECT_EQ(r->DesignHeight(), 1123);
    EXPECT_EQ(title->Width, 718);
    EXPECT_NEAR(static_cast<double>(title->Size.Native(TRpBandSize::Width)), 1899.708333, 1e-5);

    setPage(*r, {50, 2100, 100, 2970, 50, 100, 0}, TRpOrientation::poLandscape);
    EXPECT_EQ(r->DesignWidth(), 1123);
    EXPECT_EQ(r->DesignHeight(), 794);
    EXPECT_EQ(title->Width, 1066);
    EXPECT_EQ(title->Left, 19);
    EXPECT_NEAR(static_cast<double>(title->Size.Native(TRpBandSize::Width)), 2820.458333, 1e-5);
}

TEST(ModelPage, SheetSizeIsWritableOnlyForCustomPaper)
{
    TRpPage page(QLocale(QLocale::Russian, QLocale::Russia));
    page.SetUnits(TRpUnit::Native);
    page.SetValue(TRpPage::Width, 1000);
    page.SetNative(TRpPage::Length, 1000);
    EXPECT_EQ(page.Native(TRpPage::Width), 2100);
    EXPECT_EQ(page.Native(TRpPage::Length), 2970);

    page.SetOrientation(TRpOrientation::poLandscape);
    EXPECT_EQ(page.Native(TRpPage::Width), 2970);
    EXPECT_EQ(page.Native(TRpPage::Length), 2100);
    page.SetPaperSize(TRpPaperSize::A3);
    EXPECT_EQ(page.Native(TRpPage::Width), 4200);
    EXPECT_EQ(page.Native(TRpPage::Length), 2970);

    page.SetPaperSize(TRpPaperSize::Custom);
    page.SetValue(TRpPage::Width, 1000);
    EXPECT_EQ(page.Native(TRpPage::Width), 1000);
    // Custom keeps its size when the orientation changes.
    page.SetOrientation(TRpOrientation::poPortrait);
    EXPECT_EQ(page.Native(TRpPage::Width), 1000);
}

TEST(ModelPage, ZoomOutOfRangeAndColumnsBelowOneAreIgnored)
{
    auto r = metricReport();
    r->SetZoom(0);
    r->SetZoom(301);
    EXPECT_EQ(r->Zoom(), 100);
    r->SetZoom(150);
    EXPECT_EQ(r->Zoom(), 150);
    EXPECT_EQ(r->Page.Zoom(), 150);
    r->Page.SetColumns(0);
    r->Page.SetColumns(-3);
    EXPECT_EQ(r->Page.Columns(), 1);
}

TEST(ModelPage, ColumnBandsTakeTheColumnWidth)
{
    auto r = metricReport();
    TRpCustomBand* title = addBand(*r, TRpBandType::rbTitle, QStringLiteral("T"));
    TRpCustomBand* detail = addBand(*r, TRpBandType::rbDetail, QStringLiteral("D"));
    auto child = std::make_unique<TRpChildBand>();
    TRpCustomBand* c = r->AddBand(std::move(child));
    c->SetParentBand(detail);
    r->Page.SetNative(TRpPage::ColumnSpace, 254 / 96.0L * 18);   // 18 pixels
    r->Page.SetColumns(2);
    EXPECT_EQ(title->Width, 718);
    EXPECT_EQ(detail->Width, (718 - 18) / 2);
    EXPECT_EQ(c->Width, (718 - 18) / 2);
}

TEST(ModelPage, ZoomScalesDesignPixelsNotNativeMeasures)
{
    auto r = metricReport();
    TRpCustomBand* title = addBand(*r, TRpBandType::rbTitle, QStringLiteral("T"), 91);
    const long double native = title->Size.Native(TRpBandSize::Height);
    r->SetZoom(200);
    EXPECT_EQ(title->Height, 182);
    EXPECT_EQ(r->DesignWidth(), 1587);
    EXPECT_EQ(title->Size.Native(TRpBandSize::Height), native);
}

TEST(ModelUnits, ReportUnitsReachPageBandsAndItems)
{
    auto r = metricReport();
    TRpCustomBand* b = addBand(*r, TRpBandType::rbTitle, QStringLiteral("T"));
    TRpPrintable* it = b->AddItem(std::make_unique<TRpShape>());
    r->SetUnits(TRpUnit::Inches);
    EXPECT_EQ(r->Page.Units(), TRpUnit::Inches);
    EXPECT_EQ(b->Size.Units(), TRpUnit::Inches);
    EXPECT_EQ(it->Size.Units(), TRpUnit::Inches);
    it->Size.SetValue(TRpPrintableSize::Width, 1);
    EXPECT_EQ(it->Size.Native(TRpPrintableSize::Width), 254);
    EXPECT_EQ(it->Width(), 96);   // writing a measure updates the pixel bounds
}

TEST(ModelFonts, FontSizeWinsOverStoredHeight)
{
    for (int height : {-13, -20, 7}) {
        TRpFont f;
        f.Height = height;
        f.SetSize(10);
        EXPECT_EQ(f.Size(), 10);
        EXPECT_EQ(f.Height, -13);
    }
    TRpFont eight;
    eight.Height = -11;
    EXPECT_EQ(eight.Size(), 8);
}

TEST(ModelFonts, ItemsInheritTheirPanelsFontUntilTheyHaveTheirOwn)
{
    auto r = metricReport();
    TRpCustomBand* b = addBand(*r, TRpBandType::rbTitle, QStringLiteral("T"));
    auto* label = static_cast<TRpLabel*>(b->AddItem(std::make_unique<TRpLabel>()));
    EXPECT_EQ(label->Font().Name, QStringLiteral("Arial"));
    EXPECT_EQ(label->Font().Size(), 10);
    TRpFont big;
    big.SetSize(16);
    r->SetFont(big);
    EXPECT_EQ(label->Font().Size(), 16);
    TRpFont own;
    own.SetSize(8);
    label->SetFont(own);
    r->SetFont(TRpFont{});
    EXPECT_EQ(label->Font().Size(), 8);
}

TEST(ModelBounds, ItemBoundsComeFromSizeValuesWithStoredPixelsOnlyForZero)
{
    auto r = metricReport();
    TRpCustomBand* b = addBand(*r, TRpBandType::rbTitle, QStringLiteral("T"));
    TRpPrintable* it = b->AddItem(std::make_unique<TRpShape>());
    it->Size.StoreNative(TRpPrintableSize::Left, 317.5L);
    it->Size.StoreNative(TRpPrintableSize::Top, 0.5L);   // comes out as 0 pixels
    it->Size.StoreNative(TRpPrintableSize::Width, 0);
    it->Size.StoreNative(TRpPrintableSize::Height, 44.9791666666667L);
    it->StoredLeft = 500;
    it->StoredTop = 7;
    it->StoredWidth = 65;
    it->UpdateBoundsFromSize();
    EXPECT_EQ(it->Left(), 120);   // Size.Values wins
    EXPECT_EQ(it->Top(), 7);
    EXPECT_EQ(it->Width(), 65);
    EXPECT_EQ(it->Height(), 17);
    // The fallback is for the design surface only: the stored native values are not rewritten.
    EXPECT_EQ(it->Size.Native(TRpPrintableSize::Width), 0);
    EXPECT_EQ(it->Size.Native(TRpPrintableSize::Top), 0.5L);
}

TEST(ModelBounds, BandStoredHeightOnlyWhenTheDerivedHeightIsANewBands)
{
    auto r = metricReport();
    TRpCustomBand* b = addBand(*r, TRpBandType::rbTitle, QStringLiteral("T"), 40);
    b->StoredHeight = 52;
    b->UpdateBoundsFromSize();
    EXPECT_EQ(b->Height, 52);
    b->Size.StoreNative(TRpBandSize::Height, 240.770833333333L);
    b->StoredHeight = 52;
    b->UpdateBoundsFromSize();
    EXPECT_EQ(b->Height, 91);
}

TEST(ModelDataSet, ReferencesClearWhenTheDataSetGoes)
{
    auto r = metricReport();
    TRpCustomBand* b = addBand(*r, TRpBandType::rbDetail, QStringLiteral("D"));
    auto* field = static_cast<TRpDBText*>(b->AddItem(std::make_unique<TRpDBText>()));
    auto* table = new TTable;
    r->SetDataSet(table);
    field->SetDataSet(table);
    EXPECT_EQ(r->DataSet(), table);
    delete table;
    EXPECT_EQ(r->DataSet(), nullptr);
    EXPECT_EQ(field->DataSet(), nullptr);
}

TEST(ModelItems, SystemDataShowsItsKindOutsideGeneration)
{
    TRpSysData s;
    EXPECT_EQ(s.Caption(), QStringLiteral("(Time)"));
    s.SetData(TRpSysDataType::rpsDetailCount);
    EXPECT_EQ(s.Caption(), QStringLiteral("(Detail count)"));
    s.SetText(QStringLiteral("N: "));
    EXPECT_EQ(s.Caption(), QStringLiteral("N: (Detail count)"));
}

TEST(ModelItems, AlignToBandFollowsTheBandWidth)
{
    auto r = metricReport();
    TRpCustomBand* b = addBand(*r, TRpBandType::rbTitle, QStringLiteral("T"));
    auto* label = static_cast<TRpLabel*>(b->AddItem(std::make_unique<TRpLabel>()));
    label->SetCaption(QStringLiteral("abcd"));   // 41 pixels
    label->AlignToBand = true;
    label->Alignment = TAlignment::taRightJustify;
    r->LayoutBands();
    EXPECT_EQ(label->Left(), 718 - 41);
    label->Alignment = TAlignment::taCenter;
    r->LayoutBands();
    EXPECT_EQ(label->Left(), (718 - 41) / 2);
}

TEST(ModelItems, NewShapesAndPicturesHaveTheirDesignSize)
{
    TRpShape shape;
    EXPECT_EQ(shape.Width(), 65);
    EXPECT_EQ(shape.Height(), 65);
    EXPECT_NEAR(static_cast<double>(shape.Size.Native(TRpPrintableSize::Width)), 65 * 254 / 96.0, 1e-9);
    TRpImage image;
    EXPECT_EQ(image.Height(), 105);
}

TEST(ModelItems, PictureAutoSizeTakesThePicturePixelSize)
{
    auto r = metricReport();
    TRpCustomBand* b = addBand(*r, TRpBandType::rbTitle, QStringLiteral("T"));
    auto* img = static_cast<TRpImage*>(b->AddItem(std::make_unique<TRpImage>()));
    TRpPicture pic;
    pic.Image = QImage(50, 23, QImage::Format_RGB32);
    EXPECT_EQ(img->Width(), TRpImage::kNewSize);
    img->SetPicture(pic);
    EXPECT_EQ(img->Width(), TRpImage::kNewSize);
    img->SetAutoSize(true);
    EXPECT_EQ(img->Width(), 50);
    EXPECT_EQ(img->Height(), 23);
}
