#pragma once
// The reference limits window ("Нормы", menu "Вид"): low and high limits of each value for adults
// and for children under an age, and its delta limit (share and days), with OK and Cancel. The limits are sex-independent (the table
// holds no sex) and the window says so.
//
// Thin: the limits, their file and their reading are reading::ReferenceRanges'; what OK does with
// them (saving, showing them in the grid) is its owner's. Knows: the table of cells. Untrusted:
// what is typed into a cell; one that does not read is named and the window stays open.
#include "reading/ReferenceRanges.h"

#include <QDialog>
#include <functional>

class QLabel;
class QSpinBox;
class QTableWidget;

class TRangesForm : public QDialog {
    Q_OBJECT
public:
    TRangesForm(const reading::ReferenceRanges& ranges, QWidget* parent);

    // Called by OK with the limits typed in; the window closes unless it raises (the error is shown).
    void setOnSave(std::function<void(const reading::ReferenceRanges&)> f) { onSave_ = std::move(f); }
    // The limits the cells hold; false, with what is wrong in error, when a cell does not read.
    bool rangesTyped(reading::ReferenceRanges* out, QString* error) const;
    // A value's label as the record panel shows it ("LY%" for LY1, "СОЭ" for COE).
    static QString valueLabel(const QString& field);

    // A row per value: adult low, adult high, child low, child high, delta share, delta days.
    QTableWidget* Grid;
    QSpinBox* ChildAge;  // 0: no child set
    QLabel* Note;

private:
    void okClick();
    std::function<void(const reading::ReferenceRanges&)> onSave_;
};
