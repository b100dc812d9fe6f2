#include "platform/canvas/PageCanvasMapping.h"

#include "platform/canvas/EmfFormat.h"

namespace canvasmap {

quint32 colorRef(const QColor& c)
{
    const QColor rgb = c.toRgb();
    return emf::colorRef(rgb.red(), rgb.green(), rgb.blue());
}

QColor colorFromRef(quint32 ref) { return QColor(int(ref & 0xFF), int((ref >> 8) & 0xFF), int((ref >> 16) & 0xFF)); }

GdiPen gdiPen(const CanvasPen& pen)
{
    GdiPen g;
    g.style = quint32(pen.style);
    g.width = std::max(0, pen.width);
    g.color = colorRef(pen.color);
    return g;
}

GdiBrush gdiBrush(const CanvasBrush& brush)
{
    GdiBrush g;
    g.color = colorRef(brush.color);
    switch (brush.style) {
    case CanvasBrushStyle::Solid: g.style = emf::BS_SOLID; break;
    case CanvasBrushStyle::Clear: g.style = emf::BS_NULL; break;
    case CanvasBrushStyle::Horizontal: g.style = emf::BS_HATCHED; g.hatch = emf::HS_HORIZONTAL; break;
    case CanvasBrushStyle::Vertical: g.style = emf::BS_HATCHED; g.hatch = emf::HS_VERTICAL; break;
    case CanvasBrushStyle::FDiagonal: g.style = emf::BS_HATCHED; g.hatch = emf::HS_FDIAGONAL; break;
    case CanvasBrushStyle::BDiagonal: g.style = emf::BS_HATCHED; g.hatch = emf::HS_BDIAGONAL; break;
    case CanvasBrushStyle::Cross: g.style = emf::BS_HATCHED; g.hatch = emf::HS_CROSS; break;
    case CanvasBrushStyle::DiagCross: g.style = emf::BS_HATCHED; g.hatch = emf::HS_DIAGCROSS; break;
    }
    return g;
}

EmfPainter::Pen penFromGdi(quint32 style, qint32 width, quint32 color)
{
    EmfPainter::Pen p;
    p.color = colorFromRef(color);
    p.width = std::clamp(width, 0, 16000); // QPen refuses wider pens
    switch (style & emf::PS_STYLE_MASK) {
    case emf::PS_DASH: p.style = Qt::DashLine; break;
    case emf::PS_DOT: p.style = Qt::DotLine; break;
    case emf::PS_DASHDOT: p.style = Qt::DashDotLine; break;
    case emf::PS_DASHDOTDOT: p.style = Qt::DashDotDotLine; break;
    case emf::PS_NULL: p.null = true; break;
    case emf::PS_INSIDEFRAME: p.insideFrame = true; break;
    default: break;
    }
    return p;
}

EmfPainter::Brush brushFromGdi(quint32 style, quint32 color, quint32 hatch)
{
    EmfPainter::Brush b;
    b.color = colorFromRef(color);
    if (style == emf::BS_NULL) {
        b.null = true;
    } else if (style == emf::BS_HATCHED) {
        switch (hatch) {
        case emf::HS_HORIZONTAL: b.hatch = Qt::HorPattern; break;
        case emf::HS_VERTICAL: b.hatch = Qt::VerPattern; break;
        case emf::HS_FDIAGONAL: b.hatch = Qt::FDiagPattern; break;
        case emf::HS_BDIAGONAL: b.hatch = Qt::BDiagPattern; break;
        case emf::HS_CROSS: b.hatch = Qt::CrossPattern; break;
        case emf::HS_DIAGCROSS: b.hatch = Qt::DiagCrossPattern; break;
        default: break; // an unknown hatch paints solid
        }
    }
    return b;
}

quint32 textAlign(CanvasTextAlign align)
{
    switch (align) {
    case CanvasTextAlign::Right: return emf::TA_RIGHT | emf::TA_TOP;
    case CanvasTextAlign::Center: return emf::TA_CENTER | emf::TA_TOP;
    case CanvasTextAlign::Left: break;
    }
    return emf::TA_LEFT | emf::TA_TOP;
}

} // namespace canvasmap
