#pragma once
// Turns waiting capture files into rows of the result table, one row per message, on the main
// thread. The owner of the timer calls tick() with its timer stopped, so passes never overlap.
//
// A pass takes every waiting file in order of arrival. For each: read its fixed lines, take the
// timestamp, sample number and eighteen values after their tags, insert one row, remove the file.
//  - No complete timestamp: no row, the file stays (it is looked at again at every pass).
//  - An error (unreadable file, engine refusal) is reported once per file with its own text; the
//    file is tried again at later passes and, after kMaxTries failures, moved to Temp/rejected/
//    beside a text file holding the error. Later files keep flowing; nothing is deleted.
//  - A file whose row was inserted but which cannot be removed goes into a ledger of imported
//    files (kept in Temp/Imported.ledger, name and content digest) and is never imported again.
#include "store/Statements.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <functional>

class QTimer;
class TQuery;
class TTable;

// What the fixed lines of one capture file hold.
struct CaptureMessage {
    QString timestamp;  // up to 14 characters after "P|1|" on line 1
    ImportedRow row;    // date and time filled only when the timestamp is complete
    bool complete() const { return timestamp.size() == 14; }
};

// Reads a capture file's bytes by fixed line and tag. Lines end at CR (a CR LF pair is one line
// end), control bytes are text, nothing is trimmed, lines past the end are empty, and bytes are
// CP1251 so every byte is one character.
CaptureMessage parseCaptureFile(const QByteArray& bytes);

class MessageImport {
public:
    static constexpr int kMaxTries = 5;
    // Files larger than this are not messages the receiver wrote (it keeps at most 50,000 bytes).
    static constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

    using ErrorReport = std::function<void(const QString&)>;
    using Hook = std::function<void()>;
    using RemoveFile = std::function<bool(const QString&)>;

    // table may be null (nothing to refresh); beforeRefresh runs before the table is refreshed
    // (the grid's repaint).
    MessageImport(QString programFolder, TQuery& query, TTable* table, ErrorReport reportError,
                  Hook beforeRefresh = {});

    // One pass. Never throws: every error goes to the error report.
    void tick();
    // The timer handler: stops the timer, runs a pass, starts it again.
    void onTimer(QTimer& timer);

    // Rows inserted since construction.
    int imported() const { return imported_; }

    // How files are removed; tests put a failing one here.
    void setRemoveFile(RemoveFile remove) { remove_ = std::move(remove); }

private:
    enum class Outcome { Inserted, NoRow, Failed, Skipped };
    Outcome importOne(const QString& path);
    void failed(const QString& path, const QString& message);
    void forget(const QString& path);
    void loadLedger();
    void saveLedger();
    QString ledgerKey(const QString& path, const QByteArray& bytes) const;

    QString programFolder_;
    TQuery& query_;
    TTable* table_;
    ErrorReport reportError_;
    Hook beforeRefresh_;
    RemoveFile remove_;
    QHash<QString, int> failures_;     // file name -> failed tries so far
    QSet<QString> ledger_;             // "name<TAB>sha256" of imported files still present
    bool running_ = false;
    int imported_ = 0;
};
