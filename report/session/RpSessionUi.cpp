#include "report/session/RpSessionUi.h"

#include <QApplication>
#include <QMessageBox>

void TRpSessionUi::ShowError(const QString& text)
{
    QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.exec();
}

TRpSessionUi& TRpSessionUi::Standard()
{
    static TRpSessionUi ui;
    return ui;
}
