#pragma once
// An edit box bound to one field of a data source's current row. It shows the field's display
// text, puts the row into edit mode when the user types (automatic edit), and writes its text
// into the field when it loses the focus or before the row is posted. A text the field refuses
// is shown in the error box and stays in the box, so nothing typed is lost.
#include <QLineEdit>
#include <QPointer>

class QLabel;
class TDataSource;
class TField;

class TDBEdit : public QLineEdit {
    Q_OBJECT
public:
    TDBEdit(TDataSource* source, QString fieldName, QWidget* parent);
    const QString& DataField() const { return field_; }
    // Writes a pending text into the field; raises the field's error when it refuses it.
    void UpdateRecord();
    bool pending() const { return pending_; }
    // Shows the current row's value again, dropping a pending text.
    void reload();
    // A mark of the value against its limits: the text's colour and a marker ("↑", "↓") drawn
    // in the box's corner; never part of the text, so what is typed is what is written.
    void setMark(const QColor& color, const QString& marker);

protected:
    void focusOutEvent(QFocusEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    TField* boundField() const;
    TDataSource* source_;
    QString field_;
    QLabel* marker_ = nullptr;
    bool pending_ = false;
    bool loading_ = false;
};
