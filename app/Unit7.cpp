#include "app/Unit7.h"

#include "app/Forms.h"
#include "app/ReportHooks.h"
#include "app/Unit1.h"
#include "app/Unit6.h"
#include "engine/DataSet.h"
#include "report/generation/RpGenerator.h"
#include "report/model/LayoutLoader.h"
#include "report/model/RpReport.h"
#include "report/session/RpReportSession.h"

TForm7::TForm7(QObject* owner) : QObject(owner) { setObjectName(QStringLiteral("Form7")); }

TForm7::~TForm7()
{
    // The window goes before the generator its session runs.
    sessions_.reset();
}

void TForm7::load()
{
    if (generator_)
        return;
    report_ = layoutloader::loadBuiltin(QStringLiteral("Unit7"), Form1 ? Form1->ProgramFolder : QString());
    // The report walks the period query of the query dialog.
    layoutloader::resolveDataSets(*report_, [](const QString& window, const QString& component) -> TDataSet* {
        if (window == QLatin1String("Form6") && component == QLatin1String("Query1") && Form6)
            return Form6->Query1;
        return nullptr;
    });
    generator_ = std::make_unique<TRpGenerator>(*report_);
    sessions_ = std::make_unique<TRpReportSessions>(*generator_, reporthooks::ui());
}

TReport& TForm7::Report1()
{
    load();
    return *report_;
}

TRpGenerator& TForm7::Generator()
{
    load();
    return *generator_;
}

TRpReportSessions& TForm7::Sessions()
{
    load();
    return *sessions_;
}

bool TForm7::Available() { return Generator().Available(); }

void TForm7::Preview()
{
    load();
    sessions_->Preview();
}
