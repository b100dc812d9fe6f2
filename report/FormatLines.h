#pragma once
// Line formatting of text items: how a text becomes output lines for a box of a given width.
#include <QString>
#include <QStringList>
#include <functional>

namespace formatlines {

// Width of a text in design pixels, as the item measures it.
using WidthFn = std::function<int(const QString&)>;

// Line feeds removed, then split at every carriage return (an empty segment is an empty line).
QStringList splitSegments(const QString& text);
// Words of a segment: each runs up to and including the next space, hyphen or carriage return.
QStringList splitWords(const QString& segment);
// Lines of one segment in a box itemWidth pixels wide, without AutoSize.
void wrapSegment(const QString& segment, int itemWidth, bool wordWrap, const WidthFn& width,
                 QStringList& out);
// Output lines of one source text. Under AutoSize each segment is one line, whatever its length.
QStringList formatText(const QString& text, bool autoSize, bool wordWrap, int itemWidth,
                       const WidthFn& width);

} // namespace formatlines
