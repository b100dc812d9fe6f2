// Two processes appending to one table at the same time: the locks around each write keep
// every row, once, and a reader's refresh sees them all.
#include "DbfTestSupport.h"

#include "engine/DataSet.h"
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

namespace {

// Runs in a forked child: another program deletes record recNo through a table of its own.
void deleteInAnotherProgram(const QString& path, int recNo)
{
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int status = 0;
        try {
            TTable other;
            other.SetTableName(path);
            other.Open();
            other.SetRecNo(recNo);
            other.Delete();
        } catch (...) {
            status = 1;
        }
        ::_exit(status);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace

TEST(DbfConcurrency, EditOfARowAnotherProgramDeletedIsRefusedAndTheRowStaysDeleted)
{
    // Deleted before the edit starts, or between the first typed character and the post: either
    // way the change is refused rather than written over the deleted row (which would bring it
    // back), and the other rows are untouched.
    for (const bool deleteBeforeEdit : {true, false}) {
        SCOPED_TRACE(deleteBeforeEdit ? "deleted before the edit" : "deleted during the edit");
        QTemporaryDir dir;
        const QString path = dir.filePath("t.dbf");
        DbfFile::create(path, simple());
        {
            DbfFile file(path, DbfFile::Access::ReadWrite);
            for (const char* id : {"1", "2", "3"})
                appendSimple(file, QString::fromLatin1(id), QStringLiteral("row"));
        }
        TTable table;
        table.SetName("Table1");
        table.SetTableName(path);
        table.Open();
        table.SetRecNo(2);
        bool refused = false;
        try {
            if (deleteBeforeEdit)
                deleteInAnotherProgram(path, 2);
            table.Edit();
            table.FieldByName("TEXT")->SetAsString("changed");
            if (!deleteBeforeEdit)
                deleteInAnotherProgram(path, 2);
            table.Post();
        } catch (const EDatabaseError& e) {
            refused = true;
            EXPECT_TRUE(e.message().contains("deleted by another program")) << e.message().toStdString();
        }
        EXPECT_TRUE(refused) << "the change was saved over a deleted row";
        // Refused as the edit begins when the row is gone by then; a refused post stays in edit mode.
        EXPECT_EQ(table.State(), deleteBeforeEdit ? TDataSet::dsBrowse : TDataSet::dsEdit);
        table.Cancel();
        DbfFile check(path, DbfFile::Access::ReadOnly);
        EXPECT_EQ(liveIds(check), QStringList({"1", "3"}));
        EXPECT_TRUE(check.isDeleted(1));
        EXPECT_EQ(QByteArray(check.record(1) + 11, 4), "row ");
    }
}
