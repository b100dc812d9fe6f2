#pragma once
// Canvas values to GDI record values and back to painting state. The recorder writes the GDI
// values; the player and PainterCanvas both turn GDI values into painting state through the same
// functions here, so a recorded page cannot paint differently from a directly drawn one.
#include "platform/canvas/EmfPainter.h"
#include "platform/canvas/PageCanvas.h"

#include <QRectF>

namespace canvasmap {

struct GdiPen {
    quint32 style = 0;
    qint32 width = 1;
    quint32 color = 0;
};
struct GdiBrush {
    quint32 style = 0;
    quint32 color = 0xFFFFFF;
    quint32 hatch = 0;
};

quint32 colorRef(const QColor& c);
QColor colorFromRef(quint32 ref);
// The colour as a page keeps it (no alpha, 8 bits a channel).
inline QColor colorRefColor(const QColor& c) { return colorFromRef(colorRef(c)); }

GdiPen gdiPen(const CanvasPen& pen);
GdiBrush gdiBrush(const CanvasBrush& brush);
EmfPainter::Pen penFromGdi(quint32 style, qint32 width, quint32 color);
EmfPainter::Brush brushFromGdi(quint32 style, quint32 color, quint32 hatch);
inline EmfPainter::Pen pen(const CanvasPen& p)
{
    const GdiPen g = gdiPen(p);
    return penFromGdi(g.style, g.width, g.color);
}
inline EmfPainter::Brush brush(const CanvasBrush& b)
{
    const GdiBrush g = gdiBrush(b);
    return brushFromGdi(g.style, g.color, g.hatch);
}

quint32 textAlign(CanvasTextAlign align);
inline QRectF rect(const DeviceRect& r) { return QRectF(QPointF(r.left, r.top), QPointF(r.right, r.bottom)); }

} // namespace canvasmap
