// The whole road of a result: the analyser simulator on a pseudo-terminal named in set.ini, the
// program's Start command, the serial link and frame receiver, the import timer, the table.
#include "AppFixture.h"

#include "link/sim/AnalyserSimulator.h"
#include "link/LineLog.h"
#include "link/MessageImport.h"
#include "link/ImportThread.h"
#include "link/SerialLink.h"
#include "app/DBEdit.h"
#include "app/DBGrid.h"
#include "app/DBNavigator.h"
#include "store/pg/PgResultStore.h"
#include "store/pg/PgRoles.h"
#include "store/pg/PgSchema.h"
#include "store/pg/PgTestDatabase.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QElapsedTimer>
#include <QProcess>
#include <QLabel>
#include <QStatusBar>
#include <QToolButton>

using apptest::AppFixture;

namespace {

// A database of a test's own on the run's server, with the schema, dropped when the test ends;
// no name when there is no server.
struct ServerDatabase {
    QString host = PgTestDatabase::host_();
    QString name;
    explicit ServerDatabase(const char* prefix)
    {
        if (host.isEmpty())
            return;
        name = QStringLiteral("%1_%2").arg(QLatin1String(prefix)).arg(QCoreApplication::applicationPid());
        pg::Connection(uri(QStringLiteral("postgres")), 5).exec("CREATE DATABASE " + name);
        pg::Connection c(uri(name), 5);
        pgschema::ensure(c);
    }
    ~ServerDatabase()
    {
        if (!name.isEmpty())
            pg::Connection(uri(QStringLiteral("postgres")), 5).exec("DROP DATABASE " + name + " WITH (FORCE)");
    }
    QString uri(const QString& database, const QString& user = QStringLiteral("postgres")) const
    {
        return QStringLiteral("postgresql:///%1?host=%2&user=%3").arg(database, host, user);
    }
};

} // namespace

TEST_F(AppFixture, HundredMessagesFromTheSimulatorBecomeHundredRowsInOrder)
{
    const QString sim = testsupport::binDir() + "/hematix-sim";
    if (!QFile::exists(sim))
        GTEST_SKIP() << "hematix-sim is not built";
    makeTable();
    const int count = 100;
    QProcess simulator;
    simulator.start(sim, {"--ini", folder + "set.ini", "--count", QString::number(count), "--interval", "0",
                          "--split", "random", "--seed", "11", "--start", "20230605140000", "--timeout", "20"});
    ASSERT_TRUE(simulator.waitForStarted());
    ASSERT_TRUE(apptest::waitUntil([&] { return testsupport::readFile(folder + "set.ini").contains("Port=/dev/"); }));

    start();
    ASSERT_TRUE(Form1->PortName.startsWith("/dev/"));
    Form1->N2Click();
    ASSERT_TRUE(Form1->link()->listening());
    ASSERT_TRUE(Form1->Timer1->isActive());
    ASSERT_TRUE(apptest::waitUntil([&] { return simulator.state() == QProcess::NotRunning; }, 120000));
    const QByteArray report = simulator.readAllStandardOutput();
    EXPECT_EQ(simulator.exitCode(), 0) << report.toStdString() << simulator.readAllStandardError().toStdString();
    EXPECT_TRUE(report.contains(QByteArray("Messages sent: 100, acknowledged: 100"))) << report.toStdString();
    // The timer takes what has arrived every two seconds.
    ASSERT_TRUE(apptest::waitUntil([&] { return Form1->import()->imported() == count; }, 30000))
        << Form1->import()->imported();

    TTable t;
    t.SetTableName(folder + "DB/HEMATIX.dbf");
    t.Open();
    ASSERT_EQ(t.RecordCount(), count);
    sim::MessageGenerator expected(11, QDateTime(QDate(2023, 6, 5), QTime(14, 0, 0)));
    t.First();
    const char* names[18] = {"WBC", "RBC", "HGB", "HCT", "PLT", "LY1", "MO1", "GR1", "LY2",
                             "MO2", "GR2", "MCV", "MCH", "MCHC", "RDV", "MPV", "PCT", "PDW"};
    for (int i = 0; i < count; ++i, t.Next()) {
        QByteArray wire = sim::wireBytes(expected.next());
        wire.chop(1);
        const CaptureMessage m = parseCaptureFile(wire);
        ASSERT_EQ(t.FieldByName("NUM")->AsString(), m.row.num) << "row " << i;
        EXPECT_EQ(t.FieldByName("TIM")->AsString(), m.row.time) << "row " << i;
        EXPECT_EQ(t.FieldByName("DAT")->AsDate(), QDate::fromString(m.row.date, "MM/dd/yyyy")) << "row " << i;
        for (int v = 0; v < 18; ++v)
            EXPECT_EQ(t.FieldByName(names[v])->AsString(), m.row.values[size_t(v)]) << "row " << i << " " << names[v];
    }
    Form1->FormClose();
    // The line log holds every byte that came in and every ACK that went out, in order.
    QByteArray in, out;
    const QDir archive(LineLog::folder(folder));
    for (const QString& day : archive.entryList({"line-*.jsonl"}, QDir::Files, QDir::Name))
        for (const QByteArray& line : testsupport::readFile(archive.filePath(day)).split('\n'))
            if (!line.isEmpty()) {
                const QJsonObject o = QJsonDocument::fromJson(line).object();
                (o.value("dir").toString() == "in" ? in : out) += QByteArray::fromBase64(o.value("bytes").toString().toLatin1());
            }
    EXPECT_EQ(in.count('\x05'), count) << "one ENQ a message";
    EXPECT_EQ(in.count('\x04'), count) << "one EOT a message";
    EXPECT_EQ(out.size(), out.count('\x06'));
    EXPECT_GE(out.size(), count * 2) << "an ACK for each ENQ and each frame";
}

// The same road with the results on a database server (Database= in set.ini): the import runs
// beside the window and the grid shows the server's rows. A server that does not answer is a line
// in the status bar, never a box (the fixture fails a box nobody answers), and the window's calls
// give up within their half second.
TEST_F(AppFixture, OnADatabaseServerMessagesBecomeRowsAndAServerAwayIsAStatusLine)
{
    const ServerDatabase db("hx_app");
    if (db.name.isEmpty())
        GTEST_SKIP() << "No PostgreSQL server (ctest starts one)";
    QTemporaryDir nowhere(QStringLiteral("/tmp/hx-away-XXXXXX"));
    writeIni(QStringLiteral("[MAIN]\nDatabase=postgresql:///x?host=%1\n").arg(nowhere.path()).toUtf8());
    QElapsedTimer clock;
    clock.start();
    start();
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_FALSE(Form1->Table1->Active());
    ASSERT_TRUE(apptest::waitUntil([&] { return Form1->importThread()->away(); }, 10000));
    EXPECT_TRUE(Form1->statusBar()->currentMessage().startsWith("Сервер базы данных недоступен"))
        << Form1->statusBar()->currentMessage().toStdString();
    forms::destroyAll();

    const QString sim = testsupport::binDir() + "/hematix-sim";
    QProcess simulator;
    writeIni(QStringLiteral("[MAIN]\nDatabase=%1\n").arg(db.uri(db.name)).toUtf8());
    simulator.start(sim, {"--ini", folder + "set.ini", "--count", "30", "--interval", "0", "--split", "random",
                          "--seed", "12", "--start", "20230605140000", "--timeout", "20"});
    ASSERT_TRUE(simulator.waitForStarted());
    ASSERT_TRUE(apptest::waitUntil([&] { return testsupport::readFile(folder + "set.ini").contains("Port=/dev/"); }));
    start();
    ASSERT_TRUE(Form1->Table1->Active());
    Form1->N2Click();
    ASSERT_TRUE(apptest::waitUntil([&] { return simulator.state() == QProcess::NotRunning; }, 60000));
    ASSERT_TRUE(apptest::waitUntil([&] { return Form1->Table1->RecordCount() == 30; }, 30000)) << Form1->Table1->RecordCount();
    EXPECT_EQ(Form1->import(), nullptr);
    TQuery day;  // a report's rows, read beside the window
    Form1->store()->selectPeriod(day, QDate(2023, 6, 5), QDate(2023, 6, 5));
    EXPECT_EQ(day.RecordCount(), 30);
    EXPECT_FALSE(Form1->importThread()->away());
    EXPECT_FALSE(QFileInfo::exists(folder + "DB/HEMATIX.dbf")) << "no table in the folder beside the server";
    Form1->FormClose();
}

// A viewing desk: on a login user given hematix_reader the program shows the server's rows and
// changes none of them: typing in the grid or the panel does not edit, Ctrl+Del and the
// navigator do not delete, Start is off and opens no port, and the status bar says why.
TEST_F(AppFixture, OnADatabaseAReaderOnlyViews)
{
    const ServerDatabase db("hx_desk");
    if (db.name.isEmpty())
        GTEST_SKIP() << "No PostgreSQL server (ctest starts one)";
    const QString& name = db.name;
    {
        pg::Connection c(db.uri(name), 5);
        pgroles::ensure(c);
        c.exec(QStringLiteral("CREATE ROLE %1 LOGIN IN ROLE %2").arg(name, QLatin1String(pgroles::kReader)));
        PgResultStore(folder, db.uri(name)).store(ImportedRow{"06/05/2023", {}, "101", {}}, {});
    }
    writeIni(QStringLiteral("[MAIN]\nPort=/dev/null\nDatabase=%1\n").arg(db.uri(name, name)).toUtf8());
    start();
    ASSERT_TRUE(Form1->Table1->Active());
    EXPECT_TRUE(Form1->readOnly());
    auto* said = Form1->statusBar()->findChild<QLabel*>("ReadOnlyLabel");
    ASSERT_NE(said, nullptr);
    EXPECT_EQ(said->text(), QStringLiteral("Только просмотр: у пользователя базы данных «%1» нет права изменять результаты.").arg(name));
    EXPECT_FALSE(Form1->N2->isEnabled());
    Form1->N2Click();
    EXPECT_FALSE(Form1->link()->listening());

    Form1->N9Click();  // the panel
    Form1->DBGrid1->setFocus();
    apptest::typeText(Form1->DBGrid1, "9");
    Form1->editFor("FIO")->setFocus();
    apptest::typeText(Form1->editFor("FIO"), "Анна");
    EXPECT_EQ(Form1->Table1->State(), TDataSet::dsBrowse);
    QTest::keyClick(Form1->DBGrid1, Qt::Key_Delete, Qt::ControlModifier);  // no box to answer
    Form1->Table1->First();  // the navigator sets its buttons anew on a move
    for (auto b : {TDBNavigator::nbInsert, TDBNavigator::nbDelete})
        EXPECT_FALSE(Form1->DBNavigator1->button(b)->isEnabled()) << b;
    EXPECT_TRUE(Form1->writePendingEdits());
    EXPECT_EQ(pg::Connection(db.uri(name), 5)
                  .exec("SELECT coalesce(fio, '') || num || deleted || (SELECT count(*) FROM history) FROM results")
                  .scalar(),
              QStringLiteral("101false0"));
    Form1->FormClose();
}
