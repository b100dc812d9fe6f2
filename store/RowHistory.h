#pragma once
// The history of the rows of the dBase store: hears every change the program writes to the
// result table through a data set (the grid, the record panel, the navigator) and writes its
// entry first (audit/ChangeHistory), then, once the table holds it, the entry that says so. A
// change whose entry cannot be written is not made: the data set raises and keeps what was typed.
//
// An edit whose row no longer holds what this program last wrote or what the history says
// (another program changed it) gets an "outside" entry naming the fields first, so the history
// says what happened to the row in the order it happened. An edit refused because another
// program changed the row after it was read (the data set writes nothing then) gets a "refused"
// entry naming the fields, what this program tried to write and what the row holds.
//
// Knows: the table's fields and records (engine), the history. Must not know: windows, capture
// files. Untrusted: the records' bytes (any text, any field).
#include "audit/ChangeHistory.h"
#include "engine/DataSet.h"

#include <QHash>
#include <QSet>

#include <functional>

class RowHistory : public TWriteObserver {
public:
    explicit RowHistory(audit::ChangeHistory& history);

    qint64 beforeWrite(Change change, int recNo, const std::vector<DbfField>& fields, const QByteArray& before,
                       const QByteArray& after) override;
    void afterWrite(qint64 token, bool written) noexcept override;
    void refused(int recNo, const std::vector<DbfField>& fields, const QByteArray& read, const QByteArray& tried,
                 const QByteArray& now) noexcept override;

    // Rows the start-up check found changed outside the program: their next edit looks up what
    // the history says and names the fields that differ.
    void setChangedOutside(const QList<int>& records);

    // A row's fields with their texts as the history keeps them.
    static audit::RowValues valuesOf(const std::vector<DbfField>& fields, const char* record);
    // The fields of a refused edit, each that this program (tried) or the other (now) changed
    // from the row as read: what was tried, what was found.
    static QList<audit::FieldChange> refusedChanges(const std::vector<DbfField>& fields, const QByteArray& read,
                                                    const QByteArray& tried, const QByteArray& now);

    // What the audit trail says the row holds (origin and applied changes), by field; empty
    // when it does not know.
    using Expected = std::function<QHash<QString, QString>(int record, const std::vector<DbfField>& fields)>;
    void setExpected(Expected expected) { expected_ = std::move(expected); }
    // Told of every row written (after its entry), for what is kept beside the table.
    void setOnWritten(std::function<void(int record)> onWritten) { onWritten_ = std::move(onWritten); }

private:
    qint64 enter(Change change, int recNo, const std::vector<DbfField>& fields, const QByteArray& before,
                 const QByteArray& after);

    audit::ChangeHistory& history_;
    QHash<int, QByteArray> written_;  // record -> its bytes as this program last wrote them
    QSet<int> changedOutside_;
    Expected expected_;
    std::function<void(int record)> onWritten_;
    int pendingRecord_ = 0;
    QByteArray pendingBytes_;
};
