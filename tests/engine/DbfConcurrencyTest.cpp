// Two processes appending to one table at the same time: the locks around each write keep
// every row, once, and a reader's refresh sees them all.
#include "DbfTestSupport.h"

#include "engine/DbfSqlTable.h"

#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace dbftest;

namespace {

constexpr int kRowsEach = 120;

// Runs in a forked child: appends its rows through its own open table, then leaves at once.
[[noreturn]] void appendInChild(const QString& path, const QString& who)
{
    int status = 0;
    try {
        DbfSqlTable table(path);
        for (int i = 0; i < kRowsEach; ++i)
            table.append({QStringLiteral("%1%2").arg(who).arg(i), QStringLiteral("процесс %1").arg(who)});
    } catch (...) {
        status = 1;
    }
    ::_exit(status);
}

} // namespace

TEST(DbfConcurrency, TwoProcessesAppendingAtOnceKeepEveryRowOnce)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("t.dbf");
    DbfFile::create(path, simple());
    DbfFile reader(path, DbfFile::Access::ReadOnly);

    std::vector<pid_t> children;
    for (const char* who : {"a", "b"}) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0)
            appendInChild(path, QString::fromLatin1(who));
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = -1;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    reader.refresh();
    ASSERT_EQ(reader.recordCount(), 2 * kRowsEach);
    const QStringList ids = liveIds(reader);
    QSet<QString> unique(ids.begin(), ids.end());
    EXPECT_EQ(unique.size(), 2 * kRowsEach);
    for (const char* who : {"a", "b"})
        for (int i = 0; i < kRowsEach; ++i)
            EXPECT_TRUE(unique.contains(QStringLiteral("%1%2").arg(QLatin1String(who)).arg(i)));
    const QByteArray b = bytesOf(path);
    EXPECT_EQ(b.size(), 97 + 2 * kRowsEach * 41 + 1);
    EXPECT_EQ(quint8(b[4]) | quint8(b[5]) << 8, 2 * kRowsEach);
    // Each process's rows are in its own order.
    int lastA = -1;
    for (const QString& id : ids)
        if (id.startsWith('a')) {
            EXPECT_EQ(id.mid(1).toInt(), lastA + 1);
            lastA = id.mid(1).toInt();
        }
}
