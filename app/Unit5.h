#pragma once
// The about box: nine centred lines of credits and contact text. The user may type into it;
// nothing typed is kept.
#include <QDialog>

class QTextEdit;

class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent);
    QTextEdit* Memo1;
    static QStringList creditLines();

protected:
    void showEvent(QShowEvent* e) override;
};
