#include "report/model/RpItems.h"

#include "engine/DataSet.h"
#include "report/model/FormatLines.h"
#include "report/model/RpPanel.h"
#include "report/model/RpReport.h"

#include <QBuffer>
#include <QImageReader>
#include <QtEndian>

void TRpPrintableSize::Changed(int /*index*/) { item_->UpdateBoundsFromSize(); }

TCustomReport* TRpPrintable::Report() const { return parent_ ? parent_->Report() : nullptr; }

void TRpPrintable::UpdateBoundsFromSize()
{
    using S = TRpPrintableSize;
    auto derive = [this](int index, const std::optional<int>& stored) {
        int px = Size.PixelValue(index);
        // Size.Values said nothing usable: the stored pixel value stands on the design surface;
        // the stored native value is left as it was.
        if (px == 0 && stored && *stored != 0)
            px = *stored;
        return px;
    };
    height_ = derive(S::Height, StoredHeight);
    left_ = derive(S::Left, StoredLeft);
    top_ = derive(S::Top, StoredTop);
    width_ = derive(S::Width, StoredWidth);
}

void TRpPrintable::SetPixelBounds(int left, int top, int width, int height)
{
    using S = TRpPrintableSize;
    auto put = [this](int index, int& current, int value) {
        if (current == value)
            return;
        current = value;
        Size.StoreNative(index, rpunits::pixelsToNative(value, Size.Zoom(), Size.PixelsPerInch()));
    };
    put(S::Left, left_, left);
    put(S::Top, top_, top);
    put(S::Width, width_, width);
    put(S::Height, height_, height);
}

// ---- text items ----

const TRpFont& TRpCustomLabel::Font() const
{
    if (parentFont_ && Parent())
        return Parent()->Font();
    return font_;
}

void TRpCustomLabel::SetFont(const TRpFont& font)
{
    font_ = font;
    parentFont_ = false;
    formatted_ = false;
    FormatLines();
}

void TRpCustomLabel::SetParentFont(bool on)
{
    if (on == parentFont_)
        return;
    if (!on && Parent())
        font_ = Parent()->Font();
    parentFont_ = on;
    formatted_ = false;
    FormatLines();
}

void TRpCustomLabel::SetCaption(const QString& text)
{
    caption_ = text;
    PrintCaption = text;
    formatted_ = false;
    FormatLines();
}

void TRpCustomLabel::SetMemoLines(const QStringList& lines)
{
    memoMode_ = true;
    memoLines_ = lines;
    PrintCaption.clear();
    formatted_ = false;
}

void TRpCustomLabel::ClearMemo()
{
    memoMode_ = false;
    memoLines_.clear();
    formatted_ = false;
}

namespace {
const TRpTextMeasure& detachedMeasure()
{
    static const ReferenceContext context;
    return context;
}
} // namespace

void TRpCustomLabel::FormatLines()
{
    lines_.clear();
    if (!Parent())
        return;
    const TCustomReport* report = Report();
    if (report && report->Loading())
        return;
    const TRpTextMeasure& measure = report ? report->Measure() : detachedMeasure();
    const int zoom = report ? report->Zoom() : 100;
    const TRpFont& font = Font();
    // On a report a text is its extent plus one pixel, scaled by the zoom.
    const formatlines::Measure m{
        [&](const QString& s) { return measure.Advances(font, s); },
        [&](int extent) { return report ? rpunits::mulDiv(extent + 1, zoom, 100) : extent; }};

    if (memoMode_) {
        for (const QString& source : memoLines_) {
            if (AutoSize)
                lines_ << source;
            else
                lines_ << formatlines::formatText(source, false, WordWrap, Width(), m);
        }
    } else {
        lines_ = formatlines::formatText(PrintCaption, AutoSize, WordWrap, Width(), m);
    }

    if (report) {
        int left = Left(), w = Width(), h = Height();
        const int minHeight = measure.CellHeight(font) * zoom / 100 + 1;
        if (!memoMode_ && h < minHeight)
            h = minHeight;
        if (AutoSize) {
            int widest = 0;
            for (const QString& l : lines_)
                widest = std::max(widest, formatlines::textWidth(l, m));
            // A width of -1 is one device pixel.
            const int frameWidth = Frame.Width < 0 ? 1 : Frame.Width;
            if (Frame.DrawLeft)
                widest += frameWidth;
            if (Frame.DrawRight)
                widest += frameWidth;
            if (Alignment == TAlignment::taRightJustify)
                left += w - widest;
            else if (Alignment == TAlignment::taCenter)
                left += (w - widest) / 2;
            w = widest;
            if (h < minHeight)
                h = minHeight;
        }
        SetPixelBounds(left, Top(), w, h);
    }
    formatted_ = true;
}

void TRpCustomLabel::ApplyAlignToBand(int bandWidth)
{
    if (!AlignToBand)
        return;
    int left = 0;
    if (Alignment == TAlignment::taRightJustify)
        left = bandWidth - Width();
    else if (Alignment == TAlignment::taCenter)
        left = (bandWidth - Width()) / 2;
    SetPixelBounds(left, Top(), Width(), Height());
}

// ---- field text ----

TDataSet* TRpDBText::DataSet() const { return dataSet_.data(); }

void TRpDBText::SetDataSet(TDataSet* ds) { dataSet_ = ds; }

void TRpDBText::SetDataField(const QString& field)
{
    dataField_ = field;
    SetCaption(field.isEmpty() ? Name : field);
}

// ---- system data ----

TRpSysData::TRpSysData() { SetCaption(DesignCaption()); }

QString TRpSysData::KindLabel(TRpSysDataType d)
{
    switch (d) {
    case TRpSysDataType::rpsTime: return QStringLiteral("Time");
    case TRpSysDataType::rpsDate: return QStringLiteral("Date");
    case TRpSysDataType::rpsDateTime: return QStringLiteral("Date/Time");
    case TRpSysDataType::rpsPageNumber: return QStringLiteral("Page#");
    case TRpSysDataType::rpsReportTitle: return QStringLiteral("Report title");
    case TRpSysDataType::rpsDetailCount: return QStringLiteral("Detail count");
    case TRpSysDataType::rpsDetailNo: return QStringLiteral("Detail no");
    }
    return {};
}

QString TRpSysData::DesignCaption() const
{
    return text_ + QLatin1Char('(') + KindLabel(data_) + QLatin1Char(')');
}

void TRpSysData::SetData(TRpSysDataType d)
{
    data_ = d;
    SetCaption(DesignCaption());
}

void TRpSysData::SetText(const QString& t)
{
    text_ = t;
    SetCaption(DesignCaption());
}

// ---- shapes and pictures: new ones have their design size ----

namespace {
void newItemSize(TRpPrintable& item, int pixels)
{
    item.Size.StoreNative(TRpPrintableSize::Width, rpunits::pixelsToNative(pixels));
    item.Size.StoreNative(TRpPrintableSize::Height, rpunits::pixelsToNative(pixels));
    item.UpdateBoundsFromSize();
}
} // namespace

TRpShape::TRpShape() { newItemSize(*this, kNewSize); }

TRpImage::TRpImage() { newItemSize(*this, kNewSize); }

// ---- pictures ----

namespace {
constexpr int kMaxBitmapSide = 8192;

quint32 le32(const QByteArray& b, qsizetype at)
{
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(b.constData()) + at);
}
quint16 le16(const QByteArray& b, qsizetype at)
{
    return qFromLittleEndian<quint16>(reinterpret_cast<const uchar*>(b.constData()) + at);
}

// Checks a bitmap file before the image reader sees it: uncompressed, sane size, and every
// pixel row present.
QString checkBitmap(const QByteArray& bmp)
{
    if (bmp.size() < 54 || !bmp.startsWith("BM"))
        return QStringLiteral("bitmap does not start with a bitmap file header");
    const quint32 pixelOffset = le32(bmp, 10);
    const quint32 headerSize = le32(bmp, 14);
    if (headerSize < 40 || headerSize > static_cast<quint32>(bmp.size()) - 14)
        return QStringLiteral("bitmap info header of %1 bytes").arg(headerSize);
    const auto width = static_cast<qint32>(le32(bmp, 18));
    const auto height = static_cast<qint32>(le32(bmp, 22));
    const quint16 planes = le16(bmp, 26);
    const quint16 bits = le16(bmp, 28);
    const quint32 compression = le32(bmp, 30);
    const qint64 absHeight = height < 0 ? -static_cast<qint64>(height) : height;
    if (width <= 0 || width > kMaxBitmapSide || absHeight == 0 || absHeight > kMaxBitmapSide)
        return QStringLiteral("bitmap of %1 x %2 pixels").arg(width).arg(height);
    if (planes != 1)
        return QStringLiteral("bitmap with %1 planes").arg(planes);
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
        return QStringLiteral("bitmap with %1 bits per pixel").arg(bits);
    if (compression != 0)
        return QStringLiteral("compressed bitmap (method %1)").arg(compression);
    const qint64 rowBytes = ((static_cast<qint64>(width) * bits + 31) / 32) * 4;
    if (pixelOffset < 14 + headerSize
        || static_cast<qint64>(pixelOffset) + rowBytes * absHeight > bmp.size())
        return QStringLiteral("bitmap pixels run past the end of its data");
    return {};
}
} // namespace

QString TRpPicture::Decode(const QByteArray& data, TRpPicture& out)
{
    out = TRpPicture{};
    if (data.isEmpty())
        return {};
    const auto nameLength = static_cast<qsizetype>(static_cast<uchar>(data[0]));
    if (1 + nameLength > data.size())
        return QStringLiteral("graphic class name runs past the end of the picture data");
    const QString cls = QString::fromLatin1(data.mid(1, nameLength));
    if (cls != QLatin1String("TBitmap"))
        return QStringLiteral("unsupported graphic class '%1'").arg(cls);
    const qsizetype at = 1 + nameLength;
    if (data.size() - at < 4)
        return QStringLiteral("bitmap length missing");
    const quint32 length = le32(data, at);
    const qsizetype present = data.size() - at - 4;
    if (length != static_cast<quint64>(present))
        return QStringLiteral("bitmap length %1 but %2 bytes present").arg(length).arg(present);
    const QByteArray bmp = data.mid(at + 4);
    if (QString problem = checkBitmap(bmp); !problem.isEmpty())
        return problem;
    QImage image;
    if (!image.loadFromData(bmp, "BMP"))
        return QStringLiteral("bitmap cannot be decoded");
    out.GraphicClass = cls;
    out.Bitmap = bmp;
    out.Image = image;
    return {};
}

QByteArray TRpPicture::EncodeBitmap(const QByteArray& bmpFile)
{
    if (bmpFile.isEmpty())
        return {};
    QByteArray out;
    out.append(char(7));
    out.append("TBitmap");
    uchar len[4];
    qToLittleEndian<quint32>(static_cast<quint32>(bmpFile.size()), len);
    out.append(reinterpret_cast<const char*>(len), 4);
    out.append(bmpFile);
    return out;
}

void TRpImage::SetPicture(TRpPicture picture)
{
    picture_ = std::move(picture);
    ApplyAutoSize();
}

void TRpImage::SetAutoSize(bool on)
{
    autoSize_ = on;
    ApplyAutoSize();
}

void TRpImage::ApplyAutoSize()
{
    if (!autoSize_ || picture_.IsEmpty())
        return;
    if (const TCustomReport* r = Report(); r && r->Loading())
        return;
    SetPixelBounds(Left(), Top(), picture_.Image.width(), picture_.Image.height());
}
