#pragma once
// Printing a report: the live path (the report generated anew onto a printer recorder under the
// progress window, the preview keeping its pages), the stored path (the pages of a loaded report
// file played onto a print job) and the stored pages saved as a PDF file the way the stored path
// prints them. All raise their errors; whoever asked shows them.
//
// Knows: generation's run, the recorder's printer side and its stored pages, the progress window.
// Knows nothing of the preview window or of who owns the recorder: the caller keeps the recorder
// alive and its pages unchanged until the call returns.
// Untrusted: stored pages (a damaged one raises ERpError and the job is aborted), the PDF file's
// name (any folder, writable or not).
#include <functional>

class QString;
class TRpGenerator;
class TRpPrinter;
class TRpProgressForm;

namespace rpprinting {

// The live path: with a run going on nothing happens. Otherwise a fresh recorder with the printer
// as destination, under the progress window (shown when the report's ShowProgress is set; handed
// to shown once it exists), gets one generation run; the job is printed, or discarded when Cancel
// was pressed or the run failed. Raises ERpError when no printer is installed, no page is in the
// range or the print service refuses the job, and the run's own errors.
void PrintLive(TRpGenerator& generator, const std::function<void(TRpProgressForm&)>& shown = {});

// The stored path: plays a finished recorder's pages FirstPage..LastPage (all when both are 0)
// onto the printable area of a print job, letting pending events run before each page; the
// recorder's cancelled flag aborts the job. Answers the job's number. Raises ERpError when no
// printer is installed, no stored page is in the range, the print service refuses the job or a
// stored page is damaged; the job is then aborted.
int PrintStoredPages(TRpPrinter& recorder);

// A finished recorder's pages, all of them, written to a PDF file as the stored path puts them on
// paper: the recorder's paper, orientation and printer edges, each page played at the printer's
// resolution. Fonts go into the file, so its text stays text. The file is written beside the name
// and renamed over it once whole; on an error (a stored page damaged, the folder not writable, the
// disk full) the name keeps what it held, no part file is left, and ERpError names the file and
// the cause. Needs no printer. Unfinished, empty or cancelled part way: nothing is written.
void SaveStoredPagesAsPdf(TRpPrinter& recorder, const QString& fileName);

} // namespace rpprinting
