#pragma once
// The grid over a data source's table: one line per stored row in file order, deleted rows
// hidden, the current row marked in the indicator column, cells edited in place. Rows are read
// from the file only when they are painted, so the cost of showing a table does not grow with
// its size.
#include "reading/Flags.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QSet>
#include <QTableView>
#include <functional>
#include <memory>

class TDataSource;
class TDataSet;

class TDataSetGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TDataSetGridModel(TDataSource* source, QObject* parent);
    ~TDataSetGridModel() override;

    void addColumn(const QString& field, const QString& title);
    const QString& columnField(int column) const { return columns_[size_t(column)].field; }
    int fieldDisplayWidth(int column) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // Grid row of the data set's current row (-1 when it has none), and the record number shown
    // on a grid row (0 for the new row being inserted).
    int currentRow() const;
    int recNoOfRow(int row) const;
    bool rowDeleted(int row) const;
    // Takes in what changed in the file: rows appended, rows rewritten, the table reopened.
    void sync();
    // Rows marked "!" in the indicator column (the audit trail found them changed outside the
    // program), by record number.
    void setMarkedRecords(QSet<int> records);
    // The limits a value column's cell is flagged against (red with "↑" above, blue with "↓"
    // below; what is edited stays the stored text); null: no flags.
    void setRanges(std::shared_ptr<const reading::ReferenceRanges> ranges);
    // The colour a flagged value is shown in, here and in the record panel (invalid for None).
    static QColor flagColor(reading::Flag flag);

signals:
    // A row asked for while painting turned out deleted (by this program or another one).
    void rowFoundDeleted(int row) const;

private:
    struct Column {
        QString field;
        QString title;
        int value = -1; // index among the limits' values, -1 for a column that is no value
    };
    // A value cell's text as shown (without its marker) and its flag.
    struct ValueCell {
        QString text;
        reading::Flag flag = reading::Flag::None;
    };
    TDataSet* dataSet() const;
    ValueCell valueCell(const QModelIndex& index) const;
    bool inserting() const;
    TDataSource* source_;
    std::vector<Column> columns_;
    QSet<int> marked_;
    std::shared_ptr<const reading::ReferenceRanges> ranges_;
    // The value cells of the row painted last, by column: a row's cells are painted one after
    // another (text, then colour), so its DOC and values are read once. Forgotten by sync(),
    // which every change of the stored rows passes through; the current row is never kept.
    mutable int cachedRow_ = -1;
    mutable std::vector<ValueCell> cachedCells_;
    bool open_ = false;  // the data set was open when last looked at
    int shownRecords_ = 0;
    bool shownInsertRow_ = false;
};

class TDBGrid : public QTableView {
    Q_OBJECT
public:
    TDBGrid(TDataSource* source, QWidget* parent);
    void addColumn(const QString& field, const QString& title);
    TDataSetGridModel* gridModel() const { return model_; }
    // Runs before the grid moves the data set to another row (the panel's edits are written).
    void setBeforeMove(std::function<void()> f) { beforeMove_ = std::move(f); }
    // Writes what an open cell editor holds into the row.
    void commitEditor();
    // Selects the data set's current row and scrolls it into view.
    void showCurrentRow();
    // Characters a column shows at first for a field of that display width.
    static int shownCharacters(const QString& field, int displayWidth);

signals:
    void mouseReleased(Qt::MouseButton button);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    void followDataSet();
    void hideDeletedRows();
    void hideIfDeleted(int row);
    void resizeColumnsToFields();
    TDataSource* source_;
    TDataSetGridModel* model_;
    std::function<void()> beforeMove_;
    bool following_ = false;
    int scannedForDeleted_ = 0;
    bool scanScheduled_ = false;
    int lastRow_ = -1; // the grid row the data set last stood on
};
