#pragma once
// GDI-style drawing on a QPainter: the device-context state (objects, colours, modes, mapping,
// clip, saved states) and the drawing operations with GDI's pixel conventions. The metafile
// player drives it from records, PainterCanvas from canvas calls, so a recorded page and the
// same page drawn directly go through the very same painting code.
#include "platform/canvas/TextMeasure.h"

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QPolygonF>
#include <QRegion>
#include <QTransform>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

class QPainter;

class EmfPainter {
public:
    struct Pen {
        bool null = false;
        Qt::PenStyle style = Qt::SolidLine;
        double width = 0; // logical units; 0 is one device pixel whatever the scale
        QColor color = Qt::black;
        bool insideFrame = false;
    };
    struct Brush {
        bool null = false;
        QColor color = Qt::white;
        Qt::BrushStyle hatch = Qt::NoBrush; // a hatch style, or NoBrush for a solid or pattern brush
        QImage pattern;                    // pattern brush when not null
    };

    // deviceToTarget maps the page's device pixels into the painter's coordinates;
    // pixelsPerMm is the reference device's resolution (for the metric mapping modes).
    EmfPainter(QPainter& painter, const QTransform& deviceToTarget, QSizeF pixelsPerMm);
    ~EmfPainter();
    EmfPainter(const EmfPainter&) = delete;
    EmfPainter& operator=(const EmfPainter&) = delete;

    static constexpr int kMaxSaveDepth = 1024;

    // Work accounting, for pages from untrusted files. Every drawing call adds an estimate of its
    // cost in work units, charged before Qt is asked to do the work: one per call, point or glyph;
    // kWorkPerPageArea for each A4 sheet's area it covers of the page; kWorkPerPageHeight for each
    // A4 sheet height that the edges of a filled or stroked outline cross (a rasterizer visits
    // every edge on every row it spans, so a few thousand points scattered over the page cost as
    // much as many full fills); and one per kDashPixelsPerUnit pixels at 96 dpi of a styled line,
    // whose dashes are made along its whole length. A glyph drawn as an outline (turned text, or
    // text large enough that some target draws it so) costs kWorkPerOutlineGlyph, and its rows as
    // two edges (a PDF writes out and a rasterizer walks every glyph's path); a character outside
    // the font's cached ranges or missing from its face kWorkPerUncommonGlyph. A font made costs
    // fontWork(): loading it, and rendering its glyphs anew at their size.
    // A clip costs kWorkPerClipRect for each of its rectangles whenever it is set (a PDF writes
    // them all out again each time), and a fifth of kClipRectsPerUnit's share with every record
    // drawn under it (clipCost()). Combining two clip regions is charged by a bound on the size
    // of its result before Qt builds it, and refused past kMaxClipRects. Sizes are those of the
    // sheet the page claims, not of the target, so a page costs the same units at every zoom.
    // Once the total passes the limit, further drawing calls draw nothing and workExceeded() is
    // true; refusal() then says why when one operation alone was refused. pageDevice is the page
    // in device pixels.
    static constexpr double kWorkPerPageArea = 1000;
    static constexpr double kWorkPerPageHeight = 500;
    static constexpr double kDashPixelsPerUnit = 1000;
    static constexpr double kClipRectsPerUnit = 100;
    static constexpr double kWorkPerClipRect = 20;
    static constexpr double kWorkPerOutlineGlyph = 300;
    static constexpr double kWorkPerFont = 1000;
    static constexpr double kWorkPerUncommonGlyph = 40;
    static constexpr qint64 kMaxClipRects = 20000;
    void setWorkLimit(const QRectF& pageDevice, double limit);
    // Adds units of work; false (and nothing should be drawn) once the limit is passed.
    bool chargeWork(double units);
    double work() const { return work_; }
    bool workExceeded() const { return work_ > workLimit_ || !refusal_.isEmpty(); }
    double clipCost() const { return clipCost_; }
    const QString& refusal() const { return refusal_; }
    static double fontWork(const TextFont& font);
    // Stops the page: what no paper needs is refused outright, saying why.
    void refuse(const QString& why);

    // Object selection and modes.
    void setPen(const Pen& pen) { s_.pen = pen; }
    void setBrush(const Brush& brush) { s_.brush = brush; }
    void setFont(std::shared_ptr<const TextFont> font, int charset);
    const std::shared_ptr<const TextFont>& font();
    int fontCharset() const { return s_.charset; }
    void setTextColor(const QColor& c) { s_.textColor = c; }
    void setBkColor(const QColor& c) { s_.bkColor = c; }
    void setBkMode(quint32 mode) { s_.bkOpaque = mode == 2; }
    void setTextAlign(quint32 align) { s_.textAlign = align; }
    void setStretchMode(quint32 mode) { s_.stretchMode = mode; }
    void setPolyFillMode(quint32 mode) { s_.winding = mode == 2; }

    // Mapping from logical to device units.
    void setMapMode(quint32 mode);
    void setWindowOrg(QPointF p);
    void setWindowExt(QSizeF s);
    void setViewportOrg(QPointF p);
    void setViewportExt(QSizeF s);
    void setWorldTransform(const QTransform& t);
    void modifyWorldTransform(const QTransform& t, quint32 mode);

    // Clipping: rectangles in logical units, regions in device units.
    void intersectClipRect(const QRectF& r);
    void excludeClipRect(const QRectF& r);
    void selectClipRegion(const QRegion* deviceRegion, quint32 mode);

    // State stack; false when the request names no saved state (or the stack is full).
    bool saveDC();
    bool restoreDC(int which);

    // Drawing, in logical units. Rectangles as (left, top, right, bottom), right/bottom exclusive.
    void patBlt(const QRectF& r, quint32 rop);
    void fillRect(const QRectF& r, const QColor& color);
    void rectangle(QRectF r);
    void ellipse(QRectF r);
    void roundRect(QRectF r, QSizeF corner);
    void moveTo(QPointF p) { s_.position = p; }
    void lineTo(QPointF p);
    void polyline(const QPolygonF& points, bool fromCurrent);
    void polygon(const QPolygonF& points);
    // Text at the reference point with the DC's alignment; dx: one advance per UTF-16 unit or null
    // (then the font's own advances). opaqueRect/clipRect: the text record's rectangle options.
    void textOut(QPointF ref, const QChar* text, qsizetype n, const qint32* dx, const QRectF* opaqueRect,
                 const QRectF* clipRect);
    // Copies src of the image into dest (both in their own units, dest logical).
    void drawImage(const QRectF& dest, const QImage& image, const QRectF& src);

    // The image as the page keeps it: 32-bit RGB, transparent parts flattened onto white.
    static QImage flattenImage(const QImage& image);

private:
    struct State {
        Pen pen;
        Brush brush;
        std::shared_ptr<const TextFont> font;
        int charset = 1;
        QColor textColor = Qt::black;
        QColor bkColor = Qt::white;
        bool bkOpaque = true;
        quint32 textAlign = 0;
        quint32 stretchMode = 1;
        bool winding = false;
        quint32 mapMode = 1;
        QPointF windowOrg{0, 0};
        QSizeF windowExt{1, 1};
        QPointF viewportOrg{0, 0};
        QSizeF viewportExt{1, 1};
        QTransform world;
        std::optional<QRegion> clip; // device pixels
        QPointF position{0, 0};
    };

    QTransform logicalToDevice() const;
    void applyTransform();
    void applyClip();
    QRegion deviceRect(const QRectF& logical) const;
    // Sets the clip to a combination of the current one and other, once its cost is charged.
    void combineClip(const QRegion& current, const QRegion& other, const std::function<QRegion()>& combine);
    QPen qpen() const;
    QBrush qbrush() const;
    void fillShape(const QPainterPath& path);
    QRectF outlineRect(const QRectF& box) const;
    // Charges covering deviceBox (clipped to the page) `times` times, plus `units`.
    bool chargeArea(const QRectF& deviceBox, double times = 1, double units = 1);
    bool chargeLogicalArea(const QRectF& logical, double times = 1, double units = 1);
    // Charges a stroke from a to b (logical) with the current pen.
    bool chargeStroke(QPointF a, QPointF b);
    bool chargeOutline(const QRectF& box);
    // Charges the rows of the page that the edges between consecutive device points cross.
    bool chargeEdges(const QPolygonF& devicePoints, bool closed, double times = 1);

    QPainter& p_;
    QTransform base_;
    QTransform deviceToTarget_;
    std::optional<QPainterPath> baseClip_;
    QSizeF pixelsPerMm_;
    State s_;
    std::vector<State> stack_;
    TextFontCache fontCache_; // fonts scaled to device pixels under a mapping
    QRectF workPage_;
    double workLimit_ = std::numeric_limits<double>::infinity();
    double work_ = 0;
    double clipCost_ = 0;
    QString refusal_;
    double sheetArea_ = 0;   // an A4 sheet in square device pixels
    double sheetHeight_ = 0; // and its height in device pixels
};
