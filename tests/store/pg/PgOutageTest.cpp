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
#include "engine/DataSet.h"
#include "store/pg/PgListener.h"
#include "store/pg/PgSchema.h"
#include "store/pg/StoreChoice.h"
#include "store/ResultTable.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <limits>
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

// A server of a test's own (the run's shared one must not be stopped under other tests), with its
// schema made; stopped when the object goes.
struct OwnServer {
    QTemporaryDir dir;
    QString pointer = dir.filePath(QStringLiteral("server"));
    QString name = QStringLiteral("outage%1").arg(QCoreApplication::applicationPid());
    QString uri;
    bool started = false;

    bool run(const char* action)
    {
        return QProcess::execute(testsupport::sourceDir() + QStringLiteral("/scripts/pg-server.sh"),
                                 {QString::fromLatin1(action), pointer, name}) == 0;
    }
    // False (the test skipped or failed) when there is no server to start.
    bool start()
    {
        if (!QFileInfo::exists(QStringLiteral("/usr/lib/postgresql/15/bin/pg_ctl"))) {
            if (qEnvironmentVariable("CI") == QLatin1String("true"))
                ADD_FAILURE() << "PostgreSQL 15 is not installed";
            return false;
        }
        if (!(started = run("start")))
            return false;
        uri = QStringLiteral("postgresql:///postgres?host=%1&user=postgres").arg(QString::fromUtf8(testsupport::readFile(pointer)).trimmed());
        pg::Connection c(uri, 5);
        pgschema::ensure(c);
        return true;
    }
    // Stops the server at once (as a crash or an outage would) the first time due, and starts it
    // again 15 s later; false when the script fails.
    bool outage(bool due)
    {
        if (!paused && due) {
            paused = run("pause");
            down.start();
            return paused;
        }
        if (paused && !resumed && down.elapsed() >= 15000)
            return resumed = run("resume");
        return true;
    }
    bool paused = false, resumed = false;
    QElapsedTimer down;

    ~OwnServer()
    {
        if (started)
            run("stop");
    }
};

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
    OwnServer own;
    if (!own.start())
        GTEST_SKIP() << "no server of its own";
    const QString uri = own.uri;
    QTemporaryDir dir;
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
    bool sawAway = false;
    int waitingAtMost = 0;
    while (sending || !capture::waitingFiles(folder).isEmpty()) {
        ASSERT_LT(clock.elapsed(), 135000);
        ASSERT_TRUE(own.outage(simulator.sent() >= 15));
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

// A desk as the program runs on a server: its receiving path, and its grid's rows kept up to date
// by the listener. When FOLDER/ask appears it writes what its grid shows, a row a line, to
// FOLDER/grid.
TEST(PgOutage, DISABLED_DeskChild)
{
    const QString folder = qEnvironmentVariable(kFolder), uri = qEnvironmentVariable(kUri);
    if (folder.isEmpty())
        GTEST_SKIP() << "started only by the two-desk test";
    ReceivingPath path(folder, uri);
    ASSERT_TRUE(path.open(qEnvironmentVariable(kPort)));
    std::unique_ptr<ResultStore> store;
    TTable table;
    PgListener listener(uri, 500, 200);
    const auto take = [&](qint64 first, qint64 last) {
        try {
            table.TakeChangedRecords(int(first), int(last));
        } catch (const Exception&) {
        }
    };
    QObject::connect(&listener, &PgListener::rowsChanged, take);
    QObject::connect(&listener, &PgListener::missed, [&] { take(1, std::numeric_limits<int>::max()); });
    listener.start();
    for (;;) {
        path.import.kick();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        try {
            if (!table.Active()) {
                store = storechoice::open(folder, uri);
                store->attachRows(table);
                table.Open();
            }
            if (QFile::exists(folder + QStringLiteral("ask"))) {
                const TField* fields[] = {table.FieldByName(QStringLiteral("TIM")), table.FieldByName(QStringLiteral("NUM"))};
                QByteArray shown;
                for (int r = 0; r < table.RecordCount(); ++r) {
                    for (const TField* f : fields)
                        shown += table.DisplayTextAt(table.RecNoOfRow(r), f).toUtf8() + ' ';
                    shown += '\n';
                }
                testsupport::writeFile(folder + QStringLiteral("grid.part"), shown);
                QFile::rename(folder + QStringLiteral("grid.part"), folder + QStringLiteral("grid"));
                QFile::remove(folder + QStringLiteral("ask"));
            }
        } catch (const Exception&) {
            table.Close();  // the server away: opened again when it answers
        }
        QThread::msleep(20);
    }
}

// Two desks, each with its analyser at full pace, 500 messages each, on one server stopped for
// 15 s in the middle, one desk killed five times: every message is one row, and each desk's grid
// shows all 1,000, the other's included.
TEST(PgOutage, TwoDesksThroughAnOutageAndKillsEachShowEveryRowOnce)
{
    OwnServer own;
    if (!own.start())
        GTEST_SKIP() << "no server of its own";
    constexpr int kEach = 500;
    struct Desk {
        QTemporaryDir dir;
        QString folder = dir.path() + QLatin1Char('/');
        sim::Line line;
        std::unique_ptr<sim::Simulator> simulator;
        bool sentAll = false;
        int child = 0;
    } desks[2];
    const QString log = desks[0].dir.filePath(QStringLiteral("children.log"));
    auto spawn = [&](Desk& d) {
        d.line.releaseExclusive();
        d.child = testsupport::spawnChildTest(QStringLiteral("PgOutage.DISABLED_DeskChild"),
                                              {QString::fromLatin1(kFolder) + '=' + d.folder, QString::fromLatin1(kPort) + '=' + d.line.portName(),
                                               QString::fromLatin1(kUri) + '=' + own.uri},
                                              log);
        return d.child > 0;
    };
    for (int i = 0; i < 2; ++i) {
        Desk& d = desks[i];
        ASSERT_TRUE(QDir(d.folder).mkpath(QStringLiteral("Temp")));
        QString error;
        ASSERT_TRUE(d.line.openPseudoTerminal(&error)) << error.toStdString();
        sim::Options o = burst(kEach, 0);
        o.seed = 24 + unsigned(i);
        o.start = QDateTime(QDate(2025, 3 + i, 1), QTime(8, 0, 0));  // each analyser's messages its own
        d.simulator = std::make_unique<sim::Simulator>(d.line, o);
        ASSERT_TRUE(spawn(d));
    }
    std::vector<std::thread> analysers;
    for (Desk& d : desks)
        analysers.emplace_back([&d] { d.sentAll = d.simulator->run(); });
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    SCOPED_TRACE(testing::Message() << "kill times from seed " << seed);
    QElapsedTimer clock;
    clock.start();
    int kills = 0;
    qint64 nextKill = 300 + random() % 600;  // the kills fall while the analysers send
    auto sent = [&] { return desks[0].simulator->sent() + desks[1].simulator->sent(); };
    while (sent() < 2 * kEach || !own.resumed || kills < 5) {
        ASSERT_LT(clock.elapsed(), 240000) << sent() << " sent, " << kills << " kills";
        ASSERT_TRUE(own.outage(sent() >= kEach));
        if (kills < 5 && clock.elapsed() >= nextKill) {
            testsupport::killAndReap(desks[1].child);
            ASSERT_TRUE(spawn(desks[1]));
            ++kills;
            nextKill = clock.elapsed() + 300 + random() % 600;
        }
        QThread::msleep(50);
    }
    for (std::thread& t : analysers)
        t.join();
    for (const Desk& d : desks) {
        ASSERT_TRUE(d.sentAll) << d.simulator->error().toStdString();
        while (!capture::waitingFiles(d.folder).isEmpty() && clock.elapsed() < 240000)
            QThread::msleep(50);
    }

    pg::Connection c(own.uri, 5);
    QStringList stored;
    for (const pg::Row& r : c.exec(QStringLiteral("SELECT tim || ' ' || num FROM results "
                                                  "WHERE NOT deleted ORDER BY 1")).rows)
        stored << r[0].value_or(QString());
    auto gridOf = [&](const Desk& d) {
        QStringList rows;
        QElapsedTimer waiting;
        waiting.start();
        while (waiting.elapsed() < 60000) {
            QFile::remove(d.folder + QStringLiteral("grid"));
            testsupport::writeFile(d.folder + QStringLiteral("ask"), "?");
            while (!QFile::exists(d.folder + QStringLiteral("grid")) && waiting.elapsed() < 60000)
                QThread::msleep(50);
            rows = QString::fromUtf8(testsupport::readFile(d.folder + QStringLiteral("grid"))).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            for (QString& row : rows)
                row = row.trimmed();
            rows.sort();
            if (rows.size() >= 2 * kEach && capture::waitingFiles(d.folder).isEmpty())
                break;
            QThread::msleep(200);
        }
        return rows;
    };
    for (const Desk& d : desks) {
        const QStringList grid = gridOf(d);
        EXPECT_EQ(grid.size(), 2 * kEach);
        // The first row that differs, rather than two thousand.
        qsizetype same = 0;
        while (same < grid.size() && same < stored.size() && grid[same] == stored[same])
            ++same;
        EXPECT_EQ(same, stored.size()) << "the grid shows \"" << grid.value(same).toStdString() << "\" where the table holds \""
                                       << stored.value(same).toStdString() << "\"";
        EXPECT_TRUE(capture::waitingFiles(d.folder).isEmpty());
    }
    for (Desk& d : desks)
        testsupport::killAndReap(d.child);
    EXPECT_EQ(stored.size(), 2 * kEach);
    EXPECT_EQ(QSet<QString>(stored.begin(), stored.end()).size(), 2 * kEach) << "a message stored twice";
    EXPECT_EQ(c.exec(QStringLiteral("SELECT count(*) FROM archive WHERE kind = 'message' AND entry LIKE '%\"outcome\":\"stored\"%'")).scalar(),
              QString::number(2 * kEach));
    if (HasFailure())
        std::cout << "desks' errors:\n" << testsupport::readFile(log).right(4000).toStdString() << std::endl;
}

// A lab's URI lists its primary and its standby: the program connects to whichever takes writes
// (a server that only reads, as a standby does, is passed over) and to the next when the first
// does not answer at all.
TEST_F(Burst, AUriOfSeveralHostsReachesTheOneThatWrites)
{
    OwnServer readOnly;
    if (!readOnly.start())
        GTEST_SKIP() << "no server of its own";
    const QString database = QUrl(uri_).path().mid(1);
    {
        // The same database there, as on a standby.
        pg::Connection c(readOnly.uri, 5);
        c.exec(QStringLiteral("CREATE DATABASE ") + database);
        pg::Connection there(QString(readOnly.uri).replace(QStringLiteral(":///postgres?"), QStringLiteral(":///%1?").arg(database)), 5);
        pgschema::ensure(there);
        c.exec(QStringLiteral("ALTER SYSTEM SET default_transaction_read_only = on"));
        c.exec(QStringLiteral("SELECT pg_reload_conf()"));
    }
    const QString writable = host_(), standby = QString::fromUtf8(testsupport::readFile(readOnly.pointer)).trimmed();
    auto storeOne = [&](const QString& hosts, const QString& num) {
        auto store = storechoice::open(folder, QStringLiteral("postgresql:///%1?host=%2&user=postgres&target_session_attrs=read-write")
                                                   .arg(database, hosts));
        ImportedRow r;
        r.date = QStringLiteral("12/07/2026");
        r.time = QStringLiteral("09:15:02");
        r.num = num;
        return store->store(r, {}).record;
    };
    EXPECT_GT(storeOne(standby + QLatin1Char(',') + writable, QStringLiteral("1")), 0);
    EXPECT_GT(storeOne(dir.path() + QStringLiteral("/no-server,") + writable, QStringLiteral("2")), 0);
    EXPECT_EQ(db_->exec(QStringLiteral("SELECT string_agg(num, ',' ORDER BY id) FROM results")).scalar(), QStringLiteral("1,2"));
    EXPECT_THROW(storeOne(standby, QStringLiteral("3")), EStoreAway) << "no server that writes";
}
