#include "report/model/LayoutLoader.h"

#include "engine/DataSet.h"
#include "report/model/RpItems.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <cmath>

static void initLayoutResources()
{
    // The resources live in a static library: the call keeps them linked in.
    Q_INIT_RESOURCE(layouts);
}

namespace layoutloader {
namespace {

// Measures beyond a hundred metres are not a layout but damage.
constexpr long double kMaxMeasure = 1.0e6L;
constexpr int kMaxPixel = 1000000;

class Builder {
public:
    Builder(const QString& source, const QLocale& locale) : source_(source), locale_(locale) {}

    std::unique_ptr<TReport> run(const LayoutObject& root)
    {
        if (root.className != QLatin1String("TReport"))
            failAt(root.line, QStringLiteral("the root object %1 is a %2, a TReport was expected")
                                  .arg(root.name, root.className));
        auto report = std::make_unique<TReport>(locale_);
        report_ = report.get();
        report_->SetLoading(true);
        report_->Name = root.name;
        claimName(root);
        for (const auto& p : root.properties)
            reportProperty(p);
        // Step 1 and 2: objects in stored order, each attached to its parent, then given its
        // properties.
        for (const auto& child : root.children) {
            claimName(child);
            if (child.className == QLatin1String("TRpBand")
                || child.className == QLatin1String("TRpChildBand"))
                buildBand(child);
            else
                buildItem(child, *report_);
        }
        finish();
        return report;
    }

private:
    [[noreturn]] void failAt(int line, const QString& problem) const
    {
        throw ELayoutError(source_, line, problem);
    }
    [[noreturn]] void bad(const LayoutProperty& p, const QString& problem) const
    {
        failAt(p.line, QStringLiteral("%1 of %2: %3").arg(p.name, currentObject_, problem));
    }

    void claimName(const LayoutObject& o)
    {
        if (auto it = names_.constFind(o.name.toLower()); it != names_.constEnd())
            failAt(o.line, QStringLiteral("name %1 is used twice (first at line %2)").arg(o.name).arg(*it));
        names_.insert(o.name.toLower(), o.line);
        currentObject_ = o.name;
    }

    // ---- typed values ----

    bool asBool(const LayoutProperty& p) const
    {
        if (p.value.kind == LayoutValue::Kind::Identifier) {
            if (p.value.text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
                return true;
            if (p.value.text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
                return false;
        }
        bad(p, QStringLiteral("True or False expected"));
    }
    int asInt(const LayoutProperty& p, qint64 min, qint64 max) const
    {
        if (p.value.kind != LayoutValue::Kind::Integer)
            bad(p, QStringLiteral("a whole number expected"));
        if (p.value.integer < min || p.value.integer > max)
            bad(p, QStringLiteral("%1 is outside %2..%3").arg(p.value.integer).arg(min).arg(max));
        return static_cast<int>(p.value.integer);
    }
    QString asText(const LayoutProperty& p) const
    {
        if (p.value.kind != LayoutValue::Kind::String)
            bad(p, QStringLiteral("a quoted text expected"));
        return p.value.text;
    }
    QString asIdent(const LayoutProperty& p) const
    {
        if (p.value.kind != LayoutValue::Kind::Identifier)
            bad(p, QStringLiteral("a name expected"));
        return p.value.text;
    }
    template <typename E>
    E asEnum(const LayoutProperty& p, const EnumNames<E>& names) const
    {
        const QString id = asIdent(p);
        if (auto v = names.parse(id))
            return *v;
        bad(p, QStringLiteral("unknown value %1").arg(id));
    }
    template <typename E>
    EnumSet<E> asSet(const LayoutProperty& p, const EnumNames<E>& names) const
    {
        if (p.value.kind != LayoutValue::Kind::Set)
            bad(p, QStringLiteral("a set [..] expected"));
        EnumSet<E> out;
        for (const QString& m : p.value.set) {
            auto v = names.parse(m);
            if (!v)
                bad(p, QStringLiteral("unknown set member %1").arg(m));
            out.set(*v);
        }
        return out;
    }
    TColor asColor(const LayoutProperty& p) const
    {
        if (p.value.kind == LayoutValue::Kind::Identifier) {
            if (auto c = rpcolor::fromName(p.value.text))
                return *c;
            bad(p, QStringLiteral("unknown colour %1").arg(p.value.text));
        }
        return static_cast<TColor>(asInt(p, INT32_MIN, UINT32_MAX));
    }
    std::vector<long double> asMeasures(const LayoutProperty& p, size_t count) const
    {
        if (p.value.kind != LayoutValue::Kind::List)
            bad(p, QStringLiteral("a list of %1 numbers expected").arg(count));
        if (p.value.list.size() != count)
            bad(p, QStringLiteral("%1 numbers expected, %2 found").arg(count).arg(p.value.list.size()));
        std::vector<long double> out;
        for (const auto& v : p.value.list) {
            if (!v.isNumber())
                bad(p, QStringLiteral("numbers expected in the list"));
            const long double x = v.asNumber();
            if (!std::isfinite(x) || std::fabs(x) > kMaxMeasure)
                bad(p, QStringLiteral("measure %1 out of range").arg(layouttext::formatNumber(x)));
            out.push_back(x);
        }
        return out;
    }
    QStringList asTexts(const LayoutProperty& p) const
    {
        if (p.value.kind != LayoutValue::Kind::List)
            bad(p, QStringLiteral("a list of texts expected"));
        QStringList out;
        for (const auto& v : p.value.list) {
            if (v.kind != LayoutValue::Kind::String)
                bad(p, QStringLiteral("texts expected in the list"));
            out << v.text;
        }
        return out;
    }
    int asPixel(const LayoutProperty& p) const { return asInt(p, -kMaxPixel, kMaxPixel); }

    // ---- shared groups ----

    bool frameProperty(const LayoutProperty& p, TRpFrame& f) const
    {
        const QString& n = p.name;
        if (!n.startsWith(QLatin1String("Frame."), Qt::CaseInsensitive))
            return false;
        const QString k = n.mid(6);
        if (!k.compare(QLatin1String("Color"), Qt::CaseInsensitive))
            f.Color = asColor(p);
        else if (!k.compare(QLatin1String("DrawTop"), Qt::CaseInsensitive))
            f.DrawTop = asBool(p);
        else if (!k.compare(QLatin1String("DrawBottom"), Qt::CaseInsensitive))
            f.DrawBottom = asBool(p);
        else if (!k.compare(QLatin1String("DrawLeft"), Qt::CaseInsensitive))
            f.DrawLeft = asBool(p);
        else if (!k.compare(QLatin1String("DrawRight"), Qt::CaseInsensitive))
            f.DrawRight = asBool(p);
        else if (!k.compare(QLatin1String("Style"), Qt::CaseInsensitive))
            f.Style = asEnum(p, kPenStyleNames);
        else if (!k.compare(QLatin1String("Width"), Qt::CaseInsensitive))
            f.Width = asInt(p, -1, 1000);
        else
            bad(p, QStringLiteral("unknown property"));
        return true;
    }

    // Font.* pieces; the first one makes the font the object's own (a copy of its parent's).
    template <typename Owner>
    bool fontProperty(const LayoutProperty& p, Owner& owner) const
    {
        const QString& n = p.name;
        if (!n.startsWith(QLatin1String("Font."), Qt::CaseInsensitive))
            return false;
        owner.SetParentFont(false);
        TRpFont& f = owner.OwnFont();
        const QString k = n.mid(5);
        if (!k.compare(QLatin1String("Charset"), Qt::CaseInsensitive)) {
            if (p.value.kind == LayoutValue::Kind::Identifier) {
                auto c = charsetFromName(p.value.text);
                if (!c)
                    bad(p, QStringLiteral("unknown character set %1").arg(p.value.text));
                f.Charset = *c;
            } else {
                f.Charset = asInt(p, 0, 255);
            }
        } else if (!k.compare(QLatin1String("Color"), Qt::CaseInsensitive)) {
            f.Color = asColor(p);
        } else if (!k.compare(QLatin1String("Height"), Qt::CaseInsensitive)) {
            f.Height = asInt(p, -1000, 1000);
        } else if (!k.compare(QLatin1String("Size"), Qt::CaseInsensitive)) {
            f.SetSize(asInt(p, 1, 750));
        } else if (!k.compare(QLatin1String("Name"), Qt::CaseInsensitive)) {
            const QString name = asText(p);
            if (name.trimmed().isEmpty() || name.size() > 64)
                bad(p, QStringLiteral("font name must have 1 to 64 characters"));
            f.Name = name;
        } else if (!k.compare(QLatin1String("Style"), Qt::CaseInsensitive)) {
            f.Style = asSet(p, kFontStyleNames);
        } else if (!k.compare(QLatin1String("Pitch"), Qt::CaseInsensitive)) {
            // Pitch only guides font choice on other systems; the name decides here.
            asIdent(p);
        } else {
            bad(p, QStringLiteral("unknown property"));
        }
        return true;
    }

    // ---- report ----

    void reportProperty(const LayoutProperty& p)
    {
        TReport& r = *report_;
        const QString& n = p.name;
        auto is = [&n](const char* s) { return n.compare(QLatin1String(s), Qt::CaseInsensitive) == 0; };
        if (frameProperty(p, r.Frame) || fontProperty(p, r))
            return;
        if (is("Left") || is("Top") || is("Width") || is("Height")) {
            asPixel(p);   // the design size follows the page
        } else if (is("Color")) {
            r.Color = asColor(p);
        } else if (is("Units")) {
            const QString id = asIdent(p);
            auto u = rpunits::unitFromName(id);
            if (!u)
                bad(p, QStringLiteral("unknown unit %1").arg(id));
            units_ = *u;
        } else if (is("Zoom")) {
            zoom_ = asInt(p, INT_MIN, INT_MAX);
        } else if (is("Options")) {
            r.Options = asSet(p, kReportOptionNames);
        } else if (is("PrintIfEmpty")) {
            r.SetPrintIfEmpty(asBool(p));
        } else if (is("DataSet")) {
            r.Controller().DataSetReference = asIdent(p);
        } else if (is("ReportTitle")) {
            r.ReportTitle = asText(p);
        } else if (is("ShowProgress")) {
            r.ShowProgress = asBool(p);
        } else if (is("SnapToGrid")) {
            r.SnapToGrid = asBool(p);
        } else if (is("Description.Strings")) {
            r.Description = asTexts(p);
        } else if (is("Functions.Strings")) {
            functionNames_ = asTexts(p);
            functionLine_ = p.line;
        } else if (is("Functions.DATA")) {
            functionData_ = asTexts(p);
            functionLine_ = p.line;
        } else if (is("Page.Values")) {
            r.Page.SetStoredValues(asMeasures(p, TRpPage::kValueCount));
        } else if (is("Page.Orientation")) {
            const QString id = asIdent(p);
            if (!id.compare(QLatin1String("poPortrait"), Qt::CaseInsensitive))
                r.Page.SetOrientation(TRpOrientation::poPortrait);
            else if (!id.compare(QLatin1String("poLandscape"), Qt::CaseInsensitive))
                r.Page.SetOrientation(TRpOrientation::poLandscape);
            else
                bad(p, QStringLiteral("unknown orientation %1").arg(id));
        } else if (is("Page.PaperSize")) {
            const QString id = asIdent(p);
            auto s = paperSizeFromName(id);
            if (!s)
                bad(p, QStringLiteral("unknown paper size %1").arg(id));
            r.Page.SetPaperSize(*s);
        } else if (is("Page.Columns")) {
            r.Page.SetColumns(asInt(p, INT_MIN, 1000));
        } else if (is("Page.Ruler")) {
            r.Page.Ruler = asBool(p);
        } else if (is("PrinterSettings.Copies")) {
            r.PrinterSettings.Copies = asInt(p, 0, 9999);
        } else if (is("PrinterSettings.Duplex")) {
            r.PrinterSettings.Duplex = asBool(p);
        } else if (is("PrinterSettings.FirstPage")) {
            r.PrinterSettings.FirstPage = asInt(p, 0, INT_MAX);
        } else if (is("PrinterSettings.LastPage")) {
            r.PrinterSettings.LastPage = asInt(p, 0, INT_MAX);
        } else if (is("PrinterSettings.OutputBin")) {
            const QString id = asIdent(p);
            auto b = TReportPrinterSettings::BinFromName(id);
            if (!b)
                bad(p, QStringLiteral("unknown output bin %1").arg(id));
            r.PrinterSettings.OutputBin = *b;
        } else if (n.startsWith(QLatin1String("Bands.Has"), Qt::CaseInsensitive)) {
            // Presence flags follow from the band objects that are stored.
            asBool(p);
        } else {
            bad(p, QStringLiteral("unknown property"));
        }
    }

    // ---- bands ----

    void buildBand(const LayoutObject& o)
    {
        std::unique_ptr<TRpCustomBand> owned;
        if (o.className == QLatin1String("TRpChildBand"))
            owned = std::make_unique<TRpChildBand>();
        else
            owned = std::make_unique<TRpBand>();
        owned->Name = o.name;
        TRpCustomBand* band = report_->AddBand(std::move(owned));
        for (const auto& p : o.properties)
            bandProperty(p, *band);
        for (const auto& child : o.children) {
            claimName(child);
            buildItem(child, *band);
        }
    }

    void bandProperty(const LayoutProperty& p, TRpCustomBand& b)
    {
        const QString& n = p.name;
        auto is = [&n](const char* s) { return n.compare(QLatin1String(s), Qt::CaseInsensitive) == 0; };
        if (frameProperty(p, b.Frame) || fontProperty(p, b))
            return;
        if (is("Left"))
            b.StoredLeft = asPixel(p);
        else if (is("Top"))
            b.StoredTop = asPixel(p);
        else if (is("Width"))
            b.StoredWidth = asPixel(p);
        else if (is("Height"))
            b.StoredHeight = asPixel(p);
        else if (is("Size.Values")) {
            const auto v = asMeasures(p, 2);
            b.Size.StoreNative(TRpBandSize::Height, v[0]);
            b.Size.StoreNative(TRpBandSize::Width, v[1]);
        } else if (is("BandType")) {
            b.SetBandType(asEnum(p, kBandTypeNames));
        } else if (is("ParentFont")) {
            b.SetParentFont(asBool(p));
        } else if (is("Color")) {
            b.Color = asColor(p);
        } else if (is("Enabled")) {
            b.Enabled = asBool(p);
        } else if (is("ForceNewPage")) {
            b.ForceNewPage = asBool(p);
        } else if (is("ForceNewColumn")) {
            b.ForceNewColumn = asBool(p);
        } else if (is("AlignToBottom")) {
            b.AlignToBottom = asBool(p);
        } else if (is("HasChild")) {
            // The chain itself is stored on the child band (ParentBand).
            asBool(p);
        } else if (is("ParentBand") && b.BandType() == TRpBandType::rbChild) {
            parentRefs_.push_back({&b, asIdent(p), p.line});
        } else {
            bad(p, QStringLiteral("unknown property"));
        }
    }

    // ---- items ----

    void buildItem(const LayoutObject& o, TRpBasePanel& panel)
    {
        std::unique_ptr<TRpPrintable> owned;
        const QString& c = o.className;
        if (c == QLatin1String("TRpLabel"))
            owned = std::make_unique<TRpLabel>();
        else if (c == QLatin1String("TRpDBText"))
            owned = std::make_unique<TRpDBText>();
        else if (c == QLatin1String("TRpSysData"))
            owned = std::make_unique<TRpSysData>();
        else if (c == QLatin1String("TRpShape"))
            owned = std::make_unique<TRpShape>();
        else if (c == QLatin1String("TRpImage"))
            owned = std::make_unique<TRpImage>();
        else
            failAt(o.line, QStringLiteral("%1 has class %2, which cannot be placed on %3")
                               .arg(o.name, c, panel.Name));
        if (!o.children.empty())
            failAt(o.children.front().line,
                   QStringLiteral("%1 %2 cannot hold other objects").arg(c, o.name));
        owned->Name = o.name;
        TRpPrintable* item = panel.AddItem(std::move(owned));
        if (auto* db = dynamic_cast<TRpDBText*>(item))
            db->SetDataField(QString());
        for (const auto& p : o.properties)
            itemProperty(p, *item);
    }

    void itemProperty(const LayoutProperty& p, TRpPrintable& item)
    {
        const QString& n = p.name;
        auto is = [&n](const char* s) { return n.compare(QLatin1String(s), Qt::CaseInsensitive) == 0; };
        if (frameProperty(p, item.Frame))
            return;
        if (is("Left")) {
            item.StoredLeft = asPixel(p);
        } else if (is("Top")) {
            item.StoredTop = asPixel(p);
        } else if (is("Width")) {
            item.StoredWidth = asPixel(p);
        } else if (is("Height")) {
            item.StoredHeight = asPixel(p);
        } else if (is("Size.Values")) {
            const auto v = asMeasures(p, 4);
            for (int i = 0; i < 4; ++i)
                item.Size.StoreNative(i, v[static_cast<size_t>(i)]);
        } else if (is("Enabled")) {
            item.Enabled = asBool(p);
        } else if (is("Color")) {
            item.Color = asColor(p);
        } else if (auto* label = dynamic_cast<TRpCustomLabel*>(&item)) {
            labelProperty(p, *label);
        } else if (auto* shape = dynamic_cast<TRpShape*>(&item)) {
            shapeProperty(p, *shape);
        } else if (auto* image = dynamic_cast<TRpImage*>(&item)) {
            imageProperty(p, *image);
        } else {
            bad(p, QStringLiteral("unknown property"));
        }
    }

    void labelProperty(const LayoutProperty& p, TRpCustomLabel& l)
    {
        const QString& n = p.name;
        auto is = [&n](const char* s) { return n.compare(QLatin1String(s), Qt::CaseInsensitive) == 0; };
        if (fontProperty(p, l))
            return;
        auto* db = dynamic_cast<TRpDBText*>(&l);
        auto* sys = dynamic_cast<TRpSysData*>(&l);
        if (is("Alignment"))
            l.Alignment = asEnum(p, kAlignmentNames);
        else if (is("AlignToBand"))
            l.AlignToBand = asBool(p);
        else if (is("AutoSize"))
            l.AutoSize = asBool(p);
        else if (is("AutoStretch"))
            l.AutoStretch = asBool(p);
        else if (is("Caption"))
            l.SetCaption(asText(p));
        else if (is("ParentFont"))
            l.SetParentFont(asBool(p));
        else if (is("Transparent"))
            l.Transparent = asBool(p);
        else if (is("WordWrap"))
            l.WordWrap = asBool(p);
        else if (is("FontSize"))
            l.FontSize = asInt(p, 0, 750);
        else if (db && is("DataSet"))
            db->DataSetReference = asIdent(p);
        else if (db && is("DataField"))
            db->SetDataField(asText(p));
        else if (db && is("Mask"))
            db->Mask = asText(p);
        else if (sys && is("Data"))
            sys->SetData(asEnum(p, kSysDataNames));
        else if (sys && is("Text"))
            sys->SetText(asText(p));
        else
            bad(p, QStringLiteral("unknown property"));
    }

    void shapeProperty(const LayoutProperty& p, TRpShape& s)
    {
        const QString& n = p.name;
        auto is = [&n](const char* x) { return n.compare(QLatin1String(x), Qt::CaseInsensitive) == 0; };
        if (is("Shape"))
            s.Shape = asEnum(p, kShapeTypeNames);
        else if (is("Pen.Color"))
            s.Pen.Color = asColor(p);
        else if (is("Pen.Style"))
            s.Pen.Style = asEnum(p, kPenStyleNames);
        else if (is("Pen.Width"))
            s.Pen.Width = asInt(p, 0, 1000);
        else if (is("Pen.Mode"))
            asIdent(p);   // drawing is always plain copy
        else if (is("Brush.Color"))
            s.Brush.Color = asColor(p);
        else if (is("Brush.Style"))
            s.Brush.Style = asEnum(p, kBrushStyleNames);
        else
            bad(p, QStringLiteral("unknown property"));
    }

    void imageProperty(const LayoutProperty& p, TRpImage& img)
    {
        const QString& n = p.name;
        auto is = [&n](const char* x) { return n.compare(QLatin1String(x), Qt::CaseInsensitive) == 0; };
        if (is("Picture.Data")) {
            if (p.value.kind != LayoutValue::Kind::Binary)
                bad(p, QStringLiteral("binary data { } expected"));
            TRpPicture pic;
            if (const QString problem = TRpPicture::Decode(p.value.binary, pic); !problem.isEmpty())
                bad(p, problem);
            img.SetPicture(std::move(pic));
        } else if (is("AutoSize")) {
            img.SetAutoSize(asBool(p));
        } else if (is("Center")) {
            img.Center = asBool(p);
        } else if (is("Stretch")) {
            img.Stretch = asBool(p);
        } else {
            bad(p, QStringLiteral("unknown property"));
        }
    }

    // ---- step 3 ----

    void finish()
    {
        TReport& r = *report_;
        if (functionLine_) {
            if (functionNames_.size() != functionData_.size())
                failAt(functionLine_, QStringLiteral("Functions.Strings has %1 names but Functions.DATA %2 values")
                                          .arg(functionNames_.size())
                                          .arg(functionData_.size()));
            r.Functions.clear();
            for (qsizetype i = 0; i < functionNames_.size(); ++i)
                r.Functions.emplace_back(functionNames_[i], functionData_[i]);
        }
        QHash<QString, TRpCustomBand*> bandsByName;
        for (const auto& b : r.BandList())
            bandsByName.insert(b->Name.toLower(), b.get());
        for (const auto& ref : parentRefs_) {
            TRpCustomBand* parent = bandsByName.value(ref.name.toLower());
            if (!parent || parent == ref.child)
                failAt(ref.line, QStringLiteral("ParentBand of %1: no band named %2").arg(ref.child->Name, ref.name));
            ref.child->SetParentBand(parent);
        }
        // FontSize wins over the stored font height.
        r.ForEachItem([](TRpPrintable& it) {
            if (auto* l = dynamic_cast<TRpCustomLabel*>(&it); l && l->FontSize > 0) {
                l->SetParentFont(false);
                l->OwnFont().SetSize(l->FontSize);
            }
        });
        r.SetUnits(units_.value_or(r.Units()));
        r.SetZoom(zoom_);
        for (const auto& b : r.BandList()) {
            b->UpdateBoundsFromSize();
            for (const auto& it : b->Items())
                it->UpdateBoundsFromSize();
        }
        for (const auto& it : r.Items())
            it->UpdateBoundsFromSize();
        r.SetLoading(false);
        r.ReorderBands();
        r.LayoutBands();
        r.ForEachItem([](TRpPrintable& it) {
            it.ParentChanged();
            if (auto* img = dynamic_cast<TRpImage*>(&it))
                img->ApplyAutoSize();
        });
        // The held-back pixel values have served.
        for (const auto& b : r.BandList()) {
            b->StoredLeft = b->StoredTop = b->StoredWidth = b->StoredHeight = std::nullopt;
            for (const auto& it : b->Items())
                it->StoredLeft = it->StoredTop = it->StoredWidth = it->StoredHeight = std::nullopt;
        }
        for (const auto& it : r.Items())
            it->StoredLeft = it->StoredTop = it->StoredWidth = it->StoredHeight = std::nullopt;
    }

    struct ParentRef {
        TRpCustomBand* child;
        QString name;
        int line;
    };

    QString source_;
    QLocale locale_;
    TReport* report_ = nullptr;
    QString currentObject_;
    QHash<QString, int> names_;
    // Unset when the layout names no unit: the report keeps its locale's default.
    std::optional<TRpUnit> units_;
    int zoom_ = 100;
    QStringList functionNames_, functionData_;
    int functionLine_ = 0;
    std::vector<ParentRef> parentRefs_;
};

} // namespace

std::unique_ptr<TReport> build(const LayoutObject& root, const QString& source, const QLocale& locale)
{
    Builder b(source, locale);
    return b.run(root);
}

std::unique_ptr<TReport> load(const QByteArray& text, const QString& source, const QLocale& locale)
{
    return build(layouttext::parse(text, source), source, locale);
}

QByteArray readLayoutFile(const QString& path)
{
    initLayoutResources();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw ELayoutError(path, 0, QStringLiteral("cannot be read: %1").arg(f.errorString()));
    if (f.size() > layouttext::kMaxTextSize)
        throw ELayoutError(path, 0, QStringLiteral("file of %1 bytes is larger than the %2 bytes accepted")
                                        .arg(f.size())
                                        .arg(layouttext::kMaxTextSize));
    QByteArray text = f.read(layouttext::kMaxTextSize + 1);
    if (text.size() > layouttext::kMaxTextSize)
        throw ELayoutError(path, 0, QStringLiteral("file is larger than the %1 bytes accepted")
                                        .arg(layouttext::kMaxTextSize));
    return text;
}

std::unique_ptr<TReport> loadFile(const QString& path, const QLocale& locale)
{
    return load(readLayoutFile(path), path, locale);
}

QStringList builtinNames() { return {QStringLiteral("Report"), QStringLiteral("Unit7")}; }

QString builtinPath(const QString& name, const QString& programFolder)
{
    if (!builtinNames().contains(name))
        return {};
    if (!programFolder.isEmpty()) {
        const QString local = QDir(programFolder).filePath(name + QStringLiteral(".layout"));
        if (QFileInfo(local).isFile())
            return local;
    }
    initLayoutResources();
    return QStringLiteral(":/layouts/") + name + QStringLiteral(".layout");
}

std::unique_ptr<TReport> loadBuiltin(const QString& name, const QString& programFolder,
                                     const QLocale& locale)
{
    const QString path = builtinPath(name, programFolder);
    if (path.isEmpty())
        throw ELayoutError(name, 0, QStringLiteral("no built-in layout of that name"));
    return loadFile(path, locale);
}

QStringList resolveDataSets(TReport& report, const DataSetResolver& resolver)
{
    QStringList unresolved;
    auto lookup = [&](const QString& ref) -> TDataSet* {
        const qsizetype dot = ref.indexOf(QLatin1Char('.'));
        const QString window = dot < 0 ? QString() : ref.left(dot);
        const QString component = dot < 0 ? ref : ref.mid(dot + 1);
        TDataSet* ds = resolver ? resolver(window, component) : nullptr;
        if (!ds && !unresolved.contains(ref))
            unresolved << ref;
        return ds;
    };
    TRpController& c = report.Controller();
    if (!c.DataSetReference.isEmpty())
        if (TDataSet* ds = lookup(c.DataSetReference))
            c.SetDataSet(ds);
    report.ForEachItem([&](TRpPrintable& it) {
        if (auto* db = dynamic_cast<TRpDBText*>(&it); db && !db->DataSetReference.isEmpty())
            if (TDataSet* ds = lookup(db->DataSetReference))
                db->SetDataSet(ds);
    });
    return unresolved;
}

} // namespace layoutloader
