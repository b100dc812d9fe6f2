// The audit trail's check (hematix-audit verify) over program folders of 10,000 and 1,000,000
// rows, each row made from an analyser message archived whole and one row in a hundred edited
// through the change history: processor time per row and peak memory. The baseline is the
// 10,000-row folder in the same run; the goal is a per-row cost at a million rows within 1.2
// times that (the check reads each entry and each row once, whatever their number), and peak
// memory at a million rows well under 200 MB.
//
// Folders are written in bulk (the archive a few thousand entries an append, the table in one
// pass) on /dev/shm when there is one, before anything is timed. Times are processor time of
// this process, the best of five rounds at 10,000 rows and one at a million; peak memory is
// measured in a child process (this program run with --child FOLDER ROWS), one check each.
#include "audit/ChangeHistory.h"
#include "audit/MessageArchive.h"
#include "audit/Verify.h"
#include "bench/support/BulkTable.h"
#include "bench/support/CpuTime.h"
#include "bench/support/Outcome.h"
#include "bench/support/PeakMemory.h"
#include "link/sim/AnalyserSimulator.h"
#include "store/ResultTable.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace {

constexpr int kRowsPerDay = 10000;
constexpr int kEditEvery = 100;
constexpr int kBatch = 2000;
const QDateTime kStart(QDate(2024, 1, 1), QTime(8, 0));

// Row i's identity, as the import takes it from the analyser's message.
audit::Identity identityOf(const sim::Message& m)
{
    const QDateTime t = QDateTime::fromString(QString::fromLatin1(m.timestamp), QStringLiteral("yyyyMMddhhmmss"));
    audit::Identity id{{QStringLiteral("DAT"), t.date().toString(QStringLiteral("MM/dd/yyyy"))},
                       {QStringLiteral("TIM"), t.time().toString(QStringLiteral("hh:mm:ss"))},
                       {QStringLiteral("NUM"), QString::fromLatin1(m.sample)}};
    for (qsizetype v = 0; v < resulttable::valueFields().size(); ++v)
        id.append({resulttable::valueFields()[v], QString::fromLatin1(m.values[size_t(v)])});
    return id;
}

QString editedText(int i) { return QStringLiteral("%1.1").arg(i % 50); }

// A program folder of n message rows over n / 10,000 days; every hundredth row's WBC edited.
QString makeFolder(const QString& root, int n)
{
    const QString folder = root + QStringLiteral("/rows-%1/").arg(n);
    QDateTime now = kStart;
    auto clock = [&] { return now; };
    audit::Chain archive(folder, QStringLiteral("messages"), clock);
    sim::MessageGenerator generator(5, kStart);
    QList<audit::JsonLine> batch;
    benchsupport::writeResultTable(folder, n, [&](int i, const std::vector<DbfField>& fields, char* rec) {
        const sim::Message m = generator.next();
        const audit::Identity id = identityOf(m);
        for (const auto& [name, text] : id)
            for (const DbfField& f : fields)
                if (f.name == name)
                    dbfcodec::put(f, rec, DbfValue(text));
        if (i % kEditEvery == 0)
            for (const DbfField& f : fields)
                if (f.name == QLatin1String("WBC"))
                    dbfcodec::put(f, rec, DbfValue(editedText(i)));
        now = kStart.addDays(i / kRowsPerDay).addSecs(i % kRowsPerDay);
        batch.append(audit::MessageArchive::entry({sim::wireBytes(m), now, now.addMSecs(700), QStringLiteral("Temp-%1.log").arg(i)},
                                                  audit::MessageArchive::Outcome::Stored, id, i + 1));
        if (batch.size() == kBatch || i == n - 1) {
            archive.appendAll(batch, false);
            batch.clear();
        }
    });
    // The edits, after the last message, as staff make them.
    now = kStart.addDays((n - 1) / kRowsPerDay + 1);
    audit::ChangeHistory history(folder, clock, {QStringLiteral("anna"), QStringLiteral("labpc"), 1});
    const DbfFile file(resulttable::tableFile(folder), DbfFile::Access::ReadOnly);
    const DbfField& wbc = file.fields()[size_t(file.fieldIndex(QStringLiteral("WBC")))];
    sim::MessageGenerator again(5, kStart);
    for (int i = 0; i < n; ++i) {
        const sim::Message m = again.next();
        if (i % kEditEvery != 0)
            continue;
        // The old text as the table held it before the edit.
        QByteArray rec = file.blankRecord();
        dbfcodec::put(wbc, rec.data(), DbfValue(QString::fromLatin1(m.values[0])));
        history.applied(history.edited(i + 1, {{QStringLiteral("WBC"), dbfcodec::rawText(wbc, rec.constData()), editedText(i)}}),
                        i + 1);
    }
    return folder;
}

audit::VerifyReport verifyFolder(const QString& folder)
{
    audit::VerifyOptions options;
    options.tableFile = resulttable::tableFile(folder);
    return audit::verify(folder, options);
}

// The work of one check happened: every row compared, every entry read, nothing found.
bool checkReport(const audit::VerifyReport& r, int n)
{
    const qint64 entries = n + 2 * ((n + kEditEvery - 1) / kEditEvery);
    return benchsupport::check(r.ok() && r.rowsChecked == n && r.entries == entries,
                               std::to_string(n) + " rows: " + std::to_string(r.rowsChecked) + " rows compared, " +
                                   std::to_string(r.entries) + " entries of " + std::to_string(entries) + ", " +
                                   std::to_string(r.breaks.size()) + " breaks" +
                                   (r.breaks.isEmpty() ? std::string() : ", the first: " + r.breaks.first().toStdString()));
}

int runChild(const QString& folder, int n)
{
    if (!checkReport(verifyFolder(folder), n))
        return 1;
    std::printf("%ld\n", benchsupport::maxRssKb());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    benchsupport::takeSmokeFlag(argc, argv);
    QCoreApplication app(argc, argv);
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0)
        return runChild(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]));

    const bool smoke = benchsupport::smoke();
    const std::vector<int> sizes = smoke ? std::vector<int>{10000} : std::vector<int>{10000, 1000000};
    const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    QTemporaryDir dir(base + QStringLiteral("/bench-audit-verify-XXXXXX"));
    std::map<int, double> perRowNs;
    std::map<int, long> peakKb;
    for (int n : sizes) {
        std::fprintf(stderr, "writing a folder of %d rows...\n", n);
        const QString folder = makeFolder(dir.path(), n);
        const int rounds = smoke || n > 10000 ? 1 : 5;
        double best = 0;
        for (int r = 0; r < rounds; ++r) {
            const double t0 = benchsupport::cpuNs();
            const audit::VerifyReport report = verifyFolder(folder);
            const double t = benchsupport::cpuNs() - t0;
            if (!checkReport(report, n))
                break;
            best = r == 0 ? t : std::min(best, t);
        }
        perRowNs[n] = best / n;
        peakKb[n] = benchsupport::childPeakKb({folder, QString::number(n)}, 1200000, benchsupport::ChildErrors::Forwarded);
        benchsupport::check(peakKb[n] > 0, "the check in a child process at " + std::to_string(n) + " rows did not finish");
        QDir(folder).removeRecursively();
    }
    if (benchsupport::failed())
        return benchsupport::exitStatus();
    std::printf("hematix-audit verify, processor time per row (rows made from archived messages, 1 in %d edited):\n", kEditEvery);
    for (int n : sizes)
        std::printf("  %8d rows  %8.2f us per row  peak memory %7ld KB\n", n, perRowNs[n] / 1000, peakKb[n]);
    if (smoke)
        return 0;
    std::printf("per row, 1,000,000 / 10,000 rows (goal at most 1.2): %.2f\n", perRowNs[1000000] / perRowNs[10000]);
    std::printf("peak memory at 1,000,000 rows (goal well under 200 MB): %.1f MB\n", double(peakKb[1000000]) / 1024);
    benchsupport::check(peakKb[1000000] < 200 * 1024, "the check of a million rows took 200 MB or more");
    return benchsupport::exitStatus();
}
