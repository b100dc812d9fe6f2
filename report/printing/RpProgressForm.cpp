#include "report/printing/RpProgressForm.h"

#include "report/pages/RpPrinter.h"

#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

TRpProgressForm::TRpProgressForm(TRpPrinter& recorder, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint),
      recorder_(recorder)
{
    setObjectName(QStringLiteral("TRpProgressForm"));
    setWindowTitle(QStringLiteral("Printing progress"));
    setFixedSize(149, 97);
    Gauge = new QProgressBar(this);
    Gauge->setObjectName(QStringLiteral("Gauge"));
    Gauge->setGeometry(16, 18, 114, 16);
    Gauge->setRange(0, 100);
    Gauge->setValue(0);
    Gauge->setTextVisible(false);
    Info = new QLabel(this);
    Info->setObjectName(QStringLiteral("Info"));
    Info->setGeometry(0, 44, 145, Info->sizeHint().height());
    Info->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setGeometry(36, 60, 75, 25);
    connect(CancelButton, &QPushButton::clicked, this, [this] { CancelButtonClick(); });
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
}

QString TRpProgressForm::ProgressText(int percent)
{
    return QString::number(percent) + QStringLiteral("% ") + QStringLiteral(" Completed");
}

void TRpProgressForm::ShowProgress(int percent)
{
    if (!Shows(percent))
        return;
    Gauge->setValue(std::clamp(percent, 0, 100));
    Info->setText(ProgressText(percent));
}

void TRpProgressForm::CancelButtonClick() { recorder_.Cancel(); }

void TRpProgressForm::customEvent(QEvent* event)
{
    if (event->type() == TRpNotifyEvent::ProgressType)
        ShowProgress(static_cast<TRpNotifyEvent*>(event)->value());
}
