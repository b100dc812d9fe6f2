// What each printable item puts on a page: text anchors under AutoSize, lines that fit, system
// data at midnight, field texts that cannot be read, pictures at their natural size, frames to the
// device row, stretching, and layouts that would otherwise print for ever.
#include "GenerationFixtures.h"

#include "engine/DateFormat.h"
#include "report/model/ReferenceContext.h"

#include <gtest/gtest.h>

using gentest::BandAt;
using gentest::NotedRun;
using gentest::TextAt;

namespace {

// A4 portrait, margins 100, one title band of the given native height; no data set.
std::unique_ptr<TReport> blankReport()
{
    return std::make_unique<TReport>(QLocale(QLocale::Russian, QLocale::Russia));
}

TRpCustomBand* addBand(TReport& r, TRpBandType type, long double height, const char* name)
{
    auto b = std::make_unique<TRpBand>();
    b->Name = QString::fromLatin1(name);
    b->Size.StoreNative(TRpBandSize::Height, height);
    b->UpdateBoundsFromSize();
    TRpCustomBand* band = r.AddBand(std::move(b));
    band->SetBandType(type);
    return band;
}

template <typename T>
T* addItem(TRpCustomBand& band, long double left, long double top, long double width,
           long double height)
{
    auto it = std::make_unique<T>();
    it->Size.StoreNative(TRpPrintableSize::Left, left);
    it->Size.StoreNative(TRpPrintableSize::Top, top);
    it->Size.StoreNative(TRpPrintableSize::Width, width);
    it->Size.StoreNative(TRpPrintableSize::Height, height);
    it->UpdateBoundsFromSize();
    return static_cast<T*>(band.AddItem(std::move(it)));
}

bool fontsPresent() { return ReferenceContext::FontAvailable(QStringLiteral("Arial")); }

#define REQUIRE_FONTS()                                                                            \
    if (!fontsPresent())                                                                           \
    GTEST_SKIP() << "Liberation Sans (fonts-liberation2) is not installed; text positions cannot be checked"

TEST(Items, AutoSizedFieldTextKeepsLeftEdgeCentreOrRightEdge)
{
    REQUIRE_FONTS();
    gentest::OpenRows rows(1);
    TTable& data = rows.data;
    auto r = blankReport();
    TRpCustomBand* band = addBand(*r, TRpBandType::rbTitle, 400, "T");
    const TAlignment aligns[] = {TAlignment::taLeftJustify, TAlignment::taCenter, TAlignment::taRightJustify};
    std::vector<TRpDBText*> items;
    for (int i = 0; i < 3; ++i) {
        auto* f = addItem<TRpDBText>(*band, 600, 20 + 100 * i, 100, 45);
        f->Alignment = aligns[i];
        f->SetDataSet(&data);
        f->SetDataField(QStringLiteral("FIO"));
        items.push_back(f);
    }
    // The box each had before the run: formatted for its field name.
    std::vector<std::pair<long double, long double>> boxes;
    for (auto* f : items)
        boxes.emplace_back(f->Size.Native(TRpPrintableSize::Left), f->Size.Native(TRpPrintableSize::Width));

    NotedRun run(*r);
    run.run();
    const auto texts = gentest::textsOfPage(run.recorder, 1);
    ASSERT_EQ(texts.size(), 3u);
    const TRpPrinter& p = run.recorder;
    for (int i = 0; i < 3; ++i) {
        const TextAt& t = texts[static_cast<size_t>(i)];
        const auto [left, width] = boxes[static_cast<size_t>(i)];
        EXPECT_EQ(t.text, QStringLiteral("Иванов И. И."));
        // The value is wider than the box of its field name.
        EXPECT_GT(t.right + 1 - t.left, p.XSize(static_cast<double>(width))) << i;
        switch (aligns[i]) {
        case TAlignment::taLeftJustify: EXPECT_EQ(t.left, p.XPos(static_cast<double>(100 + left))); break;
        case TAlignment::taCenter: EXPECT_EQ(t.x, p.XPos(static_cast<double>(100 + left + width / 2))); break;
        case TAlignment::taRightJustify: EXPECT_EQ(t.right + 1, p.XPos(static_cast<double>(100 + left + width))); break;
        }
        EXPECT_EQ(t.y, p.YPos(static_cast<double>(100 + 20 + 100 * i)));
    }
    // After the run the field texts show their field names again.
    EXPECT_EQ(items[0]->Caption(), QStringLiteral("FIO"));
}

TEST(Items, AutoSizedFillAndFrameSpanEachRecordsOwnText)
{
    REQUIRE_FONTS();
    // The box is sized anew for every record: a narrow value after a wide one must not keep the
    // wide box, nor a wide one the narrow box.
    const QString wide = QStringLiteral("Иванов-Петровский Иван Иванович");
    const QString narrow = QStringLiteral("Ли");
    struct Case {
        std::string what;
        bool framed;   // else filled
        QStringList values;
    };
    std::vector<Case> cases;
    for (const bool framed : {false, true})
        for (const QStringList& values : {QStringList{wide, narrow}, QStringList{narrow, wide}})
            cases.push_back({std::string(framed ? "frame, " : "fill, ") + (values[0] == wide ? "wide first" : "narrow first"),
                             framed, values});
    const QRgb mark = qRgb(255, 0, 0);
    for (const Case& c : cases) {
        QTemporaryDir dir;
        TTable data;
        data.SetTableName(benchsupport::writeResultTable(dir.path(), 2, [&](int i, const std::vector<DbfField>& fields, char* rec) {
            for (const DbfField& f : fields)
                if (f.name == QLatin1String("FIO"))
                    dbfcodec::put(f, rec, DbfValue(c.values[i]));
        }));
        data.Open();
        auto r = blankReport();
        r->SetDataSet(&data);
        TRpCustomBand* band = addBand(*r, TRpBandType::rbDetail, 100, "D");
        auto* field = addItem<TRpDBText>(*band, 200, 20, 100, 45);
        field->SetDataSet(&data);
        field->SetDataField(QStringLiteral("FIO"));
        field->Transparent = c.framed;
        field->Color = 0x0000FF;   // red, stored as 0x00BBGGRR
        if (c.framed) {
            field->Frame.DrawTop = field->Frame.DrawBottom = field->Frame.DrawLeft = field->Frame.DrawRight = true;
            field->Frame.Color = 0x0000FF;
        }
        NotedRun run(*r);
        run.run();
        const auto texts = gentest::textsOfPage(run.recorder, 1);
        const auto details = run.named(QStringLiteral("D"));
        ASSERT_EQ(texts.size(), 2u) << c.what;
        ASSERT_EQ(details.size(), 2u) << c.what;
        const QImage page = gentest::pageImage(run.recorder, 1);
        for (size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(texts[i].text, c.values[static_cast<qsizetype>(i)]) << c.what;
            // The rightmost marked pixel of the item's rows: the fill's or the frame's right edge.
            int right = -1;
            for (int y = run.recorder.YPos(details[i].y + 20); y < run.recorder.YPos(details[i].y + 20 + 45); ++y)
                for (int x = 0; x < page.width(); ++x)
                    if (page.pixel(x, y) == mark)
                        right = std::max(right, x);
            // Measured and drawn text widths differ by a pixel or two, and a left frame side moves
            // the box right by its width; the two values differ by some 200 pixels.
            EXPECT_NEAR(right, texts[i].right, 5) << c.what << ", record " << i + 1;
        }
    }
}

TEST(Items, TextRunsPastTheBandUnclipped)
{
    REQUIRE_FONTS();
    auto r = blankReport();
    TRpCustomBand* band = addBand(*r, TRpBandType::rbTitle, 100, "T");
    auto* label = addItem<TRpLabel>(*band, 1800, 0, 50, 45);
    label->SetCaption(QStringLiteral("Клинико-диагностическая лаборатория"));
    NotedRun run(*r);
    run.run();
    const QByteArray page = run.recorder.GetPage(1)->Bytes();
    const auto texts = gentest::textsOf(page);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_GT(texts[0].right, run.recorder.XPos(100 + 1900) + 50);
    EXPECT_TRUE(gentest::recordsOf(page, 30).empty());   // no clip rectangle
}

TEST(Items, LinesThatFitTheBox)
{
    REQUIRE_FONTS();
    struct Case {
        const char* caption;
        long double height;
        bool stretch;
        QStringList lines;      // recorded, in order
        QList<int> lineIndex;   // the line each sits on
    };
    const Case cases[] = {
        {"AB\r\nCD", 100, false, {"AB", "CD"}, {0, 1}},
        {"AB\nCD", 100, false, {"ABCD"}, {0}},
        {"\r\nCD", 100, false, {"CD"}, {1}},
        {"AB\r\nCD", 45, false, {"AB"}, {0}},   // the second line is dropped without notice
        {"AB\r\nCD", 45, true, {"AB", "CD"}, {0, 1}},
    };
    for (const Case& c : cases) {
        auto r = blankReport();
        TRpCustomBand* band = addBand(*r, TRpBandType::rbTitle, 150, "T");
        addBand(*r, TRpBandType::rbDetail, 50, "D");
        auto* label = addItem<TRpLabel>(*band, 0, 30, 200, c.height);
        label->AutoStretch = c.stretch;
        label->SetCaption(QString::fromLatin1(c.caption));
        NotedRun run(*r);
        run.run();
        const auto texts = gentest::textsOfPage(run.recorder, 1);
        ASSERT_EQ(static_cast<int>(texts.size()), c.lines.size()) << c.caption;
        const int top = run.recorder.YPos(130);
        for (size_t i = 0; i < texts.size(); ++i) {
            EXPECT_EQ(texts[i].text, c.lines[static_cast<qsizetype>(i)]) << c.caption;
            const int cell = texts[i].bottom + 1 - texts[i].top;
            EXPECT_NEAR(texts[i].y, top + c.lineIndex[static_cast<qsizetype>(i)] * cell, 1) << c.caption;
        }
        // A stretching item that needs a second line grows its band by one line height.
        const int cell = texts[0].bottom + 1 - texts[0].top;
        const long double lineHeight = cell / run.recorder.YFactor();
        const int detailY = run.named(QStringLiteral("D")).at(0).y;
        if (c.stretch)
            EXPECT_EQ(detailY, 100 + static_cast<int>(std::nearbyint(150 + lineHeight))) << c.caption;
        else
            EXPECT_EQ(detailY, 250) << c.caption;
    }
}

TEST(Items, SystemDateTimeAtMidnightShowsTheDateAlone)
{
    REQUIRE_FONTS();
    const QDate day(2023, 6, 5);
    struct Case {
        QTime time;
        bool dateAlone;
    };
    for (const Case& c : {Case{QTime(0, 0), true}, Case{QTime(10, 15, 30), false}, Case{QTime(0, 0, 1), false}}) {
        auto r = blankReport();
        TRpCustomBand* band = addBand(*r, TRpBandType::rbTitle, 100, "T");
        auto* sys = addItem<TRpSysData>(*band, 0, 0, 200, 45);
        sys->SetData(TRpSysDataType::rpsDateTime);
        sys->SetText(QStringLiteral("Дата: "));
        NotedRun run(*r);
        run.gen.Now = [&] { return QDateTime(day, c.time); };
        run.run();
        const auto texts = gentest::textsOfPage(run.recorder, 1);
        ASSERT_EQ(texts.size(), 1u);
        const QString date = QStringLiteral("Дата: ") + datefmt::formatShortDate(day);
        if (c.dateAlone) {
            EXPECT_EQ(texts[0].text, date);
        } else {
            EXPECT_TRUE(texts[0].text.startsWith(date + QLatin1Char(' '))) << texts[0].text.toStdString();
            const QString minutes = QStringLiteral("%1:%2").arg(c.time.minute(), 2, 10, QLatin1Char('0')).arg(c.time.second(), 2, 10, QLatin1Char('0'));
            EXPECT_TRUE(texts[0].text.contains(minutes)) << texts[0].text.toStdString();
            // The desktop's long time carries no time zone.
            EXPECT_FALSE(texts[0].text.contains(QLatin1String("UTC"))) << texts[0].text.toStdString();
        }
        // After the run the caption keeps the value printed last.
        EXPECT_EQ(sys->Caption(), texts[0].text);
    }
}

TEST(Items, RecordFiguresOfSystemData)
{
    REQUIRE_FONTS();
    QTemporaryDir dir;
    TTable data;
    data.SetTableName(gentest::writeRows(dir.path(), 3));
    struct Case {
        TRpSysDataType kind;
        bool open;
        QStringList expected;   // one per detail
    };
    const Case cases[] = {
        {TRpSysDataType::rpsDetailNo, true, {"1", "2", "3"}},
        {TRpSysDataType::rpsDetailCount, true, {"3", "3", "3"}},
        {TRpSysDataType::rpsDetailCount, false, {"1"}},   // a closed data set counts 1
        {TRpSysDataType::rpsPageNumber, true, {"1", "1", "1"}},
    };
    for (const Case& c : cases) {
        if (c.open)
            data.Open();
        else
            data.Close();
        auto r = blankReport();
        r->SetDataSet(&data);
        TRpCustomBand* band = addBand(*r, TRpBandType::rbDetail, 100, "D");
        addItem<TRpSysData>(*band, 0, 0, 200, 45)->SetData(c.kind);
        NotedRun run(*r);
        run.run();
        QStringList got;
        for (const TextAt& t : gentest::textsOfPage(run.recorder, 1))
            got << t.text;
        EXPECT_EQ(got, c.expected) << static_cast<int>(c.kind) << " open " << c.open;
    }
}

TEST(Items, FieldTextsThatCannotBeReadPrintNothing)
{
    gentest::OpenRows rows(1);
    TTable& data = rows.data;
    TTable closed;
    closed.SetTableName(data.TableName());
    auto r = blankReport();
    TRpCustomBand* band = addBand(*r, TRpBandType::rbTitle, 300, "T");
    auto* noField = addItem<TRpDBText>(*band, 0, 0, 200, 45);
    noField->SetDataSet(&data);
    noField->SetDataField(QStringLiteral("NOPE"));
    auto* noDataSet = addItem<TRpDBText>(*band, 0, 50, 200, 45);
    noDataSet->SetDataField(QStringLiteral("FIO"));
    auto* closedSet = addItem<TRpDBText>(*band, 0, 100, 200, 45);
    closedSet->SetDataSet(&closed);
    closedSet->SetDataField(QStringLiteral("FIO"));
    auto* emptyValue = addItem<TRpDBText>(*band, 0, 150, 200, 45);
    emptyValue->SetDataSet(&data);
    emptyValue->SetDataField(QStringLiteral("COMMENT"));
    NotedRun run(*r);
    EXPECT_NO_THROW(run.run());
    EXPECT_TRUE(gentest::textsOfPage(run.recorder, 1).empty());
    EXPECT_EQ(noField->Caption(), QStringLiteral("NOPE"));
}

TEST(Items, PictureAtNaturalSizeIsClippedToItsBox)
{
    // The result sheet's RpImage1: 50 x 23 pixels in an item of 57 x 17 design pixels.
    auto r = gentest::layout("Report");
    NotedRun run(*r);
    run.run();
    const QByteArray page = run.recorder.GetPage(1)->Bytes();
    const auto pictures = gentest::recordsOf(page, 81);
    const auto clips = gentest::recordsOf(page, 30);
    bool found = false;
    for (const QByteArray& rec : pictures) {
        if (gentest::i32At(rec, 40) != 50 || gentest::i32At(rec, 44) != 23)
            continue;
        found = true;
        EXPECT_EQ(gentest::i32At(rec, 72), 50);   // drawn 13.2 x 6.1 mm at 96 per inch
        EXPECT_EQ(gentest::i32At(rec, 76), 23);
        const int x = gentest::i32At(rec, 24), y = gentest::i32At(rec, 28);
        bool clipped = false;
        for (const QByteArray& c : clips)
            if (gentest::i32At(c, 8) == x && gentest::i32At(c, 12) == y && gentest::i32At(c, 16) - x == 57
                && gentest::i32At(c, 20) - y == 17)
                clipped = true;
        EXPECT_TRUE(clipped) << "no 57 x 17 clip at the picture's corner";
    }
    EXPECT_TRUE(found);
}

TEST(Items, BandFrameCoversDeviceRows38To128)
{
    auto r = blankReport();
    TRpCustomBand* band = addBand(*r, TRpBandType::rbTitle, 240.770833333333L, "T");
    band->Frame.DrawTop = band->Frame.DrawBottom = band->Frame.DrawLeft = band->Frame.DrawRight = true;
    NotedRun run(*r);
    run.run();
    ASSERT_EQ(run.bands, (std::vector<BandAt>{{"T", 1, 100}}));
    const QImage page = gentest::pageImage(run.recorder, 1);
    ASSERT_FALSE(page.isNull());
    auto black = [&](int x, int y) { return qGray(page.pixel(x, y)) < 128; };
    const int right = run.recorder.XPos(2000) - 1;
    struct Probe {
        int x, y;
        bool expected;
    };
    const Probe probes[] = {
        {400, 37, false}, {400, 38, true}, {400, 39, false},
        {400, 127, false}, {400, 128, true}, {400, 129, false},
        {37, 80, false}, {38, 80, true}, {39, 80, false},
        {right - 1, 80, false}, {right, 80, true}, {right + 1, 80, false},
        {38, 38, true}, {right, 128, true},
    };
    for (const Probe& pr : probes)
        EXPECT_EQ(black(pr.x, pr.y), pr.expected) << pr.x << "," << pr.y;
}

TEST(Items, FrameThicknessFromPointsAndDeviceFactors)
{
    struct Case {
        int width;
        long double factor;   // device pixels per native unit
        int expected;
    };
    const Case cases[] = {
        {1, 96.0L / 254, 1},    // 0.38 rounds to 0: one pixel at least
        {1, 600.0L / 254, 8},   // 8.33 on a 600 dpi printer
        {2, 600.0L / 254, 17},
        {-1, 600.0L / 254, 1},  // -1 is one device pixel
        {0, 600.0L / 254, 0},
    };
    for (const Case& c : cases) {
        TRpFrame f;
        f.Width = c.width;
        EXPECT_EQ(rpframe::verticalThickness(f, c.factor), c.expected) << c.width;
        EXPECT_EQ(rpframe::horizontalThickness(f, c.factor), c.expected) << c.width;
    }
}

TEST(Items, StoredNativeBandHeightWinsOverThePixelFallback)
{
    const QByteArray text =
        "object R: TReport\n"
        "  object B1: TRpBand\n    BandType = rbTitle\n    Height = 57\n"
        "    Size.Values = (\n      105.833333333333\n      0)\n  end\n"
        "  object B2: TRpBand\n    BandType = rbDetail\n  end\n"
        "end\n";
    auto r = layoutloader::load(text, QStringLiteral("test"), QLocale(QLocale::Russian, QLocale::Russia));
    NotedRun run(*r);
    run.run();
    EXPECT_EQ(run.bands, (std::vector<BandAt>{{"B1", 1, 100}, {"B2", 1, 206}}));
}

TEST(Items, LayoutsThatCouldPrintForEverEnd)
{
    struct Case {
        const char* what;
        long double header, footer;
        int fontHeight;
        int maxPages;
    };
    const Case cases[] = {
        // Page header and footer leave less room than the header needs: no page takes it.
        {"header and footer fill the page", 1500, 1500, -13, 3},
        // A stretching line taller than any page.
        {"line taller than a page", 0, 0, -4000, 3},
    };
    for (const Case& c : cases) {
        auto r = blankReport();
        if (c.header > 0)
            addBand(*r, TRpBandType::rbPageHeader, c.header, "H");
        if (c.footer > 0)
            addBand(*r, TRpBandType::rbPageFooter, c.footer, "F");
        TRpCustomBand* title = addBand(*r, TRpBandType::rbTitle, 100, "T");
        auto* label = addItem<TRpLabel>(*title, 0, 0, 200, 45);
        label->AutoStretch = true;
        TRpFont big;
        big.Height = c.fontHeight;
        label->SetFont(big);
        label->SetCaption(QStringLiteral("A\r\nB"));
        addBand(*r, TRpBandType::rbDetail, 100, "D");
        NotedRun run(*r);
        run.run();
        EXPECT_LE(run.recorder.PageCount(), c.maxPages) << c.what;
        EXPECT_GE(run.recorder.PageCount(), 1) << c.what;
    }
}

} // namespace

namespace {

TEST(Items, EveryRowLineOfThePeriodReportShows)
{
    // Each detail's bottom frame line lies one native unit inside the next detail, whose fill
    // would cover it about every third row at 96 pixels per inch.
    gentest::OpenRows rows(34);
    TTable& data = rows.data;
    auto r = gentest::layout("Unit7");
    r->SetDataSet(&data);
    NotedRun run(*r);
    run.run();
    const QImage page = gentest::pageImage(run.recorder, 1);
    ASSERT_FALSE(page.isNull());
    const auto details = run.named(QStringLiteral("RpBand3"));
    ASSERT_EQ(details.size(), 34u);
    const int x = run.recorder.XPos(2800);
    for (const BandAt& d : details) {
        const int row = run.recorder.YPos(d.y + 53 + 1) - 1;
        // Played pages are scaled from their frame in hundredths of a millimetre: a row may move
        // by one.
        const bool line = qGray(page.pixel(x, row - 1)) < 128 || qGray(page.pixel(x, row)) < 128
                          || qGray(page.pixel(x, row + 1)) < 128;
        EXPECT_TRUE(line) << "row line of the detail at " << d.y;
    }
}

} // namespace

namespace {

// Layouts are untrusted: measures anywhere in range end in a few pages, without a crash, a hang
// or an overflow (the sanitizer build runs this too).
TEST(Items, HostileMeasuresEndInAFewPages)
{
    gentest::OpenRows rows(3);
    TTable& data = rows.data;
    using Mutate = std::function<void(TReport&)>;
    auto eachBand = [](TReport& r, const std::function<void(TRpCustomBand&)>& f) {
        for (const auto& b : r.BandList())
            f(*b);
    };
    auto eachItem = [](TReport& r, const std::function<void(TRpPrintable&)>& f) { r.ForEachItem(f); };
    const std::pair<const char*, Mutate> cases[] = {
        {"bands 1e30 high", [&](TReport& r) { eachBand(r, [](TRpCustomBand& b) { b.Size.StoreNative(TRpBandSize::Height, 1e30L); }); }},
        {"bands -500 high", [&](TReport& r) { eachBand(r, [](TRpCustomBand& b) { b.Size.StoreNative(TRpBandSize::Height, -500); }); }},
        {"bands 1e-30 high", [&](TReport& r) { eachBand(r, [](TRpCustomBand& b) { b.Size.StoreNative(TRpBandSize::Height, 1e-30L); }); }},
        {"items far away", [&](TReport& r) { eachItem(r, [](TRpPrintable& it) {
             it.Size.StoreNative(TRpPrintableSize::Left, -1e15L);
             it.Size.StoreNative(TRpPrintableSize::Top, 1e15L);
             it.Size.StoreNative(TRpPrintableSize::Width, 1e18L);
         }); }},
        {"huge frames", [&](TReport& r) {
             r.Frame.DrawTop = r.Frame.DrawRight = true;
             r.Frame.Width = std::numeric_limits<int>::max();
             eachBand(r, [](TRpCustomBand& b) { b.Frame.DrawBottom = b.Frame.DrawRight = true; b.Frame.Width = std::numeric_limits<int>::max(); });
             eachItem(r, [](TRpPrintable& it) { it.Frame.DrawTop = it.Frame.DrawLeft = true; it.Frame.Width = std::numeric_limits<int>::min(); });
         }},
        {"stretching texts in a huge font", [&](TReport& r) { eachItem(r, [](TRpPrintable& it) {
             if (auto* l = dynamic_cast<TRpCustomLabel*>(&it)) {
                 TRpFont f;
                 f.Height = -3000;
                 l->SetFont(f);
                 l->AutoStretch = true;
                 l->SetCaption(QStringLiteral("a\r\nb\r\nc"));
             }
         }); }},
        {"the most negative font height", [&](TReport& r) { eachItem(r, [](TRpPrintable& it) {
             if (auto* l = dynamic_cast<TRpCustomLabel*>(&it)) {
                 TRpFont f;
                 f.Height = std::numeric_limits<int>::min();
                 l->SetFont(f);
             }
         }); }},
        {"margins beyond the page", [&](TReport& r) {
             r.Page.SetNative(TRpPage::TopMargin, 1e9L);
             r.Page.SetNative(TRpPage::LeftMargin, -1e9L);
         }},
        {"many columns", [&](TReport& r) {
             r.Page.SetColumns(1000);
             r.Page.SetNative(TRpPage::ColumnSpace, 1e9L);
             r.FindBand(TRpBandType::rbDetail)->ForceNewPage = true;
             r.FindBand(TRpBandType::rbDetail)->ForceNewColumn = true;
         }},
        {"page footer chain taller than the page", [&](TReport& r) {
             r.Bands().SetHas(TRpBandType::rbPageFooter, true);
             TRpCustomBand* footer = r.FindBand(TRpBandType::rbPageFooter);
             footer->Size.StoreNative(TRpBandSize::Height, 2000);
             auto child = std::make_unique<TRpChildBand>();
             child->Size.StoreNative(TRpBandSize::Height, 2000);
             r.AddBand(std::move(child))->SetParentBand(footer);
             eachBand(r, [](TRpCustomBand& b) { b.AlignToBottom = true; });
         }},
    };
    for (const auto& [what, mutate] : cases) {
        for (const char* name : {"Report", "Unit7"}) {
            auto r = gentest::layout(name);
            if (QLatin1String(name) == QLatin1String("Unit7"))
                r->SetDataSet(&data);
            mutate(*r);
            NotedRun run(*r);
            EXPECT_NO_THROW(run.run()) << what << " " << name;
            EXPECT_LE(run.recorder.PageCount(), 12) << what << " " << name;
            EXPECT_TRUE(run.gen.Available()) << what << " " << name;
        }
    }
}

} // namespace

namespace {

TEST(Items, MaskFormatsDatesAndLeavesTextFields)
{
    REQUIRE_FONTS();
    gentest::OpenRows rows(1);
    TTable& data = rows.data;
    auto r = blankReport();
    TRpCustomBand* band = addBand(*r, TRpBandType::rbTitle, 200, "T");
    auto* date = addItem<TRpDBText>(*band, 0, 0, 200, 45);
    date->SetDataSet(&data);
    date->SetDataField(QStringLiteral("DAT"));
    date->Mask = QStringLiteral("dd.mm.yyyy");
    auto* name = addItem<TRpDBText>(*band, 0, 100, 200, 45);
    name->SetDataSet(&data);
    name->SetDataField(QStringLiteral("FIO"));
    name->Mask = QStringLiteral("0.00");
    NotedRun run(*r);
    run.run();
    QStringList texts;
    for (const TextAt& t : gentest::textsOfPage(run.recorder, 1))
        texts << t.text;
    EXPECT_EQ(texts, (QStringList{"05.06.2023", "Иванов И. И."}));
}

} // namespace

namespace {

TEST(Items, PictureStretchedOrCentred)
{
    QImage image(50, 23, QImage::Format_RGB32);
    image.fill(Qt::black);
    struct Case {
        bool stretch, center;
        int dx, dy, w, h;   // drawn rectangle relative to the item's corner, device pixels
    };
    // The item is 200 x 100 native at (200, 150) on the page: 76 x 38 pixels long at 96 per inch.
    const Case cases[] = {
        {true, false, 0, 0, 75, 37},   // XPos(300) - XPos(100), YPos(250) - YPos(150)
        {false, true, 13, 7, 50, 23},
        {false, false, 0, 0, 50, 23},
    };
    for (const Case& c : cases) {
        auto r = blankReport();
        TRpCustomBand* band = addBand(*r, TRpBandType::rbTitle, 300, "T");
        auto* item = addItem<TRpImage>(*band, 100, 50, 200, 100);
        TRpPicture picture;
        picture.Image = image;
        item->SetPicture(picture);
        item->Stretch = c.stretch;
        item->Center = c.center;
        NotedRun run(*r);
        run.run();
        const auto pictures = gentest::recordsOf(run.recorder.GetPage(1)->Bytes(), 81);
        ASSERT_EQ(pictures.size(), 1u);
        const int x = run.recorder.XPos(200), y = run.recorder.YPos(150);
        EXPECT_EQ(gentest::i32At(pictures[0], 24) - x, c.dx) << c.stretch << c.center;
        EXPECT_EQ(gentest::i32At(pictures[0], 28) - y, c.dy) << c.stretch << c.center;
        EXPECT_EQ(gentest::i32At(pictures[0], 72), c.w) << c.stretch << c.center;
        EXPECT_EQ(gentest::i32At(pictures[0], 76), c.h) << c.stretch << c.center;
    }
}

} // namespace

namespace {

TEST(Items, ShapesDrawInStoredOrder)
{
    for (bool shapeFirst : {true, false}) {
        auto r = blankReport();
        TRpCustomBand* band = addBand(*r, TRpBandType::rbTitle, 300, "T");
        auto addShape = [&] {
            auto* s = addItem<TRpShape>(*band, 0, 0, 600, 200);
            s->Brush.Color = rpcolor::clBlack;
            s->Pen.Color = rpcolor::clBlack;
        };
        if (shapeFirst)
            addShape();
        auto* label = addItem<TRpLabel>(*band, 100, 50, 300, 100);
        label->AutoSize = false;
        // Added with AutoSize on, it took the width of its empty caption.
        label->Size.StoreNative(TRpPrintableSize::Width, 300);
        label->UpdateBoundsFromSize();
        label->SetCaption(QStringLiteral("."));
        if (!shapeFirst)
            addShape();
        NotedRun run(*r);
        run.run();
        const QImage page = gentest::pageImage(run.recorder, 1);
        // Inside the label's white box, away from its text.
        const QPoint inside(run.recorder.XPos(100 + 300), run.recorder.YPos(100 + 130));
        EXPECT_EQ(qGray(page.pixel(inside)) > 128, shapeFirst) << "shape first: " << shapeFirst;
    }
}

} // namespace
