#pragma once
// The message archive: every message that became a row, that was recognised as one already
// stored, or that was set aside, kept as the receiver captured it (ENQ and the acknowledged
// frames, in order) with the times of its ENQ and its terminator, its length, the SHA-256 of its
// bytes, what it became, and its identity as received. One chain ("messages", see audit/Chain).
//
// The identity of a message is what the import extracted from it (timestamp, sample number and
// the eighteen values); it is what recognises the analyser sending a result again, however old
// the row and whatever staff corrected in it since. The archive keeps an index of identities
// and captures in memory, built by reading its files once (only the short keys at each line's
// start) and brought up to date from what was appended since, by this or another program.
//
// Knows: the chain, the entry keys of a message. Must not know: tables, capture files, frames.
// Untrusted: the archive files (the index reads them; a line a person edited only loses its
// place in the index, and verify names it).
#include "audit/Chain.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>

#include <memory>

namespace audit {

// A message as the receiver captured it.
struct ReceivedMessage {
    QByteArray bytes;
    QDateTime enq;   // invalid when not known (a capture made before times were recorded)
    QDateTime end;   // the terminator frame's arrival
    QString capture; // the capture file's name, for the reader of the archive
    // The same capture read twice (a crash between archiving it and removing its file) has
    // the same key; the analyser sending it again does not (a new ENQ time).
    QByteArray captureKey() const;
};

// Field name and text, in the table's order: DAT, TIM, NUM and the eighteen values.
using Identity = QList<QPair<QString, QString>>;
QByteArray identityJson(const Identity& identity);
QByteArray identityId(const Identity& identity);

class MessageArchive {
public:
    enum class Outcome { Stored, Resend, Rejected };

    explicit MessageArchive(QString programFolder, Chain::Clock clock = {});
    ~MessageArchive();
    MessageArchive(const MessageArchive&) = delete;
    MessageArchive& operator=(const MessageArchive&) = delete;

    // The record the last message with this identity became (0: none). Reads what was appended
    // since the last call first. Raises AuditError when the folder cannot be read.
    int recordOf(const QByteArray& identityId);
    // True when this capture is archived already.
    bool archived(const QByteArray& captureKey);

    // The entry archive() appends for a message, for a writer that appends many at once.
    // captureKey: the message's captureKey() when the caller has it already (a hash of the bytes).
    static JsonLine entry(const ReceivedMessage& message, Outcome outcome, const Identity& identity, int record,
                          const QString& reason = {}, const QByteArray& captureKey = {});

    // Archives a message durably. record: the row it became (Stored) or is already (Resend);
    // reason: why it was set aside (Rejected). Raises AuditError; then nothing was archived.
    Chain::Written archive(const ReceivedMessage& message, Outcome outcome, const Identity& identity, int record,
                           const QString& reason = {});

    // Removes whole days of the archive before keepDays ago, after appending an entry that
    // carries the hash and number of the last entry removed and the highest record among the
    // removed messages (rows up to it show "origin pruned"). Answers the day files removed.
    int prune(int keepDays, const QDate& today);

    Chain& chain() { return chain_; }

private:
    struct Index;
    void catchUp();

    Chain chain_;
    std::unique_ptr<Index> index_;
};

} // namespace audit
