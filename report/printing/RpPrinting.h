#pragma once
// Printing a report: the live path (the report generated anew onto a printer recorder under the
// progress window, the preview keeping its pages) and the preview's requests. Install() plugs
// Print and Print setup into a report's generator; errors of a print started from a window
// reach the user through ShowError, never as a print.
//
// Knows: generation's entry points, the recorder's printer side, the progress window, print
// setup. Knows nothing of the preview window itself.
#include <QString>
#include <functional>

class QWidget;
class TRpGenerator;
class TRpPrinter;
class TRpProgressForm;

namespace rpprinting {

// Installs PrintRun (the live path, errors shown) and PrintSetup on the generator.
void Install(TRpGenerator& generator);

// The live path: with a run going on nothing happens. Otherwise a fresh recorder with the printer
// as destination, under the progress window (shown when the report's ShowProgress is set), gets
// one generation run; the job is printed, or discarded when Cancel was pressed. Raises ERpError
// when no printer is installed, no page is in the range or the print service refuses the job,
// and the run's own errors.
void PrintLive(TRpGenerator& generator);

// The preview's Print for its recorder, with errors shown through ShowError.
void PrintFromPreview(TRpPrinter& recorder);

// Shows an error to the user: the standard error box unless replaced (tests collect them).
extern std::function<void(const QString& message)> ShowError;

// Called with the progress window of a live print once it exists (tests press Cancel from it).
extern std::function<void(TRpProgressForm& form)> ProgressShown;

} // namespace rpprinting
