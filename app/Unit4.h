#pragma once
// The exit dialog: hide the program to the tray, end it, or carry on.
#include <QDialog>

class QButtonGroup;
class QGroupBox;
class QPushButton;
class QRadioButton;

class TForm4 : public QDialog {
    Q_OBJECT
public:
    enum Choice { HideToTray = 0, Close = 1, Nothing = 2 };

    explicit TForm4(QWidget* parent);

    QGroupBox* RadioGroup1;
    QButtonGroup* choices;
    QPushButton* Button1;

    int ItemIndex() const;
    void SetItemIndex(int index);
    void Button1Click(); // "ОК": acts on the choice, then closes the dialog

protected:
    void keyPressEvent(QKeyEvent* e) override;
};
