#pragma once
// The record panel's navigator: first, prior, next, last, insert and delete on a data source.
// A pending change is written by the move itself (the data set posts before it moves); delete
// asks "Delete record?" first.
#include <QWidget>
#include <functional>

class QToolButton;
class TDataSource;

class TDBNavigator : public QWidget {
    Q_OBJECT
public:
    enum Button { nbFirst, nbPrior, nbNext, nbLast, nbInsert, nbDelete };

    TDBNavigator(TDataSource* source, QWidget* parent);
    QToolButton* button(Button b) const { return buttons_[b]; }
    // Runs before every button's action, e.g. to write what the edit boxes hold into the row.
    void setBeforeAction(std::function<void()> f) { beforeAction_ = std::move(f); }
    void BtnClick(Button b);

protected:
    // The navigator is one stop of the keyboard order: Left and Right choose a button, Space or
    // Enter presses it, Tab leaves for the next control.
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void updateEnabled();
    void choose(int step);
    int chosen_ = 0;
    TDataSource* source_;
    QToolButton* buttons_[6] = {};
    std::function<void()> beforeAction_;
};
