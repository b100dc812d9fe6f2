#include "store/pg/PgListener.h"

#include "store/pg/PgConnection.h"

#include <QSocketNotifier>
#include <QTimer>

#include <limits>
#include <utility>

namespace {
const QByteArray kChannel = "hematix_rows";
}

PgListener::PgListener(QString uri, int answerWithinMs, int retryMs, QObject* parent)
    : QObject(parent), uri_(std::move(uri)), answerWithinMs_(answerWithinMs), retry_(new QTimer(this))
{
    retry_->setInterval(retryMs);
    connect(retry_, &QTimer::timeout, this, &PgListener::connectNow);
}

PgListener::~PgListener() = default;

void PgListener::start()
{
    connectNow();
}

bool PgListener::parse(const QString& payload, qint64& first, qint64& last)
{
    const QStringList parts = payload.split(QLatin1Char(' '));
    bool okFirst = false, okLast = false;
    if (parts.size() != 2)
        return false;
    first = parts[0].toLongLong(&okFirst);
    last = parts[1].toLongLong(&okLast);
    return okFirst && okLast && first >= 1 && first <= last && last <= std::numeric_limits<int>::max();
}

void PgListener::connectNow()
{
    if (connection_)
        return;
    try {
        auto c = std::make_unique<pg::Connection>(uri_, 10, answerWithinMs_);
        c->exec(QStringLiteral("LISTEN %1").arg(QString::fromLatin1(kChannel)), {}, QStringLiteral("Listening for rows stored"));
        connection_ = std::move(c);
    } catch (const Exception& e) {
        lose(e.message());
        return;
    }
    retry_->stop();
    notifier_ = new QSocketNotifier(qintptr(connection_->socket()), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &PgListener::readable);
    emit missed(std::exchange(connectedBefore_, true));
    readable();  // what came with the answer to LISTEN
}

void PgListener::readable()
{
    if (!connection_)
        return;
    QStringList payloads;
    try {
        payloads = connection_->notifications(kChannel);
    } catch (const Exception& e) {
        lose(e.message());
        return;
    }
    for (const QString& p : payloads) {
        qint64 first = 0, last = 0;
        if (parse(p, first, last))
            emit rowsChanged(first, last);
        else
            qWarning("A notification of rows that names none: \"%s\"", qUtf8Printable(p.left(40)));
    }
}

void PgListener::lose(const QString& why)
{
    if (connection_)
        qWarning("Not listening for rows stored: %s", qUtf8Printable(why));
    delete notifier_;
    notifier_ = nullptr;
    connection_.reset();
    if (!retry_->isActive())
        retry_->start();
}
