#include "report/model/RpTypes.h"

#include "report/model/RpUnits.h"

#include <cstdlib>

namespace {
constexpr const char* kAlignment[] = {"taLeftJustify", "taRightJustify", "taCenter"};
constexpr const char* kBandType[] = {"rbTitle",       "rbPageHeader",  "rbDetail",
                                     "rbPageFooter",  "rbSummary",     "rbGroupHeader",
                                     "rbGroupFooter", "rbSubDetail",   "rbColumnHeader",
                                     "rbOverlay",     "rbChild"};
constexpr const char* kShapeType[] = {"rpsRectangle", "rpsCircle",       "rpsVertLine",
                                      "rpsHorLine",   "rpsTopAndBottom", "rpsRightAndLeft"};
constexpr const char* kSysData[] = {"rpsTime",        "rpsDate",        "rpsDateTime",
                                    "rpsPageNumber",  "rpsReportTitle", "rpsDetailCount",
                                    "rpsDetailNo"};
constexpr const char* kPenStyle[] = {"psSolid", "psDash",  "psDot",        "psDashDot",
                                     "psDashDotDot", "psClear", "psInsideFrame"};
constexpr const char* kBrushStyle[] = {"bsSolid",     "bsClear",     "bsHorizontal",
                                       "bsVertical",  "bsFDiagonal", "bsBDiagonal",
                                       "bsCross",     "bsDiagCross"};
constexpr const char* kFontStyle[] = {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"};
constexpr const char* kReportOption[] = {"FirstPageHeader", "LastPageFooter", "Compression"};

struct NamedColor {
    const char* name;
    std::uint32_t value;
};
// The classic named colours; system colours resolve to their usual Windows values below.
constexpr NamedColor kColors[] = {
    {"clBlack", 0x000000},      {"clMaroon", 0x000080},   {"clGreen", 0x008000},
    {"clOlive", 0x008080},      {"clNavy", 0x800000},     {"clPurple", 0x800080},
    {"clTeal", 0x808000},       {"clGray", 0x808080},     {"clSilver", 0xC0C0C0},
    {"clRed", 0x0000FF},        {"clLime", 0x00FF00},     {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},       {"clFuchsia", 0xFF00FF},  {"clAqua", 0xFFFF00},
    {"clWhite", 0xFFFFFF},      {"clScrollBar", 0x80000000}, {"clBackground", 0x80000001},
    {"clActiveCaption", 0x80000002}, {"clInactiveCaption", 0x80000003},
    {"clMenu", 0x80000004},     {"clWindow", 0x80000005}, {"clWindowFrame", 0x80000006},
    {"clMenuText", 0x80000007}, {"clWindowText", 0x80000008},
    {"clCaptionText", 0x80000009}, {"clActiveBorder", 0x8000000A},
    {"clInactiveBorder", 0x8000000B}, {"clAppWorkSpace", 0x8000000C},
    {"clHighlight", 0x8000000D}, {"clHighlightText", 0x8000000E}, {"clBtnFace", 0x8000000F},
    {"clBtnShadow", 0x80000010}, {"clGrayText", 0x80000011}, {"clBtnText", 0x80000012},
    {"clInactiveCaptionText", 0x80000013}, {"clBtnHighlight", 0x80000014},
    {"clNone", 0x1FFFFFFF},     {"clDefault", 0x20000000},
};
// Classic Windows values of the system colours, 0x00BBGGRR, by index.
constexpr std::uint32_t kSystemColors[] = {
    0xC8C8C8, 0x000000, 0xD1B499, 0xDBCDBF, 0xF0F0F0, 0xFFFFFF, 0x646464, 0x000000, 0x000000,
    0x000000, 0xB4B4B4, 0xFCF7F4, 0xABABAB, 0xFF9933, 0xFFFFFF, 0xF0F0F0, 0xA0A0A0, 0x6D6D6D,
    0x000000, 0x000000, 0xFFFFFF,
};

struct NamedCharset {
    const char* name;
    int value;
};
constexpr NamedCharset kCharsets[] = {
    {"ANSI_CHARSET", 0},       {"DEFAULT_CHARSET", 1},     {"SYMBOL_CHARSET", 2},
    {"MAC_CHARSET", 77},       {"SHIFTJIS_CHARSET", 128},  {"HANGEUL_CHARSET", 129},
    {"JOHAB_CHARSET", 130},    {"GB2312_CHARSET", 134},    {"CHINESEBIG5_CHARSET", 136},
    {"GREEK_CHARSET", 161},    {"TURKISH_CHARSET", 162},   {"VIETNAMESE_CHARSET", 163},
    {"HEBREW_CHARSET", 177},   {"ARABIC_CHARSET", 178},    {"BALTIC_CHARSET", 186},
    {"RUSSIAN_CHARSET", 204},  {"THAI_CHARSET", 222},      {"EASTEUROPE_CHARSET", 238},
    {"OEM_CHARSET", 255},
};
} // namespace

const EnumNames<TAlignment> kAlignmentNames{kAlignment};
const EnumNames<TRpBandType> kBandTypeNames{kBandType};
const EnumNames<TRpShapeType> kShapeTypeNames{kShapeType};
const EnumNames<TRpSysDataType> kSysDataNames{kSysData};
const EnumNames<TPenStyle> kPenStyleNames{kPenStyle};
const EnumNames<TBrushStyle> kBrushStyleNames{kBrushStyle};
const EnumNames<TFontStyle> kFontStyleNames{kFontStyle};
const EnumNames<TRpReportOption> kReportOptionNames{kReportOption};

namespace rpcolor {

std::optional<TColor> fromName(const QString& n)
{
    for (const auto& c : kColors)
        if (n.compare(QLatin1String(c.name), Qt::CaseInsensitive) == 0)
            return static_cast<TColor>(c.value);
    return std::nullopt;
}

QString name(TColor value)
{
    for (const auto& c : kColors)
        if (static_cast<TColor>(c.value) == value)
            return QString::fromLatin1(c.name);
    return {};
}

QColor toQColor(TColor c)
{
    auto v = static_cast<std::uint32_t>(c);
    if (v & 0x80000000u) {
        const std::uint32_t index = v & 0xFFu;
        v = index < std::size(kSystemColors) ? kSystemColors[index] : 0;
    }
    return QColor(static_cast<int>(v & 0xFFu), static_cast<int>((v >> 8) & 0xFFu),
                  static_cast<int>((v >> 16) & 0xFFu));
}

} // namespace rpcolor

std::optional<int> charsetFromName(const QString& n)
{
    for (const auto& c : kCharsets)
        if (n.compare(QLatin1String(c.name), Qt::CaseInsensitive) == 0)
            return c.value;
    return std::nullopt;
}

QString charsetName(int charset)
{
    for (const auto& c : kCharsets)
        if (c.value == charset)
            return QString::fromLatin1(c.name);
    return QString::number(charset);
}

int TRpFont::Size() const
{
    // Points from the em height at 96 pixels per inch.
    return rpunits::roundToInt(static_cast<long double>(-Height) * 72.0L / 96.0L);
}

void TRpFont::SetSize(int points)
{
    Height = -rpunits::roundToInt(static_cast<long double>(points) * 96.0L / 72.0L);
}
