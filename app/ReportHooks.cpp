#include "app/ReportHooks.h"

#include "app/ErrorBox.h"
#include "report/session/RpSessionUi.h"

namespace reporthooks {

namespace {
class ProgramUi : public TRpSessionUi {
public:
    void ShowError(const QString& text) override { ui::showError(text); }
};
} // namespace

TRpSessionUi& ui()
{
    static ProgramUi programUi;
    return programUi;
}

} // namespace reporthooks
