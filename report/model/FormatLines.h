#pragma once
// Line formatting of text items: how a text becomes output lines for a box of a given width.
// Knows: segments, words and where lines break, widths through the Measure it is handed.
// Must not know: fonts, items, reports, painting. Untrusted: the text and the width (from layouts
// and result rows): any length, any width, zero included; extents stay within int range.
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace formatlines {

// How an item measures: the advance of each character of a text in pixels (a surrogate pair
// carries its advance on the first half), and the design-pixel width of a whole-pixel extent.
struct Measure {
    std::function<std::vector<double>(const QString&)> advances;
    std::function<int(int extent)> width;
};

// Whole pixels that cover a sum of advances, kept within int range.
int extentOf(double advanceSum);
// Design-pixel width of a text.
int textWidth(const QString& text, const Measure& m);

// Line feeds removed, then split at every carriage return (an empty segment is an empty line).
QStringList splitSegments(const QString& text);
// Words of a segment: each runs up to and including the next space, hyphen or carriage return.
QStringList splitWords(const QString& segment);
// Lines of one segment in a box itemWidth pixels wide, without AutoSize. Every width asked is
// a sum over the segment's advances, so a long text costs time in proportion to its length.
void wrapSegment(const QString& segment, int itemWidth, bool wordWrap, const Measure& m,
                 QStringList& out);
// Output lines of one source text. Under AutoSize each segment is one line, whatever its length.
QStringList formatText(const QString& text, bool autoSize, bool wordWrap, int itemWidth,
                       const Measure& m);

} // namespace formatlines
