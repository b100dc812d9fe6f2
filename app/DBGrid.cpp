#include "app/DBGrid.h"

#include "app/ErrorBox.h"
#include "engine/DataSet.h"

#include <QApplication>
#include <QColor>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStyledItemDelegate>
#include <QTimer>

namespace {

// Cell editor that keeps a refused text: the error box is shown and the cell opens again with
// what was typed, so nothing typed is lost.
class KeepingDelegate : public QStyledItemDelegate {
public:
    explicit KeepingDelegate(QTableView* view) : QStyledItemDelegate(view), view_(view) {}

    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override
    {
        auto* line = qobject_cast<QLineEdit*>(editor);
        const QString typed = line ? line->text() : QString();
        if (line && typed == index.data(Qt::EditRole).toString())
            return;
        if (!model->setData(index, typed, Qt::EditRole) && line) {
            QPersistentModelIndex at(index);
            QTableView* view = view_;
            QTimer::singleShot(0, view, [view, at, typed] {
                if (!at.isValid())
                    return;
                view->setCurrentIndex(at);
                view->edit(at);
                if (auto* again = view->findChild<QLineEdit*>())
                    again->setText(typed);
            });
        }
    }

private:
    QTableView* view_;
};

} // namespace

// ---------------------------------------------------------------------------------------------
TDataSetGridModel::TDataSetGridModel(TDataSource* source, QObject* parent)
    : QAbstractTableModel(parent), source_(source)
{
}

TDataSetGridModel::~TDataSetGridModel() = default;

TDataSet* TDataSetGridModel::dataSet() const { return source_ ? source_->DataSet : nullptr; }

bool TDataSetGridModel::inserting() const
{
    TDataSet* ds = dataSet();
    return ds && ds->Active() && ds->State() == TDataSet::dsInsert;
}

void TDataSetGridModel::addColumn(const QString& field, const QString& title)
{
    beginInsertColumns({}, int(columns_.size()), int(columns_.size()));
    columns_.push_back({field, title, reading::ReferenceRanges::indexOf(field)});
    endInsertColumns();
}

int TDataSetGridModel::fieldDisplayWidth(int column) const
{
    TDataSet* ds = dataSet();
    const TField* f = ds && ds->Active() ? ds->FindField(columns_[size_t(column)].field) : nullptr;
    if (!f)
        return 10;
    return f->DataType() == TFieldType::Date ? 10 : std::max(1, f->Size());
}

int TDataSetGridModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return shownRecords_ + (shownInsertRow_ ? 1 : 0);
}

int TDataSetGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(columns_.size());
}

int TDataSetGridModel::recNoOfRow(int row) const
{
    if (row < 0)
        return 0;
    return row < shownRecords_ ? row + 1 : 0;
}

bool TDataSetGridModel::rowDeleted(int row) const
{
    TDataSet* ds = dataSet();
    return row < shownRecords_ && ds && ds->Active() && ds->RecordDeleted(row + 1);
}

int TDataSetGridModel::currentRow() const
{
    TDataSet* ds = dataSet();
    if (!ds || !ds->Active())
        return -1;
    if (inserting())
        return shownInsertRow_ ? shownRecords_ : -1;
    if (ds->IsEmpty())
        return -1;
    const int recNo = ds->RecNo();
    return recNo >= 1 && recNo <= shownRecords_ ? recNo - 1 : -1;
}

TDataSetGridModel::ValueCell TDataSetGridModel::valueCell(const QModelIndex& index) const
{
    TDataSet* ds = dataSet();
    const int row = index.row();
    const bool current = row == currentRow();
    if (current || row != cachedRow_) {
        // The row being edited shows what is typed.
        auto textOf = [&](const TField* f) {
            return !f ? QString() : current ? f->DisplayText() : ds->DisplayTextAt(row + 1, f);
        };
        const std::optional<double> age = reading::ageInYears(textOf(ds->FindField(QStringLiteral("DOC"))));
        std::vector<ValueCell> cells(columns_.size());
        for (size_t c = 0; c < columns_.size(); ++c) {
            if (columns_[c].value < 0)
                continue;
            cells[c].text = textOf(ds->FindField(columns_[c].field));
            cells[c].flag = reading::flagAt(*ranges_, columns_[c].value, cells[c].text, age);
        }
        if (current)
            return cells[size_t(index.column())];
        cachedCells_ = std::move(cells);
        cachedRow_ = row;
    }
    return cachedCells_[size_t(index.column())];
}

QColor TDataSetGridModel::flagColor(reading::Flag flag)
{
    switch (flag) {
    case reading::Flag::High:
        return QColor(200, 0, 0);
    case reading::Flag::Low:
        return QColor(0, 0, 210);
    case reading::Flag::None:
        break;
    }
    return {};
}

void TDataSetGridModel::setRanges(std::shared_ptr<const reading::ReferenceRanges> ranges)
{
    ranges_ = std::move(ranges);
    cachedRow_ = -1;
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

QVariant TDataSetGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    TDataSet* dsOfFlags = dataSet();
    const bool flagged = ranges_ && columns_[size_t(index.column())].value >= 0 && dsOfFlags && dsOfFlags->Active();
    if (role == Qt::ForegroundRole) {
        const QColor c = flagged ? flagColor(valueCell(index).flag) : QColor();
        return c.isValid() ? QVariant(c) : QVariant();
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    if (role == Qt::DisplayRole && flagged) {
        const ValueCell cell = valueCell(index);
        return cell.text + reading::marker(cell.flag);
    }
    const QString& field = columns_[size_t(index.column())].field;
    TDataSet* ds = dataSet();
    // The current row shows what is being edited, not what the file holds yet.
    if (ds && ds->Active() && ds->State() != TDataSet::dsBrowse && index.row() == currentRow()) {
        if (TField* f = ds->FindField(field))
            return f->DisplayText();
        return {};
    }
    // A row deleted since the grid last looked (another program's delete, seen after a refresh)
    // is hidden as soon as it is met, without looking at every row again.
    if (!ds || !ds->Active())
        return {};
    if (index.column() == 0 && ds->RecordDeleted(index.row() + 1)) {
        const int row = index.row();
        QMetaObject::invokeMethod(const_cast<TDataSetGridModel*>(this), [this, row] { emit rowFoundDeleted(row); },
                                  Qt::QueuedConnection);
    }
    return ds->DisplayTextAt(index.row() + 1, ds->FindField(field));
}

QVariant TDataSetGridModel::headerData(int section, Qt::Orientation o, int role) const
{
    if (o == Qt::Horizontal) {
        if (role == Qt::DisplayRole && section >= 0 && section < int(columns_.size()))
            return columns_[size_t(section)].title;
        if (role == Qt::TextAlignmentRole)
            return int(Qt::AlignCenter);
        return {};
    }
    // The indicator column: the current row, and how it is being edited; "!" on a row changed
    // outside the program.
    if (role == Qt::ToolTipRole && !marked_.isEmpty() && marked_.contains(recNoOfRow(section)))
        return QStringLiteral("Строка изменена вне Hematix (Вид → История записи)");
    if (role == Qt::DisplayRole) {
        const bool marked = !marked_.isEmpty() && marked_.contains(recNoOfRow(section));
        if (section != currentRow())
            return marked ? QStringLiteral("!") : QString();
        if (marked)
            return QStringLiteral("▶!");
        TDataSet* ds = dataSet();
        if (ds && ds->State() == TDataSet::dsInsert)
            return QStringLiteral("*");
        if (ds && ds->State() == TDataSet::dsEdit)
            return QStringLiteral("I");
        return QStringLiteral("▶");
    }
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    return {};
}

void TDataSetGridModel::setMarkedRecords(QSet<int> records)
{
    marked_ = std::move(records);
    if (rowCount() > 0)
        emit headerDataChanged(Qt::Vertical, 0, rowCount() - 1);
}

Qt::ItemFlags TDataSetGridModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}

bool TDataSetGridModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    TDataSet* ds = dataSet();
    if (role != Qt::EditRole || !index.isValid() || !ds || !ds->Active())
        return false;
    const bool ok = ui::guarded([&] {
        if (index.row() != currentRow())
            return; // the grid moves the data set before it edits
        if (ds->State() == TDataSet::dsBrowse)
            ds->Edit();
        ds->FieldByName(columns_[size_t(index.column())].field)->SetAsString(value.toString());
    });
    cachedRow_ = -1;
    emit dataChanged(this->index(index.row(), 0), this->index(index.row(), columnCount() - 1));
    emit headerDataChanged(Qt::Vertical, index.row(), index.row());
    return ok;
}

void TDataSetGridModel::sync()
{
    cachedRow_ = -1;
    TDataSet* ds = dataSet();
    auto* table = qobject_cast<TTable*>(ds);
    if (!ds || !ds->Active() || !table) {
        if (open_ || shownRecords_ || shownInsertRow_) {
            beginResetModel();
            open_ = false;
            shownRecords_ = 0;
            shownInsertRow_ = false;
            endResetModel();
        }
        return;
    }
    if (!open_) {
        beginResetModel();
        open_ = true;
        shownRecords_ = table->RecordsInFile();
        shownInsertRow_ = inserting();
        endResetModel();
        return;
    }
    const int records = table->RecordsInFile();
    const bool insertRow = inserting();
    const int before = rowCount();
    const int after = records + (insertRow ? 1 : 0);
    if (records < shownRecords_) {
        beginResetModel();
        shownRecords_ = records;
        shownInsertRow_ = insertRow;
        endResetModel();
        return;
    }
    if (after > before) {
        beginInsertRows({}, before, after - 1);
        shownRecords_ = records;
        shownInsertRow_ = insertRow;
        endInsertRows();
    } else if (after < before) {
        beginRemoveRows({}, after, before - 1);
        shownRecords_ = records;
        shownInsertRow_ = insertRow;
        endRemoveRows();
    } else {
        shownRecords_ = records;
        shownInsertRow_ = insertRow;
    }
    // Rows may have been rewritten anywhere. The view repaints only what it shows; the header
    // is not told row by row (it would walk every section), the grid repaints its indicator.
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

// ---------------------------------------------------------------------------------------------
TDBGrid::TDBGrid(TDataSource* source, QWidget* parent)
    : QTableView(parent), source_(source), model_(new TDataSetGridModel(source, this))
{
    setModel(model_);
    setItemDelegate(new KeepingDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    setTabKeyNavigation(true);
    setShowGrid(true);
    setWordWrap(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    horizontalHeader()->setHighlightSections(false);
    // Fixed row heights keep a million rows as cheap as ten.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    verticalHeader()->setMinimumWidth(14);
    verticalHeader()->setFixedWidth(14);
    verticalHeader()->setSectionsClickable(false);

    if (TDataSet* ds = source ? source->DataSet : nullptr) {
        auto refill = [this] {
            model_->sync();
            hideDeletedRows();
            followDataSet();
        };
        // Columns take the fields' widths when the table opens; later the user's widths stay.
        connect(ds, &TDataSet::AfterOpen, this, [this, refill] {
            scannedForDeleted_ = 0;
            refill();
            resizeColumnsToFields();
        });
        connect(ds, &TDataSet::AfterClose, this, refill);
        connect(ds, &TDataSet::AfterPost, this, refill);
        // The row just deleted is hidden; other rows keep what the grid knows of them. A refresh
        // looks at the appended rows only, so that an import costs the same at any table size;
        // rows another program deleted are hidden when they are next shown.
        connect(ds, &TDataSet::AfterDelete, this, [this, refill] {
            const int gone = lastRow_;
            refill();
            hideIfDeleted(gone);
        });
        connect(ds, &TDataSet::AfterRefresh, this, refill);
        // Rows another program wrote: appended rows appear, and rows in the range are looked at
        // again, shown or hidden as they are now.
        connect(ds, &TDataSet::RecordsChanged, this, [this, refill](int first, int) {
            scannedForDeleted_ = std::min(scannedForDeleted_, std::max(first - 1, 0));
            refill();
        });
        connect(model_, &TDataSetGridModel::rowFoundDeleted, this, &TDBGrid::hideIfDeleted);
        connect(ds, &TDataSet::StateChanged, this, refill);
        // A move changes no stored row: only the marked row and the view follow it.
        connect(ds, &TDataSet::AfterScroll, this, [this] { followDataSet(); });
        connect(ds, &TDataSet::DataChanged, this, [this] {
            const int r = model_->currentRow();
            if (r >= 0)
                emit model_->dataChanged(model_->index(r, 0), model_->index(r, model_->columnCount() - 1));
        });
    }
}

void TDBGrid::addColumn(const QString& field, const QString& title)
{
    model_->addColumn(field, title);
    resizeColumnsToFields();
}

int TDBGrid::shownCharacters(const QString& field, int displayWidth)
{
    // The fields' display widths, narrowed where a column would be wider than what it holds: the
    // analyser's values have 4 or 5 characters (the field has room for a corrected one), and the
    // long texts show their start and open whole in the cell editor or the record panel. So the
    // measured values, COE and RETIC stay on a screen 1280 pixels wide. Columns stay resizable.
    static const std::pair<const char*, int> narrowed[] = {
        {"FIO", 30}, {"RECEPTION", 16}, {"FORMULA", 20}, {"WBC", 8}, {"RBC", 8}, {"HGB", 8}, {"HCT", 8},
        {"PLT", 8},  {"LY1", 8},        {"MO1", 8},      {"GR1", 8}, {"COE", 8}, {"RETIC", 8},
    };
    for (const auto& [name, chars] : narrowed)
        if (field.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return std::min(displayWidth, chars);
    return displayWidth;
}

void TDBGrid::resizeColumnsToFields()
{
    const QFontMetrics fm(font());
    const int charWidth = fm.horizontalAdvance(QLatin1Char('0'));
    for (int c = 0; c < model_->columnCount(); ++c) {
        const int title = fm.horizontalAdvance(model_->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString()) + 12;
        const int chars = shownCharacters(model_->columnField(c), model_->fieldDisplayWidth(c));
        setColumnWidth(c, std::max(title, chars * charWidth + 8));
    }
}

void TDBGrid::hideDeletedRows()
{
    // Deleted rows are found a block at a time: the rows on screen at once, the rest in the
    // background, so opening a large table does not wait for the scan. Each row is looked at once
    // per opening of the table; later only rows appended since.
    const int total = model_->rowCount();
    if (scannedForDeleted_ > total)
        scannedForDeleted_ = 0;
    const int until = std::min(total, scannedForDeleted_ + 4096);
    for (int r = scannedForDeleted_; r < until; ++r)
        if (const bool deleted = model_->rowDeleted(r); deleted != isRowHidden(r))
            setRowHidden(r, deleted);  // a row restored elsewhere shows again
    scannedForDeleted_ = until;
    if (scannedForDeleted_ < total && !scanScheduled_) {
        scanScheduled_ = true;
        QTimer::singleShot(0, this, [this] {
            scanScheduled_ = false;
            hideDeletedRows();
        });
    }
}

void TDBGrid::hideIfDeleted(int row)
{
    if (row >= 0 && row < model_->rowCount() && !isRowHidden(row) && model_->rowDeleted(row))
        setRowHidden(row, true);
}

void TDBGrid::followDataSet()
{
    const int row = model_->currentRow();
    if (row >= 0)
        lastRow_ = row;
    following_ = true;
    if (row >= 0) {
        const int column = currentIndex().isValid() ? currentIndex().column() : 0;
        setCurrentIndex(model_->index(row, column));
        scrollTo(model_->index(row, column));
    } else {
        setCurrentIndex({});
    }
    following_ = false;
    viewport()->update();
    verticalHeader()->viewport()->update();
}

void TDBGrid::showCurrentRow()
{
    model_->sync();
    followDataSet();
}

void TDBGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTableView::currentChanged(current, previous);
    if (following_ || !current.isValid() || (previous.isValid() && current.row() == previous.row()))
        return;
    TDataSet* ds = source_ ? source_->DataSet : nullptr;
    if (!ds || !ds->Active() || current.row() == model_->currentRow())
        return;
    const int recNo = model_->recNoOfRow(current.row());
    const bool moved = ui::guarded([&] {
        if (beforeMove_)
            beforeMove_();
        if (ds->State() != TDataSet::dsBrowse)
            ds->Post();
        if (recNo > 0)
            ds->SetRecNo(recNo);
    });
    if (!moved)
        QTimer::singleShot(0, this, [this] { followDataSet(); });
}

void TDBGrid::commitEditor()
{
    if (state() == QAbstractItemView::EditingState)
        if (QWidget* editor = indexWidget(currentIndex()) ? indexWidget(currentIndex()) : focusWidget())
            if (qobject_cast<QLineEdit*>(editor) && editor->parentWidget() == viewport()) {
                commitData(editor);
                closeEditor(editor, QAbstractItemDelegate::NoHint);
            }
}

void TDBGrid::mousePressEvent(QMouseEvent* e)
{
    // The right button toggles the record panel on its release and moves nothing.
    if (e->button() == Qt::RightButton) {
        e->accept();
        return;
    }
    QTableView::mousePressEvent(e);
}

bool TDBGrid::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event)
{
    // Opening a cell's editor is typing into a bound control: the row goes into edit mode at
    // once (the indicator shows it), not only when the cell is written.
    const bool opens = trigger & (QAbstractItemView::AnyKeyPressed | QAbstractItemView::EditKeyPressed
                                  | QAbstractItemView::DoubleClicked);
    TDataSet* ds = source_ ? source_->DataSet : nullptr;
    if (opens && index.isValid() && ds && ds->Active() && ds->State() == TDataSet::dsBrowse
        && index.row() == model_->currentRow() && state() != QAbstractItemView::EditingState) {
        bool editable = false;
        if (!ui::guarded([&] { editable = source_->Edit(); }) || !editable)
            return false;
    }
    return QTableView::edit(index, trigger, event);
}

void TDBGrid::mouseReleaseEvent(QMouseEvent* e)
{
    QTableView::mouseReleaseEvent(e);
    emit mouseReleased(e->button());
}

void TDBGrid::keyPressEvent(QKeyEvent* e)
{
    TDataSet* ds = source_ ? source_->DataSet : nullptr;
    if (ds && e->key() == Qt::Key_Delete && (e->modifiers() & Qt::ControlModifier)) {
        ui::guarded([&] {
            if (ds->Active() && !ds->IsEmpty() && ui::confirm(QStringLiteral("Delete record?")))
                ds->Delete();
        });
        return;
    }
    if (ds && e->key() == Qt::Key_Escape && ds->Active() && ds->State() != TDataSet::dsBrowse) {
        ds->Cancel();
        return;
    }
    QTableView::keyPressEvent(e);
}

void TDBGrid::focusOutEvent(QFocusEvent* e)
{
    QTableView::focusOutEvent(e);
    // A new row left as it was started is dropped when the grid loses the focus; a cell editor
    // taking the focus is still the grid.
    TDataSet* ds = source_ ? source_->DataSet : nullptr;
    QWidget* now = QApplication::focusWidget();
    if (now && isAncestorOf(now))
        return;
    if (ds && ds->Active() && ds->State() == TDataSet::dsInsert && !ds->Modified())
        ds->Cancel();
}
