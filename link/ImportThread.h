#pragma once
// The import (MessageImport) run beside the window, on a thread of its own, for a store whose
// calls may wait on a network (a database server): the window's thread never waits for a store
// that is slow or gone. The store is made, opened (its audit trail) and used on that thread only.
//
// A pass runs when kick() asks (the window's timer), never two at once, and a kick
// while one runs is dropped (the next kick comes). While the store is away the messages wait in
// Temp in order (MessageImport keeps them so); each pass then asks the store whether it answers
// again, so that the window hears of it even when nothing waits. Away and back are signalled
// once each, for a status line: never a box that would stop an unattended PC.
//
// Knows: the import, the store's calls, threads. Must not know: windows, the serial line.
// Untrusted: what MessageImport reads (capture files).
#include "store/ResultStore.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

class ImportThread : public QObject {
    Q_OBJECT
public:
    using StoreMaker = std::function<std::unique_ptr<ResultStore>()>;

    // makeStore runs on the import's thread; keepDays is what openAudit() is given (once, before
    // the first pass that reaches the store).
    ImportThread(QString programFolder, StoreMaker makeStore, int keepDays);
    // Waits for the pass under way, then ends the thread.
    ~ImportThread() override;

    // Passes take waiting messages only once this is on (after Start); before, a pass opens the
    // audit trail and asks whether the store answers.
    void setImporting(bool on) { importing_ = on; }
    // Asks for a pass; returns at once.
    void kick();
    // Archives a message the receiver set aside (too long to import), on the import's thread;
    // while the store is away it waits in memory and goes with a later pass (its bytes are kept
    // in Temp/rejected/ meanwhile). Returns at once; callable from any thread.
    void setAside(const audit::ReceivedMessage& message, const QString& reason);
    // Runs a pass and returns when it is done (tests, and a caller that must know it ran).
    void runPass();
    bool away() const { return away_.load(); }

signals:
    void stored();                        // a pass stored rows
    void storeAway(const QString& why);   // the store stopped answering; messages wait
    void storeBack();                     // it answers again; waiting messages go in
    void error(const QString& message);   // what the import reports otherwise (a message set aside)
    void auditOpened(qint64 adopted, const QStringList& notApplied);

private:
    class Worker;
    QThread thread_;
    Worker* worker_;  // lives on thread_
    std::atomic_bool busy_{false};
    std::atomic_bool away_{false};
    std::atomic_bool importing_{false};
};
