#include "platform/canvas/TextMeasure.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <QPainterPath>
#include <QVarLengthArray>
#include <cmath>

namespace {

// Font sizes beyond this come only from damaged pages; the glyph cache would grow without use.
constexpr int kMaxPixelSize = 2000;
constexpr int kDefaultPixelSize = 16; // GDI's default for a height of 0 (12 points at 96 dpi)

} // namespace

LogicalFont LogicalFont::from(const CanvasFont& f)
{
    LogicalFont l;
    l.face = f.face;
    l.height = f.height;
    l.weight = f.bold ? 700 : 400;
    l.italic = f.italic;
    l.underline = f.underline;
    l.strikeOut = f.strikeOut;
    return l;
}

QString TextFont::substituteFace(const QString& windowsFace)
{
    const QString face = windowsFace.trimmed().toLower();
    // The Liberation faces are metric twins of the Windows core faces: same advances.
    if (face == u"arial" || face == u"helvetica" || face == u"ms sans serif" || face == u"microsoft sans serif"
        || face == u"ms shell dlg" || face == u"ms shell dlg 2" || face.isEmpty())
        return QStringLiteral("Liberation Sans");
    if (face == u"times new roman" || face == u"times" || face == u"ms serif")
        return QStringLiteral("Liberation Serif");
    if (face == u"courier new" || face == u"courier")
        return QStringLiteral("Liberation Mono");
    // Arial Black has no metric twin in Debian. DejaVu Sans Bold is the heaviest installed sans
    // and, being wide, comes nearest to Arial Black's wide advances; the stored advances still
    // place every glyph where the page's author measured it.
    if (face == u"arial black")
        return QStringLiteral("DejaVu Sans");
    return windowsFace.trimmed();
}

TextFont::TextFont(const LogicalFont& spec) : spec_(spec)
{
    font_.setFamily(substituteFace(spec.face));
    font_.setHintingPreference(QFont::PreferNoHinting);
    font_.setKerning(false);
    int weight = spec.weight <= 0 ? 400 : std::min(spec.weight, 1000);
    if (spec.face.trimmed().compare(u"arial black", Qt::CaseInsensitive) == 0)
        weight = 900;
    font_.setWeight(QFont::Weight(weight));
    font_.setItalic(spec.italic);

    int pixels = kDefaultPixelSize;
    if (spec.height < 0) {
        pixels = spec.height < -kMaxPixelSize ? kMaxPixelSize : -spec.height;
    } else if (spec.height > 0) {
        // A positive height is the cell height: find the em that gives that cell.
        QFont probe = font_;
        probe.setPixelSize(100);
        const QFontMetricsF pm(probe);
        const qreal cell = pm.ascent() + pm.descent();
        const qreal h = std::min<qreal>(spec.height, kMaxPixelSize);
        pixels = cell > 0 ? int(std::lround(h * 100.0 / cell)) : int(h);
    }
    font_.setPixelSize(std::max(1, pixels));

    const QFontMetricsF fm(font_);
    ascent_ = int(std::lround(fm.ascent()));
    descent_ = int(std::lround(fm.descent()));
    underlinePos_ = fm.underlinePos();
    strikeOutPos_ = fm.strikeOutPos();
    lineWidth_ = std::max<qreal>(1.0, std::round(fm.lineWidth()));
    raw_ = QRawFont::fromFont(font_);
}

const TextFont::Glyph& TextFont::glyph(char32_t c) const
{
    Glyph* g = c < cache_.size() ? &cache_[c] : &other_;
    if (g == &other_ || g->advance < 0) {
        const QString s = QString::fromUcs4(&c, 1);
        const QFontMetricsF fm(font_);
        g->advance = float(fm.horizontalAdvance(s));
        g->index = 0;
        if (raw_.isValid()) {
            quint32 idx[2] = {0, 0};
            int count = 2;
            if (raw_.glyphIndexesForChars(s.constData(), int(s.size()), idx, &count) && count == 1)
                g->index = idx[0];
        }
    }
    return *g;
}

qsizetype TextFont::uncommonCount(const QChar* text, qsizetype n) const
{
    qsizetype count = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c >= cache_.size())
            ++count;
        else if (glyph(c).index == 0 && !QChar::isSpace(c) && QChar::isPrint(c))
            ++count;
    }
    return count;
}

int TextFont::advances(const QChar* text, qsizetype n, qint32* dx) const
{
    // Positions are summed exactly and rounded, so the integers never drift from the true width.
    double exact = 0.0;
    long long placed = 0;
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = text[i].unicode();
        bool pair = false;
        if (text[i].isHighSurrogate() && i + 1 < n && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            pair = true;
        }
        exact += double(glyph(c).advance);
        const long long next = std::llround(exact);
        if (dx)
            dx[i] = qint32(next - placed);
        placed = next;
        if (pair) {
            ++i;
            if (dx)
                dx[i] = 0;
        }
    }
    return int(placed);
}

void TextFont::drawRun(QPainter& p, qreal x, qreal baseline, const QChar* text, qsizetype n, const qint32* dx) const
{
    QVarLengthArray<quint32, 128> glyphs;
    QVarLengthArray<QPointF, 128> positions;
    QVarLengthArray<qsizetype, 8> missing; // characters the face lacks: drawn with font fallback
    QVarLengthArray<qreal, 8> missingX;
    qreal cx = x;
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = text[i].unicode();
        qsizetype units = 1;
        if (text[i].isHighSurrogate() && i + 1 < n && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            units = 2;
        }
        const Glyph& g = glyph(c);
        if (g.index != 0) {
            glyphs.append(g.index);
            positions.append(QPointF(cx, baseline));
        } else if (!QChar::isSpace(c) && QChar::isPrint(c)) {
            missing.append(i);
            missingX.append(cx);
        }
        qreal adv = 0;
        for (qsizetype u = 0; u < units; ++u)
            adv += dx ? qreal(dx[i + u]) : 0.0;
        if (!dx)
            adv = qreal(g.advance);
        cx += adv;
        i += units - 1;
    }
    // The glyph cache renders glyphs as bitmaps under the painter's transform; FreeType fails on
    // (and Qt then mishandles) glyphs that a rotated, skewed, squeezed or huge transform would
    // make, which only damaged or unusual pages ask for. Those are filled as outlines instead.
    const QTransform t = p.combinedTransform();
    const double sx = std::abs(t.m11()), sy = std::abs(t.m22());
    const bool asBitmaps = t.type() <= QTransform::TxScale && sx > 0 && sy > 0 && sx / sy < 4 && sy / sx < 4
        && font_.pixelSize() * std::max(sx, sy) < kLargestBitmapGlyph;
    const QColor color = p.pen().color();
    if (!glyphs.isEmpty()) {
        if (asBitmaps) {
            QGlyphRun run;
            run.setRawFont(raw_);
            run.setRawData(glyphs.constData(), positions.constData(), int(glyphs.size()));
            p.drawGlyphRun(QPointF(0, 0), run);
        } else {
            // In batches, so that a long run never makes one path of all its glyphs at once.
            constexpr qsizetype kBatch = 64;
            for (qsizetype from = 0; from < glyphs.size(); from += kBatch) {
                QPainterPath path;
                for (qsizetype k = from; k < std::min(glyphs.size(), from + kBatch); ++k)
                    path.addPath(raw_.pathForGlyph(glyphs[k]).translated(positions[k]));
                p.fillPath(path, color);
            }
        }
    }
    if (!missing.isEmpty()) {
        p.save();
        p.setFont(font_);
        for (qsizetype k = 0; k < missing.size(); ++k) {
            const qsizetype i = missing[k];
            const qsizetype units = (text[i].isHighSurrogate() && i + 1 < n && text[i + 1].isLowSurrogate()) ? 2 : 1;
            if (asBitmaps) {
                p.drawText(QPointF(missingX[k], baseline), QString(text + i, units));
            } else {
                QPainterPath path;
                path.addText(QPointF(missingX[k], baseline), font_, QString(text + i, units));
                p.fillPath(path, color);
            }
        }
        p.restore();
    }
    if ((spec_.underline || spec_.strikeOut) && cx != x) {
        const qreal left = std::min(x, cx);
        const qreal w = std::abs(cx - x);
        if (spec_.underline)
            p.fillRect(QRectF(left, std::round(baseline + underlinePos_), w, lineWidth_), color);
        if (spec_.strikeOut)
            p.fillRect(QRectF(left, std::round(baseline - strikeOutPos_), w, lineWidth_), color);
    }
}

std::shared_ptr<const TextFont> TextFontCache::get(const LogicalFont& spec, bool* made)
{
    if (made)
        *made = false;
    for (qsizetype i = 0; i < fonts_.size(); ++i) {
        if (fonts_[i]->spec() == spec) {
            auto f = fonts_[i];
            if (i != 0) {
                fonts_.remove(i);
                fonts_.prepend(f);
            }
            return f;
        }
    }
    auto f = std::make_shared<const TextFont>(spec);
    if (made)
        *made = true;
    fonts_.prepend(f);
    if (fonts_.size() > 16)
        fonts_.removeLast();
    return f;
}
