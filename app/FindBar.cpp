#include "app/FindBar.h"

#include "app/ErrorBox.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

TFindBar::TFindBar(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("FindBar"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    row->addWidget(new QLabel(QStringLiteral("Найти:"), this));
    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("FindText"));
    edit_->setPlaceholderText(QStringLiteral("номер пробы или ФИО"));
    edit_->setClearButtonEnabled(true);
    edit_->setMinimumWidth(220);
    edit_->installEventFilter(this);
    row->addWidget(edit_);
    auto button = [&](const char* text, const char* tip, auto action) {
        auto* b = new QToolButton(this);
        b->setText(QString::fromUtf8(text));
        b->setToolTip(QString::fromUtf8(tip));
        b->setAutoRaise(true);
        connect(b, &QToolButton::clicked, this, action);
        row->addWidget(b);
        return b;
    };
    button("▲", "Предыдущая (Shift+Enter)", [this] { findNext(true); });
    button("▼", "Следующая (Enter)", [this] { findNext(false); });
    message_ = new QLabel(this);
    message_->setObjectName(QStringLiteral("FindMessage"));
    row->addWidget(message_, 1);
    button("✕", "Закрыть (Esc)", [this] {
        hide();
        emit closed();
    });
    // A new text starts a new search: what was said of the old one no longer holds.
    connect(edit_, &QLineEdit::textEdited, message_, &QLabel::clear);
}

void TFindBar::open()
{
    show();
    edit_->setFocus(Qt::ShortcutFocusReason);
    edit_->selectAll();
}

void TFindBar::findNext(bool backward)
{
    if (!find_ || edit_->text().trimmed().isEmpty())
        return;
    message_->clear();
    ui::guarded([&] { message_->setText(find_(edit_->text(), backward)); });
}

bool TFindBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == edit_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            findNext(key->modifiers() & Qt::ShiftModifier);
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            hide();
            emit closed();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
