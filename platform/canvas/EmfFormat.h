#pragma once
// Enhanced metafile record numbers, constants and little-endian field access, shared by the
// recorder and the player. Every record is {u32 type, u32 size, payload}; size counts the
// 8-byte prefix and is a multiple of 4.
#include <QByteArray>
#include <QtEndian>
#include <cstdint>
#include <cstring>

namespace emf {

enum RecordType : quint32 {
    EMR_HEADER = 1,
    EMR_POLYBEZIER = 2,
    EMR_POLYGON = 3,
    EMR_POLYLINE = 4,
    EMR_POLYBEZIERTO = 5,
    EMR_POLYLINETO = 6,
    EMR_SETWINDOWEXTEX = 9,
    EMR_SETWINDOWORGEX = 10,
    EMR_SETVIEWPORTEXTEX = 11,
    EMR_SETVIEWPORTORGEX = 12,
    EMR_EOF = 14,
    EMR_SETMAPMODE = 17,
    EMR_SETBKMODE = 18,
    EMR_SETPOLYFILLMODE = 19,
    EMR_SETROP2 = 20,
    EMR_SETSTRETCHBLTMODE = 21,
    EMR_SETTEXTALIGN = 22,
    EMR_SETTEXTCOLOR = 24,
    EMR_SETBKCOLOR = 25,
    EMR_MOVETOEX = 27,
    EMR_EXCLUDECLIPRECT = 29,
    EMR_INTERSECTCLIPRECT = 30,
    EMR_SAVEDC = 33,
    EMR_RESTOREDC = 34,
    EMR_SETWORLDTRANSFORM = 35,
    EMR_MODIFYWORLDTRANSFORM = 36,
    EMR_SELECTOBJECT = 37,
    EMR_CREATEPEN = 38,
    EMR_CREATEBRUSHINDIRECT = 39,
    EMR_DELETEOBJECT = 40,
    EMR_ELLIPSE = 42,
    EMR_RECTANGLE = 43,
    EMR_ROUNDRECT = 44,
    EMR_SELECTPALETTE = 48,
    EMR_CREATEPALETTE = 49,
    EMR_LINETO = 54,
    EMR_GDICOMMENT = 70,
    EMR_EXTSELECTCLIPRGN = 75,
    EMR_BITBLT = 76,
    EMR_STRETCHBLT = 77,
    EMR_STRETCHDIBITS = 81,
    EMR_EXTCREATEFONTINDIRECTW = 82,
    EMR_EXTTEXTOUTA = 83,
    EMR_EXTTEXTOUTW = 84,
    EMR_POLYGON16 = 86,
    EMR_POLYLINE16 = 87,
    EMR_POLYLINETO16 = 89,
    EMR_CREATEMONOBRUSH = 93,
    EMR_CREATEDIBPATTERNBRUSHPT = 94,
    EMR_EXTCREATEPEN = 95,
};

constexpr quint32 kSignature = 0x464D4520; // " EMF"
constexpr quint32 kVersion = 0x10000;
constexpr int kHeaderSize = 108;           // fixed header part written by us (with pixel format fields)
constexpr quint32 kStockObject = 0x80000000;

// Stock objects (kStockObject | n).
enum StockObject : quint32 {
    WHITE_BRUSH = 0,
    LTGRAY_BRUSH = 1,
    GRAY_BRUSH = 2,
    DKGRAY_BRUSH = 3,
    BLACK_BRUSH = 4,
    NULL_BRUSH = 5,
    WHITE_PEN = 6,
    BLACK_PEN = 7,
    NULL_PEN = 8,
    OEM_FIXED_FONT = 10,
    ANSI_FIXED_FONT = 11,
    ANSI_VAR_FONT = 12,
    SYSTEM_FONT = 13,
    DEVICE_DEFAULT_FONT = 14,
    DEFAULT_PALETTE = 15,
    SYSTEM_FIXED_FONT = 16,
    DEFAULT_GUI_FONT = 17,
    DC_BRUSH = 18,
    DC_PEN = 19,
};

enum BrushStyle : quint32 { BS_SOLID = 0, BS_NULL = 1, BS_HATCHED = 2 };
enum HatchStyle : quint32 {
    HS_HORIZONTAL = 0,
    HS_VERTICAL = 1,
    HS_FDIAGONAL = 2,
    HS_BDIAGONAL = 3,
    HS_CROSS = 4,
    HS_DIAGCROSS = 5,
};
enum PenStyle : quint32 { PS_SOLID = 0, PS_DASH = 1, PS_DOT = 2, PS_DASHDOT = 3, PS_DASHDOTDOT = 4, PS_NULL = 5, PS_INSIDEFRAME = 6 };
constexpr quint32 PS_STYLE_MASK = 0x0F;

enum TextAlign : quint32 {
    TA_UPDATECP = 1,
    TA_LEFT = 0,
    TA_RIGHT = 2,
    TA_CENTER = 6,
    TA_TOP = 0,
    TA_BOTTOM = 8,
    TA_BASELINE = 24,
};
enum BkMode : quint32 { TRANSPARENT = 1, OPAQUE = 2 };
enum StretchMode : quint32 { BLACKONWHITE = 1, WHITEONBLACK = 2, COLORONCOLOR = 3, HALFTONE = 4 };
enum ExtTextOptions : quint32 { ETO_OPAQUE = 2, ETO_CLIPPED = 4, ETO_GLYPH_INDEX = 0x10, ETO_PDY = 0x2000, ETO_NO_RECT = 0x100 };
enum RegionMode : quint32 { RGN_AND = 1, RGN_OR = 2, RGN_XOR = 3, RGN_DIFF = 4, RGN_COPY = 5 };
enum MapMode : quint32 {
    MM_TEXT = 1,
    MM_LOMETRIC = 2,
    MM_HIMETRIC = 3,
    MM_LOENGLISH = 4,
    MM_HIENGLISH = 5,
    MM_TWIPS = 6,
    MM_ISOTROPIC = 7,
    MM_ANISOTROPIC = 8,
};
enum RasterOp : quint32 {
    SRCCOPY = 0x00CC0020,
    PATCOPY = 0x00F00021,
    BLACKNESS = 0x00000042,
    WHITENESS = 0x00FF0062,
};
enum WorldTransformMode : quint32 { MWT_IDENTITY = 1, MWT_LEFTMULTIPLY = 2, MWT_RIGHTMULTIPLY = 3, MWT_SET = 4 };
constexpr quint32 DIB_RGB_COLORS = 0;
constexpr quint32 BI_RGB = 0;
constexpr quint32 BI_BITFIELDS = 3;

// GDI colour reference 0x00BBGGRR.
inline quint32 colorRef(int r, int g, int b)
{
    return quint32(r & 0xFF) | (quint32(g & 0xFF) << 8) | (quint32(b & 0xFF) << 16);
}

// Appends little-endian fields to a growing byte array without temporary allocations.
class Writer {
public:
    explicit Writer(QByteArray& out) : out_(out) {}
    void u32(quint32 v)
    {
        const quint32 le = qToLittleEndian(v);
        out_.append(reinterpret_cast<const char*>(&le), 4);
    }
    void i32(qint32 v) { u32(quint32(v)); }
    void u16(quint16 v)
    {
        const quint16 le = qToLittleEndian(v);
        out_.append(reinterpret_cast<const char*>(&le), 2);
    }
    void u8(quint8 v) { out_.append(char(v)); }
    void f32(float v)
    {
        quint32 bits;
        std::memcpy(&bits, &v, 4);
        u32(bits);
    }
    void bytes(const char* data, qsizetype n) { out_.append(data, n); }
    void zeros(qsizetype n) { out_.append(n, '\0'); }
    qsizetype size() const { return out_.size(); }

private:
    QByteArray& out_;
};

// Overwrites a 32-bit little-endian field already written.
inline void patchU32(QByteArray& out, qsizetype at, quint32 v)
{
    qToLittleEndian(v, out.data() + at);
}

// Unchecked little-endian loads; callers check the bounds first (see EmfPlayer).
inline quint32 loadU32(const uchar* p) { return qFromLittleEndian<quint32>(p); }
inline qint32 loadI32(const uchar* p) { return qint32(qFromLittleEndian<quint32>(p)); }
inline quint16 loadU16(const uchar* p) { return qFromLittleEndian<quint16>(p); }
inline qint16 loadI16(const uchar* p) { return qint16(qFromLittleEndian<quint16>(p)); }
inline float loadF32(const uchar* p)
{
    const quint32 bits = loadU32(p);
    float v;
    std::memcpy(&v, &bits, 4);
    return v;
}

} // namespace emf
