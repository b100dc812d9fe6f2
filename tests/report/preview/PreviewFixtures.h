#pragma once
// Shared by the preview tests: a stand-in for a generation run that records pages the way a real
// run does (the event queue runs once per record, the run stops when cancelled), and a window
// whose dialogs answer from the test.
#include "platform/print/PrinterInfo.h"
#include "report/pages/RpPrinter.h"
#include "report/pages/RpPrinterFixtures.h"
#include "report/preview/RpStandardPreview.h"

#include <QCoreApplication>
#include <QStringList>
#include <functional>

namespace previewfixtures {

// Records `pages` pages of `recordsPerPage` records each, letting the queue run before each
// record and reporting progress after it as a run over a data set does; stops when the recorder
// is cancelled and then aborts. `afterRecord(record)` runs after each record.
inline void runDocument(TRpPrinter& rp, int pages, int recordsPerPage = 1,
                        const std::function<void(int)>& afterRecord = {}, bool progress = true)
{
    rp.BeginDoc();
    const int records = pages * recordsPerPage;
    bool cancelled = false;
    for (int r = 0; r < records; ++r) {
        QCoreApplication::processEvents();
        if (rp.Cancelled()) {
            cancelled = true;
            break;
        }
        if (r % recordsPerPage == 0) {
            rp.NewPage();
            rpfixtures::drawPage(rp, r / recordsPerPage + 1);
        }
        if (progress)
            rp.SetProgress((r + 1) * 100 / records);
        if (afterRecord)
            afterRecord(r + 1);
    }
    if (cancelled)
        rp.Abort();
    else
        rp.EndDoc();
    QCoreApplication::processEvents();
}

// A preview window whose file dialogs and message boxes answer from the test.
// The window with its owner's requests counted and its dialogs answered by the test.
struct ScriptedPreview final : TRpPreviewOwner {
    explicit ScriptedPreview(TRpPrinter& rp) : window(rp, this)
    {
        window.AskFileName = [this](TRpStandardPreview::FileDialog kind, const QString& title, const QString& filter) {
            asked << (kind == TRpStandardPreview::FileDialog::Save ? QStringLiteral("save:") : QStringLiteral("load:"))
                         + title + QLatin1Char('|') + filter;
            return answer;
        };
        window.ShowMessage = [this](const QString& text) { messages << text; };
        window.ShowError = [this](const QString& text) { messages << QStringLiteral("error: ") + text; };
    }
    void PrintRequested(TRpStandardPreview&) override { ++prints; }
    void PrintSetupRequested(TRpStandardPreview&) override { ++setups; }
    void SavePdfRequested(TRpStandardPreview&, const QString& fileName) override { pdfs << fileName; }
    void WindowClosed(TRpStandardPreview&) override
    {
        ++closes;
        if (onClosed)
            onClosed();
    }

    TRpStandardPreview window;
    int prints = 0, setups = 0, closes = 0;
    std::function<void()> onClosed;
    TRpChosenFile answer;
    QStringList asked;
    QStringList pdfs;
    QStringList messages;
};

} // namespace previewfixtures
