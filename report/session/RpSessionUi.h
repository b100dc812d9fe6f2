#pragma once
// The seam between a report's sessions and the program around them: how an error reaches the
// user, and the moments a window or dialog of a report appears (the program does nothing there;
// tests answer the dialogs). The program installs one for each report, once.
//
// Knows: the report windows' types. Must not know: sessions or generation.
#include <QString>

class QPrintDialog;
class TRpProgressForm;
class TRpStandardPreview;

class TRpSessionUi {
public:
    virtual ~TRpSessionUi() = default;

    // The program's error box (by default a critical message box named "ErrorBox").
    virtual void ShowError(const QString& text);
    // Whether Preview opens a window and waits for it; without windows the pages stay in the
    // session and Preview returns after the run (tools, tests).
    virtual bool OpensWindows() const { return true; }
    // A preview window, before it shows; a live print's progress window, before its run; the
    // print setup dialog, once shown.
    virtual void WindowOpened(TRpStandardPreview&) {}
    virtual void ProgressShown(TRpProgressForm&) {}
    virtual void PrintSetupShown(QPrintDialog&) {}

    // The seam of a program that says nothing but the error box.
    static TRpSessionUi& Standard();
};
