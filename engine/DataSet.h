#pragma once
// Data sets over dBase tables: the table object (TTable), the SQL query object (TQuery), their
// fields (TField) and the link that data-aware controls use (TDataSource).
//
// This header is the engine's contract with the rest of the program. Callers use only what is
// declared here; the engine may add to it but keeps these signatures.
//
// Large tables. A table opens by reading its header only, and rows are read on demand through a
// block cache of the file (DbfFile), so opening and Last() cost the same for ten thousand and a
// million rows. Deleted rows are hidden lazily: moving skips deleted records as it meets them,
// and nothing scans the whole file at opening. RecordCount(), RecNoOfRow() and RowOfRecNo() need
// to know where deleted rows are: they count them per chunk of 4096 records the first time a
// chunk is asked for and keep the counts until a refresh (this process's own appends and deletes
// keep them up to date). A grid can show the rows lazily by asking RecordCount() once, mapping
// each visible row to its record number with RecNoOfRow() and reading it with DisplayTextAt(),
// without moving the current row.
#include "engine/DbTypes.h"

#include <QDate>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class TRecordSource;
class TDataSet;
class SqlRowSet;
struct DbfField;

// Hears of every change a table data set writes to its file, under the file's write lock: before
// the write (raising there stops it: nothing is written and the data set stays as it was) and
// after it, or after it failed (written false). Records are the file's bytes, deletion flag
// first; recNo counts from 1 (for an insert, the number the new row gets). afterWrite must not
// raise.
//
// An edit whose row another program changed after the edit began is not written: refused() hears
// of it, under the same lock, with the row as the edit read it, what this data set tried to write
// and what the row holds now; whatever it writes there is made final with the lock's release (on a
// server, committed), and the post then raises ERowChanged. refused must not raise: the post is
// refused whatever becomes of what it writes.
class TWriteObserver {
public:
    enum class Change { Edit, Insert, Delete };
    virtual ~TWriteObserver() = default;
    virtual qint64 beforeWrite(Change change, int recNo, const std::vector<DbfField>& fields, const QByteArray& before,
                               const QByteArray& after) = 0;
    virtual void afterWrite(qint64 token, bool written) noexcept = 0;
    virtual void refused(int /*recNo*/, const std::vector<DbfField>& /*fields*/, const QByteArray& /*read*/,
                         const QByteArray& /*tried*/, const QByteArray& /*now*/) noexcept
    {
    }
};

// One column of the current row of a data set.
class TField {
public:
    virtual ~TField() = default;
    const QString& FieldName() const { return name_; }
    int Index() const { return index_; }         // place among the data set's fields, from 0
    TFieldType DataType() const { return type_; }
    int Size() const { return size_; }          // width in the file, in characters
    int Decimals() const { return decimals_; }
    TDataSet* DataSet() const { return dataSet_; }

    bool IsNull() const;
    // Value as text: strings as stored (trailing blanks removed), numbers as written in the
    // file (leading blanks removed), dates in the system's short date format, empty when null.
    QString AsString() const;
    // Same as AsString() here; this is what grids, edits and reports show.
    QString DisplayText() const;
    QDate AsDate() const;     // null date when the field is null or not a valid date
    double AsFloat() const;   // 0 when null
    // Converts the text to the field's type and sets it in the current row, which must be in
    // edit or insert state. Raises EDatabaseError naming the field and the value when the text
    // does not fit, has no code-page character, is not a number, or is not a date (dates are
    // taken in the system's short date format or as month/day/year). An empty text makes the
    // field null (strings: empty).
    void SetAsString(const QString& text);
    void Clear();

protected:
    TField(TDataSet* ds, QString name, TFieldType type, int size, int decimals)
        : dataSet_(ds), name_(std::move(name)), type_(type), size_(size), decimals_(decimals) {}
    friend class TDataSet;

private:
    TDataSet* dataSet_;
    QString name_;
    TFieldType type_;
    int size_;
    int decimals_;
    int index_ = 0;
};

class TDataSet : public QObject {
    Q_OBJECT
public:
    enum TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

    explicit TDataSet(QObject* owner = nullptr);
    ~TDataSet() override;

    // Component name used as the prefix of error messages ("Table1: ...").
    QString Name() const { return objectName(); }
    void SetName(const QString& n) { setObjectName(n); }

    bool Active() const;
    void Open();
    void Close();
    TDataSetState State() const;

    void First();
    void Last();
    void Next();
    void Prior();
    void MoveBy(int distance);
    bool Eof() const;   // after Last(), after Next() on the last row, or on an empty set
    bool Bof() const;   // after Prior() before the first row, after First(), or on an empty set
    bool IsEmpty() const;

    // Place of the current row in the table file, from 1 (for a query: its place in the result);
    // 0 when there is no current row or the current row is a new one not yet posted.
    int RecNo() const;
    // Moves to the row with that record number; raises EDatabaseError when there is none.
    void SetRecNo(int recNo);
    // Rows that are shown (deleted rows are not).
    int RecordCount() const;
    // Random access for grids, without moving the current row. Rows are the shown rows, from 0.
    // RecNoOfRow() gives 0 for a row that does not exist, RowOfRecNo() -1 for a record that is
    // not shown. DisplayTextAt() shows the pending values when recNo is the row being edited.
    int RecNoOfRow(int row) const;
    int RowOfRecNo(int recNo) const;
    QString DisplayTextAt(int recNo, const TField* field) const;
    // Records as the file holds them, deleted ones included, for a grid that hides deleted rows
    // as it meets them instead of counting them first: RecordsInFile() is known without reading
    // a record, RecordDeleted() reads only the record asked for. A query's rows are never deleted.
    int RecordsInFile() const;
    bool RecordDeleted(int recNo) const;   // false for a record that does not exist

    const std::vector<std::unique_ptr<TField>>& Fields() const;
    TField* FindField(const QString& name) const;   // names match without regard to case
    TField* FieldByName(const QString& name) const; // raises "Field 'X' not found" when absent

    void Edit();
    // Puts the current row into edit state; on an empty set this is Insert().
    void Insert();   // a new empty row before the current one in the view; stored at the end
    void Append();
    // Writes the row durably; on error raises and stays in edit/insert state. An edit whose row
    // another program changed since Edit() read it is not written: raises ERowChanged naming the
    // fields that changed, keeping the edit; Cancel() and Edit() again start from the row as it is.
    void Post();
    void Cancel();   // drops the pending change; a new row disappears, the row before it is current
    void Delete();   // marks the current row deleted; the next row (else the prior) becomes current
    // Re-reads the file: rows that statements or other processes added appear, the current row
    // stays the current row. A pending edit is posted first.
    void Refresh();
    // Records first..last (record numbers from 1) were written by another program, some perhaps
    // appended: they are read anew when next shown, without a refresh of the rest, and a pending
    // edit stays pending. RecordsChanged() tells the grid. A query's rows do not change.
    void TakeChangedRecords(int firstRecNo, int lastRecNo);
    bool Modified() const;
    // The observer of this data set's writes (none by default); the caller keeps it alive.
    void SetWriteObserver(TWriteObserver* observer);
    // Close() writes a pending change that was made (and raises, staying open, when it cannot)
    // and drops an unchanged new row: closing never loses typed data silently.

signals:
    void AfterScroll();
    void AfterPost();
    void AfterDelete();
    void AfterOpen();
    void AfterClose();
    void AfterInsert();
    void AfterEdit();
    void AfterCancel();
    void AfterRefresh();
    void StateChanged();
    // A field of the current row was set (field given), or the whole row changed (nullptr).
    void DataChanged(TField* field);
    // Records another program wrote (TakeChangedRecords).
    void RecordsChanged(int firstRecNo, int lastRecNo);

protected:
    struct Impl;
    std::unique_ptr<Impl> d;
    friend class TField;
};

// A dBase table opened by its full file name.
class TTable : public TDataSet {
    Q_OBJECT
public:
    explicit TTable(QObject* owner = nullptr);
    QString TableName() const;
    void SetTableName(const QString& fullFileName);   // raises when the table is open
    // Records that are not a dBase file's: Open() takes them from open() (which raises
    // EDatabaseError when they cannot be had); name is what TableName() says. Raises when open.
    void SetRecordSource(const QString& name, std::function<std::unique_ptr<TRecordSource>()> open);
    // What opening noticed and is worth telling: a header count that disagreed with the file, a
    // recovered record, an index file that will go stale, a table opened read-only.
    QStringList Warnings() const;
    bool ReadOnly() const;
};

// An SQL statement. SQL holds its lines; the engine receives them joined with line breaks.
class TQuery : public TDataSet {
    Q_OBJECT
public:
    explicit TQuery(QObject* owner = nullptr);
    QStringList SQL;
    // Runs a statement that returns no rows (INSERT, UPDATE, DELETE).
    void ExecSQL();
    int RowsAffected() const;
    // Open() runs a SELECT and stands on its first row. The rows are those the SELECT found, in
    // file order; their values are read from the table when asked for. A query is read-only.
    // Closes the query and opens it on rows selected elsewhere (a store that runs its own SELECT
    // on a server), standing on the first: fields, values and RecNo() as Open() gives them for
    // a SELECT's rows. SQL is cleared, so that Open() after Close() does not run an old statement.
    // Raises EDatabaseError when rows is null.
    void OpenRows(std::shared_ptr<SqlRowSet> rows);
};

// Joins data-aware controls to a data set.
class TDataSource : public QObject {
    Q_OBJECT
public:
    explicit TDataSource(QObject* owner = nullptr) : QObject(owner) {}
    TDataSet* DataSet = nullptr;
    // Typing into a control bound here puts the data set into edit state by itself.
    bool AutoEdit = true;
    // What a control calls when the user starts typing: with AutoEdit on, a data set in browse
    // state goes into edit state. Returns whether the data set now takes changes.
    bool Edit();
};
