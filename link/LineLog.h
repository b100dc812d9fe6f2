#pragma once
// The line log: every byte that crossed the serial line, in and out, with its time, as the
// receiver saw it (ENQ, each frame as it came, repeated and damaged ones included, each ACK, EOT).
// One file a day, Archive/line-YYYY-MM-DD.jsonl, appended: one JSON object a line,
//   {"time":"2026-12-07T09:15:02.123+03:00","dir":"in","bytes":"<base64>"}
// so a lab can read it without Hematix. It is for diagnosis: written without a sync (a crash may
// lose its last second), and never in the way of an ACK (ACKs are logged after they are sent).
//
// Knows: the program folder's Archive/, the clock. Must not know: frames, messages, the table.
// Untrusted: the bytes (any), the folder's files (a line log a person edited is only appended to).
#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <functional>

class LineLog {
public:
    enum class Direction { In, Out };
    using ErrorReport = std::function<void(const QString&)>;
    using Clock = std::function<QDateTime()>;

    // reportError hears once of a day file that cannot be written (again after one could be).
    explicit LineLog(QString programFolder, ErrorReport reportError = {}, Clock clock = {});
    ~LineLog();
    LineLog(const LineLog&) = delete;
    LineLog& operator=(const LineLog&) = delete;

    void record(Direction direction, const char* bytes, int n);

    // Removes the day files older than keepDays before today; answers how many went.
    int prune(int keepDays, const QDate& today);

    // Days kept, from the ArchiveDays setting: none given (absent or empty) is the default, 3650;
    // a value that is not a whole number of at least 30 is the default too, and problem says so.
    static constexpr int kDefaultDays = 3650;
    static int keepDays(const QString& setting, QString* problem);

    static QString folder(const QString& programFolder);
    static QString dayFile(const QString& programFolder, const QDate& day);
    // One line of the log, as written (with its newline).
    static QByteArray line(const QDateTime& time, Direction direction, const QByteArray& bytes);

private:
    bool openDay(const QDate& day);

    QString programFolder_;
    ErrorReport reportError_;
    Clock clock_;
    int fd_ = -1;
    QDate day_;
    bool failing_ = false;
};
