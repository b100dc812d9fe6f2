#include "report/FormatLines.h"

namespace formatlines {

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
        const QChar c = segment[i];
        if (c == u' ' || c == u'-' || c == u'\r') {
            words << segment.mid(start, i - start + 1);
            start = i + 1;
        }
    }
    if (start < segment.size())
        words << segment.mid(start);
    return words;
}

void wrapSegment(const QString& segment, int itemWidth, bool wordWrap, const WidthFn& width,
                 QStringList& out)
{
    const qsizetype before = out.size();
    QString line;
    // Without WordWrap, once a word has overflowed the segment's last partial line is dropped.
    bool dropLast = false;
    for (const QString& word : splitWords(segment)) {
        if (width(line + word) <= itemWidth) {
            line += word;
            continue;
        }
        if (line.isEmpty()) {
            // A word wider than the box on its own line keeps what fits; the rest is dropped.
            for (const QChar c : word) {
                if (width(line + c) < itemWidth)
                    line += c;
                else
                    break;
            }
            out << line;
            line.clear();
            if (!wordWrap)
                dropLast = true;
            continue;
        }
        out << line;
        line.clear();
        if (!wordWrap) {
            dropLast = true;
            continue;
        }
        if (width(word) > itemWidth) {
            if (itemWidth <= 0)
                continue;
            // Shortened from its end until it fits: the longest fitting start. Grown from the
            // front so that a huge word costs no more measures than the box is wide.
            QString cut;
            for (const QChar c : word) {
                if (width(cut + c) <= itemWidth)
                    cut += c;
                else
                    break;
            }
            out << cut;
        } else {
            line = word;
        }
    }
    if (dropLast)
        return;
    if (!line.isEmpty() || out.size() == before)
        out << line;
}

QStringList formatText(const QString& text, bool autoSize, bool wordWrap, int itemWidth,
                       const WidthFn& width)
{
    QStringList out;
    for (const QString& segment : splitSegments(text)) {
        if (autoSize)
            out << segment;
        else
            wrapSegment(segment, itemWidth, wordWrap, width, out);
    }
    return out;
}

} // namespace formatlines
