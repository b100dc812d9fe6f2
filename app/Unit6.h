#pragma once
// The period query dialog: picks one day or a range of days, selects the result table's rows of
// that period and previews the period report over them.
#include <QDialog>

class QDateEdit;
class QPushButton;
class TQuery;

class TForm6 : public QDialog {
    Q_OBJECT
public:
    explicit TForm6(QWidget* parent);

    QDateEdit* DateTimePicker1;
    QDateEdit* DateTimePicker2;
    QPushButton* Button1; // "OK"
    QPushButton* Button2; // "Закрыть"
    TQuery* Query1;

    // The period report's three heading texts as last set (the report takes them from here).
    QString RpLabel2, RpLabel3, RpLabel4;

    void FormCreate();
    void Button1Click();
    void Button2Click();
};
