#pragma once
// The progress window of a live print: a gauge and a label that follow the recorder's progress in
// steps of 5, and "Cancel", which sets the recorder's cancelled flag (the run stops before its
// next detail and the recorder discards the job). It is the recorder's client for the run.
//
// Knows: the recorder's progress notifications and its Cancel. Knows nothing of generation.
#include <QDialog>
#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;
class TRpPrinter;

class TRpProgressForm : public QDialog {
    Q_OBJECT
public:
    explicit TRpProgressForm(TRpPrinter& recorder, QWidget* parent = nullptr);

    // The label for a progress value ("40%  Completed"); whether a value is shown at all (only
    // multiples of 5 are).
    static QString ProgressText(int percent);
    static bool Shows(int percent) { return percent % 5 == 0; }

    // Applies a progress value as a notification does.
    void ShowProgress(int percent);
    void CancelButtonClick();

    QProgressBar* Gauge;
    QLabel* Info;
    QPushButton* CancelButton;

protected:
    void customEvent(QEvent* event) override;

private:
    TRpPrinter& recorder_;
};
