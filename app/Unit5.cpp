#include "app/Unit5.h"

#include <QTextEdit>
#include <QScreen>
#include <QShowEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>

TForm5::TForm5(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("О программе"));
    setFont(parent ? parent->font() : font());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);
    setFixedSize(307, 127);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    Memo1 = new QTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setAcceptRichText(false);
    Memo1->document()->setDocumentMargin(2);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    layout->addWidget(Memo1);
}

QStringList TForm5::creditLines()
{
    return {QStringLiteral("Hematix 1.0"),
            QStringLiteral("Приём результатов гематологического анализатора"),
            QStringLiteral("Для клинико-диагностических лабораторий"),
            QString(),
            QStringLiteral("Разработка: команда Hematix"),
            QStringLiteral("Linux, C++20, Qt 6"),
            QStringLiteral("Вопросы: support@hematix.example"),
            QStringLiteral("Телефон: +7 (000) 000-00-00"),
            QStringLiteral("© 2026 Hematix")};
}

void TForm5::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    if (e->spontaneous())
        return;
    // Each opening shows the credits afresh: what was typed last time is not kept.
    Memo1->setPlainText(creditLines().join(u'\n'));
    QTextCursor c(Memo1->document());
    c.select(QTextCursor::Document);
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    centred.setLineHeight(100, QTextBlockFormat::SingleHeight);
    c.mergeBlockFormat(centred);
    Memo1->moveCursor(QTextCursor::Start);
    if (QScreen* s = screen())
        move(s->geometry().center() - rect().center());
}
