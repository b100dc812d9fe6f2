#pragma once
// What crossed the serial line for one archived message, read back for a person: the line log's
// reads and ACKs from the message's ENQ to the EOT after its terminator frame, each with its time
// and direction, and every frame received judged by its checksum (the "in" bytes are joined
// first, so a frame split over several reads is judged whole). When the log cannot give it (no
// times recorded, the day pruned, a capture older than the log, the ENQ not in it), the archived
// bytes give the frames alone, without times or ACKs, and the trace says why.
//
// Knows: the line log's lines and day files (link/LineLog), control bytes and frame checks
// (link/AstmFrame). Must not know: the archive's entries, the table, windows.
// Untrusted: the line log's files (any bytes, any size, any kind: a pipe is never waited on, a
// link never followed, a line that is not a log line passed over and counted; a day file is
// entered near the ENQ by bisecting on its times and read no further than kMaxReadPerDay bytes)
// and the archived bytes (any).
#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace linetrace {

enum class Direction { In, Out };

// A frame received, judged once it ended.
struct Frame {
    enum class Verdict {
        Good,     // whole, its checksum matches
        Bad,      // ended by its LF, but the framing or the checksum is wrong
        CutShort, // a new STX, an ENQ or an EOT came before its LF
    };
    int number = -1;        // its frame number digit; -1 when the byte after STX is none
    Verdict verdict = Verdict::Good;
    bool repeated = false;  // good, with the same bytes as the good frame before it (an ACK lost)
};

struct Item {
    QDateTime time;   // invalid for bytes taken from the archive
    Direction direction = Direction::In;
    QByteArray bytes;
    QList<Frame> frames;  // the received frames that ended in these bytes
};

struct Trace {
    enum class Source { LineLog, Archive, Nothing };
    Source source = Source::Nothing;
    QList<Item> items;
    // What a reader should know, in the words of the window: why the archived bytes stand in for
    // the log, lines passed over, a day read only in part, no EOT found.
    QStringList notes;
};

// Most bytes read from one day file, from where the bisection entered it.
constexpr qint64 kMaxReadPerDay = 8 << 20;
// Longest line taken as a log line (one read of at most 401 bytes, in base64, is far shorter).
constexpr qsizetype kMaxLogLine = 64 << 10;
// How long before the archived ENQ time its logged read may be (the log writes first, the
// receiver notes the time after), and how long after the terminator its EOT is waited for (the
// analyser gives up after six replies of fifteen seconds).
constexpr int kEnqLeadMs = 10'000;
constexpr int kEotWaitMs = 120'000;

// Bytes for reading: printable ASCII as it is, bytes from 0x80 as CP1251 letters, the protocol's
// control bytes by name (<ENQ>, <STX>, <ETX>, <ETB>, <CR>, <LF>, <EOT>, <ACK>, <NAK>), any other
// control byte as <0xNN>.
QString shown(QByteArrayView bytes);

// Judges the frames in the received items' bytes, joined in order; fills each item's frames.
void judgeFrames(QList<Item>& items);

// An archived message's bytes (ENQ and the acknowledged frames) as items: the ENQ, each frame,
// and any bytes between, judged; no times.
QList<Item> archivedFrames(const QByteArray& bytes);

// The trace of a message whose ENQ and terminator arrived at enq and end (either invalid: not
// recorded), read from programFolder's line log; archived: its bytes as captured, for when the
// log cannot give it. Never raises.
Trace traceOf(const QString& programFolder, const QDateTime& enq, const QDateTime& end, const QByteArray& archived);

} // namespace linetrace
