#include "report/model/FormatLines.h"

#include <algorithm>
#include <cmath>

namespace formatlines {

namespace {
constexpr double kMaxExtent = 100000000;   // a kilometre of text is as wide as it gets

bool isBreak(QChar c) { return c == u' ' || c == u'-' || c == u'\r'; }

// Widths of ranges of one segment from the prefix sums of its advances.
class SegmentWidths {
public:
    SegmentWidths(const QString& segment, const Measure& m) : m_(m), prefix_(static_cast<size_t>(segment.size()) + 1, 0.0)
    {
        const std::vector<double> adv = m.advances(segment);
        for (size_t i = 0; i < static_cast<size_t>(segment.size()); ++i)
            prefix_[i + 1] = prefix_[i] + (i < adv.size() ? adv[i] : 0.0);
    }
    int operator()(qsizetype from, qsizetype to) const
    {
        return m_.width(extentOf(prefix_[static_cast<size_t>(to)] - prefix_[static_cast<size_t>(from)]));
    }

private:
    const Measure& m_;
    std::vector<double> prefix_;
};
} // namespace

int extentOf(double advanceSum)
{
    if (!(advanceSum > 0))
        return 0;
    return static_cast<int>(std::min(std::ceil(advanceSum - 1e-6), kMaxExtent));
}

int textWidth(const QString& text, const Measure& m)
{
    double sum = 0;
    for (double a : m.advances(text))
        sum += a;
    return m.width(extentOf(sum));
}

QStringList splitSegments(const QString& text)
{
    QString t = text;
    t.remove(QChar(u'\n'));
    return t.split(QChar(u'\r'), Qt::KeepEmptyParts);
}

QStringList splitWords(const QString& segment)
{
    QStringList words;
    qsizetype start = 0;
    for (qsizetype i = 0; i < segment.size(); ++i) {
        if (isBreak(segment[i])) {
            words << segment.mid(start, i - start + 1);
            start = i + 1;
        }
    }
    if (start < segment.size())
        words << segment.mid(start);
    return words;
}

void wrapSegment(const QString& segment, int itemWidth, bool wordWrap, const Measure& m,
                 QStringList& out)
{
    const SegmentWidths width(segment, m);
    const qsizetype before = out.size();
    // The current line is always the run [lineStart, lineEnd) of the segment.
    qsizetype lineStart = 0, lineEnd = 0;
    auto emitLine = [&](qsizetype from, qsizetype to) { out << segment.mid(from, to - from); };
    // Without WordWrap, once a word has overflowed the segment's last partial line is dropped.
    bool dropLast = false;
    qsizetype wordStart = 0;
    while (wordStart < segment.size()) {
        qsizetype wordEnd = wordStart;
        while (wordEnd < segment.size() && !isBreak(segment[wordEnd]))
            ++wordEnd;
        if (wordEnd < segment.size())
            ++wordEnd;   // the break character belongs to the word
        const qsizetype next = wordEnd;

        if (lineStart == lineEnd) {
            lineStart = lineEnd = wordStart;
        }
        if (width(lineStart, wordEnd) <= itemWidth) {
            lineEnd = wordEnd;
        } else if (lineStart == lineEnd) {
            // A word wider than the box on its own line keeps what fits; the rest is dropped.
            qsizetype end = wordStart;
            while (end < wordEnd && width(wordStart, end + 1) < itemWidth)
                ++end;
            emitLine(wordStart, end);
            lineStart = lineEnd = next;
            if (!wordWrap)
                dropLast = true;
        } else {
            emitLine(lineStart, lineEnd);
            lineStart = lineEnd = next;
            if (!wordWrap) {
                dropLast = true;
            } else if (width(wordStart, wordEnd) > itemWidth) {
                // Shortened from its end until it fits, on a line of its own; nothing fits a
                // box of no width.
                if (itemWidth > 0) {
                    qsizetype end = wordStart;
                    while (end < wordEnd && width(wordStart, end + 1) <= itemWidth)
                        ++end;
                    emitLine(wordStart, end);
                }
            } else {
                lineStart = wordStart;
                lineEnd = wordEnd;
            }
        }
        wordStart = next;
    }
    if (dropLast)
        return;
    if (lineEnd > lineStart || out.size() == before)
        emitLine(lineStart, lineEnd);
}

QStringList formatText(const QString& text, bool autoSize, bool wordWrap, int itemWidth,
                       const Measure& m)
{
    QStringList out;
    for (const QString& segment : splitSegments(text)) {
        if (autoSize)
            out << segment;
        else
            wrapSegment(segment, itemWidth, wordWrap, m, out);
    }
    return out;
}

} // namespace formatlines
