#include "app/DBEdit.h"

#include "app/ErrorBox.h"
#include "engine/DataSet.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>

TDBEdit::TDBEdit(TDataSource* source, QString fieldName, QWidget* parent)
    : QLineEdit(parent), source_(source), field_(std::move(fieldName))
{
    setObjectName(QStringLiteral("DBEdit_") + field_);
    connect(this, &QLineEdit::textEdited, this, [this] {
        if (loading_)
            return;
        TDataSet* ds = source_ ? source_->DataSet : nullptr;
        if (!ds || !ds->Active())
            return;
        if (ds->State() == TDataSet::dsBrowse) {
            if (!source_->AutoEdit)
                return;
            if (!ui::guarded([ds] { ds->Edit(); }))
                return;
        }
        pending_ = true;
    });
    if (TDataSet* ds = source ? source->DataSet : nullptr) {
        connect(ds, &TDataSet::AfterScroll, this, &TDBEdit::reload);
        connect(ds, &TDataSet::AfterOpen, this, &TDBEdit::reload);
        connect(ds, &TDataSet::AfterClose, this, &TDBEdit::reload);
        connect(ds, &TDataSet::AfterPost, this, &TDBEdit::reload);
        connect(ds, &TDataSet::AfterDelete, this, &TDBEdit::reload);
        connect(ds, &TDataSet::DataChanged, this, [this](TField* f) {
            if (!f || (f->FieldName().compare(field_, Qt::CaseInsensitive) == 0 && !pending_))
                reload();
        });
        connect(ds, &TDataSet::StateChanged, this, [this, ds] {
            if (ds->State() == TDataSet::dsBrowse || ds->State() == TDataSet::dsInactive) {
                pending_ = false;
                reload();
            }
        });
    }
    reload();
}

TField* TDBEdit::boundField() const
{
    TDataSet* ds = source_ ? source_->DataSet : nullptr;
    if (!ds || !ds->Active())
        return nullptr;
    return ds->FindField(field_);
}

void TDBEdit::reload()
{
    if (pending_)
        return;
    loading_ = true;
    TField* f = boundField();
    TDataSet* ds = source_ ? source_->DataSet : nullptr;
    const bool hasRow = f && ds && !(ds->IsEmpty() && ds->State() == TDataSet::dsBrowse);
    setText(hasRow ? f->DisplayText() : QString());
    loading_ = false;
}

void TDBEdit::setMark(const QColor& color, const QString& marker)
{
    QPalette p = palette();
    p.setColor(QPalette::Text, color.isValid() ? color : QApplication::palette(this).color(QPalette::Text));
    setPalette(p);
    if (marker.isEmpty()) {
        if (marker_)
            marker_->hide();
        return;
    }
    if (!marker_) {
        marker_ = new QLabel(this);
        marker_->setObjectName(QStringLiteral("Mark_") + field_);
        marker_->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    marker_->setText(marker);
    QPalette lp = marker_->palette();
    lp.setColor(QPalette::WindowText, color);
    marker_->setPalette(lp);
    marker_->adjustSize();
    // In the right-hand corner, over the frame's padding: the box keeps its laid-out size.
    marker_->move(width() - marker_->width() - 2, (height() - marker_->height()) / 2);
    marker_->show();
}

void TDBEdit::UpdateRecord()
{
    if (!pending_)
        return;
    TField* f = boundField();
    if (!f) {
        pending_ = false;
        return;
    }
    if (f->AsString() != text() || f->DisplayText() != text())
        f->SetAsString(text());
    pending_ = false;
}

void TDBEdit::focusOutEvent(QFocusEvent* e)
{
    QLineEdit::focusOutEvent(e);
    // Focus taken by a box or another window is no leaving of the edit: the text is written
    // when the user moves on within the window (or the row is posted).
    if (e->reason() == Qt::ActiveWindowFocusReason || e->reason() == Qt::PopupFocusReason)
        return;
    if (pending_)
        ui::guarded([this] { UpdateRecord(); });
}

void TDBEdit::keyPressEvent(QKeyEvent* e)
{
    // Escape drops what was typed into the box, as the grid's Escape cancels the row; with
    // nothing typed there, it cancels the row's edit, as the grid's does (after a post was
    // refused, to show the row as another program left it).
    if (e->key() == Qt::Key_Escape && pending_) {
        pending_ = false;
        reload();
        return;
    }
    TDataSet* ds = source_ ? source_->DataSet : nullptr;
    if (e->key() == Qt::Key_Escape && ds && ds->Active() && ds->State() != TDataSet::dsBrowse) {
        ds->Cancel();
        return;
    }
    QLineEdit::keyPressEvent(e);
}
