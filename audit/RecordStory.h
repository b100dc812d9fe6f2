#pragma once
// What the audit trail holds about one row: where it came from (the message it was made from, an
// adoption, or typed in by hand) and every entry of its history, in chain order. What the
// "show" command prints and the row's history window shows.
//
// Knows: the two chains and their entry keys. Must not know: tables, windows.
// Untrusted: the chains' files (a line that is not an entry is passed over).
#include <QDate>
#include <QJsonObject>
#include <QList>
#include <QString>

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
};

RecordStory storyOf(const QString& programFolder, int record);

// The message entries archived on one day, in order.
QList<QJsonObject> messagesOfDay(const QString& programFolder, const QDate& day);

// A readable name of an origin ("message", "present before the audit trail", ...).
QString originName(RecordStory::Origin origin);

} // namespace audit
