#pragma once
// The drawing surface a report page is drawn on, in device pixels. Two ends implement it: the
// recorder (EmfRecorder) that keeps the calls as an enhanced metafile, and PainterCanvas that
// draws them straight onto a QPainter (printer pages of a live print, tests). The calls and
// their conventions are those of Windows GDI, so that a recorded page plays the same in other
// programs that read the format.
#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>
#include <QVector>

// A rectangle as GDI takes it: right and bottom are exclusive (a fill of (0,0)-(10,5) covers
// pixel columns 0..9 and rows 0..4).
struct DeviceRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    friend bool operator==(const DeviceRect&, const DeviceRect&) = default;
};

// Pen styles with the values of the metafile's pen records.
enum class CanvasPenStyle : int {
    Solid = 0,
    Dash = 1,
    Dot = 2,
    DashDot = 3,
    DashDotDot = 4,
    Clear = 5,
    InsideFrame = 6,
};

enum class CanvasBrushStyle : int {
    Solid,
    Clear,
    Horizontal,
    Vertical,
    FDiagonal,
    BDiagonal,
    Cross,
    DiagCross,
};

struct CanvasPen {
    CanvasPenStyle style = CanvasPenStyle::Solid;
    int width = 1; // device pixels; 0 draws one pixel wide like 1
    QColor color = Qt::black;
    friend bool operator==(const CanvasPen&, const CanvasPen&) = default;
};

struct CanvasBrush {
    CanvasBrushStyle style = CanvasBrushStyle::Solid;
    QColor color = Qt::white;
    friend bool operator==(const CanvasBrush&, const CanvasBrush&) = default;
};

// A font as GDI describes it. height < 0 is the em height in pixels (-round(points * 96 / 72)
// on a 96 dpi page), height > 0 the cell height (ascent + descent), 0 a default size.
struct CanvasFont {
    QString face = QStringLiteral("Arial");
    int height = -13;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    int charset = 1; // 1 default, 204 Russian; kept in the page for other readers
    friend bool operator==(const CanvasFont&, const CanvasFont&) = default;
};

// Horizontal anchor of textOut; the anchor's y is always the top of the text cell.
enum class CanvasTextAlign : int { Left, Right, Center };

class PageCanvas {
public:
    virtual ~PageCanvas() = default;

    // Size of the page in device pixels.
    virtual QSize pageSize() const = 0;

    // Selected drawing objects and text state; they stay until changed or until restore().
    virtual void setPen(const CanvasPen& pen) = 0;
    virtual void setBrush(const CanvasBrush& brush) = 0;
    virtual void setFont(const CanvasFont& font) = 0;
    virtual void setTextColor(const QColor& color) = 0;
    virtual void setTextAlign(CanvasTextAlign align) = 0;
    // Transparent (the default): text draws only its glyphs. Opaque: the text's cell is first
    // filled with the background colour.
    virtual void setTextTransparent(bool transparent) = 0;
    virtual void setBackgroundColor(const QColor& color) = 0;

    // Solid fill of the rectangle, no outline; the selected brush is left as it was.
    virtual void fillRect(const DeviceRect& r, const QColor& color) = 0;
    // Outline with the pen and interior with the brush, as GDI Rectangle/Ellipse: a 1-pixel
    // outline covers columns left..right-1 and rows top..bottom-1.
    virtual void rectangle(const DeviceRect& r) = 0;
    virtual void ellipse(const DeviceRect& r) = 0;
    // Lines with the pen; lineTo draws up to, not including, the end point.
    virtual void moveTo(int x, int y) = 0;
    virtual void lineTo(int x, int y) = 0;

    // Text with the selected font and colour, anchored at (x, y) as the alignment says
    // (x is the left edge, the right edge or the centre; y the top of the cell).
    virtual void textOut(int x, int y, const QString& text) = 0;
    // Extent of the text in the selected font: width is the sum of the advances textOut places
    // the characters at, height the font's cell height.
    virtual QSize textExtent(const QString& text) const = 0;

    // Clipping: intersect the current clip with a rectangle, or remove every clip.
    virtual void intersectClipRect(const DeviceRect& r) = 0;
    virtual void removeClip() = 0;
    // State stack: pen, brush, font, text colour/alignment/background and clip.
    virtual void save() = 0;
    virtual void restore() = 0;

    // The image stretched into the rectangle pixel by pixel (no smoothing), kept as a 24-bit
    // device-independent bitmap; transparency is flattened onto white.
    virtual void stretchImage(const DeviceRect& r, const QImage& image) = 0;
};
