#pragma once
// The row's history window ("История записи", menu "Вид"): where a row came from (for a message:
// its times, sample number, capture file, length, hash, and what crossed the line for it), the
// same result sent again, every change made to it, newest first, and "Восстановить" for a row
// that is deleted. A record number typed in reaches a row the grid hides. The tab "Архив за
// день" lists a day's archived messages and shows the trace of the one chosen.
//
// Thin: the story and a day's messages are the store's (whichever holds the trail), the texts
// link/RecordStoryText's, restoring the store's.
// Knows: the main window's table and store. Must not know: files, entry keys, frames.
#include <QDialog>
#include <QJsonObject>
#include <QList>

class TForm1;
class QDateEdit;
class QLabel;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTableWidget;
namespace linetrace {
struct Trace;
}

class TForm8 : public QDialog {
    Q_OBJECT
public:
    explicit TForm8(TForm1* owner);

    QTabWidget* Tabs;
    // Tab "Запись".
    QSpinBox* RecordEdit;
    QPushButton* ShowButton;     // "Показать"
    QPushButton* RestoreButton;  // "Восстановить"
    QLabel* OriginLabel;
    QLabel* ResendsLabel;
    QTableWidget* TraceGrid;
    QLabel* TraceNote;
    QTableWidget* ChangesGrid;
    // Tab "Архив за день".
    QDateEdit* DayEdit;
    QTableWidget* DayGrid;
    QTableWidget* DayTraceGrid;
    QLabel* DayTraceNote;

    // Shows the story of record (from 1) and the window.
    void ShowRecord(int record);
    int Record() const { return record_; }

    // Handlers.
    void ShowButtonClick();
    void RestoreButtonClick();
    void DayEditChange();
    void DayGridSelect();
    void DayGridDoubleClick();

private:
    QString folder() const;
    TForm1* owner_;
    int record_ = 0;
    QList<QJsonObject> day_;  // the messages DayGrid lists, in its order
};
