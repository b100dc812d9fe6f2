#include "report/generation/RpItemPrint.h"

#include "report/generation/FieldMask.h"

#include "engine/DataSet.h"
#include "engine/DateFormat.h"
#include "report/model/RpItems.h"
#include "report/model/RpReport.h"
#include "report/pages/RpPrinter.h"

#include <QLocale>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

using rpunits::roundToInt;

int roundNative(long double v) { return roundToInt(v); }

int sum(long long a, long long b) { return rpdevice::clamp(a + b); }

constexpr int kMaxFontPixels = 20000;

CanvasFont canvasFont(const TRpFont& f, long double yFactor)
{
    CanvasFont c;
    c.face = f.Name;
    // The stored height is in pixels of a 96-per-inch surface; the device may be finer.
    c.height = roundToInt(static_cast<long double>(f.Height) * yFactor * rpunits::kNativePerInch
                          / rpunits::kDesignPixelsPerInch);
    // A font beyond a sheet's height is of no use, and a text engine asked for one costs much.
    c.height = std::clamp(c.height, -kMaxFontPixels, kMaxFontPixels);
    if (c.height == 0)
        c.height = f.Height < 0 ? -1 : 1;
    c.bold = f.Style.has(TFontStyle::fsBold);
    c.italic = f.Style.has(TFontStyle::fsItalic);
    c.underline = f.Style.has(TFontStyle::fsUnderline);
    c.strikeOut = f.Style.has(TFontStyle::fsStrikeOut);
    c.charset = f.Charset;
    return c;
}

DeviceRect deviceRect(const TRpPrinter& p, long double l, long double t, long double r,
                      long double b)
{
    return rpdevice::clampRect({p.XPos(static_cast<double>(l)), p.YPos(static_cast<double>(t)),
                                p.XPos(static_cast<double>(r)), p.YPos(static_cast<double>(b))});
}

// An item's box on the page in native units: its place on the band at the band's origin (x, y).
struct NativeBox {
    long double left, top, width, height;
};

NativeBox nativeBox(const TRpPrintable& item, int x, int y)
{
    using S = TRpPrintableSize;
    return {x + item.Size.Native(S::Left), y + item.Size.Native(S::Top), item.Size.Native(S::Width),
            item.Size.Native(S::Height)};
}

} // namespace

// ---- device coordinates ----

int rpdevice::clamp(long long v) { return static_cast<int>(std::clamp(v, -kLimit, kLimit)); }

DeviceRect rpdevice::clampRect(const DeviceRect& r)
{
    return {clamp(r.left), clamp(r.top), clamp(r.right), clamp(r.bottom)};
}

// ---- frames ----

namespace rpframe {

namespace {
int thickness(const TRpFrame& frame, long double factor)
{
    if (frame.Width == -1)
        return 1;
    const int t = roundToInt(factor * rpunits::kNativePerPoint * frame.Width);
    return (t <= 0 && frame.Width > 0) ? 1 : t;
}
} // namespace

int verticalThickness(const TRpFrame& frame, long double xFactor) { return thickness(frame, xFactor); }
int horizontalThickness(const TRpFrame& frame, long double yFactor) { return thickness(frame, yFactor); }

void draw(PageCanvas& canvas, const TRpFrame& frame, const DeviceRect& rect, long double xFactor,
          long double yFactor)
{
    if (!frame.AnySide())
        return;
    const DeviceRect r = rpdevice::clampRect(rect);
    const int d = verticalThickness(frame, xFactor);
    const int t = horizontalThickness(frame, yFactor);
    const QColor color = rpcolor::toQColor(frame.Color);
    if (frame.DrawTop)
        canvas.fillRect({r.left, r.top, r.right, sum(r.top, t)}, color);
    if (frame.DrawBottom)
        canvas.fillRect({r.left, sum(r.bottom, -static_cast<long long>(t)), r.right, r.bottom}, color);
    if (frame.DrawLeft)
        canvas.fillRect({r.left, r.top, sum(r.left, d), r.bottom}, color);
    if (frame.DrawRight)
        canvas.fillRect({sum(r.right, -static_cast<long long>(d)), r.top, r.right, r.bottom}, color);
}

} // namespace rpframe

// ---- preparing ----

TRpItemPrinter::State& TRpItemPrinter::state(const TRpPrintable& item) { return states_[&item]; }

bool TRpItemPrinter::Finished(const TRpPrintable& item) const
{
    const auto it = states_.find(&item);
    return it == states_.end() || it->second.finished;
}

qsizetype TRpItemPrinter::NextLine(const TRpPrintable& item) const
{
    const auto it = states_.find(&item);
    return it == states_.end() ? 0 : it->second.nextLine;
}

void TRpItemPrinter::FinishAll(const TRpBasePanel& panel)
{
    for (const auto& item : panel.Items()) {
        State& s = state(*item);
        s.finished = true;
        s.nextLine = 0;
    }
}

void TRpItemPrinter::Prepare(TCustomReport& report)
{
    states_.clear();
    report.ForEachItem([this](TRpPrintable& item) {
        State& s = state(item);
        auto* label = dynamic_cast<TRpCustomLabel*>(&item);
        if (!label)
            return;
        label->ClearMemo();
        label->SetCaption(label->Caption());
        auto* field = dynamic_cast<TRpDBText*>(label);
        if (!field)
            return;
        s.found = false;
        s.fieldIndex = -1;
        TDataSet* ds = field->DataSet();
        if (!ds)
            return;
        try {
            if (TField* f = ds->FindField(field->DataField())) {
                s.found = true;
                s.fieldIndex = f->Index();
                if (f->DataType() == TFieldType::Memo)
                    field->SetMemoLines({});
            }
        } catch (const Exception&) {
            // A data set that cannot list its fields leaves the item without a field.
        }
    });
}

void TRpItemPrinter::Unprepare(TCustomReport& report)
{
    report.ForEachItem([](TRpPrintable& item) {
        if (auto* field = dynamic_cast<TRpDBText*>(&item)) {
            field->ClearMemo();
            field->SetDataField(field->DataField());
        }
    });
    states_.clear();
}

// ---- print texts ----

void TRpItemPrinter::SetFieldText(TRpDBText& item)
{
    State& s = state(item);
    // The data set renews its field objects when it reopens: the field is taken by its place.
    TDataSet* ds = item.DataSet();
    if (!s.found || !ds) {
        item.PrintCaption.clear();
        return;
    }
    try {
        const auto& fields = ds->Fields();
        if (s.fieldIndex < 0 || static_cast<size_t>(s.fieldIndex) >= fields.size()) {
            item.PrintCaption.clear();
            return;
        }
        const TField* f = fields[static_cast<size_t>(s.fieldIndex)].get();
        if (f->DataType() == TFieldType::Memo) {
            QString text = f->DisplayText();
            text.remove(QChar(u'\r'));
            item.SetMemoLines(text.split(QChar(u'\n')));
            return;
        }
        if (item.Mask.isEmpty() || f->DataType() == TFieldType::String) {
            item.PrintCaption = f->DisplayText();
            return;
        }
        switch (f->DataType()) {
        case TFieldType::Integer:
        case TFieldType::Float:
            item.PrintCaption = f->IsNull() ? QString() : fieldmask::formatFloat(item.Mask, f->AsFloat());
            break;
        case TFieldType::Date:
            item.PrintCaption = f->IsNull() ? QString()
                                            : fieldmask::formatDateTime(item.Mask, QDateTime(f->AsDate(), QTime(0, 0)));
            break;
        default:
            // Any other field keeps the text it had.
            break;
        }
    } catch (const Exception&) {
        // A value that cannot be read prints as an empty text, silently.
        item.PrintCaption.clear();
    }
}

QString TRpItemPrinter::DateTimeText(const QDateTime& t) { return fieldmask::dateTimeText(t); }

QString TRpItemPrinter::SysDataValue(const TRpSysData& item, const TRpPrintRun& run)
{
    const QDateTime now = run.now ? run.now() : QDateTime::currentDateTime();
    const TCustomReport* report = item.Report();
    switch (item.Data()) {
    case TRpSysDataType::rpsTime:
        return QLocale::system().toString(now.time(), QLocale::ShortFormat);
    case TRpSysDataType::rpsDate: return datefmt::formatShortDate(now.date());
    case TRpSysDataType::rpsDateTime: return DateTimeText(now);
    case TRpSysDataType::rpsPageNumber: return QString::number(run.pageCount);
    case TRpSysDataType::rpsReportTitle: return report ? report->ReportTitle : QString();
    case TRpSysDataType::rpsDetailCount: {
        if (!dynamic_cast<const TReport*>(report))
            break;
        int count = 1;
        try {
            if (TDataSet* ds = report->DataSet(); ds && ds->Active())
                count = ds->RecordCount();
        } catch (const Exception&) {
            count = 1;
        }
        return QString::number(count);
    }
    case TRpSysDataType::rpsDetailNo:
        if (!dynamic_cast<const TReport*>(report))
            break;
        return QString::number(run.detailNumber);
    }
    // Only a TReport fills the record figures; elsewhere the caption keeps its text.
    return item.Caption().mid(item.Text().size());
}

// ---- printing ----

bool TRpItemPrinter::Print(TRpPrintable& item, int x, int y, TRpBandExtent& band,
                           const TRpPrintRun& run)
{
    if (!item.Enabled || !run.printer || !run.printer->Canvas())
        return true;
    if (auto* field = dynamic_cast<TRpDBText*>(&item)) {
        if (state(item).finished)
            SetFieldText(*field);
        printText(*field, x, y, band, run);
    } else if (auto* sys = dynamic_cast<TRpSysData*>(&item)) {
        if (state(item).finished)
            sys->SetCaption(sys->Text() + SysDataValue(*sys, run));
        printText(*sys, x, y, band, run);
    } else if (auto* label = dynamic_cast<TRpCustomLabel*>(&item)) {
        printText(*label, x, y, band, run);
    } else if (auto* shape = dynamic_cast<TRpShape*>(&item)) {
        printShape(*shape, x, y, run);
        state(item).finished = true;
    } else if (auto* image = dynamic_cast<TRpImage*>(&item)) {
        printImage(*image, x, y, run);
        state(item).finished = true;
    }
    return Finished(item);
}

void TRpItemPrinter::printText(TRpCustomLabel& item, int x, int y, TRpBandExtent& band,
                               const TRpPrintRun& run)
{
    using S = TRpPrintableSize;
    TRpPrinter& p = *run.printer;
    PageCanvas& canvas = *p.Canvas();
    State& s = state(item);

    const TRpFont& font = item.Font();
    canvas.setFont(canvasFont(font, p.YFactor()));
    const int cellHeight = canvas.textExtent(QStringLiteral("W")).height();
    const long double lineHeight = static_cast<long double>(cellHeight) / p.YFactor();
    long double left = x + item.Size.Native(S::Left);
    long double top = y + item.Size.Native(S::Top);
    const long double width0 = item.Size.Native(S::Width);
    const long double height = item.Size.Native(S::Height);

    item.FormatLines();
    const long double width = item.AutoSize ? item.Size.Native(S::Width) : width0;
    const QColor background = rpcolor::toQColor(item.Color);
    if (!item.Transparent)
        canvas.fillRect(deviceRect(p, left, top, left + width, top + height), background);

    const long double frameOffset = rpunits::roundHalfEven(item.Frame.Width * rpunits::kNativePerPoint);
    if (item.Frame.DrawTop)
        top += frameOffset;
    if (item.Frame.DrawLeft)
        left += frameOffset;

    long double anchor = left;
    CanvasTextAlign align = CanvasTextAlign::Left;
    if (item.Alignment == TAlignment::taRightJustify) {
        anchor = left + width0;
        align = CanvasTextAlign::Right;
    } else if (item.Alignment == TAlignment::taCenter) {
        anchor = left + width0 / 2;
        align = CanvasTextAlign::Center;
    }
    canvas.setTextAlign(align);
    canvas.setTextTransparent(true);
    canvas.setTextColor(rpcolor::toQColor(font.Color));

    const QStringList& lines = item.Lines();
    qsizetype line = s.finished ? 0 : s.nextLine;
    long double limit = top + height + 1;
    long double pos = top;
    long double stretch = 0;
    bool finished = true;
    for (; line < lines.size(); ++line) {
        if (pos + lineHeight > limit) {
            if (!item.AutoStretch)
                break;
            const long double grown = band.height + band.expansion;
            const int space = run.availableSpace ? run.availableSpace() : 0;
            if (space >= roundNative(lineHeight + grown)) {
                band.expansion += lineHeight;
                if (!item.Transparent)
                    canvas.fillRect(deviceRect(p, left, limit, left + width, limit + lineHeight),
                                    background);
                limit += lineHeight;
                stretch += lineHeight;
            } else {
                finished = false;
                break;
            }
        }
        if (!lines[line].isEmpty())
            canvas.textOut(rpdevice::clamp(p.XPos(static_cast<double>(anchor))),
                           rpdevice::clamp(p.YPos(static_cast<double>(pos))), lines[line]);
        pos += lineHeight;
    }
    s.finished = finished;
    s.nextLine = finished ? 0 : line;
    canvas.removeClip();

    const long double h = item.Size.Native(S::Height);
    rpframe::draw(canvas, item.Frame, deviceRect(p, left, top, left + width, top + h + stretch),
                  p.XFactor(), p.YFactor());
}

void TRpItemPrinter::printShape(TRpShape& item, int x, int y, const TRpPrintRun& run)
{
    TRpPrinter& p = *run.printer;
    PageCanvas& canvas = *p.Canvas();
    const auto [left, top, w, h] = nativeBox(item, x, y);
    canvas.setBrush({static_cast<CanvasBrushStyle>(item.Brush.Style),
                     rpcolor::toQColor(item.Brush.Color)});
    canvas.setPen({static_cast<CanvasPenStyle>(item.Pen.Style), item.Pen.Width,
                   rpcolor::toQColor(item.Pen.Color)});
    const DeviceRect r = deviceRect(p, left, top, left + w, top + h);
    auto line = [&](int x0, int y0, int x1, int y1) {
        canvas.moveTo(x0, y0);
        canvas.lineTo(x1, y1);
    };
    switch (item.Shape) {
    case TRpShapeType::rpsRectangle: canvas.rectangle(r); break;
    case TRpShapeType::rpsCircle: canvas.ellipse(r); break;
    case TRpShapeType::rpsVertLine: {
        const int mx = rpdevice::clamp(p.XPos(static_cast<double>(left + w / 2)));
        line(mx, r.top, mx, r.bottom);
        break;
    }
    case TRpShapeType::rpsHorLine: {
        const int my = rpdevice::clamp(p.YPos(static_cast<double>(top + h / 2)));
        line(r.left, my, r.right, my);
        break;
    }
    case TRpShapeType::rpsTopAndBottom:
        line(r.left, r.top, r.right, r.top);
        line(r.left, r.bottom, r.right, r.bottom);
        break;
    case TRpShapeType::rpsRightAndLeft:
        line(r.left, r.top, r.left, r.bottom);
        line(r.right, r.top, r.right, r.bottom);
        break;
    }
}

void TRpItemPrinter::printImage(TRpImage& item, int x, int y, const TRpPrintRun& run)
{
    TRpPrinter& p = *run.printer;
    PageCanvas& canvas = *p.Canvas();
    const auto [left, top, w, h] = nativeBox(item, x, y);
    const DeviceRect r = deviceRect(p, left, top, left + w, top + h);
    const QImage& image = item.Picture().Image;
    if (!image.isNull()) {
        if (item.Stretch) {
            canvas.stretchImage(r, image);
        } else {
            // Natural size: the picture's pixels taken at the screen's resolution.
            const long double ppi = TRpPrinter::ScreenPixelsPerInch();
            const int dw = roundToInt(image.width() / ppi * rpunits::kNativePerInch * p.XFactor());
            const int dh = roundToInt(image.height() / ppi * rpunits::kNativePerInch * p.YFactor());
            int dx = r.left, dy = r.top;
            if (item.Center) {
                dx = sum(dx, (static_cast<long long>(p.XSize(static_cast<double>(w))) - dw) / 2);
                dy = sum(dy, (static_cast<long long>(p.YSize(static_cast<double>(h))) - dh) / 2);
            }
            canvas.save();
            canvas.intersectClipRect(r);
            canvas.stretchImage({dx, dy, sum(dx, dw), sum(dy, dh)}, image);
            canvas.restore();
        }
    }
    rpframe::draw(canvas, item.Frame, r, p.XFactor(), p.YFactor());
}
