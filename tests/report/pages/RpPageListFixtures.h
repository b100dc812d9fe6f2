#pragma once
// Page images and report files for the page store tests, built byte by byte so that the store's
// tests do not depend on how pages are drawn.
#include <QByteArray>
#include <QtEndian>
#include <QRandomGenerator>
#include <cmath>

namespace rpfixtures {

inline void putU32(QByteArray& b, quint32 v)
{
    char c[4];
    qToLittleEndian(v, c);
    b.append(c, 4);
}

inline quint32 getU32(const QByteArray& b, qsizetype at) { return qFromLittleEndian<quint32>(b.constData() + at); }
inline void setU32(QByteArray& b, qsizetype at, quint32 v) { qToLittleEndian(v, b.data() + at); }

// A well-formed enhanced metafile: header, comment records carrying `payload` pseudo-random bytes
// (seeded, so every page can be told apart), end record. The frame is the sheet in 0.01 mm.
inline QByteArray metafile(double widthMm, double heightMm, int payload = 64, quint32 seed = 1)
{
    QByteArray b;
    const int wPx = static_cast<int>(std::lround(widthMm * 96 / 25.4));
    const int hPx = static_cast<int>(std::lround(heightMm * 96 / 25.4));
    putU32(b, 1);
    putU32(b, 108);
    for (int v : {0, 0, wPx - 1, hPx - 1})
        putU32(b, quint32(v));
    for (int v : {0, 0, int(std::lround(widthMm * 100)) - 1, int(std::lround(heightMm * 100)) - 1})
        putU32(b, quint32(v));
    putU32(b, 0x464D4520);
    putU32(b, 0x10000);
    putU32(b, 0); // nBytes, patched below
    putU32(b, 0); // nRecords
    putU32(b, 1); // nHandles, reserved
    putU32(b, 0); // nDescription
    putU32(b, 0); // offDescription
    putU32(b, 0); // nPalEntries
    putU32(b, quint32(wPx));
    putU32(b, quint32(hPx));
    putU32(b, quint32(std::lround(widthMm)));
    putU32(b, quint32(std::lround(heightMm)));
    putU32(b, 0);
    putU32(b, 0);
    putU32(b, 0);
    putU32(b, quint32(std::lround(widthMm * 1000)));
    putU32(b, quint32(std::lround(heightMm * 1000)));
    quint32 records = 1;
    QRandomGenerator rng(seed);
    int left = payload;
    while (left > 0) {
        const int n = std::min(left, 4000);
        const int padded = (n + 3) / 4 * 4;
        putU32(b, 70);
        putU32(b, quint32(12 + padded));
        putU32(b, quint32(n));
        for (int i = 0; i < padded; ++i)
            b.append(i < n ? char(rng.bounded(256)) : '\0');
        ++records;
        left -= n;
    }
    putU32(b, 14);
    putU32(b, 20);
    putU32(b, 0);
    putU32(b, 16);
    putU32(b, 20);
    ++records;
    setU32(b, 48, quint32(b.size()));
    setU32(b, 52, records);
    return b;
}

inline QByteArray a4Portrait(int payload = 64, quint32 seed = 1) { return metafile(210, 297, payload, seed); }
inline QByteArray a4Landscape(int payload = 64, quint32 seed = 1) { return metafile(297, 210, payload, seed); }

} // namespace rpfixtures
