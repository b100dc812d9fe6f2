#pragma once
// The program's icon in the notification area. It keeps the record the program always kept for
// its icon (window, identifier, flags, callback message, icon, tip) and turns the desktop's
// clicks into the mouse messages the main window's tray handler acts on.
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>

#include <QWidget>

class TrayIcon : public QObject {
    Q_OBJECT
public:
    static constexpr int kRecordSize = 88;       // first-version record: size .. 64-character tip
    static constexpr int kIdentifier = 0;
    static constexpr int kFlags = 7;             // message, icon and tip are valid
    static constexpr int kCallbackMessage = 1025;
    static constexpr int kTipLength = 63;        // characters before the terminating zero
    static constexpr int kLeftButtonDown = 513;
    static constexpr int kLeftButtonDoubleClick = 515;
    static constexpr int kRightButtonDown = 516;
    static constexpr int kMiddleButtonDown = 519;

    TrayIcon(QWidget* window, const QIcon& icon, const QString& title);
    ~TrayIcon() override;

    QWidget* window() const { return window_; }
    const QString& tip() const { return tip_; }
    int callbackMessage() const { return kCallbackMessage; }

    // Puts the icon in the notification area. When the desktop has none the program simply runs
    // without an icon; a tray that starts later takes it in.
    void add();
    void remove();
    bool added() const { return added_; }
    // True when the desktop shows notification-area icons.
    static bool trayAvailable();
    // Tests stand a desktop with or without a tray in place of the real one (0 no, 1 yes,
    // -1 ask the desktop again).
    static void setTrayAvailableForTesting(int available);

    // The mouse message for a click the desktop reported.
    static int mouseMessageFor(QSystemTrayIcon::ActivationReason reason);
    QSystemTrayIcon* systemIcon() const { return icon_; }

signals:
    // The callback: one mouse message that happened over the icon.
    void message(int mouseMessage);

private:
    QPointer<QWidget> window_;
    QString tip_;
    QSystemTrayIcon* icon_;
    bool added_ = false;
};
