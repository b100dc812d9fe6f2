#pragma once
// What the program does with its results, whatever holds them: store a message's row once, open
// the rows of a period, and open the rows for browsing and editing (the grid reads them by
// position through that data set; edits and deletes go through it too). The dBase store
// (DbfResultStore) is the one the program runs on; another store goes behind the same calls.
//
// Knows: the imported row, data sets. Must not know: capture files, windows, reports; no caller
// of it builds statement text. Untrusted: the imported row's texts (checked against the fields)
// and whatever the store holds.
#include "engine/DbTypes.h"
#include "store/ImportedRow.h"

#include <QDate>
#include <QString>

class TQuery;
class TTable;

// The store cannot be reached or written just now (missing, locked, a share that dropped): the
// message is not at fault and waits.
class EStoreAway : public EDatabaseError {
public:
    using EDatabaseError::EDatabaseError;
};

// The store's fields refuse the row's values (too long, not in the code page): the message is at
// fault, and trying again will not help.
class ERowRefused : public EDatabaseError {
public:
    using EDatabaseError::EDatabaseError;
};

class ResultStore {
public:
    enum class Insert { Stored, AlreadyStored };

    // How far back a message already stored is looked for: the last this many rows.
    static constexpr int kRecentRows = 1000;

    virtual ~ResultStore() = default;

    // Stores the row a message makes, unless the same row (date, time, sample number and the
    // eighteen values) is among the undeleted rows of the last kRecentRows; then nothing is
    // written and the answer is AlreadyStored. The row is durable when this returns Stored.
    // Raises ERowRefused when the fields refuse a value, EStoreAway when the store cannot be
    // read or written.
    virtual Insert insert(const ImportedRow& row) = 0;

    // Closes query, puts the selection of the rows from first to last (both included; one day
    // when they are the same day) into it and opens it, standing on its first row.
    virtual void selectPeriod(TQuery& query, const QDate& first, const QDate& last) = 0;

    // Names the result rows as the table's source; the caller opens it (and shows what opening
    // says). Raises when the table is open.
    virtual void attachRows(TTable& table) = 0;

    // Where the results are, for messages.
    virtual QString location() const = 0;
};
