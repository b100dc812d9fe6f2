#pragma once
// A database of a test's own on the private server the test run started (scripts/pg-server.sh),
// made before each test and dropped after it, so tests may run side by side. The server is found
// through HEMATIX_PG_HOST (a socket folder or host) or HEMATIX_PG_POINTER (the fixture's pointer
// file naming its state folder); without either the test skips, except under CI=true.
#include "store/pg/PgConnection.h"
#include "store/pg/PgSchema.h"

#include <QCoreApplication>
#include <QFile>
#include <gtest/gtest.h>
#include <memory>

// The message of the E that call raises, or "(not raised)".
template <class E, class F> QString messageOf(F call)
{
    try { call(); } catch (const E& e) { return e.message(); }
    return QStringLiteral("(not raised)");
}

class PgTestDatabase : public ::testing::Test {
public:
    // The private server's socket folder (or host); empty when none was started.
    static QString host_()
    {
        QString host = qEnvironmentVariable("HEMATIX_PG_HOST");
        if (QFile pointer(qEnvironmentVariable("HEMATIX_PG_POINTER")); host.isEmpty() && pointer.open(QIODevice::ReadOnly))
            host = QString::fromUtf8(pointer.readAll()).trimmed();
        return host;
    }

protected:
    void SetUp() override
    {
        const QString host = host_();
        if (host.isEmpty() && qEnvironmentVariable("CI") == QLatin1String("true"))
            FAIL() << "No PostgreSQL server: HEMATIX_PG_HOST and HEMATIX_PG_POINTER unset or unreadable";
        if (host.isEmpty())
            GTEST_SKIP() << "No PostgreSQL server (HEMATIX_PG_HOST or HEMATIX_PG_POINTER; ctest starts one)";
        // Unique across the test programs ctest runs at once; the rest names it for a reader (a
        // parameterised test's "/" and the like as "_").
        name_ = QStringLiteral("hx_%1_%2").arg(QCoreApplication::applicationPid())
                    .arg(QString::fromLatin1(testing::UnitTest::GetInstance()->current_test_info()->name()).toLower()).left(63);
        for (QChar& c : name_)
            if (!c.isLetterOrNumber())
                c = QLatin1Char('_');
        server_ = QStringLiteral("postgresql:///%1?host=") + host + QStringLiteral("&user=postgres");
        pg::Connection(server_.arg(QStringLiteral("postgres")), 5).exec(QStringLiteral("CREATE DATABASE ") + name_);
        uri_ = server_.arg(name_);
        db_ = std::make_unique<pg::Connection>(uri_, 5);
    }
    // The start of a fixture's SetUp on the store's schema; false when the test is skipped or
    // already failed, and the fixture should go no further.
    bool setUpWithSchema()
    {
        PgTestDatabase::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return false;
        pgschema::ensure(*db_);
        return true;
    }
    void TearDown() override
    {
        db_.reset();
        if (!uri_.isEmpty())
            pg::Connection(server_.arg(QStringLiteral("postgres")), 5).exec(QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(name_));
    }

    QString uri_;                         // the test's own database
    std::unique_ptr<pg::Connection> db_;  // connected to it

private:
    QString server_, name_;
};
