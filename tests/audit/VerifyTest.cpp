// The check of the trail against itself and the table: a folder the program wrote passes, and
// each way of spoiling it is found and named where it happened.
#include "TrailFixture.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace trailtest;

namespace {

// The folder every case starts from: 3 adopted rows, 3 days of message rows, the last day's
// changes. Built once; each case works on a copy.
TrailFolder& base()
{
    static const std::unique_ptr<TrailFolder> b = [] {
        auto f = std::make_unique<TrailFolder>();
        f->build(3334);
        return f;
    }();
    return *b;
}

QString dayFile(const char* chain, int daysBack)
{
    return QStringLiteral("Archive/%1-%2.jsonl").arg(QLatin1String(chain), kToday.addDays(-daysBack).toString(Qt::ISODate));
}

// Replaces the first `from` after line `line` (from 1) of a file with `to`.
void patchLine(const QString& path, int line, const QByteArray& from, const QByteArray& to)
{
    QList<QByteArray> lines = testsupport::readFile(path).split('\n');
    ASSERT_TRUE(lines[line - 1].contains(from)) << lines[line - 1].left(200).toStdString();
    lines[line - 1].replace(lines[line - 1].indexOf(from), from.size(), to);
    ASSERT_TRUE(testsupport::writeFile(path, lines.join('\n')));
}

// The messages chain written again from the start with one capture renamed, every link right.
void rewriteMessages(TrailFolder& f)
{
    QByteArray prev = audit::zeroHash();
    for (const QString& path : audit::Chain::files(f.folder, QStringLiteral("messages"))) {
        QList<QByteArray> lines = testsupport::readFile(path).split('\n');
        for (QByteArray& line : lines) {
            if (line.isEmpty())
                continue;
            line.replace(line.indexOf("\"prev\":\"") + 8, 64, prev);
            line.replace("Temp-12.log", "Temp-99.log");
            prev = audit::sha256Hex(line);
        }
        testsupport::writeFile(path, lines.join('\n'));
    }
}

struct Case {
    const char* name;
    std::function<void(TrailFolder&)> spoil;
    int days;
    QString named;  // "" when the folder must pass
};

} // namespace

TEST(Verify, FindsEverySpoilingWhereItHappened)
{
    const audit::Head keptMessages = base().archive.chain().head();
    const audit::Head keptHistory = base().history.chain().head();
    const std::vector<Case> cases = {
        {"untouched", [](TrailFolder&) {}, 0, {}},
        {"archive byte", [](TrailFolder& f) { patchLine(f.folder + dayFile("messages", 1), 10, "\"length\":", "\"length\":1"); },
         0, dayFile("messages", 1) + QStringLiteral(" line 11: entry ")},
        {"history byte", [](TrailFolder& f) { patchLine(f.folder + dayFile("history", 0), 1, "7.7", "7.8"); }, 0,
         dayFile("history", 0) + QStringLiteral(" line 2: entry ")},
        {"table value", [](TrailFolder& f) {
             DbfFile t = f.file();
             QByteArray rec = t.readFresh(9);
             dbfcodec::putText(t.fields()[size_t(t.fieldIndex(QStringLiteral("HGB")))], rec.data(), QStringLiteral("99"));
             t.write(9, rec);
         }, 0, QStringLiteral("row 10 (sample 000000007, 2026-12-05) changed outside Hematix: HGB is \"99\", its trail says")},
        {"chain rewritten", rewriteMessages, 0, {}},
        {"pending never resolved", [](TrailFolder& f) { f.history.edited(8, {{"WBC", "1.1", "2.2"}}); }, 0,
         QStringLiteral("the edit of row 8 was never resolved")},
        {"row with no origin", [](TrailFolder& f) {
             DbfFile t = f.file();
             t.append(t.blankRecord());
         }, 0, QStringLiteral("row 10007 (sample none, no date) has no origin")},
        {"origin pruned", [](TrailFolder& f) { EXPECT_EQ(f.archive.prune(1, kToday), 1); }, 0, {}},
        {"deleted outside", [](TrailFolder& f) { f.file().setDeleted(99, true); }, 0,
         QStringLiteral("row 100 (sample 000000097, 2026-12-05) was deleted outside Hematix")},
        {"undeleted outside", [](TrailFolder& f) { f.file().setDeleted(5, false); }, 0,
         QStringLiteral("row 6 (sample 000000003, 2026-12-05) is deleted by its history but not in the table")},
        {"changed outside, found by an edit", [](TrailFolder& f) { f.history.outside(9, {{"RBC", "1.3", "4.4"}}); }, 0,
         QStringLiteral("row 9 was changed outside Hematix: its RBC was \"1.3\" by its history, \"4.4\" found")},
        {"row the table lacks", [](TrailFolder& f) {
             f.archive.archive({"\x05", f.now, f.now, "Temp-x.log"}, audit::MessageArchive::Outcome::Stored,
                               TrailFolder::identity(1, kToday), 20000);
         }, 0, QStringLiteral("row 20000 is not in the table, which has 10006 rows")},
        {"day file no regular file", [](TrailFolder& f) { QDir(f.folder).mkpath(dayFile("history", -1)); }, 0,
         QStringLiteral("history-%1.jsonl is not a regular file").arg(kToday.addDays(1).toString(Qt::ISODate))},
        {"torn last line", [](TrailFolder& f) {
             QFile h(f.folder + dayFile("history", 0));
             ASSERT_TRUE(h.open(QIODevice::Append));
             h.write("{\"seq\":99,\"prev\":\"0");
         }, 0, {}},
        {"old row changed, last day checked", [](TrailFolder& f) {
             DbfFile t = f.file();
             QByteArray rec = t.readFresh(9);
             dbfcodec::putText(t.fields()[size_t(t.fieldIndex(QStringLiteral("HGB")))], rec.data(), QStringLiteral("99"));
             t.write(9, rec);
         }, 1, {}},
        {"new row changed, last day checked", [](TrailFolder& f) {
             DbfFile t = f.file();
             QByteArray rec = t.readFresh(10000);
             dbfcodec::putText(t.fields()[size_t(t.fieldIndex(QStringLiteral("HGB")))], rec.data(), QStringLiteral("99"));
             t.write(10000, rec);
         }, 1, QStringLiteral("row 10001 (sample 000009998, 2026-12-07) changed outside Hematix")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TrailFolder f(base());
        c.spoil(f);
        const audit::VerifyReport r = f.verify(c.days);
        const QString all = r.breaks.join(QLatin1Char('\n'));
        if (c.named.isEmpty()) {
            EXPECT_TRUE(r.ok()) << all.toStdString();
        } else {
            EXPECT_FALSE(r.ok());
            EXPECT_TRUE(all.contains(c.named)) << "wanted: " << c.named.toStdString() << "\ngot:\n" << all.toStdString();
        }
        if (QLatin1String(c.name) == QLatin1String("untouched")) {
            EXPECT_EQ(r.rowsChecked, 10006);
            EXPECT_EQ(r.messagesHead.hash, keptMessages.hash);
            EXPECT_EQ(r.historyHead.hash, keptHistory.hash);
        }
        if (QLatin1String(c.name) == QLatin1String("chain rewritten")) {
            EXPECT_EQ(r.messagesHead.seq, keptMessages.seq);
            EXPECT_NE(r.messagesHead.hash, keptMessages.hash);
        }
        if (QLatin1String(c.name) == QLatin1String("origin pruned")) {
            EXPECT_EQ(r.originPruned, 3334);
        }
        if (QLatin1String(c.name) == QLatin1String("torn last line")) {
            EXPECT_EQ(r.notes.size(), 1);
        }
        if (QLatin1String(c.name) == QLatin1String("table value")) {
            EXPECT_EQ(r.changedOutside, QList<int>{10});
        }
    }
}

TEST(Verify, TellsItsProgressAndStopsWhenCancelled)
{
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel);
        std::atomic_bool stop{cancel};
        audit::VerifyOptions o;
        o.tableFile = base().table;
        o.today = kToday;
        o.cancel = &stop;
        QList<QPair<qint64, qint64>> told;
        o.progress = [&](qint64 done, qint64 total) { told.append({done, total}); };
        const audit::VerifyReport r = audit::verify(base().folder, o);
        EXPECT_EQ(r.cancelled, cancel);
        EXPECT_EQ(r.ok(), !cancel);
        if (cancel)
            continue;
        ASSERT_GE(told.size(), 3);
        for (qsizetype i = 1; i < told.size(); ++i)
            EXPECT_GE(told[i].first, told[i - 1].first);
        EXPECT_EQ(told.last().first, told.last().second);
    }
}
