#include "platform/canvas/EmfRecorder.h"

#include "platform/canvas/EmfFormat.h"
#include "platform/canvas/EmfPainter.h"
#include "platform/canvas/PageCanvasMapping.h"
#include "platform/canvas/TextMeasure.h"

#include <QVarLengthArray>
#include <algorithm>
#include <cmath>
#include <vector>

using namespace emf;

namespace {

constexpr qsizetype kInitialReserve = 32 * 1024;
constexpr quint32 kStockBlackPen = kStockObject | BLACK_PEN;
constexpr quint32 kStockNullPen = kStockObject | NULL_PEN;
constexpr quint32 kStockWhiteBrush = kStockObject | WHITE_BRUSH;
constexpr quint32 kStockNullBrush = kStockObject | NULL_BRUSH;
constexpr qint64 kMaxImageBytes = 256LL << 20;
constexpr qsizetype kMaxTextLength = 1 << 20; // longer lines are cut: keeps a record's size in range
constexpr quint32 kFontRecordSize = 332; // LOGFONTW with the full-name, style and panose tail, as GDI writes

bool isStock(quint32 h) { return (h & kStockObject) != 0; }

} // namespace

struct EmfRecorder::Impl {
    // What the page's device context holds; objects are referred to by handle slot.
    struct State {
        quint32 pen = kStockBlackPen;
        quint32 brush = kStockWhiteBrush;
        quint32 font = 0; // 0: none selected yet
        CanvasPen penSpec;
        CanvasBrush brushSpec;
        CanvasFont fontSpec;
        std::shared_ptr<const TextFont> measure;
        quint32 textColor = 0;
        quint32 bkColor = 0xFFFFFF;
        quint32 align = 0;
        bool transparent = true;
        quint32 stretchMode = 0; // GDI's initial mode is none we use
        int x = 0, y = 0;        // current position, for the drawn bounds of lines
    };

    QSize pixels;
    QSizeF millimetres;
    QString description;
    QByteArray out;
    quint32 records = 0;
    qsizetype headerSize = 0;
    // Drawn area, inclusive; empty while left > right.
    qint64 boundsLeft = 1, boundsTop = 1, boundsRight = 0, boundsBottom = 0;

    State s;
    std::vector<State> stack;
    std::vector<int> refs{0}; // per slot: states (current and saved) that select it; slot 0 reserved
    std::vector<quint32> freeSlots;
    quint32 fillBrush = 0; // solid brush kept for fillRect
    quint32 fillColor = 0;
    TextFontCache fonts;

    Impl(QSize px, QSizeF mm, QString desc) : pixels(px), millimetres(mm), description(std::move(desc)) { begin(); }

    void record(quint32 type, quint32 size)
    {
        Writer w(out);
        w.u32(type);
        w.u32(size);
        ++records;
    }

    void begin()
    {
        out.clear();
        out.reserve(kInitialReserve);
        records = 0;
        boundsLeft = boundsTop = 1;
        boundsRight = boundsBottom = 0;
        s = State();
        s.measure = fonts.get(LogicalFont::from(s.fontSpec));
        stack.clear();
        refs.assign(1, 0);
        freeSlots.clear();
        fillBrush = 0;
        writeHeader();
        // Report pages draw their text without background boxes.
        record(EMR_SETBKMODE, 12);
        Writer(out).u32(TRANSPARENT);
    }

    void writeHeader()
    {
        QString desc = description;
        if (!desc.isEmpty())
            desc += QChar(0), desc += QChar(0);
        const qsizetype descBytes = desc.size() * 2;
        const qsizetype padded = (descBytes + 3) & ~qsizetype(3);
        headerSize = kHeaderSize + padded;
        record(EMR_HEADER, quint32(headerSize));
        Writer w(out);
        w.zeros(16); // bounds, patched by finish()
        const auto hund = [](double mm) { return qint32(std::lround(mm * 100.0)); };
        w.i32(0);
        w.i32(0);
        w.i32(hund(millimetres.width()));
        w.i32(hund(millimetres.height()));
        w.u32(kSignature);
        w.u32(kVersion);
        w.u32(0); // nBytes
        w.u32(0); // nRecords
        w.u16(0); // nHandles
        w.u16(0);
        w.u32(quint32(desc.size()));
        w.u32(desc.isEmpty() ? 0 : quint32(kHeaderSize));
        w.u32(0); // palette entries
        w.i32(pixels.width());
        w.i32(pixels.height());
        w.i32(qint32(std::lround(millimetres.width())));
        w.i32(qint32(std::lround(millimetres.height())));
        w.u32(0); // pixel format size and offset, OpenGL flag
        w.u32(0);
        w.u32(0);
        w.i32(qint32(std::lround(millimetres.width() * 1000.0)));
        w.i32(qint32(std::lround(millimetres.height() * 1000.0)));
        for (QChar c : std::as_const(desc))
            w.u16(c.unicode());
        w.zeros(padded - descBytes);
    }

    void addBounds(qint64 l, qint64 t, qint64 r, qint64 b) // exclusive right/bottom
    {
        if (r <= l || b <= t)
            return;
        if (boundsLeft > boundsRight) {
            boundsLeft = l, boundsTop = t, boundsRight = r - 1, boundsBottom = b - 1;
            return;
        }
        boundsLeft = std::min(boundsLeft, l);
        boundsTop = std::min(boundsTop, t);
        boundsRight = std::max(boundsRight, r - 1);
        boundsBottom = std::max(boundsBottom, b - 1);
    }

    quint32 allocSlot()
    {
        if (!freeSlots.empty()) {
            const quint32 slot = freeSlots.back();
            freeSlots.pop_back();
            return slot;
        }
        refs.push_back(0);
        return quint32(refs.size() - 1);
    }

    void select(quint32 handle)
    {
        record(EMR_SELECTOBJECT, 12);
        Writer(out).u32(handle);
    }

    void addRef(quint32 h)
    {
        if (h && !isStock(h))
            ++refs[h];
    }

    // Deletes an object once no state selects it any more; callers have deselected it.
    void release(quint32 h)
    {
        if (!h || isStock(h))
            return;
        if (--refs[h] == 0) {
            record(EMR_DELETEOBJECT, 12);
            Writer(out).u32(h);
            freeSlots.push_back(h);
        }
    }

    void rectRecord(quint32 type, const DeviceRect& r)
    {
        record(type, 24);
        Writer w(out);
        w.i32(r.left);
        w.i32(r.top);
        w.i32(r.right);
        w.i32(r.bottom);
    }

    // GDI records the box of Rectangle and Ellipse with the right and bottom edge included.
    void shapeRecord(quint32 type, const DeviceRect& r)
    {
        record(type, 24);
        Writer w(out);
        w.i32(std::min(r.left, r.right));
        w.i32(std::min(r.top, r.bottom));
        w.i32(std::max(r.left, r.right) - 1);
        w.i32(std::max(r.top, r.bottom) - 1);
    }

    void setStretchMode()
    {
        if (s.stretchMode == COLORONCOLOR)
            return;
        s.stretchMode = COLORONCOLOR;
        record(EMR_SETSTRETCHBLTMODE, 12);
        Writer(out).u32(COLORONCOLOR);
    }
};

EmfRecorder::EmfRecorder(QSize pagePixels, QSizeF pageMillimetres, const QString& description)
    : d(std::make_unique<Impl>(pagePixels, pageMillimetres, description))
{
}

EmfRecorder::~EmfRecorder() = default;

QSize EmfRecorder::pageSize() const { return d->pixels; }

qsizetype EmfRecorder::size() const { return d->out.size(); }

void EmfRecorder::setPen(const CanvasPen& pen)
{
    auto& s = d->s;
    if (pen == s.penSpec)
        return;
    const canvasmap::GdiPen g = canvasmap::gdiPen(pen);
    quint32 handle;
    if (g.style == PS_NULL) {
        handle = kStockNullPen;
    } else if (g.style == PS_SOLID && g.width <= 1 && g.color == 0) {
        handle = kStockBlackPen;
    } else {
        handle = d->allocSlot();
        d->record(EMR_CREATEPEN, 28);
        Writer w(d->out);
        w.u32(handle);
        w.u32(g.style);
        w.i32(g.width);
        w.i32(0);
        w.u32(g.color);
    }
    d->select(handle);
    d->addRef(handle);
    d->release(s.pen);
    s.pen = handle;
    s.penSpec = pen;
}

void EmfRecorder::setBrush(const CanvasBrush& brush)
{
    auto& s = d->s;
    if (brush == s.brushSpec)
        return;
    const canvasmap::GdiBrush g = canvasmap::gdiBrush(brush);
    quint32 handle;
    if (g.style == BS_NULL) {
        handle = kStockNullBrush;
    } else if (g.style == BS_SOLID && g.color == 0xFFFFFF) {
        handle = kStockWhiteBrush;
    } else {
        handle = d->allocSlot();
        d->record(EMR_CREATEBRUSHINDIRECT, 24);
        Writer w(d->out);
        w.u32(handle);
        w.u32(g.style);
        w.u32(g.color);
        w.u32(g.hatch);
    }
    d->select(handle);
    d->addRef(handle);
    d->release(s.brush);
    s.brush = handle;
    s.brushSpec = brush;
}

void EmfRecorder::setFont(const CanvasFont& font)
{
    auto& s = d->s;
    if (s.font != 0 && font == s.fontSpec)
        return;
    const quint32 handle = d->allocSlot();
    d->record(EMR_EXTCREATEFONTINDIRECTW, kFontRecordSize);
    Writer w(d->out);
    const qsizetype start = w.size();
    w.u32(handle);
    w.i32(font.height);
    w.i32(0); // width: the face's own
    w.i32(0); // escapement
    w.i32(0); // orientation
    w.i32(font.bold ? 700 : 400);
    w.u8(font.italic ? 1 : 0);
    w.u8(font.underline ? 1 : 0);
    w.u8(font.strikeOut ? 1 : 0);
    w.u8(quint8(std::clamp(font.charset, 0, 255)));
    w.u8(0); // out precision: default
    w.u8(0); // clip precision: default
    w.u8(0); // quality: default
    w.u8(0); // pitch and family: default
    const QString face = font.face.left(31);
    for (QChar c : face)
        w.u16(c.unicode());
    w.zeros((32 - face.size()) * 2);
    w.zeros(qsizetype(kFontRecordSize - 8) - (w.size() - start));
    d->select(handle);
    d->addRef(handle);
    d->release(s.font);
    s.font = handle;
    s.fontSpec = font;
    s.measure = d->fonts.get(LogicalFont::from(font));
}

void EmfRecorder::setTextColor(const QColor& color)
{
    const quint32 ref = canvasmap::colorRef(color);
    if (ref == d->s.textColor)
        return;
    d->s.textColor = ref;
    d->record(EMR_SETTEXTCOLOR, 12);
    Writer(d->out).u32(ref);
}

void EmfRecorder::setTextAlign(CanvasTextAlign align)
{
    const quint32 a = canvasmap::textAlign(align);
    if (a == d->s.align)
        return;
    d->s.align = a;
    d->record(EMR_SETTEXTALIGN, 12);
    Writer(d->out).u32(a);
}

void EmfRecorder::setTextTransparent(bool transparent)
{
    if (transparent == d->s.transparent)
        return;
    d->s.transparent = transparent;
    d->record(EMR_SETBKMODE, 12);
    Writer(d->out).u32(transparent ? TRANSPARENT : OPAQUE);
}

void EmfRecorder::setBackgroundColor(const QColor& color)
{
    const quint32 ref = canvasmap::colorRef(color);
    if (ref == d->s.bkColor)
        return;
    d->s.bkColor = ref;
    d->record(EMR_SETBKCOLOR, 12);
    Writer(d->out).u32(ref);
}

void EmfRecorder::fillRect(const DeviceRect& r, const QColor& color)
{
    if (r.width() == 0 || r.height() == 0)
        return;
    // Recorded as GDI records FillRect: a pattern copy with a solid brush, the DC's own brush
    // selected back afterwards.
    const quint32 ref = canvasmap::colorRef(color);
    if (d->fillBrush == 0 || d->fillColor != ref) {
        if (d->fillBrush != 0) {
            d->record(EMR_DELETEOBJECT, 12);
            Writer(d->out).u32(d->fillBrush);
            d->freeSlots.push_back(d->fillBrush);
        }
        d->fillBrush = d->allocSlot();
        d->fillColor = ref;
        d->record(EMR_CREATEBRUSHINDIRECT, 24);
        Writer w(d->out);
        w.u32(d->fillBrush);
        w.u32(BS_SOLID);
        w.u32(ref);
        w.u32(0);
    }
    d->select(d->fillBrush);
    const int l = std::min(r.left, r.right), t = std::min(r.top, r.bottom);
    const int cx = std::abs(r.width()), cy = std::abs(r.height());
    d->record(EMR_BITBLT, 100);
    Writer w(d->out);
    w.i32(l);
    w.i32(t);
    w.i32(l + cx - 1);
    w.i32(t + cy - 1);
    w.i32(l);
    w.i32(t);
    w.i32(cx);
    w.i32(cy);
    w.u32(PATCOPY);
    w.i32(0); // source position
    w.i32(0);
    w.f32(1.0f); // source transform: identity
    w.f32(0.0f);
    w.f32(0.0f);
    w.f32(1.0f);
    w.f32(0.0f);
    w.f32(0.0f);
    w.u32(0);              // source background colour
    w.u32(DIB_RGB_COLORS); // usage
    w.zeros(16);           // no source bitmap
    d->select(d->s.brush);
    d->addBounds(l, t, qint64(l) + cx, qint64(t) + cy);
}

void EmfRecorder::rectangle(const DeviceRect& r)
{
    if (r.width() == 0 || r.height() == 0)
        return;
    d->shapeRecord(EMR_RECTANGLE, r);
    const int w = d->s.penSpec.width / 2;
    d->addBounds(qint64(std::min(r.left, r.right)) - w, qint64(std::min(r.top, r.bottom)) - w,
                 qint64(std::max(r.left, r.right)) + w, qint64(std::max(r.top, r.bottom)) + w);
}

void EmfRecorder::ellipse(const DeviceRect& r)
{
    if (r.width() == 0 || r.height() == 0)
        return;
    d->shapeRecord(EMR_ELLIPSE, r);
    const int w = d->s.penSpec.width / 2;
    d->addBounds(qint64(std::min(r.left, r.right)) - w, qint64(std::min(r.top, r.bottom)) - w,
                 qint64(std::max(r.left, r.right)) + w, qint64(std::max(r.top, r.bottom)) + w);
}

void EmfRecorder::moveTo(int x, int y)
{
    d->record(EMR_MOVETOEX, 16);
    Writer w(d->out);
    w.i32(x);
    w.i32(y);
    d->s.x = x;
    d->s.y = y;
}

void EmfRecorder::lineTo(int x, int y)
{
    d->record(EMR_LINETO, 16);
    Writer w(d->out);
    w.i32(x);
    w.i32(y);
    if (d->s.penSpec.style != CanvasPenStyle::Clear) {
        const qint64 half = std::max(1, d->s.penSpec.width) / 2;
        d->addBounds(qint64(std::min(x, d->s.x)) - half, qint64(std::min(y, d->s.y)) - half,
                     qint64(std::max(x, d->s.x)) + half + 1, qint64(std::max(y, d->s.y)) + half + 1);
    }
    d->s.x = x;
    d->s.y = y;
}

void EmfRecorder::textOut(int x, int y, const QString& text)
{
    if (text.isEmpty())
        return;
    auto& s = d->s;
    if (s.font == 0)
        setFont(s.fontSpec);
    const qsizetype n = std::min(text.size(), kMaxTextLength);
    QVarLengthArray<qint32, 256> dx(n);
    const int width = s.measure->advances(text.constData(), n, dx.data());
    const qsizetype textBytes = (n * 2 + 3) & ~qsizetype(3);
    const quint32 size = quint32(76 + textBytes + n * 4);

    qint64 left = x;
    if (s.align == TA_CENTER)
        left = x - width / 2;
    else if (s.align == TA_RIGHT)
        left = qint64(x) - width;
    const qint64 top = y, bottom = qint64(y) + s.measure->cellHeight();

    d->record(EMR_EXTTEXTOUTW, size);
    Writer w(d->out);
    w.i32(qint32(left));
    w.i32(qint32(top));
    w.i32(qint32(left + width - 1));
    w.i32(qint32(bottom - 1));
    w.u32(1); // graphics mode: compatible
    const float xScale = float(d->millimetres.width() * 100.0 / std::max(1, d->pixels.width()));
    const float yScale = float(d->millimetres.height() * 100.0 / std::max(1, d->pixels.height()));
    w.f32(xScale);
    w.f32(yScale);
    w.i32(x);
    w.i32(y);
    w.u32(quint32(n));
    w.u32(76); // string offset
    w.u32(0);  // options: the rectangle below is neither filled nor a clip
    w.i32(0);
    w.i32(0);
    w.i32(-1);
    w.i32(-1);
    w.u32(quint32(76 + textBytes)); // advances offset
    for (qsizetype i = 0; i < n; ++i)
        w.u16(text[i].unicode());
    w.zeros(textBytes - n * 2);
    for (qsizetype i = 0; i < n; ++i)
        w.i32(dx[i]);
    d->addBounds(left, top, left + width, bottom);
}

QSize EmfRecorder::textExtent(const QString& text) const
{
    return QSize(d->s.measure->width(text), d->s.measure->cellHeight());
}

void EmfRecorder::intersectClipRect(const DeviceRect& r) { d->rectRecord(EMR_INTERSECTCLIPRECT, r); }

void EmfRecorder::removeClip()
{
    d->record(EMR_EXTSELECTCLIPRGN, 16);
    Writer w(d->out);
    w.u32(0);
    w.u32(RGN_COPY);
}

void EmfRecorder::save()
{
    d->record(EMR_SAVEDC, 8);
    d->stack.push_back(d->s);
    d->addRef(d->s.pen);
    d->addRef(d->s.brush);
    d->addRef(d->s.font);
}

void EmfRecorder::restore()
{
    if (d->stack.empty())
        return;
    d->record(EMR_RESTOREDC, 12);
    Writer(d->out).i32(-1);
    // The restored state selects its own objects again; the ones it replaces may now go.
    const Impl::State replaced = d->s;
    d->s = d->stack.back();
    d->stack.pop_back();
    d->release(replaced.pen);
    d->release(replaced.brush);
    d->release(replaced.font);
}

void EmfRecorder::stretchImage(const DeviceRect& r, const QImage& image)
{
    if (image.isNull() || r.width() <= 0 || r.height() <= 0)
        return;
    d->setStretchMode();
    QImage flat = EmfPainter::flattenImage(image);
    // A record must stay far below 4 GB: a picture beyond kMaxImageBytes is kept at the size it
    // is drawn at, which loses nothing on the page.
    if (qint64(flat.width()) * 3 * flat.height() > kMaxImageBytes)
        flat = flat.scaled(std::min(r.width(), 8192), std::min(r.height(), 8192), Qt::IgnoreAspectRatio);
    const int w = flat.width(), h = flat.height();
    const qsizetype row = (qsizetype(w) * 3 + 3) & ~qsizetype(3);
    const qsizetype bits = row * h;
    d->record(EMR_STRETCHDIBITS, quint32(80 + 40 + bits));
    Writer wr(d->out);
    wr.i32(r.left);
    wr.i32(r.top);
    wr.i32(r.right - 1);
    wr.i32(r.bottom - 1);
    wr.i32(r.left);
    wr.i32(r.top);
    wr.i32(0); // source x, y
    wr.i32(0);
    wr.i32(w);
    wr.i32(h);
    wr.u32(80); // bitmap header offset and size
    wr.u32(40);
    wr.u32(120); // pixel offset and size
    wr.u32(quint32(bits));
    wr.u32(DIB_RGB_COLORS);
    wr.u32(SRCCOPY);
    wr.i32(r.width());
    wr.i32(r.height());
    // BITMAPINFOHEADER: 24 bits, bottom-up rows.
    wr.u32(40);
    wr.i32(w);
    wr.i32(h);
    wr.u16(1);
    wr.u16(24);
    wr.u32(BI_RGB);
    wr.u32(quint32(bits));
    wr.i32(3780); // 96 dpi in pixels per metre
    wr.i32(3780);
    wr.u32(0);
    wr.u32(0);
    const qsizetype at = d->out.size();
    d->out.resize(at + bits);
    char* dst = d->out.data() + at;
    for (int y = h - 1; y >= 0; --y) {
        const QRgb* src = reinterpret_cast<const QRgb*>(flat.constScanLine(y));
        char* p = dst;
        for (int x = 0; x < w; ++x) {
            *p++ = char(qBlue(src[x]));
            *p++ = char(qGreen(src[x]));
            *p++ = char(qRed(src[x]));
        }
        std::fill(p, dst + row, '\0');
        dst += row;
    }
    d->addBounds(r.left, r.top, r.right, r.bottom);
}

QByteArray EmfRecorder::finish()
{
    while (!d->stack.empty())
        restore();
    d->record(EMR_EOF, 20);
    Writer w(d->out);
    w.u32(0);
    w.u32(16);
    w.u32(20);

    QByteArray& out = d->out;
    if (d->boundsLeft <= d->boundsRight) {
        const auto clamp32 = [](qint64 v) { return quint32(qint32(std::clamp<qint64>(v, INT32_MIN, INT32_MAX))); };
        patchU32(out, 8, clamp32(d->boundsLeft));
        patchU32(out, 12, clamp32(d->boundsTop));
        patchU32(out, 16, clamp32(d->boundsRight));
        patchU32(out, 20, clamp32(d->boundsBottom));
    } else {
        patchU32(out, 16, quint32(-1));
        patchU32(out, 20, quint32(-1));
    }
    patchU32(out, 48, quint32(out.size()));
    patchU32(out, 52, d->records);
    const quint32 handles = quint32(std::min<size_t>(d->refs.size(), 0xFFFF));
    qToLittleEndian(quint16(handles), out.data() + 56);

    QByteArray result = std::move(out);
    d->begin();
    return result;
}
