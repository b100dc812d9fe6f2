#include "report/pages/PaperSize.h"

namespace {
using P = TRpPaperSize;
// The three sheet sizes are 100 x 100 mm on purpose: that is what stored files carry.
constexpr std::array<PaperSizeInfo, 28> kSizes{{
    {P::Default, "Default", 0, 0, 0},
    {P::Letter, "Letter", 1, 215.9, 279.4},
    {P::LetterSmall, "LetterSmall", 2, 215.9, 279.4},
    {P::Tabloid, "Tabloid", 3, 279.4, 431.8},
    {P::Ledger, "Ledger", 4, 431.8, 279.4},
    {P::Legal, "Legal", 5, 215.9, 355.6},
    {P::Statement, "Statement", 6, 139.7, 215.9},
    {P::Executive, "Executive", 7, 190.5, 254.0},
    {P::A3, "A3", 8, 297, 420},
    {P::A4, "A4", 9, 210, 297},
    {P::A4Small, "A4Small", 10, 210, 297},
    {P::A5, "A5", 11, 148, 210},
    {P::B4, "B4", 12, 250, 354},
    {P::B5, "B5", 13, 182, 257},
    {P::Folio, "Folio", 14, 215.9, 330.2},
    {P::Quarto, "Quarto", 15, 215, 275},
    {P::rp10X14, "rp10X14", 16, 254.0, 355.6},
    {P::rp11X17, "rp11X17", 17, 279.4, 431.8},
    {P::Note, "Note", 18, 215.9, 279.0},
    {P::Env9, "Env9", 19, 98.43, 225.4},
    {P::Env10, "Env10", 20, 104.8, 241.3},
    {P::Env11, "Env11", 21, 114.3, 263.5},
    {P::Env12, "Env12", 22, 101.6, 279.4},
    {P::Env14, "Env14", 23, 127.0, 292.1},
    {P::CSheet, "CSheet", 24, 100, 100},
    {P::DSheet, "DSheet", 25, 100, 100},
    {P::ESheet, "ESheet", 26, 100, 100},
    {P::Custom, "Custom", 256, 0, 0},
}};
} // namespace

const std::array<PaperSizeInfo, 28>& paperSizes() { return kSizes; }

const PaperSizeInfo& paperSizeInfo(TRpPaperSize size) { return kSizes[static_cast<size_t>(size)]; }

std::optional<TRpPaperSize> paperSizeFromName(const QString& name)
{
    for (const auto& p : kSizes)
        if (name.compare(QLatin1String(p.name), Qt::CaseInsensitive) == 0)
            return p.size;
    return std::nullopt;
}

std::optional<TRpPaperSize> paperSizeFromWindowsCode(int code)
{
    for (const auto& p : kSizes)
        if (p.windowsCode == code)
            return p.size;
    return std::nullopt;
}
