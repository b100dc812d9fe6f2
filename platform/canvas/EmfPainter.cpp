#include "platform/canvas/EmfPainter.h"

#include <QPainter>
#include <QVarLengthArray>
#include <algorithm>
#include <cmath>

namespace {

// Stands for "no clip" when a region has to be combined with everything.
const QRect kEverything(-(1 << 24), -(1 << 24), 1 << 25, 1 << 25);

QRectF box(const QRectF& r) { return r.normalized(); }

// The most rectangles a boolean combination of a and b can have. Regions are kept as bands of
// equal top and bottom; the result has no more bands than there are distinct band edges in both,
// and no band more rectangles than the widest band of each together. Counted in O(n log n),
// without building the result.
double combinedRectsBound(const QRegion& a, const QRegion& b)
{
    std::vector<int> edges;
    edges.reserve(size_t(2 * (a.rectCount() + b.rectCount())));
    const auto widest = [&edges](const QRegion& r) {
        int best = 0, run = 0, top = 0, bottom = 0;
        for (const QRect& rect : r) {
            edges.push_back(rect.top());
            edges.push_back(rect.bottom() + 1);
            run = (run > 0 && rect.top() == top && rect.bottom() == bottom) ? run + 1 : 1;
            top = rect.top();
            bottom = rect.bottom();
            best = std::max(best, run);
        }
        return best;
    };
    const int widestA = widest(a), widestB = widest(b);
    std::sort(edges.begin(), edges.end());
    const auto bands = std::unique(edges.begin(), edges.end()) - edges.begin() - 1;
    return double(std::max<qsizetype>(bands, 0)) * double(widestA + widestB);
}

} // namespace

EmfPainter::EmfPainter(QPainter& painter, const QTransform& deviceToTarget, QSizeF pixelsPerMm)
    : p_(painter), deviceToTarget_(deviceToTarget), pixelsPerMm_(pixelsPerMm)
{
    p_.save();
    base_ = p_.transform();
    if (p_.hasClipping())
        baseClip_ = p_.clipPath();
    applyTransform();
}

EmfPainter::~EmfPainter() { p_.restore(); }

void EmfPainter::setFont(std::shared_ptr<const TextFont> font, int charset)
{
    s_.font = std::move(font);
    s_.charset = charset;
}

const std::shared_ptr<const TextFont>& EmfPainter::font()
{
    if (!s_.font)
        s_.font = std::make_shared<const TextFont>();
    return s_.font;
}

// ---- mapping ----

QTransform EmfPainter::logicalToDevice() const
{
    double sx = 1.0, sy = 1.0;
    switch (s_.mapMode) {
    case 2: sx = pixelsPerMm_.width() * 0.1; sy = -pixelsPerMm_.height() * 0.1; break;
    case 3: sx = pixelsPerMm_.width() * 0.01; sy = -pixelsPerMm_.height() * 0.01; break;
    case 4: sx = pixelsPerMm_.width() * 0.254; sy = -pixelsPerMm_.height() * 0.254; break;
    case 5: sx = pixelsPerMm_.width() * 0.0254; sy = -pixelsPerMm_.height() * 0.0254; break;
    case 6: sx = pixelsPerMm_.width() * 25.4 / 1440; sy = -pixelsPerMm_.height() * 25.4 / 1440; break;
    case 7:
    case 8:
        sx = s_.viewportExt.width() / s_.windowExt.width();
        sy = s_.viewportExt.height() / s_.windowExt.height();
        if (s_.mapMode == 7) {
            const double m = std::min(std::abs(sx), std::abs(sy));
            sx = std::copysign(m, sx);
            sy = std::copysign(m, sy);
        }
        break;
    default: break;
    }
    return s_.world * QTransform::fromTranslate(-s_.windowOrg.x(), -s_.windowOrg.y()) * QTransform::fromScale(sx, sy)
        * QTransform::fromTranslate(s_.viewportOrg.x(), s_.viewportOrg.y());
}

void EmfPainter::applyTransform() { p_.setTransform(logicalToDevice() * deviceToTarget_ * base_); }

void EmfPainter::setMapMode(quint32 mode)
{
    if (mode >= 1 && mode <= 8) {
        s_.mapMode = mode;
        applyTransform();
    }
}

void EmfPainter::setWindowOrg(QPointF p)
{
    s_.windowOrg = p;
    applyTransform();
}

void EmfPainter::setWindowExt(QSizeF s)
{
    if (s.width() == 0 || s.height() == 0)
        return; // GDI refuses a zero extent
    s_.windowExt = s;
    applyTransform();
}

void EmfPainter::setViewportOrg(QPointF p)
{
    s_.viewportOrg = p;
    applyTransform();
}

void EmfPainter::setViewportExt(QSizeF s)
{
    if (s.width() == 0 || s.height() == 0)
        return;
    s_.viewportExt = s;
    applyTransform();
}

void EmfPainter::setWorldTransform(const QTransform& t)
{
    s_.world = t;
    applyTransform();
}

void EmfPainter::modifyWorldTransform(const QTransform& t, quint32 mode)
{
    switch (mode) {
    case 1: s_.world = QTransform(); break;
    case 2: s_.world = t * s_.world; break;
    case 3: s_.world = s_.world * t; break;
    case 4: s_.world = t; break;
    default: return;
    }
    applyTransform();
}

// ---- clipping ----

QRegion EmfPainter::deviceRect(const QRectF& logical) const
{
    const QRectF d = logicalToDevice().mapRect(box(logical));
    const auto clampRound = [](double v) {
        return int(std::clamp(std::round(v), double(kEverything.left()), double(kEverything.right())));
    };
    const int l = clampRound(d.left()), t = clampRound(d.top()), r = clampRound(d.right()), b = clampRound(d.bottom());
    if (r <= l || b <= t)
        return QRegion();
    return QRegion(QRect(l, t, r - l, b - t));
}

void EmfPainter::applyClip()
{
    const double rects = s_.clip ? double(s_.clip->rectCount()) : 0.0;
    clipCost_ = rects / kClipRectsPerUnit / 5;
    if (!chargeWork(rects * kWorkPerClipRect))
        return;
    p_.setTransform(base_);
    if (!s_.clip) {
        if (baseClip_)
            p_.setClipPath(*baseClip_, Qt::ReplaceClip);
        else
            p_.setClipping(false);
    } else {
        // Qt 6.4 ignores a region of several rectangles set after setClipping(false) unless
        // clipping is switched on again first.
        p_.setClipping(true);
        if (baseClip_)
            p_.setClipPath(*baseClip_, Qt::ReplaceClip);
        p_.setTransform(deviceToTarget_ * base_);
        p_.setClipRegion(*s_.clip, baseClip_ ? Qt::IntersectClip : Qt::ReplaceClip);
    }
    applyTransform();
}

void EmfPainter::combineClip(const QRegion& current, const QRegion& other, const std::function<QRegion()>& combine)
{
    if (workExceeded())
        return;
    const double bound = combinedRectsBound(current, other);
    if (bound > double(kMaxClipRects)) {
        refuse(QStringLiteral("combining clip regions of %1 and %2 rectangles could make %3, more than %4")
                   .arg(current.rectCount())
                   .arg(other.rectCount())
                   .arg(bound, 0, 'f', 0)
                   .arg(kMaxClipRects));
        return;
    }
    if (!chargeWork((double(current.rectCount()) + other.rectCount() + bound) / kClipRectsPerUnit))
        return;
    s_.clip = combine();
    applyClip();
}

void EmfPainter::intersectClipRect(const QRectF& r)
{
    const QRegion add = deviceRect(r);
    if (!s_.clip) {
        s_.clip = add;
        applyClip();
        return;
    }
    const QRegion current = *s_.clip;
    combineClip(current, add, [&] { return current & add; });
}

void EmfPainter::excludeClipRect(const QRectF& r)
{
    const QRegion cut = deviceRect(r);
    const QRegion current = s_.clip ? *s_.clip : QRegion(kEverything);
    combineClip(current, cut, [&] { return current - cut; });
}

void EmfPainter::selectClipRegion(const QRegion* region, quint32 mode)
{
    if (mode == 5) { // RGN_COPY; no region removes the clip
        if (region)
            s_.clip = *region;
        else
            s_.clip.reset();
        applyClip();
        return;
    }
    if (!region || mode < 1 || mode > 4 || (mode == 2 && !s_.clip))
        return; // an unknown mode, or a union with no clip (everything), changes nothing
    if (mode == 1 && !s_.clip) {
        s_.clip = *region;
        applyClip();
        return;
    }
    const QRegion current = s_.clip ? *s_.clip : QRegion(kEverything);
    const QRegion& other = *region;
    combineClip(current, other, [&] {
        switch (mode) {
        case 1: return current & other;
        case 2: return current | other;
        case 3: return current ^ other;
        default: return current - other;
        }
    });
}

// ---- saved states ----

bool EmfPainter::saveDC()
{
    if (stack_.size() >= size_t(kMaxSaveDepth))
        return false;
    stack_.push_back(s_);
    return true;
}

bool EmfPainter::restoreDC(int which)
{
    // Negative: relative to the current state; positive: the n-th saved state.
    const qint64 depth = qint64(stack_.size());
    const qint64 target = which < 0 ? depth + which : qint64(which) - 1;
    if (which == 0 || target < 0 || target >= depth)
        return false;
    s_ = stack_[size_t(target)];
    stack_.resize(size_t(target));
    applyClip();
    return true;
}

// ---- work accounting ----

void EmfPainter::setWorkLimit(const QRectF& pageDevice, double limit)
{
    workPage_ = pageDevice.normalized();
    // Sizes are counted on an A4 sheet of the reference device, so a larger sheet, which costs
    // more pixels at a given resolution, costs more units too.
    sheetArea_ = 210.0 * 297.0 * pixelsPerMm_.width() * pixelsPerMm_.height();
    sheetHeight_ = 297.0 * pixelsPerMm_.height();
    workLimit_ = limit;
}

void EmfPainter::refuse(const QString& why)
{
    if (refusal_.isEmpty())
        refusal_ = why;
}

double EmfPainter::fontWork(const TextFont& font)
{
    return kWorkPerFont * (1 + std::min(font.cellHeight(), 2000) / 100.0);
}

bool EmfPainter::chargeWork(double units)
{
    work_ += units;
    return !workExceeded();
}

bool EmfPainter::chargeArea(const QRectF& deviceBox, double times, double units)
{
    double cover = 0;
    if (sheetArea_ > 0) {
        const QRectF seen = deviceBox.normalized() & workPage_;
        cover = seen.width() * seen.height() / sheetArea_;
    }
    return chargeWork(units + times * cover * kWorkPerPageArea);
}

bool EmfPainter::chargeLogicalArea(const QRectF& logical, double times, double units)
{
    return chargeArea(logicalToDevice().mapRect(logical.normalized()), times, units);
}

bool EmfPainter::chargeEdges(const QPolygonF& points, bool closed, double times)
{
    const double top = workPage_.top(), bottom = workPage_.bottom();
    if (!(sheetHeight_ > 0) || points.size() < 2)
        return chargeWork(double(points.size()));
    double rows = 0;
    const qsizetype n = points.size();
    for (qsizetype i = closed ? 0 : 1; i < n; ++i) {
        const QPointF& a = points[i == 0 ? n - 1 : i - 1];
        const QPointF& b = points[i];
        const double lo = std::max(top, std::min(a.y(), b.y())), hi = std::min(bottom, std::max(a.y(), b.y()));
        if (hi > lo)
            rows += hi - lo;
    }
    return chargeWork(double(n) + times * rows / sheetHeight_ * kWorkPerPageHeight);
}

bool EmfPainter::chargeStroke(QPointF a, QPointF b)
{
    if (s_.pen.null)
        return chargeWork(1);
    const QTransform t = logicalToDevice();
    const QPointF da = t.map(a), db = t.map(b);
    const double scale = std::max(std::hypot(t.m11(), t.m12()), std::hypot(t.m21(), t.m22()));
    const double w = std::max(1.0, s_.pen.width * scale);
    const QRectF seen = QRectF(da, db).normalized().adjusted(-w / 2, -w / 2, w / 2, w / 2) & workPage_;
    if (seen.isEmpty() || !(sheetArea_ > 0))
        return chargeWork(1);
    // A stroke covers at most its box, and at most its visible length times its width.
    const double cover = std::min(seen.width() * seen.height(), std::hypot(seen.width(), seen.height()) * w);
    // Dashes are made along the whole line, seen or not.
    const double dashes = s_.pen.style == Qt::SolidLine || !(pixelsPerMm_.width() > 0)
        ? 0
        : std::min(1e12, QLineF(da, db).length() / pixelsPerMm_.width() * 96.0 / 25.4) / kDashPixelsPerUnit;
    return chargeWork(1 + cover / sheetArea_ * kWorkPerPageArea + dashes);
}

// ---- drawing ----

QPen EmfPainter::qpen() const
{
    if (s_.pen.null)
        return QPen(Qt::NoPen);
    QPen pen(s_.pen.color);
    pen.setStyle(s_.pen.style);
    pen.setWidthF(s_.pen.width <= 1 ? (s_.pen.width <= 0 ? 0.0 : 1.0) : s_.pen.width);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    return pen;
}

QBrush EmfPainter::qbrush() const
{
    if (s_.brush.null)
        return QBrush(Qt::NoBrush);
    if (!s_.brush.pattern.isNull())
        return QBrush(s_.brush.pattern);
    if (s_.brush.hatch != Qt::NoBrush)
        return QBrush(s_.brush.color, s_.brush.hatch);
    return QBrush(s_.brush.color);
}

void EmfPainter::fillShape(const QPainterPath& path)
{
    if (s_.brush.null)
        return;
    const bool twice = s_.brush.hatch != Qt::NoBrush && s_.bkOpaque;
    const QTransform t = logicalToDevice();
    QPolygonF outline;
    outline.reserve(path.elementCount());
    for (int i = 0; i < path.elementCount(); ++i)
        outline << t.map(QPointF(path.elementAt(i)));
    if (!chargeLogicalArea(path.boundingRect(), twice ? 2 : 1, 0) || !chargeEdges(outline, true, twice ? 2 : 1))
        return;
    if (twice)
        p_.fillPath(path, s_.bkColor);
    p_.fillPath(path, qbrush());
}

bool EmfPainter::chargeOutline(const QRectF& r)
{
    return chargeStroke(r.topLeft(), r.topRight()) && chargeStroke(r.topRight(), r.bottomRight())
        && chargeStroke(r.bottomRight(), r.bottomLeft()) && chargeStroke(r.bottomLeft(), r.topLeft());
}

QRectF EmfPainter::outlineRect(const QRectF& r) const
{
    // GDI's outline of (l,t,r,b) runs along the pixels l..r-1 and t..b-1; an inside-frame pen
    // keeps all of its width within the box.
    const double w = s_.pen.width;
    if (s_.pen.insideFrame && w > 1)
        return r.adjusted(w / 2, w / 2, -w / 2, -w / 2);
    return r.adjusted(0.5, 0.5, -0.5, -0.5);
}

void EmfPainter::fillRect(const QRectF& r, const QColor& color)
{
    if (chargeLogicalArea(r))
        p_.fillRect(box(r), color);
}

void EmfPainter::patBlt(const QRectF& r, quint32 rop)
{
    if (rop == 0x00000042) {
        fillRect(r, Qt::black);
    } else if (rop == 0x00FF0062) {
        fillRect(r, Qt::white);
    } else if (!s_.brush.null) {
        if (s_.brush.hatch == Qt::NoBrush && s_.brush.pattern.isNull()) {
            fillRect(r, s_.brush.color);
        } else {
            QPainterPath path;
            path.addRect(box(r));
            fillShape(path);
        }
    }
}

void EmfPainter::rectangle(QRectF r)
{
    r = box(r);
    if (r.width() <= 0 || r.height() <= 0)
        return;
    // Without an outline GDI fills one pixel less to the right and bottom.
    QPainterPath fill;
    fill.addRect(s_.pen.null ? r.adjusted(0, 0, -1, -1) : r);
    fillShape(fill);
    if (!s_.pen.null && chargeOutline(r)) {
        p_.setPen(qpen());
        p_.setBrush(Qt::NoBrush);
        p_.drawRect(outlineRect(r));
    }
}

void EmfPainter::ellipse(QRectF r)
{
    r = box(r);
    if (r.width() <= 0 || r.height() <= 0)
        return;
    QPainterPath fill;
    fill.addEllipse(s_.pen.null ? r.adjusted(0, 0, -1, -1) : r.adjusted(0.5, 0.5, -0.5, -0.5));
    fillShape(fill);
    if (!s_.pen.null && chargeOutline(r)) {
        p_.setPen(qpen());
        p_.setBrush(Qt::NoBrush);
        p_.drawEllipse(outlineRect(r));
    }
}

void EmfPainter::roundRect(QRectF r, QSizeF corner)
{
    r = box(r);
    if (r.width() <= 0 || r.height() <= 0)
        return;
    const double rx = std::abs(corner.width()) / 2, ry = std::abs(corner.height()) / 2;
    QPainterPath fill;
    fill.addRoundedRect(s_.pen.null ? r.adjusted(0, 0, -1, -1) : r, rx, ry);
    fillShape(fill);
    if (!s_.pen.null && chargeOutline(r)) {
        p_.setPen(qpen());
        p_.setBrush(Qt::NoBrush);
        p_.drawRoundedRect(outlineRect(r), rx, ry);
    }
}

void EmfPainter::lineTo(QPointF to)
{
    if (!s_.pen.null && chargeStroke(s_.position, to)) {
        // Pixel centres lie half a pixel off the grid; the end point itself is not drawn.
        QPointF a = s_.position, b = to;
        if (std::abs(b.x() - a.x()) >= std::abs(b.y() - a.y())) {
            a.ry() += 0.5;
            b.ry() += 0.5;
        } else {
            a.rx() += 0.5;
            b.rx() += 0.5;
        }
        p_.setPen(qpen());
        p_.drawLine(QLineF(a, b));
    }
    s_.position = to;
}

void EmfPainter::polyline(const QPolygonF& points, bool fromCurrent)
{
    QPolygonF poly;
    if (fromCurrent)
        poly << s_.position;
    poly << points;
    // A stroked line is filled as an outline along both of its sides.
    bool affordable = s_.pen.null || chargeEdges(logicalToDevice().map(poly), false, 2);
    for (qsizetype i = 1; i < poly.size() && affordable; ++i)
        affordable = chargeStroke(poly[i - 1], poly[i]);
    if (!s_.pen.null && poly.size() > 1 && affordable) {
        p_.setPen(qpen());
        p_.setBrush(Qt::NoBrush);
        p_.drawPolyline(poly.translated(0.5, 0.5));
    }
    if (fromCurrent && !points.isEmpty())
        s_.position = points.last();
}

void EmfPainter::polygon(const QPolygonF& points)
{
    if (points.size() < 2)
        return;
    QPainterPath path;
    path.addPolygon(points);
    path.closeSubpath();
    path.setFillRule(s_.winding ? Qt::WindingFill : Qt::OddEvenFill);
    fillShape(path);
    bool affordable = s_.pen.null || chargeEdges(logicalToDevice().map(points), true, 2);
    for (qsizetype i = 0; i < points.size() && affordable; ++i)
        affordable = chargeStroke(points[i], points[(i + 1) % points.size()]);
    if (!s_.pen.null && affordable) {
        p_.setPen(qpen());
        p_.setBrush(Qt::NoBrush);
        p_.drawPolygon(points.translated(0.5, 0.5), s_.winding ? Qt::WindingFill : Qt::OddEvenFill);
    }
}

void EmfPainter::textOut(QPointF ref, const QChar* text, qsizetype n, const qint32* dx, const QRectF* opaqueRect,
                         const QRectF* clipRect)
{
    std::shared_ptr<const TextFont> f = font();
    const QTransform l2d = logicalToDevice();
    const double sx = std::hypot(l2d.m11(), l2d.m12());
    const double sy = std::hypot(l2d.m21(), l2d.m22());
    // Text stays upright and is laid out in device pixels, whatever the mapping: GDI does the same.
    if (std::abs(sy - 1.0) > 1e-9 && f->spec().height != 0) {
        LogicalFont spec = f->spec();
        const double h = std::clamp(std::round(spec.height * sy), -1e5, 1e5);
        spec.height = h == 0 ? (spec.height < 0 ? -1 : 1) : int(h);
        bool made = false;
        f = fontCache_.get(spec, &made);
        if (made && !chargeWork(fontWork(*f)))
            return;
    }

    QVarLengthArray<qint32, 256> adv(n);
    if (dx) {
        double exact = 0;
        long long placed = 0;
        for (qsizetype i = 0; i < n; ++i) {
            exact += double(dx[i]) * sx;
            const long long next = std::llround(exact);
            adv[i] = qint32(std::clamp<long long>(next - placed, INT32_MIN, INT32_MAX));
            placed = next;
        }
    } else {
        f->advances(text, n, adv.data());
    }
    double total = 0;
    for (qsizetype i = 0; i < n; ++i)
        total += adv[i];

    const QPointF refDevice = l2d.map(s_.textAlign & 1 ? s_.position : ref);
    const quint32 h = s_.textAlign & 6;
    double x0 = refDevice.x();
    if (h == 6)
        x0 -= std::floor(total / 2);
    else if (h == 2)
        x0 -= total;
    const quint32 v = s_.textAlign & 24;
    double baseline = refDevice.y() + f->ascent();
    if (v == 24)
        baseline = refDevice.y();
    else if (v == 8)
        baseline = refDevice.y() - f->descent();

    // Each glyph covers at most a cell-sized square of what the run shows of the page.
    const double cell = std::max(1, f->cellHeight());
    const double reach = std::abs(total) + cell;
    const QRectF runBox = f->spec().escapement != 0
        ? QRectF(refDevice.x() - reach, refDevice.y() - reach, 2 * reach, 2 * reach)
        : QRectF(std::min(x0, x0 + total), baseline - f->ascent(), std::max(std::abs(total), cell), cell);
    const QRectF seen = runBox & workPage_;
    const double glyphCover = sheetArea_ > 0 ? std::min(cell * cell, seen.width() * seen.height()) / sheetArea_ : 0;
    // Turned glyphs are always outlines; upright ones become outlines on a target that makes them
    // TextFont::kLargestBitmapGlyph pixels, which a printer at 8 times the page's resolution does.
    const bool outlines = f->spec().escapement % 3600 != 0 || cell * 8 >= TextFont::kLargestBitmapGlyph;
    const double outlineCost = outlines && sheetHeight_ > 0
        ? kWorkPerOutlineGlyph + 2 * std::min(cell, sheetHeight_) / sheetHeight_ * kWorkPerPageHeight
        : 0;
    if (!chargeWork(double(n) * (1 + glyphCover * kWorkPerPageArea + outlineCost)))
        return;
    if (n > 0 && !chargeWork(double(f->uncommonCount(text, n)) * kWorkPerUncommonGlyph))
        return;
    if ((opaqueRect && !chargeLogicalArea(*opaqueRect)) || (s_.bkOpaque && !chargeArea(runBox)))
        return;

    p_.save();
    p_.setTransform(deviceToTarget_ * base_);
    if (opaqueRect)
        p_.fillRect(l2d.mapRect(box(*opaqueRect)), s_.bkColor);
    // The clip is written out again with the text's own (a PDF keeps no clip it can add to).
    if (clipRect && !chargeWork(double(s_.clip ? s_.clip->rectCount() : 0) * kWorkPerClipRect)) {
        p_.restore();
        return;
    }
    if (clipRect)
        p_.setClipRect(l2d.mapRect(box(*clipRect)), Qt::IntersectClip);
    if (f->spec().escapement != 0) {
        p_.translate(refDevice);
        p_.rotate(-double(f->spec().escapement) / 10.0);
        p_.translate(-refDevice);
    }
    if (s_.bkOpaque && n > 0)
        p_.fillRect(QRectF(x0, baseline - f->ascent(), total, f->cellHeight()), s_.bkColor);
    p_.setPen(QPen(s_.textColor));
    f->drawRun(p_, x0, baseline, text, n, adv.data());
    p_.restore();

    if ((s_.textAlign & 1) && sx > 0)
        s_.position.rx() += (h == 2 ? -total : total) / sx;
}

void EmfPainter::drawImage(const QRectF& dest, const QImage& image, const QRectF& src)
{
    // Decoding and copying a bitmap costs one unit per hundred of its pixels.
    if (!chargeLogicalArea(dest, 1, 1 + double(image.width()) * image.height() / 100))
        return;
    // A negative destination size mirrors the picture, and with it the source rectangle.
    QImage img = image;
    QRectF from = src;
    const bool flipX = dest.width() < 0, flipY = dest.height() < 0;
    if (flipX || flipY) {
        img = img.mirrored(flipX, flipY);
        if (flipX)
            from.moveLeft(img.width() - src.x() - src.width());
        if (flipY)
            from.moveTop(img.height() - src.y() - src.height());
    }
    p_.setRenderHint(QPainter::SmoothPixmapTransform, s_.stretchMode == 4);
    p_.drawImage(box(dest), img, from);
}

QImage EmfPainter::flattenImage(const QImage& image)
{
    if (!image.hasAlphaChannel())
        return image.convertToFormat(QImage::Format_RGB32);
    QImage out(image.size(), QImage::Format_RGB32);
    out.fill(Qt::white);
    QPainter p(&out);
    p.drawImage(0, 0, image);
    p.end();
    return out;
}
