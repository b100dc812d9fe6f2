#pragma once
// The find bar under the grid: part of a sample number or of a patient's name. Enter finds the
// next row, Shift+Enter the previous one; what happened is said in the bar itself ("продолжено
// сначала" after going round the end, "не найдено"), never in a box. Escape closes it.
//
// Knows: its controls. Must not know: the rows: the owner finds and moves the grid (find).
#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;

class TFindBar : public QWidget {
    Q_OBJECT
public:
    // Finds text forward or backward from the current row, moves there and returns what the bar
    // says ("" when found without going round).
    using Find = std::function<QString(const QString& text, bool backward)>;

    explicit TFindBar(QWidget* parent);
    void setFind(Find find) { find_ = std::move(find); }

    // Shows the bar with its text selected, ready for typing.
    void open();
    void findNext(bool backward);

    QLineEdit* edit() const { return edit_; }
    QLabel* message() const { return message_; }

signals:
    void closed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* edit_;
    QLabel* message_;
    Find find_;
};
