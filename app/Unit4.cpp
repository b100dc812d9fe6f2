#include "app/Unit4.h"

#include "app/ErrorBox.h"
#include "app/Forms.h"
#include "app/Unit1.h"
#include "app/WindowFrame.h"
#include "platform/tray/TrayIcon.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>

TForm4::TForm4(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("Выход"));
    setFont(parent ? parent->font() : font());
    // A title bar without buttons: the dialog ends through "ОК" only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(true);
    // 276 x 174 with the frame and title bar, centred on the screen.
    WindowFrame::keep(this, QSize(276, 174), WindowFrame::Resizing::Fixed);

    RadioGroup1 = new QGroupBox(QStringLiteral("Что вы хотите сделать"), this);
    RadioGroup1->setObjectName(QStringLiteral("RadioGroup1"));
    RadioGroup1->setGeometry(8, 0, 257, 97);
    choices = new QButtonGroup(this);
    const char* texts[] = {"Вы хотите свернуть программу в трей?", "Вы хотите завершить работу с программой?",
                           "Ничего. продолжаем работу."};
    for (int i = 0; i < 3; ++i) {
        auto* r = new QRadioButton(QString::fromUtf8(texts[i]), RadioGroup1);
        r->setObjectName(QStringLiteral("Choice%1").arg(i));
        // The group's items share its height evenly below the caption, as a radio group lays them.
        r->setGeometry(6, 18 + i * 25, 249, 22);
        choices->addButton(r, i);
    }
    choices->button(HideToTray)->setChecked(true);

    Button1 = new QPushButton(QStringLiteral("ОК"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(88, 104, 75, 25);
    connect(Button1, &QPushButton::clicked, this, [this] { ui::guarded([this] { Button1Click(); }); });
}

int TForm4::ItemIndex() const { return choices->checkedId(); }

void TForm4::SetItemIndex(int index)
{
    if (QAbstractButton* b = choices->button(index))
        b->setChecked(true);
}

void TForm4::keyPressEvent(QKeyEvent* e)
{
    // Without a close button Escape does not end the dialog either; only "ОК" does.
    if (e->key() == Qt::Key_Escape)
        return;
    QDialog::keyPressEvent(e);
}

void TForm4::Button1Click()
{
    const int choice = ItemIndex();
    accept();
    switch (choice) {
    case HideToTray:
        // Without an icon in the tray a hidden window could never be brought back.
        if (Form1->tray() && Form1->tray()->added() && TrayIcon::trayAvailable())
            Form1->hideToTray();
        else
            Form1->showMinimized();
        break;
    case Close: Form1->closeProgram(); break;
    default: break;
    }
}
