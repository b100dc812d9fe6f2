#include "app/Unit2.h"

#include "app/ErrorBox.h"
#include "app/Forms.h"
#include "app/Unit1.h"
#include "app/WindowFrame.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

TForm2::TForm2(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Settings"));
    setFont(parent ? parent->font() : font());
    setModal(true);
    // 556 x 220 with the frame and title bar, centred on the screen.
    WindowFrame::keep(this, QSize(556, 220), WindowFrame::Resizing::Sizeable);

    GroupBox1 = new QGroupBox(QStringLiteral("Setting Port"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(24, 16, 273, 137);
    Label1 = new QLabel(QStringLiteral("Port Name"), GroupBox1);
    Label1->move(16, 32);
    ComboBox1 = new QComboBox(GroupBox1);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(true);
    ComboBox1->addItems({"COM1", "COM2", "COM3", "COM4"});
    ComboBox1->setGeometry(80, 24, 145, 21);
    Label2 = new QLabel(QStringLiteral("Baud Rate"), GroupBox1);
    Label2->move(16, 64);
    ComboBox2 = new QComboBox(GroupBox1);
    ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
    ComboBox2->setEditable(true);
    ComboBox2->addItems({"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400"});
    ComboBox2->setGeometry(80, 64, 145, 21);
    // The lists only offer values; whatever is typed stays as typed.
    for (QComboBox* c : {ComboBox1, ComboBox2}) {
        c->setInsertPolicy(QComboBox::NoInsert);
        c->setCompleter(nullptr);
    }

    GroupBox2 = new QGroupBox(QStringLiteral("Other"), this);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    GroupBox2->setGeometry(304, 16, 233, 113);
    Label3 = new QLabel(QStringLiteral("Database Path"), GroupBox2);
    Label3->move(8, 24);
    Edit1 = new QLineEdit(GroupBox2);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(8, 40, 201, 21);
    Label4 = new QLabel(QStringLiteral("Application Path"), GroupBox2);
    Label4->move(8, 64);
    Edit2 = new QLineEdit(GroupBox2);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setGeometry(8, 80, 209, 21);

    Button1 = new QPushButton(QStringLiteral("Save"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(320, 144, 75, 25);
    Button1->setAutoDefault(false);
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(424, 144, 75, 25);
    Button2->setAutoDefault(false);
    connect(Button1, &QPushButton::clicked, this, [this] { ui::guarded([this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });

    setTabOrder(ComboBox1, ComboBox2);
    setTabOrder(ComboBox2, Edit1);
    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, Button1);
    setTabOrder(Button1, Button2);
}

void TForm2::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    if (e->spontaneous())
        return;
    FormActivate();
}

void TForm2::FormActivate()
{
    ComboBox1->setEditText(Form1->PortName);
    ComboBox2->setEditText(Form1->Rate);
    Edit1->setText(Form1->DatabasePath);
    Edit2->setText(Form1->ProgramFolder);
    ComboBox1->setFocus();
}

void TForm2::Button1Click()
{
    // A refused write ends the Save there: the later keys are not written.
    Form1->WriteINI(QStringLiteral("MAIN"), QStringLiteral("Port"), ComboBox1->currentText());
    Form1->WriteINI(QStringLiteral("MAIN"), QStringLiteral("Rate"), ComboBox2->currentText());
    Form1->WriteINI(QStringLiteral("MAIN"), QStringLiteral("Path1"), Edit1->text());
    Form1->WriteINI(QStringLiteral("MAIN"), QStringLiteral("Path2"), Edit2->text());
}

void TForm2::Button2Click() { reject(); }
