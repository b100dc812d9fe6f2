#pragma once
// Pages made to cost: each small in bytes (most tiny once compressed) and each aimed at one thing
// Qt does expensively with what a record asks for (clip regions combined, turned text drawn as
// outlines, characters drawn through font fallback, fonts, pictures and pattern brushes, saved
// states under a clip, fills). The fuzzers start from small ones; the tests measure large ones
// against the work bound and a child's peak memory. Knows only the metafile format.
#include "platform/canvas/EmfFormat.h"
#include "platform/canvas/EmfRecorder.h"

#include <QString>
#include <vector>

namespace hostilepages {

// A raw record: type, 32-bit fields, then extra zero bytes; the size is filled in.
inline QByteArray rec(quint32 type, const std::vector<quint32>& fields, qsizetype extra = 0)
{
    QByteArray out;
    emf::Writer w(out);
    w.u32(type);
    w.u32(quint32(8 + fields.size() * 4 + extra));
    for (quint32 f : fields)
        w.u32(f);
    w.zeros(extra);
    return out;
}

// An A4 metafile with the recorder's header, the given records and an end record.
inline QByteArray assemble(const std::vector<QByteArray>& records, quint16 handles = 8)
{
    QByteArray page = EmfRecorder(QSize(794, 1123), QSizeF(210, 297)).finish();
    page.truncate(qsizetype(emf::loadU32(reinterpret_cast<const uchar*>(page.constData()) + 4)));
    for (const QByteArray& r : records)
        page += r;
    page += rec(emf::EMR_EOF, {0, 16, 20});
    emf::patchU32(page, 48, quint32(page.size()));
    emf::patchU32(page, 52, quint32(records.size() + 2));
    qToLittleEndian(handles, page.data() + 56);
    return page;
}


// A clip region record of n one-pixel strips `length` pixels long (2n when 0), every other row
// (horizontal) or column.
inline QByteArray stripRegion(quint32 n, bool horizontal, quint32 mode, quint32 length = 0)
{
    if (length == 0)
        length = 2 * n;
    QByteArray region;
    emf::Writer w(region);
    for (quint32 v : {32u, 1u, n, n * 16, 0u, 0u, 794u, 1123u})
        w.u32(v);
    for (quint32 i = 0; i < n; ++i) {
        const quint32 at = 2 * i;
        for (quint32 v : horizontal ? std::vector<quint32>{0, at, length, at + 1} : std::vector<quint32>{at, 0, at + 1, length})
            w.u32(v);
    }
    QByteArray r = rec(emf::EMR_EXTSELECTCLIPRGN, {quint32(region.size()), mode});
    r += region;
    emf::patchU32(r, 4, quint32(r.size()));
    return r;
}

// Rows of n strips as the clip, then columns of n strips intersected with them (n x n
// rectangles once combined), then a fill under the clip.
inline QByteArray clipProduct(quint32 n)
{
    return assemble({stripRegion(n, true, emf::RGN_COPY), stripRegion(n, false, emf::RGN_AND),
                     rec(emf::EMR_BITBLT, {0, 0, 793, 1122, 0, 0, 794, 1123, emf::BLACKNESS}, 56)});
}

// A font record for slot with the given em height and escapement (tenths of a degree).
inline QByteArray fontRecord(quint32 slot, int emHeight, int escapement)
{
    QByteArray r = rec(emf::EMR_EXTCREATEFONTINDIRECTW,
                       {slot, quint32(-emHeight), 0, quint32(escapement), quint32(escapement), 400, 0xCC000000}, 68);
    r.replace(40, 10, QByteArray("A\0r\0i\0a\0l\0", 10));
    return r;
}

// A text record of n wide characters at (x, y); with piled, every advance is 0.
inline QByteArray textRun(qint32 x, qint32 y, quint32 n, bool piled = false, char16_t first = u'A', quint32 letters = 26)
{
    QByteArray r = rec(emf::EMR_EXTTEXTOUTW, {0, 0, 10, 10, 1, 0, 0, quint32(x), quint32(y), n, 60, emf::ETO_NO_RECT,
                                              piled ? 60 + 2 * ((n + 1) / 2) * 2 : 0});
    emf::Writer w(r);
    for (quint32 i = 0; i < n; ++i)
        w.u16(quint16(first + i % letters));
    if (n % 2)
        w.u16(0);
    if (piled)
        w.zeros(4 * qsizetype(n));
    emf::patchU32(r, 4, quint32(r.size()));
    return r;
}

// Small letters turned by 30 degrees, which are drawn as outlines: records of 200 letters in
// rows down the page.
inline QByteArray tiltedText(int letters)
{
    std::vector<QByteArray> records = {fontRecord(1, 8, 300), rec(emf::EMR_SELECTOBJECT, {1})};
    for (int i = 0; i < letters / 200; ++i)
        records.push_back(textRun(10, 20 + (i * 7) % 1100, 200));
    return assemble(records);
}

// Letters turned and piled at one point, in records of 2,000.
inline QByteArray piledGlyphs(int letters)
{
    std::vector<QByteArray> records = {fontRecord(1, 8, 300), rec(emf::EMR_SELECTOBJECT, {1})};
    for (int i = 0; i < letters / 2000; ++i)
        records.push_back(textRun(400, 500, 2000, true));
    return assemble(records);
}

// A clip of n strips, then pairs of saved and restored states, each with a short line drawn
// inside.
inline QByteArray saveRestoreUnderClip(quint32 strips, int pairs)
{
    std::vector<QByteArray> records = {stripRegion(strips, true, emf::RGN_COPY)};
    for (int i = 0; i < pairs; ++i) {
        records.push_back(rec(emf::EMR_SAVEDC, {}));
        records.push_back(rec(emf::EMR_LINETO, {quint32(i % 794), 600}));
        records.push_back(rec(emf::EMR_RESTOREDC, {quint32(-1)}));
    }
    return assemble(records);
}

// Font records of ever new sizes, each selected and used for one letter.
inline QByteArray fontRecords(int count)
{
    std::vector<QByteArray> records;
    for (int i = 0; i < count; ++i) {
        records.push_back(fontRecord(1, 6 + i % 400, 0));
        records.push_back(rec(emf::EMR_SELECTOBJECT, {1}));
        records.push_back(textRun(10, 10 + i % 1000, 1));
    }
    return assemble(records);
}

// The header of a one-bit side x side picture and its two colours, black and white.
inline void oneBitPicture(emf::Writer& w, qint32 side)
{
    w.u32(40);
    w.i32(side);
    w.i32(side);
    w.u16(1);
    w.u16(1);
    w.zeros(24);
    w.u32(0);
    w.u32(0x00FFFFFF);
}

// Pattern brushes of side x side one-bit pixels, created and never used.
inline QByteArray patternBrushes(int count, qint32 side)
{
    std::vector<QByteArray> records;
    const quint32 bits = quint32((side + 31) / 32 * 4) * quint32(side);
    for (int i = 0; i < count; ++i) {
        QByteArray r = rec(emf::EMR_CREATEDIBPATTERNBRUSHPT, {quint32(1 + i), 0, 32, 48, 80, bits});
        emf::Writer w(r);
        oneBitPicture(w, side);
        w.zeros(bits);
        emf::patchU32(r, 4, quint32(r.size()));
        records.push_back(r);
    }
    return assemble(records, quint16(count + 1));
}

// A one-bit picture of side x side pixels stretched over the page.
inline QByteArray largePicture(qint32 side)
{
    const quint32 bits = quint32((side + 31) / 32 * 4) * quint32(side);
    QByteArray r = rec(emf::EMR_STRETCHDIBITS, {0, 0, 793, 1122, 0, 0, 0, 0, quint32(side), quint32(side), 80, 48, 128,
                                                bits, 0, emf::SRCCOPY, 794, 1123});
    emf::Writer w(r);
    oneBitPicture(w, side);
    for (quint32 i = 0; i < bits; ++i)
        w.u8(quint8(i * 37 >> 3));
    emf::patchU32(r, 4, quint32(r.size()));
    return assemble({r});
}

// Upright letters of a script the report fonts lack (drawn through font fallback), in records
// of 2,000.
inline QByteArray foreignLetters(int letters)
{
    std::vector<QByteArray> records;
    for (int i = 0; i < letters / 2000; ++i)
        records.push_back(textRun(10, 20 + (i * 13) % 1100, 2000, false, u'\u4E00', 5000));
    return assemble(records);
}

// n fills of the whole page.
inline QByteArray pageFills(int n)
{
    return assemble(std::vector<QByteArray>(size_t(n), rec(emf::EMR_BITBLT, {0, 0, 793, 1122, 0, 0, 794, 1123, emf::BLACKNESS}, 56)));
}

} // namespace hostilepages
