// The two built-in layouts load to the numbers of their layout tables: page, bands, every item's
// stored measures, fonts, alignment, transparency, frames, data bindings and pictures.
#include "report/model/LayoutLoader.h"
#include "report/model/LayoutText.h"
#include "report/model/ReferenceContext.h"
#include "report/model/RpItems.h"
#include "engine/DataSet.h"

#include <span>

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

enum Kind { Lbl, DB, Sys, Shp, Img };
enum Align { L, C, N };   // left, centre, none
// Font: 0 is the report's (Arial 10); otherwise name and points.
struct Expect {
    const char* name;
    Kind kind;
    const char* text;   // caption, field, system data kind or picture size
    double left, top, width, height;
    Align align;
    const char* font;
    int points;
    bool transparent;
    bool underline;
};

constexpr const char* AB = "Arial Black";
constexpr const char* A = "Arial";

const Expect kResultTitle[] = {
    {"RpLabel1", Lbl, nullptr, 317.5, 21.2, 1381.1, 50.3, C, AB, 10, false, false},
    {"RpLabel2", Lbl, nullptr, 529.2, 84.7, 1045.1, 63.5, C, AB, 12, false, false},
    {"RpLabel3", Lbl, "Клинико-диагностическая лаборатория", 624.4, 148.2, 783.2, 50.3, C, AB, 10, false, false},
    {"RpSysData1", Sys, "rpsDateTime", 21.2, 190.5, 179.9, 45, L, A, 10, false, false},
    {"RpLabel4", Lbl, nullptr, 1227.7, 190.5, 650.9, 45, L, AB, 7, false, false},
};

const Expect kResultDetail[] = {
    {"RpLabel5", Lbl, "Дата", 21.2, 21.2, 76.7, 45, L, A, 10, false, false},
    {"RpDBText1", DB, "DAT", 169.3, 21.2, 68.8, 45, L, A, 10, false, false},
    {"RpLabel7", Lbl, "Номер иссл.", 677.3, 21.2, 201.1, 45, L, A, 10, false, false},
    {"RpDBText3", DB, "NUM", 931.3, 21.2, 79.4, 45, L, A, 10, false, false},
    {"RpLabel9", Lbl, "Направление", 1375.8, 21.2, 211.7, 45, L, A, 10, false, false},
    {"RpDBText5", DB, "RECEPTION", 1672.2, 21.2, 198.4, 45, L, A, 10, false, false},
    {"RpLabel6", Lbl, "Время", 21.2, 84.7, 105.8, 45, L, A, 10, false, false},
    {"RpDBText2", DB, "TIM", 169.3, 84.7, 58.2, 45, L, A, 10, false, false},
    {"RpLabel8", Lbl, "Пациент", 677.3, 84.7, 132.3, 45, L, A, 10, false, false},
    {"RpDBText4", DB, "FIO", 931.3, 84.7, 58.2, 45, L, A, 10, false, false},
    {"RpLabel10", Lbl, "Возраст", 1375.8, 84.7, 129.6, 45, L, A, 10, false, false},
    {"RpDBText6", DB, "DOC", 1672.2, 84.7, 76.7, 45, L, A, 10, false, false},
    {"RpShape1", Shp, nullptr, 21.2, 160, 1865.3, 70, N, nullptr, 0, false, false},
    {"RpLabel31", Lbl, "Результат гематологического анализа", 613.8, 169.3, 706.4, 47.6, L, AB, 9, false, false},
    {"RpImage6", Img, "52x30", 1397, 227.5, 172, 66.1, N, nullptr, 0, false, false},
    {"RpImage1", Img, "50x23", 402.2, 248.7, 150.8, 45, N, nullptr, 0, false, false},
    {"RpLabel11", Lbl, "WBC", 42.3, 254, 84.7, 45, L, A, 10, false, false},
    {"RpDBText7", DB, "WBC", 254, 254, 84.7, 45, L, A, 10, false, false},
    {"RpLabel21", Lbl, "RBC", 1037.2, 254, 74.1, 45, L, A, 10, false, false},
    {"RpDBText17", DB, "RBC", 1248.8, 254, 74.1, 45, L, A, 10, false, false},
    {"RpLabel12", Lbl, "LY%", 42.3, 317.5, 76.7, 45, L, A, 10, false, false},
    {"RpDBText8", DB, "LY1", 254, 317.5, 63.5, 45, L, A, 10, false, false},
    {"RpLabel34", Lbl, "%", 402.2, 317.5, 34.4, 45, L, A, 10, false, false},
    {"RpLabel22", Lbl, "HGB", 1037.2, 317.5, 76.7, 45, L, A, 10, false, false},
    {"RpDBText18", DB, "HGB", 1248.8, 317.5, 76.7, 45, L, A, 10, false, false},
    {"RpLabel41", Lbl, "g/L", 1397, 317.5, 50.3, 45, L, A, 10, false, false},
    {"RpLabel13", Lbl, "MO%", 42.3, 381, 90, 45, L, A, 10, false, false},
    {"RpDBText9", DB, "MO1", 254, 381, 76.7, 45, L, A, 10, false, false},
    {"RpLabel35", Lbl, "%", 402.2, 381, 34.4, 45, L, A, 10, false, false},
    {"RpLabel23", Lbl, "HCT", 1037.2, 381, 68.8, 45, L, A, 10, false, false},
    {"RpDBText19", DB, "HCT", 1248.8, 381, 68.8, 45, L, A, 10, false, false},
    {"RpLabel42", Lbl, "%", 1397, 381, 34.4, 45, L, A, 10, false, false},
    {"RpLabel14", Lbl, "GR%", 42.3, 444.5, 84.7, 45, L, A, 10, false, false},
    {"RpDBText10", DB, "GR1", 254, 444.5, 71.4, 45, L, A, 10, false, false},
    {"RpLabel36", Lbl, "%", 402.2, 444.5, 34.4, 45, L, A, 10, false, false},
    {"RpLabel24", Lbl, "MCV", 1037.2, 444.5, 79.4, 45, L, A, 10, false, false},
    {"RpDBText20", DB, "MCV", 1248.8, 444.5, 79.4, 45, L, A, 10, false, false},
    {"RpLabel43", Lbl, "fL", 1397, 444.5, 29.1, 45, L, A, 10, false, false},
    {"RpImage2", Img, "50x23", 402.2, 502.7, 150.8, 45, N, nullptr, 0, false, false},
    {"RpLabel15", Lbl, "LY#", 42.3, 508, 63.5, 45, L, A, 10, false, false},
    {"RpDBText11", DB, "LY2", 254, 508, 63.5, 45, L, A, 10, false, false},
    {"RpLabel25", Lbl, "MCH", 1037.2, 508, 79.4, 45, L, A, 10, false, false},
    {"RpDBText21", DB, "MCH", 1248.8, 508, 79.4, 45, L, A, 10, false, false},
    {"RpLabel44", Lbl, "pg", 1397, 508, 39.7, 45, L, A, 10, false, false},
    {"RpImage3", Img, "50x23", 402.2, 566.2, 150.8, 45, N, nullptr, 0, false, false},
    {"RpLabel16", Lbl, "MO#", 42.3, 571.5, 76.7, 45, L, A, 10, false, false},
    {"RpDBText12", DB, "MO2", 254, 571.5, 76.7, 45, L, A, 10, false, false},
    {"RpLabel26", Lbl, "MCHC", 1037.2, 571.5, 103.2, 45, L, A, 10, false, false},
    {"RpDBText22", DB, "MCHC", 1248.8, 571.5, 103.2, 45, L, A, 10, false, false},
    {"RpLabel45", Lbl, "g/L", 1397, 571.5, 50.3, 45, L, A, 10, false, false},
    {"RpImage4", Img, "50x23", 402.2, 629.7, 150.8, 45, N, nullptr, 0, false, false},
    {"RpLabel17", Lbl, "GR#", 42.3, 635, 71.4, 45, L, A, 10, false, false},
    {"RpDBText13", DB, "GR2", 254, 635, 71.4, 45, L, A, 10, false, false},
    {"RpLabel27", Lbl, "RDW", 1037.2, 635, 84.7, 45, L, A, 10, false, false},
    {"RpDBText23", DB, "RDV", 1248.8, 635, 74.1, 45, L, A, 10, false, false},
    {"RpLabel46", Lbl, "%", 1397, 635, 34.4, 45, L, A, 10, false, false},
    {"RpImage5", Img, "50x23", 1397, 693.2, 150.8, 45, N, nullptr, 0, false, false},
    {"RpLabel18", Lbl, "Formula", 42.3, 698.5, 127, 45, L, A, 10, false, false},
    {"RpDBText14", DB, "FORMULA", 254, 698.5, 169.3, 45, L, A, 10, false, false},
    {"RpLabel28", Lbl, "PLT", 1037.2, 698.5, 63.5, 45, L, A, 10, false, false},
    {"RpDBText24", DB, "PLT", 1248.8, 698.5, 63.5, 45, L, A, 10, false, false},
    {"RpLabel19", Lbl, "СОЭ", 42.3, 762, 76.7, 45, L, A, 10, false, false},
    {"RpDBText15", DB, "COE", 254, 762, 76.7, 45, L, A, 10, false, false},
    {"RpLabel50", Lbl, "mm/h", 402.2, 762, 90, 45, L, A, 10, false, false},
    {"RpLabel29", Lbl, "MPV", 1037.2, 762, 79.4, 45, L, A, 10, false, false},
    {"RpDBText25", DB, "MPV", 1248.8, 762, 79.4, 45, L, A, 10, false, false},
    {"RpLabel48", Lbl, "fL", 1397, 762, 29.1, 45, L, A, 10, false, false},
    {"RpLabel20", Lbl, "PDW", 42.3, 825.5, 84.7, 45, L, A, 10, false, false},
    {"RpDBText16", DB, "PDW", 254, 825.5, 84.7, 45, L, A, 10, false, false},
    {"RpLabel30", Lbl, "PCT", 1037.2, 825.5, 68.8, 45, L, A, 10, false, false},
    {"RpDBText26", DB, "PCT", 1248.8, 825.5, 68.8, 45, L, A, 10, false, false},
    {"RpLabel49", Lbl, "%", 1397, 825.5, 34.4, 45, L, A, 10, false, false},
    {"RpImage7", Img, "28x21", 402.2, 883.7, 150.8, 66.1, N, nullptr, 0, false, false},
    {"RpLabel32", Lbl, "Rt", 42.3, 889, 37, 45, L, A, 10, false, false},
    {"RpDBText27", DB, "RETIC", 254, 889, 100.5, 45, L, A, 10, false, false},
};

const Expect kPeriodTitle[] = {
    {"RpLabel1", Lbl, "ОТЧЁТ ", 1058.3, 21.2, 124.4, 45, L, A, 10, false, false},
    {"RpLabel2", Lbl, "RpLabel2", 1206.5, 21.2, 153.5, 45, L, A, 10, false, false},
    {"RpLabel3", Lbl, "-", 1418.2, 21.2, 13.2, 45, L, A, 10, false, false},
    {"RpLabel4", Lbl, "RpLabel4", 1481.7, 21.2, 153.5, 45, L, A, 10, false, false},
};

#define HDR(n, cap, left, w) {n, Lbl, cap, left, 0, w, 45, L, A, 8, false, true}
const Expect kPeriodHeader[] = {
    HDR("RpLabel5", "Дата", 42.3, 71.4),        HDR("RpLabel6", "№ иссл.", 148.2, 116.4),
    HDR("RpLabel7", "Пациент", 338.7, 116.4),   HDR("RpLabel8", "Направл.", 698.5, 127),
    HDR("RpLabel9", "WBC", 867.8, 66.1),        HDR("RpLabel10", "RBC", 952.5, 58.2),
    HDR("RpLabel11", "HGB", 1037.2, 60.9),      HDR("RpLabel12", "HCT", 1143, 55.6),
    HDR("RpLabel13", "PLT", 1227.7, 50.3),      HDR("RpLabel17", "MCV", 1312.3, 63.5),
    HDR("RpLabel18", "MCH", 1397, 60.9),        HDR("RpLabel19", "MCHC", 1481.7, 79.4),
    HDR("RpLabel20", "RDW", 1587.5, 66.1),      HDR("RpLabel21", "MPV", 1672.2, 60.9),
    HDR("RpLabel22", "PCT", 1756.8, 52.9),      HDR("RpLabel23", "PDW", 1841.5, 63.5),
    HDR("RpLabel24", "СОЭ", 1926.2, 63.5),      HDR("RpLabel25", "Rt", 2074.3, 29.1),
    HDR("RpLabel26", "Формула", 2328.3, 124.4),
};
#undef HDR

#define DET(n, left, w, pt, tr) {n, DB, "", left, 0, w, 45, L, A, pt, tr, false}
const Expect kPeriodDetail[] = {
    DET("RpDBText1", 5.3, 150.8, 8, false),     DET("RpDBText2", 169.3, 150.8, 8, false),
    DET("RpDBText3", 338.7, 150.8, 8, false),   DET("RpDBText4", 698.5, 150.8, 8, false),
    DET("RpDBText5", 867.8, 150.8, 8, false),   DET("RpDBText6", 952.5, 150.8, 8, false),
    DET("RpDBText7", 1037.2, 150.8, 8, false),  DET("RpDBText8", 1143, 150.8, 8, false),
    DET("RpDBText9", 1227.7, 150.8, 8, true),   DET("RpDBText13", 1312.3, 166.7, 8, true),
    DET("RpDBText14", 1397, 166.7, 8, true),    DET("RpDBText15", 1481.7, 166.7, 8, true),
    DET("RpDBText16", 1587.5, 166.7, 8, true),  DET("RpDBText17", 1672.2, 166.7, 8, true),
    DET("RpDBText18", 1756.8, 166.7, 8, true),  DET("RpDBText19", 1841.5, 166.7, 8, true),
    DET("RpDBText20", 1926.2, 166.7, 8, true),  DET("RpDBText21", 2032, 166.7, 8, true),
    DET("RpDBText22", 2159, 148.2, 7, true),
};
#undef DET

const Expect kPeriodSummary[] = {
    {"RpSysData1", Sys, "rpsDetailCount", 42.3, 63.5, 206.4, 45, L, A, 10, false, false},
};

constexpr double kTableTolerance = 0.05;   // the tables give tenths
constexpr double kPixel = 254.0 / 96.0;

QByteArray builtinText(const QString& name)
{
    return layoutloader::readLayoutFile(layoutloader::builtinPath(name, QString()));
}

const LayoutObject* findObject(const LayoutObject& o, const QString& name)
{
    if (o.name == name)
        return &o;
    for (const auto& c : o.children)
        if (const LayoutObject* f = findObject(c, name))
            return f;
    return nullptr;
}

double stored(const LayoutObject& o, int index)
{
    const LayoutProperty* p = o.find(QStringLiteral("Size.Values"));
    return p ? static_cast<double>(p->value.list.at(static_cast<size_t>(index)).asNumber()) : -1;
}

// The stored text holds the table's numbers; the loaded item keeps them, except the widths of
// auto-sized texts, which follow the text as this system's fonts measure it.
void checkItems(const LayoutObject& storedBand, const TRpCustomBand& band, std::span<const Expect> expected)
{
    ASSERT_EQ(band.Items().size(), expected.size()) << qPrintable(band.Name);
    for (size_t i = 0; i < expected.size(); ++i) {
        const Expect& e = expected[i];
        SCOPED_TRACE(e.name);
        const TRpPrintable& it = *band.Items()[i];
        ASSERT_EQ(it.Name, QLatin1String(e.name));   // stored order is drawing order
        const LayoutObject* so = findObject(storedBand, it.Name);
        ASSERT_NE(so, nullptr);
        EXPECT_NEAR(stored(*so, 0), e.height, kTableTolerance);
        EXPECT_NEAR(stored(*so, 1), e.left, kTableTolerance);
        EXPECT_NEAR(stored(*so, 2), e.top, kTableTolerance);
        EXPECT_NEAR(stored(*so, 3), e.width, kTableTolerance);

        const auto n = [&](int k) { return static_cast<double>(it.Size.Native(k)); };
        EXPECT_NEAR(n(TRpPrintableSize::Top), stored(*so, 2), 1e-9);
        EXPECT_NEAR(n(TRpPrintableSize::Height), stored(*so, 0), 1e-9);
        EXPECT_FALSE(it.Frame.AnySide());
        EXPECT_TRUE(it.Enabled);

        if (e.kind == Shp || e.kind == Img) {
            EXPECT_NEAR(n(TRpPrintableSize::Left), stored(*so, 1), 1e-9);
            EXPECT_NEAR(n(TRpPrintableSize::Width), stored(*so, 3), 1e-9);
        }
        if (e.kind == Shp) {
            const auto& s = dynamic_cast<const TRpShape&>(it);
            EXPECT_EQ(s.Shape, TRpShapeType::rpsRectangle);
            EXPECT_EQ(s.Brush.Color, rpcolor::clWhite);
            EXPECT_EQ(s.Brush.Style, TBrushStyle::bsSolid);
            EXPECT_EQ(s.Pen.Color, rpcolor::clBlack);
            EXPECT_EQ(s.Pen.Width, 1);
            continue;
        }
        if (e.kind == Img) {
            const auto& img = dynamic_cast<const TRpImage&>(it);
            EXPECT_EQ(QStringLiteral("%1x%2").arg(img.Picture().Image.width()).arg(img.Picture().Image.height()),
                      QLatin1String(e.text));
            EXPECT_FALSE(img.Stretch);
            EXPECT_FALSE(img.Center);
            EXPECT_FALSE(img.AutoSize());
            continue;
        }
        const auto& l = dynamic_cast<const TRpCustomLabel&>(it);
        EXPECT_EQ(l.Alignment, e.align == C ? TAlignment::taCenter : TAlignment::taLeftJustify);
        EXPECT_TRUE(l.AutoSize);
        EXPECT_FALSE(l.AutoStretch);
        EXPECT_FALSE(l.AlignToBand);
        EXPECT_EQ(l.Transparent, e.transparent);
        EXPECT_EQ(l.Color, rpcolor::clWhite);
        EXPECT_EQ(l.Font().Name, QLatin1String(e.font));
        EXPECT_EQ(l.Font().Size(), e.points);
        EXPECT_EQ(l.Font().Style.has(TFontStyle::fsUnderline), e.underline);
        if (e.kind != Sys) {
            EXPECT_TRUE(l.WordWrap);
        }
        if (e.kind == Lbl && e.text) {
            EXPECT_EQ(l.Caption(), QString::fromUtf8(e.text));
        }
        if (e.kind == DB) {
            const auto& db = dynamic_cast<const TRpDBText&>(it);
            EXPECT_EQ(db.DataField(), QString::fromUtf8(e.text));
            EXPECT_EQ(db.Caption(), db.DataField().isEmpty() ? db.Name : db.DataField());
        }
        if (e.kind == Sys) {
            EXPECT_EQ(kSysDataNames.name(dynamic_cast<const TRpSysData&>(it).Data()), QLatin1String(e.text));
        }

        const double left = n(TRpPrintableSize::Left), width = n(TRpPrintableSize::Width);
        // A centred text keeps its centre (to a pixel of integer halving).
        if (e.align == C) {
            EXPECT_NEAR(left + width / 2, stored(*so, 1) + stored(*so, 3) / 2, kPixel);
        } else {
            EXPECT_NEAR(left, stored(*so, 1), 1e-9);
        }
        // Texts of the tables in Arial measure within a few pixels of the stored widths; the
        // institution texts are this build's own and Arial Black has a stand-in face.
        if (QLatin1String(e.font) == QLatin1String(A)) {
            EXPECT_NEAR(width, stored(*so, 3), 4 * kPixel);
        }
    }
}

void checkBand(const TRpCustomBand& b, const char* name, TRpBandType type, double height, double width,
               bool top, bool bottom, bool sides)
{
    SCOPED_TRACE(name);
    EXPECT_EQ(b.Name, QLatin1String(name));
    EXPECT_EQ(b.BandType(), type);
    EXPECT_NEAR(static_cast<double>(b.Size.Native(TRpBandSize::Height)), height, 1e-6);
    EXPECT_NEAR(static_cast<double>(b.Size.Native(TRpBandSize::Width)), width, kTableTolerance);
    EXPECT_EQ(b.Frame.DrawTop, top);
    EXPECT_EQ(b.Frame.DrawBottom, bottom);
    EXPECT_EQ(b.Frame.DrawLeft, sides);
    EXPECT_EQ(b.Frame.DrawRight, sides);
    EXPECT_EQ(b.Frame.Width, 1);
    EXPECT_EQ(b.Frame.Color, rpcolor::clBlack);
    EXPECT_EQ(b.Color, rpcolor::clWhite);
    EXPECT_TRUE(b.Enabled);
    EXPECT_FALSE(b.ForceNewPage);
    EXPECT_FALSE(b.ForceNewColumn);
    EXPECT_FALSE(b.AlignToBottom);
}

void checkCommonReport(const TReport& r)
{
    EXPECT_EQ(r.Name, QStringLiteral("Report1"));
    EXPECT_EQ(r.Units(), TRpUnit::MM);
    EXPECT_EQ(r.Zoom(), 100);
    EXPECT_EQ(r.Page.PaperSize(), TRpPaperSize::A4);
    EXPECT_EQ(r.Page.Columns(), 1);
    EXPECT_EQ(r.Font().Name, QStringLiteral("Arial"));
    EXPECT_EQ(r.Font().Size(), 10);
    EXPECT_EQ(r.Font().Color, rpcolor::clWindowText);
    EXPECT_EQ(r.Font().Charset, 1);
    EXPECT_TRUE(r.Options.has(TRpReportOption::FirstPageHeader));
    EXPECT_TRUE(r.Options.has(TRpReportOption::LastPageFooter));
    EXPECT_FALSE(r.Options.has(TRpReportOption::Compression));
    EXPECT_TRUE(r.PrintIfEmpty());
    EXPECT_EQ(r.PrinterSettings.Copies, 1);
    EXPECT_FALSE(r.PrinterSettings.Duplex);
    EXPECT_EQ(r.PrinterSettings.FirstPage, 0);
    EXPECT_EQ(r.PrinterSettings.LastPage, 0);
    EXPECT_EQ(r.PrinterSettings.OutputBin, TRpBin::Auto);
    EXPECT_TRUE(r.ReportTitle.isEmpty());
    ASSERT_EQ(r.Functions.size(), 3u);
    EXPECT_EQ(r.Functions[2].first, QStringLiteral("REPORTTITLE"));
    EXPECT_EQ(r.Functions[2].second, QStringLiteral("''"));
}

} // namespace

TEST(LayoutBuiltin, ResultSheetLoadsToItsTables)
{
    if (!ReferenceContext::FontAvailable(QStringLiteral("Arial")))
        GTEST_SKIP() << "Liberation Sans (fonts-liberation2) is not installed; auto-sized widths cannot be checked";
    const QByteArray text = builtinText(QStringLiteral("Report"));
    const LayoutObject tree = layouttext::parse(text, QStringLiteral("Report"));
    auto r = layoutloader::build(tree, QStringLiteral("Report"));
    checkCommonReport(*r);
    EXPECT_EQ(r->Page.Orientation(), TRpOrientation::poPortrait);
    const std::vector<long double> page{100, 2970, 100, 2100, 100, 100, 0};
    EXPECT_EQ(r->Page.NativeValues(), page);
    EXPECT_EQ(r->DesignWidth(), 794);
    EXPECT_EQ(r->DesignHeight(), 1123);
    EXPECT_FALSE(r->Frame.AnySide());
    EXPECT_TRUE(r->Controller().DataSetReference.isEmpty());

    ASSERT_EQ(r->BandList().size(), 3u);
    const TRpCustomBand& title = *r->BandList()[0];
    const TRpCustomBand& spare = *r->BandList()[1];
    const TRpCustomBand& detail = *r->BandList()[2];
    checkBand(title, "RpBand1", TRpBandType::rbTitle, 240.770833333333, 1899.7, true, true, true);
    checkBand(detail, "RpBand2", TRpBandType::rbDetail, 1008.0625, 1899.7, true, true, true);
    // The second title band stays in the model right after the first; it never prints.
    EXPECT_EQ(spare.BandType(), TRpBandType::rbTitle);
    EXPECT_TRUE(spare.Items().empty());
    EXPECT_EQ(r->Controller().Title, &title);
    EXPECT_EQ(r->Controller().Detail, &detail);
    EXPECT_EQ(title.Left, 38);
    EXPECT_EQ(title.Top, 38);
    EXPECT_EQ(title.Width, 718);
    EXPECT_EQ(title.Height, 91);
    EXPECT_EQ(spare.Top, 38 + 91);
    EXPECT_EQ(detail.Height, 381);

    checkItems(tree.children[0], title, kResultTitle);
    checkItems(tree.children[1], detail, kResultDetail);
    r->ForEachItem([](TRpPrintable& it) {
        if (auto* db = dynamic_cast<TRpDBText*>(&it)) {
            EXPECT_EQ(db->DataSetReference, QStringLiteral("Form1.Table1")) << qPrintable(it.Name);
        }
    });
}

TEST(LayoutBuiltin, PeriodReportLoadsToItsTables)
{
    if (!ReferenceContext::FontAvailable(QStringLiteral("Arial")))
        GTEST_SKIP() << "Liberation Sans (fonts-liberation2) is not installed; auto-sized widths cannot be checked";
    const QByteArray text = builtinText(QStringLiteral("Unit7"));
    const LayoutObject tree = layouttext::parse(text, QStringLiteral("Unit7"));
    auto r = layoutloader::build(tree, QStringLiteral("Unit7"));
    checkCommonReport(*r);
    EXPECT_EQ(r->Page.Orientation(), TRpOrientation::poLandscape);
    const std::vector<long double> page{50, 2100, 100, 2970, 50, 100, 0};
    EXPECT_EQ(r->Page.NativeValues(), page);
    EXPECT_EQ(r->DesignWidth(), 1123);
    EXPECT_EQ(r->DesignHeight(), 794);
    EXPECT_TRUE(r->Frame.DrawTop && r->Frame.DrawBottom && r->Frame.DrawLeft && r->Frame.DrawRight);
    EXPECT_EQ(r->Frame.Width, 1);
    EXPECT_EQ(r->Controller().DataSetReference, QStringLiteral("Form6.Query1"));

    ASSERT_EQ(r->BandList().size(), 4u);
    const auto& b = r->BandList();
    checkBand(*b[0], "RpBand1", TRpBandType::rbTitle, 71.4375, 2820.5, true, true, true);
    checkBand(*b[1], "RpBand2", TRpBandType::rbColumnHeader, 63.5, 2820.5, false, true, false);
    checkBand(*b[2], "RpBand3", TRpBandType::rbDetail, 52.9166666666667, 2820.5, false, true, false);
    checkBand(*b[3], "RpBand4", TRpBandType::rbSummary, 105.833333333333, 2820.5, false, false, false);
    for (const auto& band : b) {
        EXPECT_EQ(band->Width, 1066);
    }
    EXPECT_EQ(b[1]->Font().Size(), 8);
    EXPECT_EQ(b[2]->Font().Size(), 10);

    checkItems(tree.children[0], *b[0], kPeriodTitle);
    checkItems(tree.children[1], *b[1], kPeriodHeader);
    checkItems(tree.children[2], *b[2], kPeriodDetail);
    checkItems(tree.children[3], *b[3], kPeriodSummary);
    for (const auto& it : b[2]->Items()) {
        EXPECT_EQ(dynamic_cast<const TRpDBText&>(*it).DataSetReference, QStringLiteral("Form6.Query1"));
    }
}

TEST(LayoutBuiltin, FileInTheProgramFolderOverridesTheBuiltInCopy)
{
    const QString folder = QDir::tempPath() + QStringLiteral("/hematix-layout-override-test");
    QDir().mkpath(folder);
    const QString file = folder + QStringLiteral("/Report.layout");
    QFile::remove(file);
    EXPECT_TRUE(layoutloader::builtinPath(QStringLiteral("Report"), folder).startsWith(QLatin1Char(':')));

    QByteArray text = builtinText(QStringLiteral("Report"));
    text.replace("Заречная городская клиническая больница № 7", "Лаборатория «Тест»");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    EXPECT_EQ(layoutloader::builtinPath(QStringLiteral("Report"), folder), file);
    auto r = layoutloader::loadBuiltin(QStringLiteral("Report"), folder);
    const auto& label = dynamic_cast<const TRpLabel&>(*r->BandList()[0]->Items()[0]);
    EXPECT_EQ(label.Caption(), QStringLiteral("Лаборатория «Тест»"));
    QFile::remove(file);

    EXPECT_TRUE(layoutloader::builtinPath(QStringLiteral("NoSuchLayout"), folder).isEmpty());
    EXPECT_THROW(layoutloader::loadBuiltin(QStringLiteral("NoSuchLayout"), folder), ELayoutError);
}

TEST(LayoutBuiltin, DataSetReferencesBindThroughTheResolver)
{
    auto r = layoutloader::loadBuiltin(QStringLiteral("Unit7"), QString());
    QStringList asked;
    TTable query;
    const QStringList missing = layoutloader::resolveDataSets(*r, [&](const QString& w, const QString& c) -> TDataSet* {
        asked << w + QLatin1Char('/') + c;
        return w == QLatin1String("Form6") && c == QLatin1String("Query1") ? &query : nullptr;
    });
    EXPECT_TRUE(missing.isEmpty());
    EXPECT_EQ(asked.size(), 20);   // the report and its nineteen field texts
    EXPECT_EQ(r->DataSet(), &query);
    for (const auto& it : r->BandList()[2]->Items()) {
        EXPECT_EQ(dynamic_cast<const TRpDBText&>(*it).DataSet(), &query);
    }

    auto sheet = layoutloader::loadBuiltin(QStringLiteral("Report"), QString());
    EXPECT_EQ(layoutloader::resolveDataSets(*sheet, nullptr), QStringList{QStringLiteral("Form1.Table1")});
}
