#pragma once
// Hears the rows other programs store or change on the server (the schema's notifications on
// hematix_rows) on a connection of its own, on the thread it lives on (the window's), without
// waiting there: the socket is read only when it is readable, and connecting waits at most the
// answer time. Lost, it connects again every retryMs; every connection made, the first too, is
// followed by missed(): what was told while nobody listened is unknown, so the caller reads
// anew what it shows (after the first connection, lost false, only what came since it read).
//
// Knows: the channel and its payload "FIRST LAST" (ids). Must not know: grids, data sets.
// Untrusted: payloads (anyone who may connect may NOTIFY): one that is not two ids in order is
// dropped.
#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;
class QTimer;
namespace pg {
class Connection;
}

class PgListener : public QObject {
    Q_OBJECT
public:
    PgListener(QString uri, int answerWithinMs, int retryMs, QObject* parent = nullptr);
    ~PgListener() override;

    // Connects now (or, failing, on the next retry).
    void start();
    bool listening() const { return connection_ != nullptr; }

    // A payload as two ids, first <= last, or false.
    static bool parse(const QString& payload, qint64& first, qint64& last);

signals:
    void rowsChanged(qint64 first, qint64 last);
    void missed(bool lost);

private:
    void connectNow();
    void readable();
    void lose(const QString& why);

    QString uri_;
    int answerWithinMs_;
    std::unique_ptr<pg::Connection> connection_;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* retry_;
    bool connectedBefore_ = false;
};
