#include "platform/tray/TrayIcon.h"

#include <QWidget>

TrayIcon::TrayIcon(QWidget* window, const QIcon& icon, const QString& title)
    : window_(window), tip_(title.left(kTipLength)), icon_(new QSystemTrayIcon(icon, this))
{
    icon_->setToolTip(tip_);
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        emit message(mouseMessageFor(r));
    });
}

TrayIcon::~TrayIcon() { remove(); }

void TrayIcon::add()
{
    if (added_)
        return;
    icon_->show();
    added_ = true;
}

void TrayIcon::remove()
{
    if (!added_)
        return;
    icon_->hide();
    added_ = false;
}

namespace {
int trayOverride = -1;
}

bool TrayIcon::trayAvailable()
{
    if (trayOverride >= 0)
        return trayOverride == 1;
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::setTrayAvailableForTesting(int available) { trayOverride = available; }

int TrayIcon::mouseMessageFor(QSystemTrayIcon::ActivationReason reason)
{
    // The desktop reports a double click as a click followed by the double click, so the first
    // press has acted already and the double click itself is one more message that does nothing.
    switch (reason) {
    case QSystemTrayIcon::Trigger: return kLeftButtonDown;
    case QSystemTrayIcon::Context: return kRightButtonDown;
    case QSystemTrayIcon::DoubleClick: return kLeftButtonDoubleClick;
    case QSystemTrayIcon::MiddleClick: return kMiddleButtonDown;
    default: return 0;
    }
}
