#pragma once
// Plays an enhanced metafile (ours or one another program wrote) onto a QPainter, mapping the
// metafile's frame onto a target rectangle. Metafiles are untrusted input: every size, offset,
// handle and bitmap dimension is checked against the bytes present, and a malformed file raises
// EmfError naming the record and what is wrong. Records it does not know are skipped. What a page
// costs to draw is bounded too (kMaxPageWork), whatever the size of the target.
#include "platform/Exception.h"

#include <QByteArray>
#include <QRectF>
#include <QSize>
#include <QString>

class QPainter;

class EmfError : public Exception {
public:
    using Exception::Exception;
};

struct EmfHeader {
    // Inclusive rectangles as stored: bounds in device pixels, frame in 0.01 mm.
    qint32 boundsLeft = 0, boundsTop = 0, boundsRight = -1, boundsBottom = -1;
    qint32 frameLeft = 0, frameTop = 0, frameRight = 0, frameBottom = 0;
    quint32 bytes = 0;    // whole metafile, end record included
    quint32 records = 0;  // header and end record included
    quint16 handles = 0;  // highest object slot + 1
    QSize devicePixels;       // reference device in pixels
    QSize deviceMillimetres;  // and in millimetres
    QSize deviceMicrometres;  // 0 x 0 when the header is of the short form
    QString description;

    // Size of the frame in millimetres, and in pixels at the given resolution.
    QSizeF frameMillimetres() const;
    QSize sizeInPixels(double dpi = 96.0) const;
};

class EmfPlayer {
public:
    // The most a page may cost to draw, in the work units of EmfPainter: five hundred areas of
    // the page covered, a thousand page heights of outline edges, or half a million records,
    // points and glyphs (a few tenths of a second at 96 dpi or as PDF). Reports use a few
    // hundredths of it; a page that asks for more is damaged or hostile, and drawing it stops
    // with EmfError naming the record.
    static constexpr double kMaxPageWork = 500'000;

    // Header of the metafile at the start of bytes; raises EmfError when it is none or its
    // declared size runs past the bytes given.
    static EmfHeader readHeader(const QByteArray& bytes);
    // Length the metafile starting at data declares for itself (its header's byte count), checked
    // against the available bytes; raises EmfError otherwise. Lets a reader take exactly one
    // metafile out of a longer stream.
    static qint64 metafileLength(const char* data, qint64 available);
    // Draws the metafile with its frame mapped onto target (in the painter's coordinates). The
    // painter's state is restored afterwards. Raises EmfError on malformed input; what was drawn
    // before the fault stays drawn. Returns the work units the page cost. workLimit, at most
    // kMaxPageWork, is what a reader with a budget for a whole file has left for this page.
    static double play(const QByteArray& bytes, QPainter& painter, const QRectF& target,
                       double workLimit = kMaxPageWork);
};
