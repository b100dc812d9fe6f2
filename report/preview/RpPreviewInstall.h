#pragma once
// Plugs the preview window into a report's generator: Preview then opens a window on its fresh
// recorder before the run and returns when the window closes. A second Preview while the window
// is open (and no run goes on) runs into the same window with the new recorder.
//
// Knows: the generator's hooks and entry points, the preview window. Must not know: which report
// or data it is. Untrusted: nothing.
#include <QString>
#include <functional>

class TRpGenerator;
class TRpPrinter;
class TRpStandardPreview;

namespace rppreview {

struct Options {
    // How errors of the window's commands are shown (default: a message box of the window).
    std::function<void(const QString& text)> ShowError;
    // Print of stored pages (a loaded report file), set by the printing room; none: nothing.
    std::function<void(TRpPrinter& recorder)> PrintStoredPages;
    // Called with every window opened, before it is shown (tests answer its dialogs here).
    std::function<void(TRpStandardPreview& window)> OnOpened;
};

void Install(TRpGenerator& generator, Options options = {});

// Before the generator goes: its open window (if any) is closed without asking the generator for
// anything, and the hook is removed.
void Uninstall(TRpGenerator& generator);

// Closes every open preview window (the program is ending): each closing releases its recorder or
// cancels its run, so the Preview calls waiting for them return.
void CloseAll();

// The window that shows the generator's pages now, or null.
TRpStandardPreview* OpenWindow(const TRpGenerator& generator);

} // namespace rppreview
