#pragma once
// The texts of the row's history window ("История записи"), made without a window: a row's
// origin in words, the facts of the message it came from, its changes newest first, a day's
// archived messages, and a message's line trace (link/LineTrace) as rows of a list.
//
// Knows: the audit trail's entry keys (audit/RecordStory), line traces. Must not know: windows,
// the table. Untrusted: the entries (any key may be missing or of another type: it shows empty).
#include "audit/RecordStory.h"
#include "link/LineTrace.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace storytext {

QString originName(audit::RecordStory::Origin origin);

// A message entry of the archive.
struct Message {
    QDateTime time;   // when it was archived
    QDateTime enq;    // invalid when not recorded
    QDateTime end;
    QString sample;   // the sample number the import took; empty when none
    QString capture;
    qint64 length = 0;
    QString sha256;
    QString outcome;  // in words
    int record = 0;   // 0: none
    QByteArray bytes; // as captured; empty when the archive holds none
};
Message messageOf(const QJsonObject& entry);

// Label and text, one line each, of what the archive says of a message.
QList<QPair<QString, QString>> messageFacts(const Message& m);

// A row of a day's archived messages: time (its ENQ's when recorded), sample, outcome, record.
QStringList dayRow(const Message& m);

// A message's trace from the line log, or its archived frames when the log cannot give it.
linetrace::Trace traceOf(const QString& programFolder, const Message& m);

struct TraceRow {
    QString time;
    QString direction;
    QString bytes;
    QString frames;   // each frame that ended here: number and verdict
    bool bad = false; // a frame here is damaged or cut short
};
QList<TraceRow> traceRows(const linetrace::Trace& trace);
// The frames of a trace counted: received, damaged, cut short, repeated ("" when none).
QString traceSummary(const linetrace::Trace& trace);

// One change of a row: a pending entry with the state its resolution gave it, or an entry that
// stands alone (adopted, outside).
struct ChangeRow {
    QString time;
    QString user;
    QString host;
    QString what;
    QString state;
};
// The history of a row (oldest first, as audit::storyOf gives it) as changes, newest first; an
// "applied" or "not applied" entry is the state of the change it resolves.
QList<ChangeRow> changeRows(const QList<QJsonObject>& history);

// "dd.MM.yyyy hh:mm:ss" of an entry's time text; the text itself when it is no time.
QString timeText(const QString& isoTime);

} // namespace storytext
