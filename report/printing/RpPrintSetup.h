#pragma once
// Print setup: the print dialog on the program's shared printer, with the page limits and options
// of the report's printer setup, centred at one third of the screen height; and what of the
// user's choice reaches the report: the printer, copies, orientation and page range, used from
// the next generation on (the next preview included, since the orientation is the page's own).
// Nothing else chosen in the dialog reaches a print: every run reloads the printer's defaults.
//
// Knows: the report's page and printer settings, the generator's printer index, the installed
// printers, Qt's print dialog. Untrusted: nothing (the dialog returns what the user chose).
#include "report/pages/PaperSize.h"

#include <QString>
#include <functional>
#include <optional>

class QPrintDialog;
class QPrinter;
class QWidget;
class TRpGenerator;
class TRpPrinter;

struct TRpPrintSetupChoice {
    enum class Range { AllPages, Selection, PageNumbers };
    QString printer;   // the chosen printer's name
    int copies = 1;
    TRpOrientation orientation = TRpOrientation::poPortrait;
    Range range = Range::AllPages;
    int fromPage = 0;
    int toPage = 0;
};

// Page limits the dialog offers: 0..9999, or 1..page count (all of them chosen) once the
// recorder has finished its pages.
struct TRpPrintSetupLimits {
    int minPage = 0;
    int maxPage = 9999;
    int fromPage = 0;
    int toPage = 0;
};
TRpPrintSetupLimits PrintSetupLimits(const TRpPrinter* recorder);

// The report takes the choice over: Copies (a count of 1 is the printer's own copy count), the
// printer index, the page's orientation, FirstPage/LastPage (0 unless page numbers were chosen).
void ApplyPrintSetup(TRpGenerator& generator, const TRpPrintSetupChoice& choice);

// The printer object print setup works on, shared by the whole program.
QPrinter& SharedPrinter();

// Called with the dialog once it is shown (tests answer it from here).
using TRpPrintSetupShown = std::function<void(QPrintDialog&)>;

// Shows the dialog for the report, its page limits from the preview's recorder (none: not yet
// finished); its choice, or none when the user cancelled (or no printer is installed: then no
// dialog opens).
std::optional<TRpPrintSetupChoice> RunPrintSetupDialog(TRpGenerator& generator, const TRpPrinter* recorder,
                                                       QWidget* parent = nullptr,
                                                       const TRpPrintSetupShown& shown = {});

// Print setup as the preview's button asks for it: dialog, then ApplyPrintSetup.
void PrintSetup(TRpGenerator& generator, const TRpPrinter* recorder, QWidget* parent = nullptr,
                const TRpPrintSetupShown& shown = {});
