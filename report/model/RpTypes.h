#pragma once
// The small value types of the report model and the names they carry in stored layouts:
// colours, fonts, frames, pens, brushes and the enumerations of bands and items.
// Knows: the values and their stored names, the classic Windows system colours. Must not know:
// layout text, objects, painting. Untrusted: names and numbers from layouts: an unknown name
// parses to nothing, a system colour past the table shows black.
#include <QColor>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>
#include <span>

// Colour as stored: 0x00BBGGRR, or a system colour 0x80000000 | index (clWindowText, ...).
using TColor = std::int32_t;

namespace rpcolor {
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clWindowText = static_cast<TColor>(0x80000008u);
constexpr TColor clWindow = static_cast<TColor>(0x80000005u);
constexpr TColor clBtnFace = static_cast<TColor>(0x8000000Fu);
// Named colour (clBlack, clRed, clWindowText, ...) by its stored name.
std::optional<TColor> fromName(const QString& name);
// Stored name of a colour, or empty when it has none.
QString name(TColor c);
// What the colour shows as; system colours take the classic Windows values.
QColor toQColor(TColor c);
} // namespace rpcolor

// Name <-> value of an enumeration as written in stored layouts, in enumeration order.
template <typename E>
struct EnumNames {
    std::span<const char* const> names;
    std::optional<E> parse(const QString& s) const
    {
        for (size_t i = 0; i < names.size(); ++i)
            if (s.compare(QLatin1String(names[i]), Qt::CaseInsensitive) == 0)
                return static_cast<E>(i);
        return std::nullopt;
    }
    QString name(E v) const
    {
        const auto i = static_cast<size_t>(v);
        return i < names.size() ? QString::fromLatin1(names[i]) : QString::number(i);
    }
};

enum class TAlignment { taLeftJustify, taRightJustify, taCenter };
enum class TRpBandType {
    rbTitle, rbPageHeader, rbDetail, rbPageFooter, rbSummary, rbGroupHeader, rbGroupFooter,
    rbSubDetail, rbColumnHeader, rbOverlay, rbChild
};
enum class TRpShapeType {
    rpsRectangle, rpsCircle, rpsVertLine, rpsHorLine, rpsTopAndBottom, rpsRightAndLeft
};
enum class TRpSysDataType {
    rpsTime, rpsDate, rpsDateTime, rpsPageNumber, rpsReportTitle, rpsDetailCount, rpsDetailNo
};
enum class TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum class TBrushStyle {
    bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross
};
enum class TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
enum class TRpReportOption { FirstPageHeader, LastPageFooter, Compression };

extern const EnumNames<TAlignment> kAlignmentNames;
extern const EnumNames<TRpBandType> kBandTypeNames;
extern const EnumNames<TRpShapeType> kShapeTypeNames;
extern const EnumNames<TRpSysDataType> kSysDataNames;
extern const EnumNames<TPenStyle> kPenStyleNames;
extern const EnumNames<TBrushStyle> kBrushStyleNames;
extern const EnumNames<TFontStyle> kFontStyleNames;
extern const EnumNames<TRpReportOption> kReportOptionNames;

// Small set of enumeration values, as a bit mask by enumeration order.
template <typename E>
struct EnumSet {
    unsigned bits = 0;
    bool has(E v) const { return (bits >> static_cast<unsigned>(v)) & 1u; }
    void set(E v, bool on = true)
    {
        const unsigned m = 1u << static_cast<unsigned>(v);
        bits = on ? (bits | m) : (bits & ~m);
    }
    bool operator==(const EnumSet&) const = default;
};

// Character sets as stored (DEFAULT_CHARSET, RUSSIAN_CHARSET, ...).
std::optional<int> charsetFromName(const QString& name);
QString charsetName(int charset);

// Font as the stored layouts describe it. Height < 0 is the em height in pixels at 96 per inch,
// the authority; Size in points follows from it.
struct TRpFont {
    QString Name = QStringLiteral("Arial");
    int Height = -13;
    TColor Color = rpcolor::clWindowText;
    EnumSet<TFontStyle> Style;
    int Charset = 1;   // DEFAULT_CHARSET
    int Size() const;
    void SetSize(int points);
    bool operator==(const TRpFont&) const = default;
};

struct TRpFrame {
    TColor Color = rpcolor::clBlack;
    bool DrawTop = false;
    bool DrawBottom = false;
    bool DrawLeft = false;
    bool DrawRight = false;
    TPenStyle Style = TPenStyle::psSolid;
    int Width = 1;   // points; -1 is one device pixel
    bool AnySide() const { return DrawTop || DrawBottom || DrawLeft || DrawRight; }
};

struct TRpPen {
    TColor Color = rpcolor::clBlack;
    TPenStyle Style = TPenStyle::psSolid;
    int Width = 1;   // device pixels
};

struct TRpBrush {
    TColor Color = rpcolor::clWhite;
    TBrushStyle Style = TBrushStyle::bsSolid;
};
