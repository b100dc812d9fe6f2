#pragma once
// What the audit trail holds about one row: where it came from (the message it was made from, an
// adoption, or typed in by hand) and every entry of its history, in chain order. What the
// "show" command prints and the row's history window shows.
//
// The trail is read from a TrailSource: a program folder's day files, or a store's tables. A change
// a store makes together with its entry (no "state" in the entry) counts when it is written; a
// pending one once its "applied" follows.
//
// Knows: the two chains and their entry keys, the control characters of the analyser's framing
// (to show a message's frames). Must not know: tables, windows, stores.
// Untrusted: the chains' lines (a line that is not an entry is passed over).
#include "audit/TrailSource.h"

#include <QByteArray>
#include <QDate>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

namespace audit {

struct RecordStory {
    enum class Origin { None, Message, Adopted, Entered, Pruned };
    int record = 0;
    Origin origin = Origin::None;
    QJsonObject originEntry;        // the message, adoption or hand entry
    QList<QJsonObject> resends;     // the same result sent again and recognised
    QList<QJsonObject> history;     // every history entry about the row, oldest first
    // The latest deletion that was applied and not undone by a restore (0: none).
    qint64 deletedEntry = 0;
    // A pending change's number -> the entry that resolved it ("applied" or "not applied").
    QHash<qint64, QJsonObject> resolutions;
};

RecordStory storyOf(const QString& programFolder, int record);
// The stories of several rows, the chains read once; in the order asked.
QList<RecordStory> storiesOf(const QString& programFolder, const QList<int>& records);
QList<RecordStory> storiesOf(TrailSource& source, const QList<int>& records);

// The message entries archived on one day, in order.
QList<QJsonObject> messagesOfDay(const QString& programFolder, const QDate& day);

// A readable name of an origin ("message", "present before the audit trail", ...).
QString originName(RecordStory::Origin origin);

// What became of a change of the story ("applied", "not applied: why", "never resolved"); empty
// for an entry that is no change waiting for its resolution.
QString stateOf(const RecordStory& story, const QJsonObject& entry);

// A message's bytes as text, one frame a line (ENQ and EOT on lines of their own), control
// characters named (<STX>, <ETX>, <ETB>, <CR>, <LF>, <ENQ>, <EOT>, others as <0x1f>), other bytes
// read as code page 1251.
QStringList frameLines(const QByteArray& message);

} // namespace audit
