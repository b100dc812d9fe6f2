// The line log: what crossed the line, a JSON line per read or ACK, a file per day, pruned by the
// days kept.
#include "link/LineLog.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(LineLog, EveryReadAndAckIsALineOfItsDaysFile)
{
    QTemporaryDir dir;
    QDateTime now(QDate(2026, 12, 7), QTime(23, 59, 59, 500));
    QStringList errors;
    LineLog log(dir.path(), [&](const QString& e) { errors << e; }, [&] { return now; });
    log.record(LineLog::Direction::In, "\x05", 1);
    log.record(LineLog::Direction::Out, "\x06", 1);
    const QByteArray frame("\x02" "1H|\\^&|||\r\x03" "A7\r\n", 16);
    now = now.addMSecs(600);   // past midnight: the next day's file
    log.record(LineLog::Direction::In, frame.constData(), static_cast<int>(frame.size()));
    log.record(LineLog::Direction::In, "", 0);   // an empty read is no line

    const QList<QByteArray> first = testsupport::readFile(LineLog::dayFile(dir.path(), QDate(2026, 12, 7))).split('\n');
    ASSERT_EQ(first.size(), 3);   // two lines and the empty rest after the last newline
    const QJsonObject enq = QJsonDocument::fromJson(first[0]).object();
    EXPECT_EQ(enq.value("dir").toString(), QStringLiteral("in"));
    EXPECT_EQ(QByteArray::fromBase64(enq.value("bytes").toString().toLatin1()), QByteArray("\x05"));
    EXPECT_EQ(QDateTime::fromString(enq.value("time").toString(), Qt::ISODateWithMs), QDateTime(QDate(2026, 12, 7), QTime(23, 59, 59, 500)));
    EXPECT_EQ(QJsonDocument::fromJson(first[1]).object().value("dir").toString(), QStringLiteral("out"));
    const QList<QByteArray> second = testsupport::readFile(LineLog::dayFile(dir.path(), QDate(2026, 12, 8))).split('\n');
    ASSERT_EQ(second.size(), 2);
    EXPECT_EQ(QByteArray::fromBase64(QJsonDocument::fromJson(second[0]).object().value("bytes").toString().toLatin1()), frame)
        << "the bytes as they came, control characters included";
    EXPECT_TRUE(errors.isEmpty());

    // A link left in place of a day's file is not followed; the trouble is said once.
    now = QDateTime(QDate(2026, 12, 9), QTime(8, 0));
    ASSERT_TRUE(QFile::link(dir.filePath("elsewhere"), LineLog::dayFile(dir.path(), QDate(2026, 12, 9))));
    log.record(LineLog::Direction::In, "\x05", 1);
    log.record(LineLog::Direction::In, "\x05", 1);
    EXPECT_EQ(errors.size(), 1);
    EXPECT_FALSE(QFile::exists(dir.filePath("elsewhere")));
}

TEST(LineLog, DaysKeptAndPruning)
{
    const struct {
        const char* setting;
        int days;
        bool problem;
    } rows[] = {{"", 3650, false}, {"365", 365, false}, {" 30 ", 30, false}, {"29", 3650, true},
                {"ten", 3650, true}, {"-5", 3650, true}, {"99999999999", 3650, true}};
    for (const auto& r : rows) {
        QString problem;
        EXPECT_EQ(LineLog::keepDays(QString::fromLatin1(r.setting), &problem), r.days) << r.setting;
        EXPECT_EQ(!problem.isEmpty(), r.problem) << r.setting;
    }

    QTemporaryDir dir;
    QDir().mkpath(LineLog::folder(dir.path()));
    const QDate today(2026, 12, 7);
    for (int back : {0, 29, 30, 31, 400})
        testsupport::writeFile(LineLog::dayFile(dir.path(), today.addDays(-back)), "{}\n");
    testsupport::writeFile(QDir(LineLog::folder(dir.path())).filePath("line-notes.jsonl"), "kept\n");
    LineLog log(dir.path());
    EXPECT_EQ(log.prune(30, today), 2);
    EXPECT_TRUE(QFile::exists(LineLog::dayFile(dir.path(), today.addDays(-30))));
    EXPECT_FALSE(QFile::exists(LineLog::dayFile(dir.path(), today.addDays(-31))));
    EXPECT_TRUE(QFile::exists(QDir(LineLog::folder(dir.path())).filePath("line-notes.jsonl")));
}

} // namespace
