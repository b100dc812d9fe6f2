#pragma once
// The period report's holder: the landscape report over the period query's rows. The period
// query dialog sets its headings and binds its field items (report/model/RpBinding) before every
// preview.
#include <QObject>
#include <QString>
#include <memory>

class TReport;
class TRpGenerator;
class TRpReportSessions;

class TForm7 : public QObject {
    Q_OBJECT
public:
    explicit TForm7(QObject* owner);
    ~TForm7() override;

    // Previews the period report; returns when the preview window has closed. Ignored while a
    // run of this report goes on.
    void Preview();
    // False while a run of the report goes on; a request then changes nothing.
    bool Available();

    TReport& Report1();
    TRpGenerator& Generator();
    // The report's sessions: its preview window, its prints.
    TRpReportSessions& Sessions();

private:
    void load();

    std::unique_ptr<TReport> report_;
    std::unique_ptr<TRpGenerator> generator_;
    std::unique_ptr<TRpReportSessions> sessions_;
};
