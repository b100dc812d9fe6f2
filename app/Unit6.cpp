#include "app/Unit6.h"

#include "app/DatePicker.h"
#include "app/ErrorBox.h"
#include "app/Forms.h"
#include "app/Unit1.h"
#include "app/Unit7.h"
#include "app/WindowFrame.h"
#include "engine/DataSet.h"
#include "engine/DateFormat.h"
#include "report/model/RpBinding.h"
#include "store/PeriodQuery.h"
#include "store/ResultStore.h"

#include <QCalendarWidget>
#include <QDateEdit>
#include <QDateTime>
#include <QPushButton>

TForm6::TForm6(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form6"));
    setWindowTitle(QStringLiteral("Запрос"));
    setFont(parent ? parent->font() : font());
    setModal(true);
    // 424 x 198 with the frame and title bar, the frame's corner at 572, 303 of the screen.
    WindowFrame::keep(this, QSize(424, 198), WindowFrame::Resizing::Sizeable, QPoint(572, 303));

    const QString format = datefmt::shortDateFormat();
    auto picker = [&](const char* name, int x) {
        auto* p = new TDatePicker(this);
        p->setObjectName(QString::fromLatin1(name));
        p->setCalendarPopup(true);
        p->setDisplayFormat(format);
        p->setGeometry(x, 16, 186, 21);
        return p;
    };
    DateTimePicker1 = picker("DateTimePicker1", 8);
    DateTimePicker2 = picker("DateTimePicker2", 216);
    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(96, 96, 75, 25);
    Button1->setAutoDefault(false);
    Button2 = new QPushButton(QStringLiteral("Закрыть"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(232, 96, 75, 25);
    Button2->setAutoDefault(false);
    setTabOrder(DateTimePicker1, DateTimePicker2);
    setTabOrder(DateTimePicker2, Button1);
    setTabOrder(Button1, Button2);
    connect(Button1, &QPushButton::clicked, this, [this] { ui::guarded([this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });

    Query1 = new TQuery(this);
    Query1->SetName(QStringLiteral("Query1"));

    ui::guarded([this] { FormCreate(); });
}

void TForm6::FormCreate()
{
    const QDate today = QDateTime::currentDateTime().date();
    DateTimePicker1->setDate(today);
    DateTimePicker2->setDate(today);
}

void TForm6::Button1Click()
{
    // While the report's run goes on it walks Query1: a new statement must not pull the rows
    // from under it. The request is ignored, as a second run would be.
    if (!Form7->Available())
        return;
    const QDate start = DateTimePicker1->date();
    const QDate end = DateTimePicker2->date();
    const auto headings = periodquery::headings(start, end);
    RpLabel2 = headings[0].second;
    RpLabel3 = headings[1].second;
    RpLabel4 = headings[2].second;
    rpbinding::setCaptions(Form7->Report1(), headings);

    Form1->store()->selectPeriod(*Query1, start, end);
    rpbinding::bindFields(Form7->Report1(), Query1, periodquery::fieldBindings());
    Form7->Preview();
}

void TForm6::Button2Click() { reject(); }
