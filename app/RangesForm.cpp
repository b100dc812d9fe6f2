#include "app/RangesForm.h"

#include "app/ErrorBox.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QLabel>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

using reading::Limits;
using reading::ReferenceRanges;

QString TRangesForm::valueLabel(const QString& field)
{
    static const QHash<QString, QString> labels = {
        {QStringLiteral("LY1"), QStringLiteral("LY%")}, {QStringLiteral("MO1"), QStringLiteral("MO%")},
        {QStringLiteral("GR1"), QStringLiteral("GR%")}, {QStringLiteral("LY2"), QStringLiteral("LY#")},
        {QStringLiteral("MO2"), QStringLiteral("MO#")}, {QStringLiteral("GR2"), QStringLiteral("GR#")},
        {QStringLiteral("RDV"), QStringLiteral("RDW")}, {QStringLiteral("COE"), QStringLiteral("СОЭ")},
        {QStringLiteral("RETIC"), QStringLiteral("Rt")},
    };
    return labels.value(field, field);
}

TRangesForm::TRangesForm(const ReferenceRanges& ranges, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("RangesForm"));
    setWindowTitle(QStringLiteral("Нормы"));
    if (parent)
        setFont(parent->font());
    auto* layout = new QVBoxLayout(this);

    Grid = new QTableWidget(ReferenceRanges::kFieldCount, 6, this);
    Grid->setObjectName(QStringLiteral("Grid"));
    Grid->setHorizontalHeaderLabels({QStringLiteral("Взрослые: от"), QStringLiteral("до"), QStringLiteral("Дети: от"),
                                     QStringLiteral("до"), QStringLiteral("Δ, %"), QStringLiteral("Δ, дней")});
    Grid->setVerticalHeaderLabels([] {
        QStringList rows;
        for (const QString& f : ReferenceRanges::fields())
            rows << valueLabel(f);
        return rows;
    }());
    for (int i = 0; i < ReferenceRanges::kFieldCount; ++i) {
        const Limits adult = ranges.adult(i), child = ranges.child(i);
        const std::optional<double> cells[] = {adult.low, adult.high, child.low, child.high};
        for (int c = 0; c < 4; ++c)
            Grid->setItem(i, c, new QTableWidgetItem(ReferenceRanges::limitText(cells[c])));
        const reading::DeltaLimit delta = ranges.delta(i);
        Grid->setItem(i, 4, new QTableWidgetItem(ReferenceRanges::limitText(delta.percent)));
        Grid->setItem(i, 5, new QTableWidgetItem(delta.days ? QString::number(*delta.days) : QString()));
    }
    Grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    Grid->verticalHeader()->setDefaultSectionSize(Grid->fontMetrics().height() + 6);
    Grid->setMinimumSize(560, (Grid->fontMetrics().height() + 6) * (ReferenceRanges::kFieldCount + 1) + 8);
    layout->addWidget(Grid);

    auto* ageRow = new QHBoxLayout;
    ageRow->addWidget(new QLabel(QStringLiteral("Детские нормы — до возраста (лет, 0 — нет):"), this));
    ChildAge = new QSpinBox(this);
    ChildAge->setObjectName(QStringLiteral("ChildAge"));
    ChildAge->setRange(0, 149);
    ChildAge->setValue(ranges.childUnderYears().value_or(0));
    ageRow->addWidget(ChildAge);
    ageRow->addStretch();
    layout->addLayout(ageRow);

    Note = new QLabel(QStringLiteral("Нормы не зависят от пола: в таблице пол пациента не хранится. Пустая клетка — "
                                     "граница не задана; пустые детские нормы — как у взрослых. Возраст берётся "
                                     "из поля «Возраст» («45 лет», «2 года», «6 мес»), иначе — взрослые нормы. "
                                     "Δ — проверка изменения: в истории пациента значение отмечается, если оно изменилось "
                                     "больше чем на «Δ, %» по сравнению с предыдущим анализом, сделанным не раньше "
                                     "чем за «Δ, дней»; пустая клетка — без проверки."),
                      this);
    Note->setObjectName(QStringLiteral("Note"));
    Note->setWordWrap(true);
    layout->addWidget(Note);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    connect(buttons, &QDialogButtonBox::accepted, this, &TRangesForm::okClick);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

bool TRangesForm::rangesTyped(ReferenceRanges* out, QString* error) const
{
    ReferenceRanges r;
    auto typedAt = [this](int row, int column) {
        const QTableWidgetItem* item = Grid->item(row, column);
        return item ? item->text() : QString();
    };
    auto wrong = [&](int row, int column, const QString& why) {
        *error = QStringLiteral("%1, %2: «%3» — %4")
                     .arg(valueLabel(ReferenceRanges::fields()[row]), Grid->horizontalHeaderItem(column)->text(),
                          typedAt(row, column), why);
        return false;
    };
    for (int i = 0; i < ReferenceRanges::kFieldCount; ++i) {
        std::optional<double> cells[4];
        for (int c = 0; c < 4; ++c)
            if (!ReferenceRanges::readLimit(typedAt(i, c), &cells[c]))
                return wrong(i, c, QStringLiteral("не число"));
        reading::DeltaLimit delta;
        if (!ReferenceRanges::readDeltaPercent(typedAt(i, 4), &delta.percent))
            return wrong(i, 4, QStringLiteral("не число больше 0"));
        if (!ReferenceRanges::readDeltaDays(typedAt(i, 5), &delta.days))
            return wrong(i, 5, QStringLiteral("не целое число дней от 1 до %1").arg(ReferenceRanges::kMaxDeltaDays));
        r.setDelta(i, delta);
        for (int c : {0, 2})
            if (cells[c] && cells[c + 1] && *cells[c] > *cells[c + 1]) {
                *error = QStringLiteral("%1: нижняя граница выше верхней").arg(valueLabel(ReferenceRanges::fields()[i]));
                return false;
            }
        r.setAdult(i, {cells[0], cells[1]});
        r.setChild(i, {cells[2], cells[3]});
    }
    r.setChildUnderYears(ChildAge->value() > 0 ? std::optional<int>(ChildAge->value()) : std::nullopt);
    *out = r;
    return true;
}

void TRangesForm::okClick()
{
    ReferenceRanges r;
    QString error;
    if (!rangesTyped(&r, &error)) {
        ui::showError(error);
        return;
    }
    if (!onSave_ || ui::guarded([&] { onSave_(r); }))
        accept();
}
