// The receiving path on a database server, as the program runs it there (the import beside the
// window, ImportThread): killed with SIGKILL at random points, and with the server stopped for
// 15 s in the middle of a burst. Every message sent must end as exactly one row, in order, with
// its archive entry once.
#include "PgTestDatabase.h"
#include "support/TestSupport.h"

#include "link/CaptureFiles.h"
#include "link/FrameReceiver.h"
#include "link/ImportThread.h"
#include "link/SerialLink.h"
#include "link/sim/AnalyserSimulator.h"
#include "store/pg/PgSchema.h"
#include "store/pg/StoreChoice.h"
#include "store/ResultTable.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <random>
#include <thread>

namespace {

const char* const kFolder = "HEMATIX_PGKILL_FOLDER";
const char* const kPort = "HEMATIX_PGKILL_PORT";
const char* const kUri = "HEMATIX_PGKILL_URI";

// The receiving path in this process: the reader thread hands reads to the receiver, and the
// import runs beside on its thread, asked for a pass every interval until stop.
struct ReceivingPath {
    std::unique_ptr<FrameReceiver> receiver;
    SerialLink link{[this](const char* d, int n) { receiver->receive(d, n); }};
    ImportThread import;

    ReceivingPath(const QString& folder, const QString& uri)
        : receiver(std::make_unique<FrameReceiver>(folder, [this] { link.SendAck(); })),
          import(folder, [folder, uri] { return storechoice::open(folder, uri); }, 3650)
    {
        import.setImporting(true);
        import.runPass();  // what a crash left waiting goes in before the line is up
    }
    bool open(const QString& port)
    {
        QElapsedTimer opening;
        opening.start();
        while (!link.Start(port)) {
            if (opening.elapsed() > 5000)
                return false;
            QThread::msleep(5);
        }
        return true;
    }
};

sim::Options burst(int count, int intervalMs)
{
    sim::Options o;
    o.count = count;
    o.intervalMs = intervalMs;
    o.seed = 23;
    o.split = sim::Split::Random;
    o.timeoutMs = 150;
    o.persistent = true;
    o.resendDelayMs = 50;
    o.start = QDateTime(QDate(2025, 2, 1), QTime(8, 0, 0));
    return o;
}

// Every message sent is one undeleted row, in the order sent, with one archive entry.
void expectOneRowEachInOrder(const QString& uri, const QList<sim::Message>& sent)
{
    pg::Connection c(uri, 5);
    const pg::Result rows = c.exec(QStringLiteral("SELECT num, tim FROM results WHERE NOT deleted ORDER BY id"));
    ASSERT_EQ(rows.rows.size(), size_t(sent.size()));
    for (int i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rows.rows[size_t(i)][0], QString::fromLatin1(sent[i].sample));
        const QDateTime when = QDateTime::fromString(QString::fromLatin1(sent[i].timestamp), QStringLiteral("yyyyMMddhhmmss"));
        EXPECT_EQ(rows.rows[size_t(i)][1], when.time().toString(QStringLiteral("hh:mm:ss")));
    }
    EXPECT_EQ(c.exec(QStringLiteral("SELECT count(*) FROM results r WHERE NOT deleted AND (SELECT count(*) FROM archive a "
                                    "WHERE a.record = r.id AND a.kind = 'message' AND a.entry LIKE '%\"outcome\":\"stored\"%') <> 1"))
                  .scalar(),
              QStringLiteral("0"));
}

struct Burst : PgTestDatabase {
    QTemporaryDir dir;
    QString folder;
    sim::Line line;
    void SetUp() override
    {
        if (!setUpWithSchema())
            return;
        folder = dir.path() + QLatin1Char('/');
        ASSERT_TRUE(QDir(folder).mkpath(QStringLiteral("Temp")));
        QString error;
        ASSERT_TRUE(line.openPseudoTerminal(&error)) << error.toStdString();
    }
};

} // namespace

TEST(PgOutage, DISABLED_ReceivingPathChild)
{
    const QString folder = qEnvironmentVariable(kFolder);
    if (folder.isEmpty())
        GTEST_SKIP() << "started only by the kill test";
    ReceivingPath path(folder, qEnvironmentVariable(kUri));
    ASSERT_TRUE(path.open(qEnvironmentVariable(kPort)));
    for (;;) {
        path.import.kick();
        QThread::msleep(20);
    }
}

TEST_F(Burst, KillsAtRandomPointsLeaveOneRowPerMessageInOrder)
{
    sim::Options options = burst(30, 100);
    options.paceBytesPerSecond = 4800;  // a message takes long enough for kills to fall inside it
    options.repeatOneIn = 15;
    sim::Simulator simulator(line, options);
    std::atomic_bool sending{true};
    bool sentAll = false;
    std::thread analyser([&] {
        sentAll = simulator.run();
        sending = false;
    });
    const QString log = dir.filePath(QStringLiteral("child.log"));
    const QStringList env = {QString::fromLatin1(kFolder) + '=' + folder, QString::fromLatin1(kPort) + '=' + line.portName(),
                             QString::fromLatin1(kUri) + '=' + uri_};
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    SCOPED_TRACE(testing::Message() << "kill times from seed " << seed);
    std::uniform_int_distribution<int> after(0, 2000);
    int kills = 0;
    QElapsedTimer clock;
    clock.start();
    while (kills < 30 || sending) {
        ASSERT_LT(clock.elapsed(), 300000) << "the analyser did not get through after " << kills << " kills";
        line.releaseExclusive();
        const int child = testsupport::spawnChildTest(QStringLiteral("PgOutage.DISABLED_ReceivingPathChild"), env, log);
        ASSERT_GT(child, 0);
        QThread::msleep(static_cast<unsigned long>(after(random)));
        testsupport::killAndReap(child);
        ++kills;
    }
    analyser.join();
    ASSERT_TRUE(sentAll) << simulator.error().toStdString();
    line.releaseExclusive();
    const int last = testsupport::spawnChildTest(QStringLiteral("PgOutage.DISABLED_ReceivingPathChild"), env, log);
    QElapsedTimer draining;
    draining.start();
    while (!capture::waitingFiles(folder).isEmpty() && draining.elapsed() < 20000)
        QThread::msleep(20);
    QThread::msleep(200);
    testsupport::killAndReap(last);
    EXPECT_TRUE(capture::waitingFiles(folder).isEmpty());
    expectOneRowEachInOrder(uri_, simulator.history());
    if (HasFailure())
        std::cout << "receiving path's errors:\n" << testsupport::readFile(log).right(4000).toStdString() << std::endl;
}

// A server of its own, stopped at once (as a crash or a network outage would) for 15 s while the
// analyser sends at full pace: the messages wait in Temp, the import says the store is away, and
// everything goes in, once and in order, when the server is back.
TEST(PgOutage, ServerStoppedFifteenSecondsInABurstLosesAndDoublesNothing)
{
    const QString script = testsupport::sourceDir() + QStringLiteral("/scripts/pg-server.sh");
    QTemporaryDir dir;
    const QString pointer = dir.filePath(QStringLiteral("server"));
    const QString name = QStringLiteral("outage%1").arg(QCoreApplication::applicationPid());
    auto server = [&](const char* action) {
        return QProcess::execute(script, {QString::fromLatin1(action), pointer, name}) == 0;
    };
    if (!QFileInfo::exists(QStringLiteral("/usr/lib/postgresql/15/bin/pg_ctl"))) {
        if (qEnvironmentVariable("CI") == QLatin1String("true"))
            FAIL() << "PostgreSQL 15 is not installed";
        GTEST_SKIP() << "PostgreSQL 15 is not installed";
    }
    ASSERT_TRUE(server("start"));
    struct Stop {
        std::function<bool(const char*)> server;
        ~Stop() { server("stop"); }
    } stop{server};
    const QString uri = QStringLiteral("postgresql:///postgres?host=%1&user=postgres")
                            .arg(QString::fromUtf8(testsupport::readFile(pointer)).trimmed());
    {
        pg::Connection c(uri, 5);
        pgschema::ensure(c);
    }
    const QString folder = dir.path() + QLatin1Char('/');
    ASSERT_TRUE(QDir(folder).mkpath(QStringLiteral("Temp")));
    sim::Line line;
    QString error;
    ASSERT_TRUE(line.openPseudoTerminal(&error)) << error.toStdString();
    sim::Simulator simulator(line, burst(60, 250));
    std::atomic_bool sending{true};
    bool sentAll = false;
    ReceivingPath path(folder, uri);
    ASSERT_TRUE(path.open(line.portName()));
    std::thread analyser([&] {
        sentAll = simulator.run();
        sending = false;
    });
    QElapsedTimer clock;
    clock.start();
    bool stopped = false, resumed = false, sawAway = false;
    int waitingAtMost = 0;
    while (sending || !capture::waitingFiles(folder).isEmpty()) {
        ASSERT_LT(clock.elapsed(), 120000);
        if (!stopped && simulator.sent() >= 15) {
            ASSERT_TRUE(server("pause"));
            stopped = true;
            clock.restart();
        }
        if (stopped && !resumed && clock.elapsed() >= 15000) {
            ASSERT_TRUE(server("resume"));
            resumed = true;
        }
        sawAway = sawAway || path.import.away();
        waitingAtMost = std::max(waitingAtMost, int(capture::waitingFiles(folder).size()));
        path.import.kick();
        QThread::msleep(50);
    }
    analyser.join();
    ASSERT_TRUE(sentAll) << simulator.error().toStdString();
    path.import.runPass();
    EXPECT_TRUE(sawAway);
    EXPECT_FALSE(path.import.away());
    EXPECT_GE(waitingAtMost, 20) << "the outage should have held messages back";
    expectOneRowEachInOrder(uri, simulator.history());
}

// A message the receiver set aside (too long to import) is archived in the server's archive by
// the import's thread, once, waiting in memory while the store is away.
TEST_F(Burst, MessageSetAsideByTheReceiverIsArchivedOnTheServerOnce)
{
    QTemporaryDir nowhere(QStringLiteral("/tmp/hx-away-XXXXXX"));
    std::atomic_bool away{true};
    ImportThread import(folder, [&] {
        return storechoice::open(folder, away ? QStringLiteral("postgresql:///x?host=") + nowhere.path() : uri_);
    }, 3650);
    audit::ReceivedMessage m;
    m.bytes = QByteArray(60000, 'x');
    m.enq = m.end = QDateTime::currentDateTime();
    m.capture = QStringLiteral("Temp000001.log");
    import.setAside(m, QStringLiteral("too long"));
    import.runPass();
    EXPECT_TRUE(import.away());
    // The same thread's store, made again as a program started anew would: now on the server.
    away = false;
    ImportThread again(folder, [&] { return storechoice::open(folder, uri_); }, 3650);
    again.setAside(m, QStringLiteral("too long"));
    again.setAside(m, QStringLiteral("too long"));
    again.runPass();
    EXPECT_EQ(db_->exec(QStringLiteral("SELECT count(*) FROM archive WHERE capture IS NOT NULL AND entry LIKE '%rejected%'")).scalar(),
              QStringLiteral("1"));
}
