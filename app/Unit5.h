#pragma once
// The about box: nine centred lines of credits and contact text. The user may type into it;
// nothing typed is kept.
#include <QDialog>

class QPlainTextEdit;

class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent);
    QPlainTextEdit* Memo1;
    static QStringList creditLines();

protected:
    void showEvent(QShowEvent* e) override;
};
