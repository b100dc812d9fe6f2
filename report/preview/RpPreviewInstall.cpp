#include "report/preview/RpPreviewInstall.h"

#include "report/generation/RpGenerator.h"
#include "report/pages/RpPrinter.h"
#include "report/preview/RpStandardPreview.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <map>
#include <vector>

namespace rppreview {

namespace {

// The window of each generator with the hook installed; an entry whose window is gone reads null.
std::map<const TRpGenerator*, QPointer<TRpStandardPreview>>& windows()
{
    static std::map<const TRpGenerator*, QPointer<TRpStandardPreview>> map;
    return map;
}

} // namespace

TRpStandardPreview* OpenWindow(const TRpGenerator& generator)
{
    const auto it = windows().find(&generator);
    // A closed window waits for its deletion; it shows nothing any more.
    if (it == windows().end() || !it->second || !it->second->isVisible())
        return nullptr;
    return it->second.data();
}

void CloseAll()
{
    std::vector<QPointer<TRpStandardPreview>> open;
    for (const auto& [gen, window] : windows())
        if (window && window->isVisible())
            open.push_back(window);
    for (const QPointer<TRpStandardPreview>& window : open)
        if (window)
            window->close();
}

void Uninstall(TRpGenerator& generator)
{
    generator.OpenPreview = nullptr;
    const auto it = windows().find(&generator);
    if (it == windows().end())
        return;
    QPointer<TRpStandardPreview> window = it->second;
    windows().erase(it);
    if (window) {
        window->ReleaseRequest = nullptr;
        window->PrintRequest = nullptr;
        delete window.data();
    }
}

void Install(TRpGenerator& generator, Options options)
{
    TRpGenerator* gen = &generator;
    generator.OpenPreview = [gen, options](TRpPrinter& recorder) {
        if (TRpStandardPreview* open = OpenWindow(*gen)) {
            // A fresh run of the same report: into the window that is open.
            open->SetRecorder(recorder);
            open->raise();
            open->activateWindow();
            return;
        }
        // A window opened from a modal dialog belongs to it, or the dialog would block it.
        QWidget* modal = QApplication::activeModalWidget();
        auto* window = new TRpStandardPreview(recorder, modal);
        window->setWindowFlag(Qt::Window);
        // Closing that dialog closes its preview too, so the Preview call that waits for the
        // window cannot wait for one that is no longer seen.
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            QObject::connect(dialog, &QDialog::finished, window, &QWidget::close);
        window->setAttribute(Qt::WA_DeleteOnClose);
        if (options.ShowError)
            window->ShowError = options.ShowError;
        window->PrintRequest = [gen, options](TRpPrinter& r) {
            if (r.ReportLoaded()) {
                if (options.PrintStoredPages)
                    options.PrintStoredPages(r);
                return;
            }
            gen->Print();
        };
        window->ReleaseRequest = [gen](TRpPrinter& r) {
            // Detaching has already told the report (its after-preview notice); only a recorder
            // the report still holds as its preview's is released here.
            if (gen->Recorder() == &r)
                gen->ReleaseRecorder();
        };
        windows()[gen] = window;
        if (options.OnOpened)
            options.OnOpened(*window);
        window->Show();
    };
}

} // namespace rppreview
