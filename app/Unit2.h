#pragma once
// The settings dialog: shows the start-up settings and the program folder and saves what the
// user enters into the settings file. The running program keeps the values it started with.
#include <QDialog>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent);

    QGroupBox* GroupBox1;
    QLabel* Label1;
    QComboBox* ComboBox1;
    QLabel* Label2;
    QComboBox* ComboBox2;
    QGroupBox* GroupBox2;
    QLabel* Label3;
    QLineEdit* Edit1;
    QLabel* Label4;
    QLineEdit* Edit2;
    QPushButton* Button1;
    QPushButton* Button2;

    void FormActivate();
    void Button1Click(); // "Save": Port, Rate, Path1, Path2 in that order; stays open
    void Button2Click(); // "Cancel"

protected:
    void showEvent(QShowEvent* e) override;
};
