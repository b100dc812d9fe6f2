#pragma once
// The PostgreSQL server a benchmark runs on: the test run's, when HEMATIX_PG_POINTER names its
// pointer file (as the smoke tests run), else one of the program's own through
// scripts/pg-server.sh (as root), stopped when this object goes. The script turns fsync off for
// the tests' throwaway data; a benchmark of durable commits asks for it back on its own server.
#include "store/pg/PgConnection.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace benchsupport {

class PgServer {
public:
    // name: the server's name for the script, made unique by the process id. durable: fsync on.
    bool start(const QString& name, bool durable)
    {
        if (QFile pointer(qEnvironmentVariable("HEMATIX_PG_POINTER")); pointer.open(QIODevice::ReadOnly)) {
            host_ = QString::fromUtf8(pointer.readAll()).trimmed();
            return !host_.isEmpty();
        }
        pointer_ = dir_.filePath(QStringLiteral("pg-server.dir"));
        name_ = name + QString::number(QCoreApplication::applicationPid());
        if (!run(QStringLiteral("start")))
            return false;
        own_ = true;
        QFile pointer(pointer_);
        if (!pointer.open(QIODevice::ReadOnly))
            return false;
        host_ = QString::fromUtf8(pointer.readAll()).trimmed();
        if (host_.isEmpty())
            return false;
        if (durable) {
            pg::Connection c(uri(QStringLiteral("postgres")), 5);
            c.exec(QStringLiteral("ALTER SYSTEM SET fsync = on"));
            c.exec(QStringLiteral("SELECT pg_reload_conf()"));
        }
        return true;
    }
    ~PgServer()
    {
        if (own_)
            run(QStringLiteral("stop"));
    }

    // The server's socket folder.
    const QString& host() const { return host_; }
    QString uri(const QString& database) const
    {
        return QStringLiteral("postgresql:///%1?host=%2&user=postgres").arg(database, host_);
    }

private:
    bool run(const QString& action)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QStringLiteral(HEMATIX_SOURCE_DIR "/scripts/pg-server.sh"), {action, pointer_, name_});
        return p.waitForFinished(120000) && p.exitCode() == 0;
    }
    QTemporaryDir dir_;
    QString pointer_, name_, host_;
    bool own_ = false;
};

} // namespace benchsupport
