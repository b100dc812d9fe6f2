#pragma once
// The result sheet report's holder: the report of the main window's current row. The report has
// no data set of its own; its field items print one row. That row is copied when "Печать" is
// pressed and the items are bound to the copy, so generation never moves the grid and a print
// from the preview prints the row the preview shows, even after the grid has moved.
#include <QObject>
#include <memory>

class TReport;
class TRpGenerator;
class TRpReportSessions;
class TRowSnapshot;

class TForm3 : public QObject {
    Q_OBJECT
public:
    explicit TForm3(QObject* owner);
    ~TForm3() override;

    // Previews the result sheet of the main window's current row; returns when the preview
    // window has closed. Ignored while a run of this report goes on.
    void Preview();

    // The layout, loaded at the first use (an error in it reaches the handler's error box).
    TReport& Report1();
    TRpGenerator& Generator();
    // The report's sessions: its preview window, its prints.
    TRpReportSessions& Sessions();
    // The copy the field items print from while its session lives, or null.
    const TRowSnapshot* Snapshot() const { return snapshot_.lock().get(); }

private:
    void load();

    std::unique_ptr<TReport> report_;
    std::unique_ptr<TRpGenerator> generator_;
    std::unique_ptr<TRpReportSessions> sessions_;
    std::weak_ptr<TRowSnapshot> snapshot_;
};
