#include "platform/canvas/PainterCanvas.h"

#include "platform/canvas/PageCanvasMapping.h"
#include "platform/canvas/EmfPainter.h"

#include <QPainter>
#include <QVarLengthArray>

struct PainterCanvas::Impl {
    Impl(QPainter& p, QSize size) : gdi(p, QTransform(), QSizeF(96.0 / 25.4, 96.0 / 25.4)), pageSize(size) {}
    EmfPainter gdi;
    QSize pageSize;
    TextFontCache fonts;
    std::shared_ptr<const TextFont> font;
};

PainterCanvas::PainterCanvas(QPainter& painter, QSize pageSize) : d(std::make_unique<Impl>(painter, pageSize))
{
    // Pages start with transparent text, like the recorder's pages.
    d->gdi.setBkMode(1);
    d->font = d->fonts.get(LogicalFont::from(CanvasFont()));
    d->gdi.setFont(d->font, 1);
}

PainterCanvas::~PainterCanvas() = default;

QSize PainterCanvas::pageSize() const { return d->pageSize; }

void PainterCanvas::setPen(const CanvasPen& pen) { d->gdi.setPen(canvasmap::pen(pen)); }

void PainterCanvas::setBrush(const CanvasBrush& brush) { d->gdi.setBrush(canvasmap::brush(brush)); }

void PainterCanvas::setFont(const CanvasFont& font)
{
    d->font = d->fonts.get(LogicalFont::from(font));
    d->gdi.setFont(d->font, font.charset);
}

void PainterCanvas::setTextColor(const QColor& color) { d->gdi.setTextColor(canvasmap::colorRefColor(color)); }

void PainterCanvas::setTextAlign(CanvasTextAlign align) { d->gdi.setTextAlign(canvasmap::textAlign(align)); }

void PainterCanvas::setTextTransparent(bool transparent) { d->gdi.setBkMode(transparent ? 1 : 2); }

void PainterCanvas::setBackgroundColor(const QColor& color) { d->gdi.setBkColor(canvasmap::colorRefColor(color)); }

void PainterCanvas::fillRect(const DeviceRect& r, const QColor& color)
{
    d->gdi.fillRect(canvasmap::rect(r), canvasmap::colorRefColor(color));
}

void PainterCanvas::rectangle(const DeviceRect& r) { d->gdi.rectangle(canvasmap::rect(r)); }

void PainterCanvas::ellipse(const DeviceRect& r) { d->gdi.ellipse(canvasmap::rect(r)); }

void PainterCanvas::moveTo(int x, int y) { d->gdi.moveTo(QPointF(x, y)); }

void PainterCanvas::lineTo(int x, int y) { d->gdi.lineTo(QPointF(x, y)); }

void PainterCanvas::textOut(int x, int y, const QString& text)
{
    if (text.isEmpty())
        return;
    // The same advances the recorder stores, so both ends place every glyph alike.
    QVarLengthArray<qint32, 256> dx(text.size());
    d->font = d->gdi.font();
    d->font->advances(text.constData(), text.size(), dx.data());
    d->gdi.textOut(QPointF(x, y), text.constData(), text.size(), dx.data(), nullptr, nullptr);
}

QSize PainterCanvas::textExtent(const QString& text) const
{
    return QSize(d->font->width(text), d->font->cellHeight());
}

void PainterCanvas::intersectClipRect(const DeviceRect& r) { d->gdi.intersectClipRect(canvasmap::rect(r)); }

void PainterCanvas::removeClip() { d->gdi.selectClipRegion(nullptr, 5); }

void PainterCanvas::save() { d->gdi.saveDC(); }

void PainterCanvas::restore()
{
    if (d->gdi.restoreDC(-1))
        d->font = d->gdi.font();
}

void PainterCanvas::stretchImage(const DeviceRect& r, const QImage& image)
{
    if (image.isNull() || r.width() <= 0 || r.height() <= 0)
        return;
    d->gdi.setStretchMode(3);
    const QImage flat = EmfPainter::flattenImage(image);
    d->gdi.drawImage(canvasmap::rect(r), flat, QRectF(0, 0, flat.width(), flat.height()));
}
