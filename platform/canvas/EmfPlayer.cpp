#include "platform/canvas/EmfPlayer.h"

#include "platform/canvas/EmfFormat.h"
#include "platform/canvas/EmfPainter.h"
#include "platform/canvas/PageCanvasMapping.h"

#include <QPainter>
#include <QVarLengthArray>
#include <cmath>
#include <vector>

using namespace emf;

namespace {

constexpr qint64 kMinHeader = 88;              // header without the pixel-format and micrometre fields
constexpr qint64 kMaxBitmapSide = 32768;
constexpr qint64 kMaxBitmapPixels = 16LL << 20; // 64 MB once decoded
constexpr qint64 kMaxRegionRects = EmfPainter::kMaxClipRects;
constexpr double kMaxTransformValue = 1e7;

[[noreturn]] void failHeader(const QString& what)
{
    throw EmfError(QStringLiteral("Page image is no valid enhanced metafile: %1").arg(what));
}

// One record, its bytes checked to lie inside the metafile; every field read is checked against
// the record's own size.
struct Rec {
    const uchar* p;
    quint32 type;
    quint32 size;
    qint64 offset;
    quint32 index;

    [[noreturn]] void fail(const QString& what) const
    {
        throw EmfError(QStringLiteral("Page image: record %1 (type %2, %3 bytes) at byte %4: %5")
                           .arg(index)
                           .arg(type)
                           .arg(size)
                           .arg(offset)
                           .arg(what));
    }
    void need(qint64 end) const
    {
        if (end > qint64(size))
            fail(QStringLiteral("too short for its fields (needs %1 bytes)").arg(end));
    }
    // A block of count bytes at off (64-bit arithmetic, so no offset can wrap).
    void needBlock(qint64 off, qint64 count, const char* what) const
    {
        if (off < 0 || count < 0 || off + count > qint64(size))
            fail(QStringLiteral("%1 at offset %2, %3 bytes, runs past the record").arg(QLatin1String(what)).arg(off).arg(count));
    }
    quint32 u32(qint64 at) const
    {
        need(at + 4);
        return loadU32(p + at);
    }
    qint32 i32(qint64 at) const
    {
        need(at + 4);
        return loadI32(p + at);
    }
    float f32(qint64 at) const
    {
        need(at + 4);
        return loadF32(p + at);
    }
    QRectF rect(qint64 at) const
    {
        return QRectF(QPointF(i32(at), i32(at + 4)), QPointF(i32(at + 8), i32(at + 12)));
    }
    QRectF inclusiveRect(qint64 at) const { return rect(at).normalized().adjusted(0, 0, 1, 1); }
    QPointF point(qint64 at) const { return QPointF(i32(at), i32(at + 4)); }
    QTransform xform(qint64 at) const
    {
        double v[6];
        for (int i = 0; i < 6; ++i) {
            v[i] = double(f32(at + 4 * i));
            if (!std::isfinite(v[i]) || std::abs(v[i]) > kMaxTransformValue)
                fail(QStringLiteral("transform value %1 out of range").arg(v[i]));
        }
        return QTransform(v[0], v[1], v[2], v[3], v[4], v[5]);
    }
};

struct Object {
    enum Kind { None, Pen, Brush, Font, Other } kind = None;
    EmfPainter::Pen pen;
    EmfPainter::Brush brush;
    std::shared_ptr<const TextFont> font;
    int charset = 1;
};

EmfHeader parseHeader(const uchar* p, qint64 available)
{
    if (available < kMinHeader)
        failHeader(QStringLiteral("%1 bytes, too short for a header").arg(available));
    const quint32 type = loadU32(p), size = loadU32(p + 4);
    if (type != EMR_HEADER)
        failHeader(QStringLiteral("first record has type %1, not a header").arg(type));
    if (size < kMinHeader || size % 4 != 0 || size > available)
        failHeader(QStringLiteral("header size %1 invalid for %2 bytes").arg(size).arg(available));
    if (loadU32(p + 40) != kSignature)
        failHeader(QStringLiteral("signature %1 missing").arg(loadU32(p + 40), 8, 16, QLatin1Char('0')));
    EmfHeader h;
    h.boundsLeft = loadI32(p + 8);
    h.boundsTop = loadI32(p + 12);
    h.boundsRight = loadI32(p + 16);
    h.boundsBottom = loadI32(p + 20);
    h.frameLeft = loadI32(p + 24);
    h.frameTop = loadI32(p + 28);
    h.frameRight = loadI32(p + 32);
    h.frameBottom = loadI32(p + 36);
    h.bytes = loadU32(p + 48);
    h.records = loadU32(p + 52);
    h.handles = loadU16(p + 56);
    if (h.bytes < size || qint64(h.bytes) > available)
        failHeader(QStringLiteral("declares %1 bytes, %2 present").arg(h.bytes).arg(available));
    const quint32 nDesc = loadU32(p + 60), offDesc = loadU32(p + 64);
    if (nDesc > 0) {
        if (qint64(offDesc) < kMinHeader || qint64(offDesc) + 2 * qint64(nDesc) > qint64(size))
            failHeader(QStringLiteral("description of %1 characters at %2 lies outside the header").arg(nDesc).arg(offDesc));
        h.description.reserve(nDesc);
        for (quint32 i = 0; i < nDesc; ++i)
            h.description.append(QChar(loadU16(p + offDesc + 2 * i)));
    }
    h.devicePixels = QSize(loadI32(p + 72), loadI32(p + 76));
    h.deviceMillimetres = QSize(loadI32(p + 80), loadI32(p + 84));
    // The micrometre size exists only in the long header form, before any description.
    if (size >= 108 && (nDesc == 0 || offDesc >= 108))
        h.deviceMicrometres = QSize(loadI32(p + 100), loadI32(p + 104));
    return h;
}

// Single-byte text of ANSI text records, in the code page of the font's character set: Russian
// (204) is Windows-1251, anything else taken as Windows-1252.
QString decodeAnsi(const uchar* s, qsizetype n, int charset)
{
    static const char16_t cp1251High[64] = {
        0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
        0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
        0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
        0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
        0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};
    static const char16_t cp1252High[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152,
        0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122,
        0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    QString out(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i) {
        const uchar c = s[i];
        char16_t u = c;
        if (charset == 204) {
            if (c >= 0xC0)
                u = char16_t(0x0410 + (c - 0xC0));
            else if (c >= 0x80)
                u = cp1251High[c - 0x80];
        } else if (c >= 0x80 && c < 0xA0) {
            u = cp1252High[c - 0x80];
        }
        out[i] = QChar(u);
    }
    return out;
}

// A device-independent bitmap out of a record. Malformed: fails; well-formed but of a kind we do
// not draw (compressed, 16-bit, palette indices): a null image and the record is skipped.
// Decoding costs one work unit per kDecodedPixelsPerUnit pixels, charged before the picture is
// allocated; a page that cannot pay gets a null image (and stops with the work exceeded).
constexpr double kDecodedPixelsPerUnit = 32;

QImage decodeDib(const Rec& r, EmfPainter& gdi, quint32 offBmi, quint32 cbBmi, quint32 offBits, quint32 cbBits,
                 quint32 usage)
{
    r.needBlock(offBmi, cbBmi, "bitmap header");
    r.needBlock(offBits, cbBits, "bitmap pixels");
    if (cbBmi < 40)
        r.fail(QStringLiteral("bitmap header of %1 bytes, at least 40 needed").arg(cbBmi));
    const uchar* bmi = r.p + offBmi;
    const quint32 biSize = loadU32(bmi);
    if (biSize < 40 || biSize > cbBmi)
        r.fail(QStringLiteral("bitmap header size %1 invalid").arg(biSize));
    const qint64 width = loadI32(bmi + 4);
    const qint64 rawHeight = loadI32(bmi + 8);
    const quint16 bpp = loadU16(bmi + 14);
    const quint32 compression = loadU32(bmi + 16);
    const quint32 clrUsed = loadU32(bmi + 32);
    const qint64 height = std::abs(rawHeight);
    if (width <= 0 || height <= 0 || width > kMaxBitmapSide || height > kMaxBitmapSide || width * height > kMaxBitmapPixels)
        r.fail(QStringLiteral("bitmap of %1 x %2 pixels outside the allowed size").arg(width).arg(rawHeight));
    const bool bitfields = compression == BI_BITFIELDS && bpp == 32;
    if (compression != BI_RGB && !bitfields)
        return QImage();
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32)
        return QImage();
    if (bpp <= 8 && usage != DIB_RGB_COLORS)
        return QImage();

    quint32 masks[3] = {0x00FF0000, 0x0000FF00, 0x000000FF};
    if (bitfields) {
        const qint64 at = biSize == 40 ? 40 : 40; // masks follow the 40-byte header or are inside a longer one
        if (at + 12 > qint64(cbBmi))
            r.fail(QStringLiteral("bitmap colour masks missing"));
        for (int i = 0; i < 3; ++i)
            masks[i] = loadU32(bmi + at + 4 * i);
    }
    QVector<QRgb> palette;
    if (bpp <= 8) {
        const qint64 colours = clrUsed ? qint64(clrUsed) : (qint64(1) << bpp);
        if (colours > 256 || qint64(biSize) + colours * 4 > qint64(cbBmi))
            r.fail(QStringLiteral("bitmap palette of %1 colours runs past its header").arg(colours));
        palette.resize(1 << bpp, qRgb(0, 0, 0));
        for (qint64 i = 0; i < colours && i < palette.size(); ++i) {
            const uchar* c = bmi + biSize + 4 * i;
            palette[i] = qRgb(c[2], c[1], c[0]);
        }
    }
    const qint64 row = ((width * bpp + 31) / 32) * 4;
    if (row * height > qint64(cbBits))
        r.fail(QStringLiteral("bitmap needs %1 bytes of pixels, %2 present").arg(row * height).arg(cbBits));
    if (!gdi.chargeWork(double(width) * double(height) / kDecodedPixelsPerUnit))
        return QImage();

    QImage img(int(width), int(height), QImage::Format_RGB32);
    if (img.isNull())
        r.fail(QStringLiteral("no memory for a bitmap of %1 x %2").arg(width).arg(height));
    const auto shiftOf = [](quint32 m) { int s = 0; while (m && !(m & 1)) { m >>= 1; ++s; } return s; };
    const auto scale8 = [](quint32 v, quint32 m, int s) {
        const quint32 max = m >> s;
        return max ? int((v & m) >> s) * 255 / int(max) : 0;
    };
    for (qint64 y = 0; y < height; ++y) {
        const uchar* src = r.p + offBits + row * (rawHeight > 0 ? height - 1 - y : y);
        QRgb* dst = reinterpret_cast<QRgb*>(img.scanLine(int(y)));
        for (qint64 x = 0; x < width; ++x) {
            switch (bpp) {
            case 1: dst[x] = palette[(src[x >> 3] >> (7 - (x & 7))) & 1]; break;
            case 4: dst[x] = palette[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF]; break;
            case 8: dst[x] = palette[src[x]]; break;
            case 24: dst[x] = qRgb(src[3 * x + 2], src[3 * x + 1], src[3 * x]); break;
            default: {
                const quint32 v = loadU32(src + 4 * x);
                if (!bitfields)
                    dst[x] = qRgb(int((v >> 16) & 0xFF), int((v >> 8) & 0xFF), int(v & 0xFF));
                else
                    dst[x] = qRgb(scale8(v, masks[0], shiftOf(masks[0])), scale8(v, masks[1], shiftOf(masks[1])),
                                  scale8(v, masks[2], shiftOf(masks[2])));
            }
            }
        }
    }
    return img;
}

class Player {
public:
    Player(const QByteArray& bytes, const EmfHeader& header, QPainter& painter, const QTransform& toTarget, QSizeF ppm,
           const QRectF& pageDevice, double workLimit)
        : bytes_(bytes), header_(header), gdi_(painter, toTarget, ppm), objects_(std::max<int>(1, header.handles)),
          limit_(workLimit)
    {
        gdi_.setWorkLimit(pageDevice, workLimit);
    }

    void run()
    {
        const uchar* base = reinterpret_cast<const uchar*>(bytes_.constData());
        const qint64 end = header_.bytes;
        qint64 pos = loadU32(base + 4); // past the header record
        quint32 index = 1;
        while (pos < end) {
            if (end - pos < 8)
                throw EmfError(QStringLiteral("Page image: %1 stray bytes at byte %2 where a record should start")
                                   .arg(end - pos)
                                   .arg(pos));
            const quint32 type = loadU32(base + pos), size = loadU32(base + pos + 4);
            const Rec r{base + pos, type, size, pos, index};
            if (size < 8 || size % 4 != 0 || qint64(size) > end - pos)
                r.fail(QStringLiteral("size invalid for the %1 bytes left").arg(end - pos));
            if (type == EMR_EOF)
                return;
            gdi_.chargeWork(1 + gdi_.clipCost());
            if (!gdi_.workExceeded())
                play(r);
            if (!gdi_.refusal().isEmpty())
                r.fail(gdi_.refusal() + QStringLiteral("; the page is not drawn further"));
            if (gdi_.workExceeded())
                r.fail(QStringLiteral("the page asks for more drawing than %1 (%2 work units, %3 allowed); "
                                      "it is not drawn further")
                           .arg(limit_ < EmfPlayer::kMaxPageWork ? QStringLiteral("the rest of its file may cost")
                                                                 : QStringLiteral("a page may cost"))
                           .arg(gdi_.work(), 0, 'f', 0)
                           .arg(limit_, 0, 'f', 0));
            pos += size;
            ++index;
        }
        throw EmfError(QStringLiteral("Page image ends at byte %1 without its end record").arg(end));
    }

    double work() const { return gdi_.work(); }

private:
    Object& slot(const Rec& r, quint32 handle)
    {
        if (handle == 0 || handle >= objects_.size())
            r.fail(QStringLiteral("object slot %1 outside 1..%2").arg(handle).arg(objects_.size() - 1));
        return objects_[handle];
    }

    void selectStock(quint32 n)
    {
        switch (n) {
        case WHITE_BRUSH: gdi_.setBrush(canvasmap::brushFromGdi(BS_SOLID, 0xFFFFFF, 0)); break;
        case LTGRAY_BRUSH: gdi_.setBrush(canvasmap::brushFromGdi(BS_SOLID, 0xC0C0C0, 0)); break;
        case GRAY_BRUSH: gdi_.setBrush(canvasmap::brushFromGdi(BS_SOLID, 0x808080, 0)); break;
        case DKGRAY_BRUSH: gdi_.setBrush(canvasmap::brushFromGdi(BS_SOLID, 0x404040, 0)); break;
        case BLACK_BRUSH: gdi_.setBrush(canvasmap::brushFromGdi(BS_SOLID, 0, 0)); break;
        case NULL_BRUSH: gdi_.setBrush(canvasmap::brushFromGdi(BS_NULL, 0, 0)); break;
        case DC_BRUSH: gdi_.setBrush(canvasmap::brushFromGdi(BS_SOLID, 0xFFFFFF, 0)); break;
        case WHITE_PEN: gdi_.setPen(canvasmap::penFromGdi(PS_SOLID, 1, 0xFFFFFF)); break;
        case BLACK_PEN:
        case DC_PEN: gdi_.setPen(canvasmap::penFromGdi(PS_SOLID, 1, 0)); break;
        case NULL_PEN: gdi_.setPen(canvasmap::penFromGdi(PS_NULL, 0, 0)); break;
        case OEM_FIXED_FONT:
        case ANSI_FIXED_FONT:
        case SYSTEM_FIXED_FONT: {
            LogicalFont f;
            f.face = QStringLiteral("Courier New");
            bool made = false;
            gdi_.setFont(fonts_.get(f, &made), 1);
            if (made)
                gdi_.chargeWork(EmfPainter::fontWork(*gdi_.font()));
            break;
        }
        case ANSI_VAR_FONT:
        case SYSTEM_FONT:
        case DEVICE_DEFAULT_FONT:
        case DEFAULT_GUI_FONT: {
            bool made = false;
            gdi_.setFont(fonts_.get(LogicalFont(), &made), 1);
            if (made)
                gdi_.chargeWork(EmfPainter::fontWork(*gdi_.font()));
            break;
        }
        default: break; // palettes and unknown stock objects change nothing we draw
        }
    }

    void text(const Rec& r, bool wide)
    {
        r.need(60);
        const QPointF ref = r.point(36);
        const quint32 n = r.u32(44), offString = r.u32(48), options = r.u32(52);
        const bool hasRect = !(options & ETO_NO_RECT);
        const QRectF box = hasRect ? r.rect(56) : QRectF();
        const quint32 offDx = r.u32(hasRect ? 72 : 56);
        r.needBlock(offString, qint64(n) * (wide ? 2 : 1), "text");
        const qint64 perChar = (options & ETO_PDY) ? 2 : 1;
        if (offDx != 0 && n > 0)
            r.needBlock(offDx, qint64(n) * 4 * perChar, "advances");
        const QRectF* opaque = hasRect && (options & ETO_OPAQUE) ? &box : nullptr;
        const QRectF* clip = hasRect && (options & ETO_CLIPPED) ? &box : nullptr;
        if (options & ETO_GLYPH_INDEX) {
            // Glyph numbers of the writer's font mean nothing in ours: only the rectangle is drawn.
            if (opaque)
                gdi_.textOut(ref, nullptr, 0, nullptr, opaque, nullptr);
            return;
        }
        QString s;
        if (wide) {
            s.resize(n);
            for (quint32 i = 0; i < n; ++i)
                s[i] = QChar(loadU16(r.p + offString + 2 * qint64(i)));
        } else {
            s = decodeAnsi(r.p + offString, n, gdi_.fontCharset());
        }
        QVarLengthArray<qint32, 256> dx;
        if (offDx != 0 && n > 0) {
            dx.resize(n);
            for (quint32 i = 0; i < n; ++i)
                dx[i] = loadI32(r.p + offDx + 4 * perChar * qint64(i));
        }
        gdi_.textOut(ref, s.constData(), s.size(), dx.isEmpty() ? nullptr : dx.constData(), opaque, clip);
    }

    void play(const Rec& r)
    {
        switch (r.type) {
        case EMR_SETBKMODE: gdi_.setBkMode(r.u32(8)); break;
        case EMR_SETPOLYFILLMODE: gdi_.setPolyFillMode(r.u32(8)); break;
        case EMR_SETSTRETCHBLTMODE: gdi_.setStretchMode(r.u32(8)); break;
        case EMR_SETTEXTALIGN: gdi_.setTextAlign(r.u32(8)); break;
        case EMR_SETTEXTCOLOR: gdi_.setTextColor(canvasmap::colorFromRef(r.u32(8))); break;
        case EMR_SETBKCOLOR: gdi_.setBkColor(canvasmap::colorFromRef(r.u32(8))); break;
        case EMR_SETMAPMODE: gdi_.setMapMode(r.u32(8)); break;
        case EMR_SETWINDOWORGEX: gdi_.setWindowOrg(r.point(8)); break;
        case EMR_SETWINDOWEXTEX: gdi_.setWindowExt(QSizeF(r.i32(8), r.i32(12))); break;
        case EMR_SETVIEWPORTORGEX: gdi_.setViewportOrg(r.point(8)); break;
        case EMR_SETVIEWPORTEXTEX: gdi_.setViewportExt(QSizeF(r.i32(8), r.i32(12))); break;
        case EMR_SETWORLDTRANSFORM: gdi_.setWorldTransform(r.xform(8)); break;
        case EMR_MODIFYWORLDTRANSFORM: gdi_.modifyWorldTransform(r.xform(8), r.u32(32)); break;
        case EMR_MOVETOEX: gdi_.moveTo(r.point(8)); break;
        case EMR_LINETO: gdi_.lineTo(r.point(8)); break;
        case EMR_INTERSECTCLIPRECT: gdi_.intersectClipRect(r.rect(8)); break;
        case EMR_EXCLUDECLIPRECT: gdi_.excludeClipRect(r.rect(8)); break;
        case EMR_SAVEDC:
            if (!gdi_.saveDC())
                r.fail(QStringLiteral("more than %1 saved states").arg(EmfPainter::kMaxSaveDepth));
            break;
        case EMR_RESTOREDC: gdi_.restoreDC(r.i32(8)); break; // GDI ignores a request for no saved state
        // Shape boxes are stored with the right and bottom edge included, as GDI records them.
        case EMR_RECTANGLE: gdi_.rectangle(r.inclusiveRect(8)); break;
        case EMR_ELLIPSE: gdi_.ellipse(r.inclusiveRect(8)); break;
        case EMR_ROUNDRECT: gdi_.roundRect(r.inclusiveRect(8), QSizeF(r.i32(24), r.i32(28))); break;
        case EMR_SELECTOBJECT: {
            const quint32 h = r.u32(8);
            if (h & kStockObject) {
                selectStock(h & ~kStockObject);
                break;
            }
            const Object& o = slot(r, h);
            if (o.kind == Object::Pen)
                gdi_.setPen(o.pen);
            else if (o.kind == Object::Brush)
                gdi_.setBrush(o.brush);
            else if (o.kind == Object::Font)
                gdi_.setFont(o.font, o.charset);
            break; // an empty slot selects nothing, as GDI fails such a call
        }
        case EMR_DELETEOBJECT: {
            const quint32 h = r.u32(8);
            if (!(h & kStockObject))
                slot(r, h) = Object();
            break;
        }
        case EMR_CREATEPEN: {
            Object& o = slot(r, r.u32(8));
            o = Object();
            o.kind = Object::Pen;
            o.pen = canvasmap::penFromGdi(r.u32(12), r.i32(16), r.u32(24));
            break;
        }
        case EMR_EXTCREATEPEN: {
            Object& o = slot(r, r.u32(8));
            const quint32 style = r.u32(28);
            const qint32 width = (style & 0x10000) ? r.i32(32) : 0; // cosmetic pens are one pixel
            const quint32 brushStyle = r.u32(36);
            o = Object();
            o.kind = Object::Pen;
            o.pen = canvasmap::penFromGdi(brushStyle == BS_NULL ? PS_NULL : style, width, r.u32(40));
            break;
        }
        case EMR_CREATEBRUSHINDIRECT: {
            Object& o = slot(r, r.u32(8));
            const quint32 style = r.u32(12);
            o = Object();
            o.kind = Object::Brush;
            o.brush = canvasmap::brushFromGdi(style == BS_NULL || style == BS_HATCHED ? style : BS_SOLID, r.u32(16),
                                              r.u32(20));
            break;
        }
        case EMR_CREATEMONOBRUSH:
        case EMR_CREATEDIBPATTERNBRUSHPT: {
            Object& o = slot(r, r.u32(8));
            const QImage img = decodeDib(r, gdi_, r.u32(16), r.u32(20), r.u32(24), r.u32(28), r.u32(12));
            o = Object();
            o.kind = Object::Brush;
            o.brush = canvasmap::brushFromGdi(BS_SOLID, 0, 0);
            o.brush.pattern = img;
            break;
        }
        case EMR_CREATEPALETTE: {
            Object& o = slot(r, r.u32(8));
            o = Object();
            o.kind = Object::Other;
            break;
        }
        case EMR_EXTCREATEFONTINDIRECTW: {
            Object& o = slot(r, r.u32(8));
            r.need(104);
            LogicalFont f;
            f.height = r.i32(12);
            f.escapement = r.i32(20);
            f.weight = std::clamp(r.i32(28), 0, 1000);
            f.italic = r.p[32] != 0;
            f.underline = r.p[33] != 0;
            f.strikeOut = r.p[34] != 0;
            f.face.clear();
            for (int i = 0; i < 32; ++i) {
                const char16_t c = loadU16(r.p + 40 + 2 * i);
                if (c == 0)
                    break;
                f.face.append(QChar(c));
            }
            o = Object();
            o.kind = Object::Font;
            bool made = false;
            o.font = fonts_.get(f, &made);
            o.charset = r.p[35];
            if (made)
                gdi_.chargeWork(EmfPainter::fontWork(*o.font));
            break;
        }
        case EMR_EXTTEXTOUTW: text(r, true); break;
        case EMR_EXTTEXTOUTA: text(r, false); break;
        case EMR_EXTSELECTCLIPRGN: {
            const quint32 cb = r.u32(8), mode = r.u32(12);
            if (cb == 0) {
                gdi_.selectClipRegion(nullptr, mode);
                break;
            }
            r.needBlock(16, cb, "region");
            if (cb < 32)
                r.fail(QStringLiteral("region data of %1 bytes, its header needs 32").arg(cb));
            const qint64 count = r.u32(24);
            if (count > kMaxRegionRects || 32 + count * 16 > qint64(cb))
                r.fail(QStringLiteral("region of %1 rectangles does not fit its %2 bytes").arg(count).arg(cb));
            if (!gdi_.chargeWork(double(count)))
                break;
            QVector<QRect> rects;
            rects.reserve(count);
            for (qint64 i = 0; i < count; ++i) {
                const qint64 at = 48 + 16 * i;
                const qint32 l = r.i32(at), t = r.i32(at + 4), rt = r.i32(at + 8), b = r.i32(at + 12);
                if (rt > l && b > t)
                    rects.append(QRect(QPoint(l, t), QPoint(rt - 1, b - 1)));
            }
            QRegion region;
            region.setRects(rects.constData(), int(rects.size()));
            gdi_.selectClipRegion(&region, mode);
            break;
        }
        case EMR_BITBLT:
        case EMR_STRETCHBLT: {
            r.need(r.type == EMR_BITBLT ? 100 : 108);
            const qint32 x = r.i32(24), y = r.i32(28), cx = r.i32(32), cy = r.i32(36);
            const quint32 rop = r.u32(40);
            const QRectF dest(QPointF(x, y), QPointF(double(x) + cx, double(y) + cy));
            if (r.u32(88) == 0) { // no source bitmap: a pattern fill
                gdi_.patBlt(dest, rop);
                break;
            }
            const QImage img = decodeDib(r, gdi_, r.u32(84), r.u32(88), r.u32(92), r.u32(96), r.u32(80));
            if (img.isNull())
                break;
            const double sw = r.type == EMR_BITBLT ? cx : r.i32(100);
            const double sh = r.type == EMR_BITBLT ? cy : r.i32(104);
            gdi_.drawImage(dest, img, QRectF(r.i32(44), r.i32(48), sw, sh));
            break;
        }
        case EMR_STRETCHDIBITS: {
            r.need(80);
            const qint32 x = r.i32(24), y = r.i32(28);
            const qint32 xSrc = r.i32(32), ySrc = r.i32(36), cxSrc = r.i32(40), cySrc = r.i32(44);
            const qint32 cx = r.i32(72), cy = r.i32(76);
            const QImage img = decodeDib(r, gdi_, r.u32(48), r.u32(52), r.u32(56), r.u32(60), r.u32(64));
            if (img.isNull())
                break;
            // Source rows count from the bottom of a bottom-up bitmap.
            const bool bottomUp = loadI32(r.p + r.u32(48) + 8) > 0;
            const double top = bottomUp ? double(img.height()) - ySrc - cySrc : ySrc;
            gdi_.drawImage(QRectF(QPointF(x, y), QPointF(double(x) + cx, double(y) + cy)), img,
                           QRectF(xSrc, top, cxSrc, cySrc));
            break;
        }
        case EMR_POLYGON16:
        case EMR_POLYLINE16:
        case EMR_POLYLINETO16:
        case EMR_POLYGON:
        case EMR_POLYLINE:
        case EMR_POLYLINETO: {
            const bool small = r.type == EMR_POLYGON16 || r.type == EMR_POLYLINE16 || r.type == EMR_POLYLINETO16;
            const qint64 count = r.u32(24);
            r.needBlock(28, count * (small ? 4 : 8), "points");
            QPolygonF pts;
            pts.reserve(count);
            for (qint64 i = 0; i < count; ++i) {
                if (small)
                    pts << QPointF(loadI16(r.p + 28 + 4 * i), loadI16(r.p + 30 + 4 * i));
                else
                    pts << QPointF(loadI32(r.p + 28 + 8 * i), loadI32(r.p + 32 + 8 * i));
            }
            if (r.type == EMR_POLYGON16 || r.type == EMR_POLYGON)
                gdi_.polygon(pts);
            else
                gdi_.polyline(pts, r.type == EMR_POLYLINETO16 || r.type == EMR_POLYLINETO);
            break;
        }
        case EMR_HEADER: r.fail(QStringLiteral("a second header")); break;
        default: break; // records we do not draw are skipped by their size
        }
    }

    const QByteArray& bytes_;
    const EmfHeader& header_;
    EmfPainter gdi_;
    std::vector<Object> objects_;
    TextFontCache fonts_;
    double limit_;
};

} // namespace

QSizeF EmfHeader::frameMillimetres() const
{
    return QSizeF((double(frameRight) - frameLeft) / 100.0, (double(frameBottom) - frameTop) / 100.0);
}

QSize EmfHeader::sizeInPixels(double dpi) const
{
    const QSizeF mm = frameMillimetres();
    return QSize(int(std::lround(mm.width() * dpi / 25.4)), int(std::lround(mm.height() * dpi / 25.4)));
}

EmfHeader EmfPlayer::readHeader(const QByteArray& bytes)
{
    return parseHeader(reinterpret_cast<const uchar*>(bytes.constData()), bytes.size());
}

qint64 EmfPlayer::metafileLength(const char* data, qint64 available)
{
    if (!data || available < kMinHeader)
        failHeader(QStringLiteral("%1 bytes, too short for a header").arg(available));
    return parseHeader(reinterpret_cast<const uchar*>(data), available).bytes;
}

double EmfPlayer::play(const QByteArray& bytes, QPainter& painter, const QRectF& target, double workLimit)
{
    const EmfHeader h = readHeader(bytes);
    if (!painter.isActive())
        throw EmfError(QStringLiteral("Page image cannot be drawn: the painter is not active"));

    // Device pixels per millimetre of the reference device, from micrometres where present.
    const double devX = h.devicePixels.width(), devY = h.devicePixels.height();
    double umX = h.deviceMicrometres.width(), umY = h.deviceMicrometres.height();
    if (umX <= 0 || umY <= 0) {
        umX = double(h.deviceMillimetres.width()) * 1000.0;
        umY = double(h.deviceMillimetres.height()) * 1000.0;
    }
    const double frameW = double(h.frameRight) - h.frameLeft, frameH = double(h.frameBottom) - h.frameTop;
    if (devX <= 0 || devY <= 0 || umX <= 0 || umY <= 0)
        failHeader(QStringLiteral("reference device %1 x %2 px, %3 x %4 mm")
                       .arg(devX)
                       .arg(devY)
                       .arg(h.deviceMillimetres.width())
                       .arg(h.deviceMillimetres.height()));
    // Beyond these a header is damaged: no page is smaller than 0.01 mm a pixel or coarser than
    // 100 mm, nor larger than 10 m.
    const double ppmX = devX * 1000.0 / umX, ppmY = devY * 1000.0 / umY;
    if (ppmX < 0.01 || ppmX > 100000 || ppmY < 0.01 || ppmY > 100000)
        failHeader(QStringLiteral("reference device of %1 x %2 pixels per mm").arg(ppmX).arg(ppmY));
    if (frameW > 1e6 || frameH > 1e6)
        failHeader(QStringLiteral("frame of %1 x %2 mm").arg(frameW / 100).arg(frameH / 100));
    if (frameW <= 0 || frameH <= 0)
        failHeader(QStringLiteral("empty frame %1,%2-%3,%4").arg(h.frameLeft).arg(h.frameTop).arg(h.frameRight).arg(h.frameBottom));

    // The frame (0.01 mm) in device pixels is frame * 10 * dev / um; written as whole products so
    // that a page played onto its own size maps with a scale of exactly 1.
    const double sx = (target.width() * umX) / (frameW * 10.0 * devX);
    const double sy = (target.height() * umY) / (frameH * 10.0 * devY);
    const double fx = (double(h.frameLeft) * 10.0 * devX) / umX;
    const double fy = (double(h.frameTop) * 10.0 * devY) / umY;
    const QTransform toTarget(sx, 0, 0, sy, target.left() - fx * sx, target.top() - fy * sy);
    if (!std::isfinite(sx) || !std::isfinite(sy))
        failHeader(QStringLiteral("frame cannot be mapped onto the target"));

    const QRectF pageDevice(fx, fy, frameW * 10.0 * devX / umX, frameH * 10.0 * devY / umY);
    Player player(bytes, h, painter, toTarget, QSizeF(devX * 1000.0 / umX, devY * 1000.0 / umY), pageDevice,
                  std::clamp(workLimit, 0.0, kMaxPageWork));
    player.run();
    return player.work();
}
