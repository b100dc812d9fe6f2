#include "app/Unit3.h"

#include "app/Forms.h"
#include "app/ReportHooks.h"
#include "app/RowSnapshot.h"
#include "app/Unit1.h"
#include "engine/DataSet.h"
#include "report/generation/RpGenerator.h"
#include "report/model/LayoutLoader.h"
#include "report/model/RpReport.h"
#include "report/session/RpReportSession.h"

TForm3::TForm3(QObject* owner) : QObject(owner) { setObjectName(QStringLiteral("Form3")); }

TForm3::~TForm3()
{
    // The window goes before the generator its session runs.
    sessions_.reset();
}

void TForm3::load()
{
    if (generator_)
        return;
    report_ = layoutloader::loadBuiltin(QStringLiteral("Report"), Form1 ? Form1->ProgramFolder : QString());
    generator_ = std::make_unique<TRpGenerator>(*report_);
    sessions_ = std::make_unique<TRpReportSessions>(*generator_, reporthooks::ui());
}

TReport& TForm3::Report1()
{
    load();
    return *report_;
}

TRpGenerator& TForm3::Generator()
{
    load();
    return *generator_;
}

TRpReportSessions& TForm3::Sessions()
{
    load();
    return *sessions_;
}

void TForm3::Preview()
{
    load();
    // A run going on (a print from the preview) keeps the row it prints.
    if (!generator_->Available())
        return;
    auto snapshot = std::make_shared<TRowSnapshot>(*Form1->Table1);
    report_->ForEachItem([&](TRpPrintable& item) {
        if (auto* field = dynamic_cast<TRpDBText*>(&item))
            field->SetDataSet(snapshot->Table());
    });
    // The session keeps the copy for as long as its run, window or print may read it; the report
    // runs only inside a session, and the next one binds its own copy first.
    snapshot_ = snapshot;
    sessions_->Preview(std::move(snapshot));
}
