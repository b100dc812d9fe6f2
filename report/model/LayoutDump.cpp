#include "report/model/LayoutDump.h"

#include "report/model/LayoutText.h"
#include "report/model/RpItems.h"
#include "report/model/RpReport.h"

namespace layoutdump {
namespace {

QString values(const std::vector<long double>& v)
{
    QStringList parts;
    for (long double x : v)
        parts << layouttext::formatNumber(x);
    return QLatin1Char('(') + parts.join(QLatin1Char(' ')) + QLatin1Char(')');
}

QString bounds(int l, int t, int w, int h)
{
    return QStringLiteral("px=(%1,%2,%3,%4)").arg(l).arg(t).arg(w).arg(h);
}

QString frame(const TRpFrame& f)
{
    if (!f.AnySide())
        return QStringLiteral("frame=none");
    QString sides;
    if (f.DrawTop)
        sides += QLatin1Char('T');
    if (f.DrawBottom)
        sides += QLatin1Char('B');
    if (f.DrawLeft)
        sides += QLatin1Char('L');
    if (f.DrawRight)
        sides += QLatin1Char('R');
    return QStringLiteral("frame=%1/%2").arg(sides).arg(f.Width);
}

QString font(const TRpFont& f)
{
    QStringList styles;
    for (TFontStyle s : {TFontStyle::fsBold, TFontStyle::fsItalic, TFontStyle::fsUnderline,
                         TFontStyle::fsStrikeOut})
        if (f.Style.has(s))
            styles << kFontStyleNames.name(s);
    return QStringLiteral("font='%1' %2pt%3")
        .arg(f.Name)
        .arg(f.Size())
        .arg(styles.isEmpty() ? QString() : QLatin1Char(' ') + styles.join(QLatin1Char(',')));
}

QString item(const TRpPrintable& it)
{
    QString line = QStringLiteral("%1 %2 Size.Values=%3 %4")
                       .arg(it.ClassName(), it.Name, values(it.Size.NativeValues()),
                            bounds(it.Left(), it.Top(), it.Width(), it.Height()));
    if (const auto* l = dynamic_cast<const TRpCustomLabel*>(&it)) {
        line += QStringLiteral(" %1 %2 %3%4 %5 text='%6'")
                    .arg(kAlignmentNames.name(l->Alignment), font(l->Font()),
                         l->Transparent ? QStringLiteral("transparent") : QStringLiteral("opaque"),
                         l->AutoSize ? QStringLiteral(" autosize") : QString(), frame(l->Frame),
                         l->Caption());
        if (const auto* db = dynamic_cast<const TRpDBText*>(&it))
            line += QStringLiteral(" dataset=%1 field=%2")
                        .arg(db->DataSetReference.isEmpty() ? QStringLiteral("-") : db->DataSetReference,
                             db->DataField().isEmpty() ? QStringLiteral("-") : db->DataField());
        if (const auto* sys = dynamic_cast<const TRpSysData*>(&it))
            line += QStringLiteral(" data=%1").arg(kSysDataNames.name(sys->Data()));
    } else if (const auto* s = dynamic_cast<const TRpShape*>(&it)) {
        line += QStringLiteral(" %1").arg(kShapeTypeNames.name(s->Shape));
    } else if (const auto* img = dynamic_cast<const TRpImage*>(&it)) {
        line += QStringLiteral(" picture=%1x%2%3%4%5")
                    .arg(img->Picture().Image.width())
                    .arg(img->Picture().Image.height())
                    .arg(img->Stretch ? QStringLiteral(" stretch") : QString(),
                         img->Center ? QStringLiteral(" center") : QString(),
                         img->AutoSize() ? QStringLiteral(" autosize") : QString());
    }
    return line;
}

} // namespace

QString dump(const TCustomReport& r)
{
    QStringList out;
    out << QStringLiteral("%1 %2 Page.Values=%3 %4 %5 %6 units=%7 zoom=%8 %9 %10")
               .arg(r.ClassName(), r.Name, values(r.Page.NativeValues()),
                    bounds(0, 0, r.Width, r.Height),
                    QString::fromLatin1(paperSizeInfo(r.Page.PaperSize()).name),
                    r.Page.Orientation() == TRpOrientation::poLandscape ? QStringLiteral("poLandscape")
                                                                        : QStringLiteral("poPortrait"),
                    QString::fromLatin1(rpunits::unitName(r.Units())))
               .arg(r.Zoom())
               .arg(font(r.Font()), frame(r.Frame));
    for (const auto& b : r.BandList()) {
        out << QStringLiteral("  %1 %2 %3 Size.Values=%4 %5 %6 %7")
                   .arg(b->ClassName(), b->Name, kBandTypeNames.name(b->BandType()),
                        values(b->Size.NativeValues()), bounds(b->Left, b->Top, b->Width, b->Height),
                        font(b->Font()), frame(b->Frame));
        for (const auto& it : b->Items())
            out << QStringLiteral("    ") + item(*it);
    }
    for (const auto& it : r.Items())
        out << QStringLiteral("  ") + item(*it);
    return out.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace layoutdump
