#pragma once
// Turns waiting capture files into rows of the result table, one row per message, on the main
// thread. The owner of the timer calls tick() with its timer stopped, so passes never overlap.
//
// A pass takes every waiting file in order of arrival. For each: read its fixed lines, take the
// timestamp, sample number and eighteen values after their tags, insert one row, take the file
// out of the waiting ones (into Temp/imported/, emptied by the first pass that finds nothing
// waiting: freeing a file's blocks costs more than storing its row).
//
// Exactly one row per message, whatever happens:
//  - A message already stored is not stored again: the store answers "already stored" when the
//    row the message would make (date, time, sample number, the eighteen values) is among its
//    recent undeleted rows, and the file is only removed. So a crash between the insert and the
//    removal, or a message the analyser sends again because it never saw the last ACK, gives no
//    second row. A row deleted by staff does not count: the same result sent again becomes a row
//    again.
//  - A table that cannot be opened or written (missing, locked, on a share that dropped) holds
//    the pass: the messages wait in order, the error is reported once, and importing resumes by
//    itself when the table is back. Only a failure of the message itself (its file cannot be
//    read, or the table's fields refuse its values) counts towards setting it aside: after
//    kMaxTries such failures it moves to Temp/rejected/ beside a text file with the error.
//  - No complete timestamp: no row; the file waits while it is the newest, and moves to
//    Temp/rejected/ once a newer message has arrived.
//  - A message whose line lacks a result's tag is imported (that value blank), and its capture
//    file moves to Temp/rejected/ instead of being deleted, so the value can be recovered; the
//    user is told once.
//  - Every message is archived (with the times its times file gives) before its capture file is
//    removed or set aside: by the store with its row, or as set aside. While the archive cannot
//    be written the message waits, as for a table away.
//  - A pass with more than one message waiting stores them without waiting for the store's disk
//    each time (ResultStore::storeUnflushed), and their files leave only after the store's
//    flush() (every kFlushEvery messages, and at the pass's end): a crash or a store lost before
//    then leaves them waiting, and they are found stored, or stored, by a later pass.
// Reporting never waits for the user: reportError must return at once.
//
// Knows: capture files, their fixed lines and tags (CP1251 text), the result store's calls.
// Must not know: the line protocol, the serial port, tables, statements, windows (an error
// report and a hook stand in for them). Untrusted: every capture file (kind, size, bytes, lines).
#include "audit/MessageArchive.h"
#include "store/ImportedRow.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QTimer;
class ResultStore;

// What the fixed lines of one capture file hold.
struct CaptureMessage {
    QString timestamp;  // up to 14 characters after "P|1|" on line 1
    ImportedRow row;    // date and time filled only when the timestamp is complete
    QStringList missingTags;  // result tags not found on their lines
    bool complete() const { return timestamp.size() == 14; }
};

// Reads a capture file's bytes by fixed line and tag. Lines end at CR (a CR LF pair is one line
// end), control bytes are text, nothing is trimmed, lines past the end are empty, and bytes are
// CP1251 so every byte is one character.
CaptureMessage parseCaptureFile(const QByteArray& bytes);

class MessageImport {
public:
    static constexpr int kMaxTries = 5;
    // Files larger than this are not messages the receiver wrote (it keeps at most 50,000 bytes);
    // they are set aside unread.
    static constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;
    // Messages of a backlog stored before the store's disk is waited for and their files leave.
    static constexpr int kFlushEvery = 100;

    using ErrorReport = std::function<void(const QString&)>;
    using Hook = std::function<void()>;
    using RemoveFile = std::function<bool(const QString&)>;

    // afterStored runs once after a pass that stored rows (the window refreshes its table and
    // grid); what it throws is reported.
    MessageImport(QString programFolder, ResultStore& store, ErrorReport reportError, Hook afterStored = {});
    ~MessageImport();

    // One pass. Never throws: every error goes to the error report.
    void tick();
    // The timer handler: stops the timer, runs a pass, starts it again.
    void onTimer(QTimer& timer);

    // Rows inserted since construction.
    int imported() const { return imported_; }
    // Messages found stored already and not inserted again.
    int alreadyStored() const { return alreadyStored_; }
    // True while the table cannot be reached and messages wait for it.
    bool waitingForTable() const { return tableAwayReported_; }

    // Where the store away is said instead of the error report: each pass that finds it away,
    // with its message (a status line, not a box, for a store that may be away for a while).
    void setOnStoreAway(ErrorReport onAway) { onStoreAway_ = std::move(onAway); }

    // How a stored message's file leaves the waiting ones; tests put a failing one here.
    void setRemoveFile(RemoveFile remove) { remove_ = std::move(remove); }

private:
    enum class Outcome { Inserted, AlreadyStored, NoRow, Failed, Skipped, TableAway };
    // unflushed: store with storeUnflushed(), the file kept in unflushed_ when not on disk yet.
    Outcome importOne(const QString& path, bool newest, bool unflushed);
    // Waits for the store's disk, then lets unflushed_'s files go; false (reported as the store
    // away, the files left waiting) when it cannot.
    bool flushStored();
    void tableAway(const QString& message);
    void dispose(const QString& path, const CaptureMessage& message);
    // received: the message read, to archive before it is set aside (none when unreadable).
    void failed(const QString& path, const QString& message, const audit::ReceivedMessage* received = nullptr,
                const ImportedRow* row = nullptr);
    // Archives a message about to be set aside; false (reported as the store away) when the
    // archive cannot take it, and then it waits.
    bool archiveSetAside(const QString& path, const audit::ReceivedMessage& received, const ImportedRow* row,
                         const QString& reason);
    void setAside(const QString& path, const QString& reason);
    void reportOncePerFile(const QString& path, const QString& message);
    void prepareImportedFolder();

    QString programFolder_;
    ResultStore& store_;
    ErrorReport reportError_;
    Hook afterStored_;
    ErrorReport onStoreAway_;
    RemoveFile remove_;
    QHash<QString, int> failures_;        // file name -> failed tries so far
    // Stored, not yet known to be on the store's disk: their files wait for flushStored().
    std::vector<std::pair<QString, CaptureMessage>> unflushed_;
    QSet<QString> reported_;              // files whose trouble has been reported
    bool tableAwayReported_ = false;
    bool running_ = false;
    bool removeImportedWhenIdle_ = true;
    bool importedFolderMade_ = false;  // also files an earlier run left in imported/
    int imported_ = 0;
    int alreadyStored_ = 0;
};
