#pragma once
// The date picker of the period dialogs ("Запрос", "Экспорт"): one stop of the dialog's keyboard
// order, so Tab leaves it instead of stepping through its day, month and year (the arrow keys still
// do that).
#include <QDateEdit>

class TDatePicker : public QDateEdit {
public:
    using QDateEdit::QDateEdit;

protected:
    bool focusNextPrevChild(bool next) override { return QWidget::focusNextPrevChild(next); }
};
