#pragma once
// A chained journal: entries appended as JSON lines to day files Archive/<name>-YYYY-MM-DD.jsonl,
// each carrying the SHA-256 of the entry before it, so that a changed, removed or inserted byte
// anywhere shows, and a chain rewritten whole shows by its head hash differing from one kept
// elsewhere. The message archive and the change history are each one chain.
//
// An entry is one line: a JSON object whose first keys are "seq" (1, 2, ... along the chain),
// "prev" (lowercase hex SHA-256 of the previous entry's line as written, without its newline; 64
// zeros before the first entry) and "time" (local time with milliseconds and offset), then
// "kind" and the kind's own keys. An entry's hash is the SHA-256 of its line without the newline.
// A day file holds the entries appended while it was the newest file on or after that day (a
// clock set back keeps appending to the newest file), so reading the files in name order reads
// the chain in order.
//
// Appends from several programs on one folder are serialised by an exclusive lock on
// Archive/<name>.lock held around each append; the writer reads the head from the file under it.
// A last line without its newline is an append a crash cut short (it was never synced, so
// nothing acted on it): the next append cuts it off first.
//
// Knows: the Archive folder, JSON lines, SHA-256, POSIX locks, durable writes (platform/durable).
// Must not know: what entries mean (messages, rows). Untrusted: every file in Archive/ (any
// bytes, any kind, any size); a line longer than kMaxLine is not an entry.
#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <stdexcept>

namespace audit {

// Appending failed (disk full, folder not writable, lock not taken): nothing was appended.
class AuditError : public std::runtime_error {
public:
    explicit AuditError(const QString& message) : std::runtime_error(message.toStdString()), text_(message) {}
    const QString& text() const { return text_; }

private:
    QString text_;
};

// The longest line read as an entry: a message of 50,000 bytes in base64 with its keys fits.
constexpr qsizetype kMaxLine = 1 << 20;

QString archiveFolder(const QString& programFolder);
// Lowercase hex SHA-256.
QByteArray sha256Hex(QByteArrayView bytes);
QByteArray zeroHash();
// The local time as entries carry it: 2026-12-07T09:15:02.123+03:00.
QString timeText(const QDateTime& time);
// Now, with the local zone's offset (the entries' clocks): cheaper than
// QDateTime::currentDateTime(), which reads the zone's file on every call.
QDateTime localNow();

// Builds one entry's line with its keys in the order given. Texts are escaped as JSON wants
// (quote, backslash, control characters); everything else is written as UTF-8.
class JsonLine {
public:
    JsonLine& add(const char* key, const QString& text);
    // A text already in UTF-8 (hashes, base64): no conversion on the way.
    JsonLine& addUtf8(const char* key, QByteArrayView text);
    JsonLine& add(const char* key, qint64 number);
    JsonLine& addNull(const char* key);
    // A value already in JSON (an object or array built with JsonLine::object/array).
    JsonLine& addRaw(const char* key, const QByteArray& json);
    QByteArray object() const { return body_ + '}'; }
    static QByteArray quote(const QString& text);

private:
    void key(const char* key);
    QByteArray body_ = "{";
};

// What the chain's head is: the last entry's number and hash (0 and zeroHash() when empty).
struct Head {
    qint64 seq = 0;
    QByteArray hash = zeroHash();
    QByteArray line;  // the last entry as written (empty when the chain is empty)
};

// The text of a short key near a line's start ("key":"text" or "key":number), looked for in its
// first 1024 bytes only; empty when absent. Entries put their short keys first, so readers that
// need only those pass over the long ones (a message's bytes) without parsing them.
QByteArrayView shortKey(QByteArrayView line, QByteArrayView key);

class Chain {
public:
    using Clock = std::function<QDateTime()>;

    // name: "messages" or "history".
    Chain(QString programFolder, QString name, Clock clock = {});
    ~Chain();
    Chain(const Chain&) = delete;
    Chain& operator=(const Chain&) = delete;

    struct Written {
        qint64 seq = 0;
        QByteArray hash;
        QDateTime time;
        QString file;
    };

    // Appends one entry: "seq", "prev" and "time" are put before body's keys (body is a JsonLine
    // holding "kind" and the rest). With sync, the entry is on disk when this returns (the file's
    // data synced; the folder too when the day file is new). Raises AuditError.
    Written append(const JsonLine& body, bool sync);
    // Appends several entries under one lock, in one write; synced once at the end with sync.
    Written appendAll(const QList<JsonLine>& bodies, bool sync);

    // The head as the files hold it now. Raises AuditError when the folder cannot be read.
    Head head();

    // Day files of this chain in chain order (full paths).
    QStringList files() const;
    static QStringList files(const QString& programFolder, const QString& name);
    // The day a file name stands for; invalid when it is not one of this chain's names.
    static QDate dayOf(const QString& fileName, const QString& name);

    const QString& name() const { return name_; }
    const QString& programFolder() const { return programFolder_; }

private:
    struct Locked;
    Head readHead(const QString& newest);

    QString programFolder_;
    QString name_;
    Clock clock_;
    // The head this process last wrote, and the size of the file it left: when the newest file
    // still has that size, nobody appended since and the file need not be read.
    QString cachedFile_;
    qint64 cachedSize_ = -1;
    Head cached_;
};

// One entry as read back.
struct Entry {
    QByteArray line;       // as written, without the newline
    QByteArray hash;       // sha256Hex(line)
    QJsonObject object;    // empty when the line is not a JSON object
    qint64 seq = 0;        // 0 when absent or not a number
    QByteArray prev;       // as written ("" when absent)
    QString file;          // the day file
    qint64 lineNumber = 0; // in that file, from 1
    bool complete = true;  // false for a last line without its newline
    QString problem;       // why the line is not an entry ("" when it is one)
};

// Reads a chain's entries in order, file after file, holding one line at a time. A line longer
// than kMaxLine is skipped to its end and reported as not an entry. Files that are not regular
// files (a folder, a pipe, a link to one) are reported and skipped, never opened for reading.
class ChainReader {
public:
    // parse false: entries come with line, hash, file and line number only (readers that look
    // at short keys alone).
    explicit ChainReader(QStringList files, bool parse = true);
    ~ChainReader();
    ChainReader(const ChainReader&) = delete;
    ChainReader& operator=(const ChainReader&) = delete;
    // Reads the chain from files whose day is on or after since (all when since is invalid).
    static ChainReader since(const QString& programFolder, const QString& name, const QDate& since, bool parse = true);
    ChainReader(ChainReader&&) noexcept;

    // False at the end.
    bool next(Entry& entry);
    // Bytes read so far (for progress).
    qint64 bytesRead() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Parses an entry's line (kept for readers of single lines, like the fuzz entry and tests).
Entry parseLine(const QByteArray& line);

} // namespace audit
