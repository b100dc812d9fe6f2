#include "app/ReportHooks.h"

#include "app/ErrorBox.h"
#include "report/generation/RpGenerator.h"
#include "report/preview/RpPreviewInstall.h"
#include "report/printing/RpPrinting.h"

namespace reporthooks {

void install(TRpGenerator& generator)
{
    const auto showError = [](const QString& text) { ui::showError(text); };
    rppreview::Options options;
    options.ShowError = showError;
    options.PrintStoredPages = rpprinting::PrintFromPreview;
    rppreview::Install(generator, options);
    rpprinting::ShowError = showError;
    rpprinting::Install(generator);
}

void uninstall(TRpGenerator& generator) { rppreview::Uninstall(generator); }

} // namespace reporthooks
