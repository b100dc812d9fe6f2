#pragma once
// The PostgreSQL server a benchmark runs on: the test run's, when HEMATIX_PG_POINTER names its
// pointer file (as the smoke tests run), else one of the program's own through
// scripts/pg-server.sh (as root), stopped when this object goes. The script turns fsync and
// synchronous commits off for the tests' throwaway data; a benchmark of durable commits starts its
// own server with the server's own durability (HEMATIX_PG_DURABLE=1), and checks that it has it.
#include "bench/support/Outcome.h"
#include "store/pg/PgConnection.h"
#include "store/pg/PgSchema.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <initializer_list>

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
        durable_ = durable;
        if (!run(QStringLiteral("start")))
            return false;
        own_ = true;
        QFile pointer(pointer_);
        if (!pointer.open(QIODevice::ReadOnly))
            return false;
        host_ = QString::fromUtf8(pointer.readAll()).trimmed();
        if (host_.isEmpty())
            return false;
        // What the figures stand for: a server that syncs its log.
        return !durable
               || pg::Connection(uri(QStringLiteral("postgres")), 5).exec(QStringLiteral("SHOW fsync")).scalar() == QStringLiteral("on");
    }
    // start(), saying what is missing when there is no server.
    bool startOrSay(const QString& name, bool durable)
    {
        return check(start(name, durable), "a PostgreSQL server (HEMATIX_PG_POINTER or scripts/pg-server.sh as root)");
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

    // A database of that name with the current schema and no rows, made anew; and gone.
    QString freshDatabase(const QString& name) const
    {
        {
            pg::Connection server(uri(QStringLiteral("postgres")), 5);
            server.exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name));
            server.exec(QStringLiteral("CREATE DATABASE %1").arg(name));
        }
        pg::Connection c(uri(name), 5);
        pgschema::ensure(c);
        return name;
    }
    void dropDatabase(const QString& name) const
    {
        pg::Connection(uri(QStringLiteral("postgres")), 5).exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name));
    }

    // Leaves tables as a lab's server keeps them between bursts of work: vacuumed until every page
    // is marked all-visible (a vacuum at once after a large insert may not mark them yet, and
    // index-only scans then read every row's page), analysed, and checkpointed, so that the
    // fill's writes are not flushed while the work is measured. False when the pages stay unmarked.
    static bool settle(pg::Connection& c, std::initializer_list<const char*> tables)
    {
        for (const char* table : tables) {
            const QString name = QLatin1String(table);
            for (int attempt = 0;; ++attempt) {
                c.exec(QStringLiteral("VACUUM ANALYZE %1").arg(name));
                if (c.exec(QStringLiteral("SELECT relallvisible >= relpages FROM pg_class WHERE relname = $1"), {name}).scalar()
                    == QStringLiteral("t"))
                    break;
                if (attempt == 50)
                    return false;
                QThread::msleep(200);
            }
        }
        c.exec(QStringLiteral("CHECKPOINT"));
        return true;
    }

private:
    bool run(const QString& action)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        if (durable_) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("HEMATIX_PG_DURABLE"), QStringLiteral("1"));
            p.setProcessEnvironment(env);
        }
        p.start(QStringLiteral(HEMATIX_SOURCE_DIR "/scripts/pg-server.sh"), {action, pointer_, name_});
        return p.waitForFinished(120000) && p.exitCode() == 0;
    }
    QTemporaryDir dir_;
    QString pointer_, name_, host_;
    bool own_ = false;
    bool durable_ = false;
};

} // namespace benchsupport
