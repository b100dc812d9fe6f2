#pragma once
// Paper sizes that reports and the page recorder share: names in the order of the stored
// layouts, the Windows paper codes that saved report files and printer settings use, and the
// sheet size in millimetres (width first, portrait).
#include <array>
#include <optional>
#include <QString>

enum class TRpPaperSize {
    Default, Letter, LetterSmall, Tabloid, Ledger, Legal, Statement, Executive, A3, A4, A4Small,
    A5, B4, B5, Folio, Quarto, rp10X14, rp11X17, Note, Env9, Env10, Env11, Env12, Env14, CSheet,
    DSheet, ESheet, Custom
};

enum class TRpOrientation { poPortrait, poLandscape };

struct PaperSizeInfo {
    TRpPaperSize size;
    const char* name;    // as written in stored layouts
    int windowsCode;     // DMPAPER_* code; Custom is 256
    double widthMm;      // 0 for Default and Custom: those take their size from elsewhere
    double heightMm;
};

// The largest sheet a page may claim: A0 (841 x 1189 mm) either way round, with a little to
// spare. Saved report files are untrusted: a page frame beyond it is refused, since drawing it at
// 96 dpi would cost gigabytes.
constexpr double kLargestSheetLongSideMm = 1200;
constexpr double kLargestSheetShortSideMm = 850;

// Every paper size, in enumeration order.
const std::array<PaperSizeInfo, 28>& paperSizes();
const PaperSizeInfo& paperSizeInfo(TRpPaperSize size);
std::optional<TRpPaperSize> paperSizeFromName(const QString& name);
std::optional<TRpPaperSize> paperSizeFromWindowsCode(int code);
