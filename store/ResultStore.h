#pragma once
// What the program does with its results, whatever holds them: store a message's row once, open
// the rows of a period, and open the rows for browsing and editing (the grid reads them by
// position through that data set; edits and deletes go through it too). The dBase store
// (DbfResultStore) is the one the program runs on; another store goes behind the same calls.
//
// Knows: the imported row, data sets. Must not know: capture files, windows, reports; no caller
// of it builds statement text. Untrusted: the imported row's texts (checked against the fields)
// and whatever the store holds.
#include "audit/MessageArchive.h"
#include "audit/RecordStory.h"
#include "audit/Verify.h"
#include "engine/DbTypes.h"
#include "store/ImportedRow.h"
#include "store/RowFinder.h"

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
    Insert insert(const ImportedRow& row) { return store(row, {}).answer; }

    struct Stored {
        Insert answer = Insert::Stored;
        int record = 0;  // the row's record number, stored now or before
        // False from storeUnflushed() while the row and its entry may not be on the store's disk.
        bool onDisk = true;
    };
    // Stores the row a message makes and archives the message (durably, before this returns),
    // once: a message whose identity (as received) the archive knows, with its row still there,
    // is a result sent again, archived as such and not stored again, however its row was edited
    // since; so is one found among the recent rows as above. A capture archived already (a crash
    // between archiving and removing its file) is not archived again. A message without bytes is
    // not archived (rows made by hand or by tests). Raises as insert(); EStoreAway also when the
    // archive cannot be written (the message then waits, and its row is not stored twice).
    virtual Stored store(const ImportedRow& row, const audit::ReceivedMessage& message) = 0;
    // A backlog's way: as store(), but the store may answer before the row and its entry are on
    // its disk (onDisk false), so that a run of messages waits for the disk once (flush()), not
    // once each. The caller keeps each such message (its capture file) until flush() returns: a
    // crash or a lost server before then leaves it to be stored again, and found stored if it
    // was. A store whose every write is on disk when it answers stores as store().
    virtual Stored storeUnflushed(const ImportedRow& row, const audit::ReceivedMessage& message)
    {
        return store(row, message);
    }
    // Returns once everything storeUnflushed() stored is on the store's disk. Raises EStoreAway
    // when that cannot be known.
    virtual void flush() {}

    // Archives a message set aside in Temp/rejected/ (durably). row: what the import took from
    // it, when it took anything. Raises EStoreAway when the archive cannot be written.
    virtual void setAside(const audit::ReceivedMessage& message, const ImportedRow* row, const QString& reason) = 0;

    // At start: adopts the rows of a table older than the audit trail, resolves the changes a
    // stopped program left pending, and removes archive days older than keepDays. Raises
    // EStoreAway when the table or the trail cannot be read or written.
    struct AuditOpened {
        qint64 adopted = 0;        // rows entered as present before the audit trail
        QStringList notApplied;    // changes a stopped program never made, said to the user
    };
    virtual AuditOpened openAudit(int keepDays) = 0;

    // Checks the audit trail of the last days against the rows (verify over those days). Only
    // reads files, so it may run beside the program on another thread; cancel stops it.
    virtual audit::VerifyReport checkRecent(int days, const std::atomic_bool* cancel) const = 0;
    // Rows found changed outside the program: their next edit names the fields that differ.
    virtual void noteChangedOutside(const QList<int>& records) = 0;

    // Brings a deleted row back with the values it had, as a history entry. Raises
    // EDatabaseError when the row is not deleted or cannot be written.
    virtual void restore(int record) = 0;

    // Where the audit trail is kept (the program folder).
    virtual QString auditFolder() const = 0;

    // What the audit trail holds about a row (its origin, resends and changes), and the
    // messages archived on a day, in order; by default from the program folder's day files.
    // Raise EStoreAway when a store elsewhere cannot be read.
    virtual audit::RecordStory storyOf(int record) { return audit::storyOf(auditFolder(), record); }
    virtual QList<QJsonObject> messagesOfDay(const QDate& day) { return audit::messagesOfDay(auditFolder(), day); }

    // Closes query, puts the selection of the rows from first to last (both included; one day
    // when they are the same day) into it and opens it, standing on its first row.
    virtual void selectPeriod(TQuery& query, const QDate& first, const QDate& last) = 0;

    // Names the result rows as the table's source; the caller opens it (and shows what opening
    // says). Every change written through the table gets its history entry. Raises when the
    // table is open.
    virtual void attachRows(TTable& table) = 0;

    // Whether the store answers now; why not, when it does not. A store on this PC always does.
    virtual bool reachable(QString* why)
    {
        (void)why;
        return true;
    }

    // Whether the results may be changed through this store: messages stored, rows edited,
    // deleted and restored. False on a store whose user may only read them (a viewing desk), with
    // who that user is. Decided when the store connects; a store that cannot be reached now
    // answers true until it can tell (nothing is written meanwhile). A store on this PC always may.
    virtual bool writable(QString* who)
    {
        (void)who;
        return true;
    }

    // Where the results are, for messages.
    virtual QString location() const = 0;

    // Finding rows by sample number or patient name. Its index is made ready beside the program
    // from openFinder() on; requests before that read the rows themselves.
    virtual RowFinder& finder() = 0;
    virtual void openFinder() = 0;
};
