#include "PageCompare.h"

#include "platform/canvas/EmfPlayer.h"
#include "report/generation/GenerationFixtures.h"

#include <QPainter>
#include <QTransform>
#include <algorithm>
#include <vector>

namespace pagecompare {

namespace {

constexpr int kInk = 128;        // darker than this is ink
constexpr int kLineRun = 59;     // a run of ink this long (1 cm at 150 dpi) is a ruled line

struct Grid {
    int w = 0, h = 0;
    std::vector<uchar> ink;   // 1 ink
    std::vector<uchar> line;  // 1 part of a ruled line
    bool at(int x, int y) const { return ink[static_cast<size_t>(y * w + x)] != 0; }
};

Grid grid(const QImage& image)
{
    const QImage g = image.convertToFormat(QImage::Format_Grayscale8);
    Grid r;
    r.w = g.width();
    r.h = g.height();
    r.ink.assign(static_cast<size_t>(r.w * r.h), 0);
    r.line.assign(r.ink.size(), 0);
    for (int y = 0; y < r.h; ++y) {
        const uchar* row = g.constScanLine(y);
        for (int x = 0; x < r.w; ++x)
            r.ink[static_cast<size_t>(y * r.w + x)] = row[x] < kInk ? 1 : 0;
    }
    auto markRuns = [&](bool horizontal) {
        const int outer = horizontal ? r.h : r.w;
        const int inner = horizontal ? r.w : r.h;
        for (int o = 0; o < outer; ++o) {
            int start = -1;
            for (int i = 0; i <= inner; ++i) {
                const bool on = i < inner && (horizontal ? r.at(i, o) : r.at(o, i));
                if (on && start < 0)
                    start = i;
                if (!on && start >= 0) {
                    if (i - start >= kLineRun)
                        for (int k = start; k < i; ++k)
                            r.line[static_cast<size_t>(horizontal ? o * r.w + k : k * r.w + o)] = 1;
                    start = -1;
                }
            }
        }
    };
    markRuns(true);
    markRuns(false);
    return r;
}

// A ruled line: the rows (horizontal) or columns it covers, and how far it runs along them.
struct Line {
    int first = 0, last = 0;
    int from = INT_MAX, to = INT_MIN;
};

// Rows (horizontal) or columns holding a ruled line, adjacent ones grouped into one line.
std::vector<Line> lineBands(const Grid& g, bool horizontal)
{
    std::vector<Line> lines;
    const int outer = horizontal ? g.h : g.w;
    const int inner = horizontal ? g.w : g.h;
    for (int o = 0; o < outer; ++o) {
        int run = 0, best = 0, from = INT_MAX, to = INT_MIN;
        for (int i = 0; i < inner; ++i) {
            const size_t at = static_cast<size_t>(horizontal ? o * g.w + i : i * g.w + o);
            const bool on = g.line[at] && (horizontal ? g.at(i, o) : g.at(o, i));
            run = on ? run + 1 : 0;
            if (run >= kLineRun) {
                from = std::min(from, i - run + 1);
                to = std::max(to, i);
            }
            best = std::max(best, run);
        }
        if (best < kLineRun)
            continue;
        if (!lines.empty() && o <= lines.back().last + 1) {
            lines.back().last = o;
            lines.back().from = std::min(lines.back().from, from);
            lines.back().to = std::max(lines.back().to, to);
        } else {
            lines.push_back({o, o, from, to});
        }
    }
    return lines;
}

int distance(const Line& a, const Line& b)
{
    return std::max({std::abs(a.first - b.first), std::abs(a.last - b.last), std::abs(a.from - b.from),
                     std::abs(a.to - b.to)});
}

// Ink box inside a window, ruled lines left out; empty when there is no ink.
QRect inkBox(const Grid& g, QRect window)
{
    window &= QRect(0, 0, g.w, g.h);
    int l = INT_MAX, t = INT_MAX, r = INT_MIN, b = INT_MIN;
    for (int y = window.top(); y <= window.bottom(); ++y)
        for (int x = window.left(); x <= window.right(); ++x) {
            const size_t at = static_cast<size_t>(y * g.w + x);
            if (g.ink[at] && !g.line[at]) {
                l = std::min(l, x);
                r = std::max(r, x);
                t = std::min(t, y);
                b = std::max(b, y);
            }
        }
    return l == INT_MAX ? QRect() : QRect(QPoint(l, t), QPoint(r, b));
}

int distance(const QRect& a, const QRect& b)
{
    return std::max({std::abs(a.left() - b.left()), std::abs(a.top() - b.top()), std::abs(a.right() - b.right()),
                     std::abs(a.bottom() - b.bottom())});
}

} // namespace

QImage render(const QByteArray& emf, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    EmfPlayer::play(emf, painter, QRectF(0, 0, size.width(), size.height()));
    return image;
}

QImage unturn(const QImage& sheet) { return sheet.transformed(QTransform().rotate(90)); }

Result compare(const QByteArray& emf, QSize pagePixels, const QImage& preview, const QImage& printed, int tolerance)
{
    Result result;
    if (preview.size() != printed.size()) {
        result.problems << QStringLiteral("sizes differ: %1x%2 against %3x%4")
                               .arg(preview.width()).arg(preview.height()).arg(printed.width()).arg(printed.height());
        return result;
    }
    const Grid a = grid(preview);
    const Grid b = grid(printed);

    // Ruled lines, across and down: every line of the preview must be on paper. Paper may hold
    // more: a band's fill can cover the line above it at screen resolution and not at the
    // printer's, so extra printed lines are counted, not failed.
    for (bool horizontal : {true, false}) {
        const auto la = lineBands(a, horizontal);
        auto lb = lineBands(b, horizontal);
        for (const auto& l : la) {
            int best = INT_MAX;
            size_t at = lb.size();
            for (size_t j = 0; j < lb.size(); ++j) {
                const int d = distance(l, lb[j]);
                if (d < best) {
                    best = d;
                    at = j;
                }
            }
            ++result.lines;
            if (at == lb.size() || best > tolerance) {
                result.problems << QStringLiteral("%1 line at %2..%3 from %4 to %5 not on paper (nearest %6 px away)")
                                       .arg(horizontal ? QStringLiteral("horizontal") : QStringLiteral("vertical"))
                                       .arg(l.first).arg(l.last).arg(l.from).arg(l.to).arg(best);
                continue;
            }
            result.worst = std::max(result.worst, best);
            lb.erase(lb.begin() + static_cast<std::ptrdiff_t>(at));
        }
        result.extraLines += static_cast<int>(lb.size());
    }

    // Text boxes: the cell of each text output, scaled from the page's pixels to the image.
    const double kx = static_cast<double>(preview.width()) / std::max(1, pagePixels.width());
    const double ky = static_cast<double>(preview.height()) / std::max(1, pagePixels.height());
    for (const gentest::TextAt& t : gentest::textsOf(emf)) {
        if (t.text.trimmed().isEmpty())
            continue;
        const QRect cell(QPoint(static_cast<int>(std::floor(t.left * kx)) - 1, static_cast<int>(std::floor(t.top * ky)) - 1),
                         QPoint(static_cast<int>(std::ceil((t.right + 1) * kx)) + 1,
                                static_cast<int>(std::ceil((t.bottom + 1) * ky)) + 1));
        const QRect ba = inkBox(a, cell);
        const QRect bb = inkBox(b, cell);
        if (ba.isNull() && bb.isNull())
            continue;
        if (ba.isNull() != bb.isNull()) {
            result.problems << QStringLiteral("text \"%1\" drawn on only one side").arg(t.text);
            continue;
        }
        const int d = distance(ba, bb);
        result.worst = std::max(result.worst, d);
        ++result.texts;
        if (d > tolerance)
            result.problems << QStringLiteral("text \"%1\" at (%2,%3)-(%4,%5) printed at (%6,%7)-(%8,%9)")
                                   .arg(t.text)
                                   .arg(ba.left()).arg(ba.top()).arg(ba.right()).arg(ba.bottom())
                                   .arg(bb.left()).arg(bb.top()).arg(bb.right()).arg(bb.bottom());
    }
    return result;
}

} // namespace pagecompare
