#include "app/DBNavigator.h"

#include "app/ErrorBox.h"
#include "engine/DataSet.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QStyle>
#include <QToolButton>

TDBNavigator::TDBNavigator(TDataSource* source, QWidget* parent) : QWidget(parent), source_(source)
{
    setObjectName(QStringLiteral("DBNavigator1"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // Glyphs drawn from text so that they look alike on every desktop theme.
    const char* glyphs[6] = {"|◀", "◀", "▶", "▶|", "+", "−"};
    const char* hints[6] = {"First record", "Prior record", "Next record", "Last record", "Insert record", "Delete record"};
    const char* names[6] = {"First", "Prior", "Next", "Last", "Insert", "Delete"};
    for (int i = 0; i < 6; ++i) {
        auto* b = new QToolButton(this);
        b->setText(QString::fromUtf8(glyphs[i]));
        b->setToolTip(QString::fromLatin1(hints[i]));
        b->setObjectName(QString::fromLatin1(names[i]));
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        b->setFocusPolicy(Qt::NoFocus);
        b->installEventFilter(this);
        layout->addWidget(b);
        buttons_[i] = b;
        connect(b, &QToolButton::clicked, this, [this, i] { BtnClick(Button(i)); });
    }
    if (TDataSet* ds = source_ ? source_->DataSet : nullptr) {
        for (auto sig : {&TDataSet::AfterScroll, &TDataSet::AfterOpen, &TDataSet::AfterClose, &TDataSet::StateChanged,
                         &TDataSet::AfterPost, &TDataSet::AfterDelete})
            connect(ds, sig, this, &TDBNavigator::updateEnabled);
    }
    setFocusPolicy(Qt::TabFocus);
    updateEnabled();
}

void TDBNavigator::choose(int step)
{
    const int next = chosen_ + step;
    if (next < 0 || next >= 6)
        return;
    buttons_[chosen_]->update();
    chosen_ = next;
    buttons_[chosen_]->update();
}

void TDBNavigator::keyPressEvent(QKeyEvent* e)
{
    switch (e->key()) {
    case Qt::Key_Left: choose(-1); return;
    case Qt::Key_Right: choose(1); return;
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (buttons_[chosen_]->isEnabled())
            buttons_[chosen_]->click();
        return;
    default: QWidget::keyPressEvent(e);
    }
}

void TDBNavigator::focusInEvent(QFocusEvent* e)
{
    QWidget::focusInEvent(e);
    buttons_[chosen_]->update();
}

void TDBNavigator::focusOutEvent(QFocusEvent* e)
{
    QWidget::focusOutEvent(e);
    buttons_[chosen_]->update();
}

bool TDBNavigator::eventFilter(QObject* watched, QEvent* e)
{
    // The chosen button carries the focus mark while the navigator has the focus.
    if (e->type() == QEvent::Paint && hasFocus() && watched == buttons_[chosen_]) {
        QToolButton* b = buttons_[chosen_];
        static_cast<QObject*>(b)->event(e); // the button paints itself first
        QPainter p(b);
        QStyleOptionFocusRect mark;
        mark.initFrom(b);
        mark.rect = b->rect().adjusted(3, 3, -3, -3);
        b->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &mark, &p, b);
        return true;
    }
    return QWidget::eventFilter(watched, e);
}

void TDBNavigator::updateEnabled()
{
    TDataSet* ds = source_ ? source_->DataSet : nullptr;
    const bool active = ds && ds->Active();
    const bool editing = active && ds->State() != TDataSet::dsBrowse;
    const bool empty = !active || ds->IsEmpty();
    const bool atStart = active && ds->Bof() && !editing;
    const bool atEnd = active && ds->Eof() && !editing;
    buttons_[nbFirst]->setEnabled(active && !atStart && !empty);
    buttons_[nbPrior]->setEnabled(active && !atStart && !empty);
    buttons_[nbNext]->setEnabled(active && !atEnd && !empty);
    buttons_[nbLast]->setEnabled(active && !atEnd && !empty);
    buttons_[nbInsert]->setEnabled(active);
    buttons_[nbDelete]->setEnabled(active && !empty);
}

void TDBNavigator::BtnClick(Button b)
{
    TDataSet* ds = source_ ? source_->DataSet : nullptr;
    if (!ds)
        return;
    ui::guarded([&] {
        if (beforeAction_)
            beforeAction_();
        switch (b) {
        case nbFirst: ds->First(); break;
        case nbPrior: ds->Prior(); break;
        case nbNext: ds->Next(); break;
        case nbLast: ds->Last(); break;
        case nbInsert: ds->Insert(); break;
        case nbDelete:
            if (ui::confirm(QStringLiteral("Delete record?")))
                ds->Delete();
            break;
        }
    });
    updateEnabled();
}
