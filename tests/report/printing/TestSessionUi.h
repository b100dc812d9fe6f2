#pragma once
// The program's seam as the printing tests play it: errors collected, no windows unless asked for,
// and the progress window and print setup dialog handed to the test.
#include "report/printing/RpPrintSetup.h"
#include "report/session/RpSessionUi.h"

#include <QStringList>
#include <functional>

struct TestSessionUi : TRpSessionUi {
    void ShowError(const QString& text) override { errors << text; }
    bool OpensWindows() const override { return windows; }
    void WindowOpened(TRpStandardPreview& w) override
    {
        if (opened)
            opened(w);
    }
    void ProgressShown(TRpProgressForm& f) override
    {
        if (progress)
            progress(f);
    }
    void PrintSetupShown(QPrintDialog& d) override
    {
        if (setup)
            setup(d);
    }

    QStringList errors;
    bool windows = false;
    std::function<void(TRpStandardPreview&)> opened;
    std::function<void(TRpProgressForm&)> progress;
    TRpPrintSetupShown setup;
};
