#pragma once
// The patient's history window ("История пациента"): the patient's results newest first with
// flagged values (red "↑", blue "↓", as in the grid) and values that changed past their delta limit
// since the previous result ("Δ", bold, the change in the tooltip), and a chart of one value over
// time over its reference band. Double-clicking a row names its record to the caller.
//
// Thin: what a row's values read as (flags, delta marks, series, band) is reading::PatientHistory's;
// finding the patient's rows is the caller's, which may still be reading them (setScanning) and
// give them again. Knows: the rows and limits it is given. Must not know: the table, files.
// Untrusted: every text of a row (shown as stored; one that does not read is not flagged, marked
// or charted).
#include "reading/PatientHistory.h"
#include "reading/ReferenceRanges.h"

#include <QDialog>
#include <QList>

class QChart;
class QChartView;
class QComboBox;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QAreaSeries;
class QProgressBar;
class QTableWidget;
class QValueAxis;

class TForm9 : public QDialog {
    Q_OBJECT
public:
    // The limits are copied: the owner may replace its own while the window is open (setRanges).
    TForm9(const reading::ReferenceRanges& ranges, QWidget* parent);

    // Shows the rows of patientName (any order); an empty name shows none and says the row has none.
    void showRows(const QString& patientName, QList<reading::HistoryRow> rows);
    // New limits for the rows shown.
    void setRanges(const reading::ReferenceRanges& ranges);
    // The caller's reading of the rows: percent done (0–99) shows the progress line; anything else hides it.
    void setScanning(int percent);
    // Index into ReferenceRanges::fields() of the value charted.
    int chosenField() const;

    QLabel* NameLabel;        // "Пациент: …", or "У записи нет ФИО пациента"
    QProgressBar* Progress;   // while the caller reads rows
    QTableWidget* Grid;       // date, time, sample number, age, the twenty values
    QComboBox* ValueBox;      // the value charted
    QChartView* ChartView;
    QLineSeries* ValueSeries; // the chosen value's points, oldest first
    QAreaSeries* Band;        // its reference band; hidden when the value has no limits
    QLabel* PointLabel;       // the point under the mouse: its date, sample number and value

signals:
    void recordChosen(int record);

private:
    void fillGrid();
    void fillChart();
    void pointHovered(const QPointF& point, bool state);

    reading::ReferenceRanges ranges_;
    QString name_;
    QList<reading::HistoryRow> rows_;
    QList<reading::HistoryLine> lines_;     // rows_ as read, in the grid's order
    QList<reading::SeriesPoint> points_;    // ValueSeries' points
    QChart* chart_;
    QDateTimeAxis* timeAxis_;
    QValueAxis* valueAxis_;
    QLineSeries* bandLow_;
    QLineSeries* bandHigh_;
};
