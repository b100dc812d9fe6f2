#include "app/ErrorBox.h"

#include "app/Startup.h"
#include "platform/Exception.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <exception>

namespace ui {

void showError(const QString& message)
{
    QMessageBox box(QMessageBox::Critical, startup::applicationTitleOf(startup::executablePath()), message, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.exec();
}

bool confirm(const QString& text, const QString& caption)
{
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton, QApplication::activeWindow());
    box.setObjectName(QStringLiteral("ConfirmBox"));
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(ok);
    box.exec();
    return box.clickedButton() == ok;
}

bool guarded(const std::function<void()>& handler)
{
    try {
        handler();
        return true;
    } catch (const Exception& e) {
        showError(e.message());
    } catch (const std::exception& e) {
        showError(QString::fromLocal8Bit(e.what()));
    }
    return false;
}

} // namespace ui
