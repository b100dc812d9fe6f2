// The results' schema in a database of the test's own: its columns, what its fields refuse and
// with which name, a message stored once among undeleted rows, the tool making it once, and the
// roles of viewing desks and of programs that write.
#include "PgTestDatabase.h"

#include "engine/DataSet.h"
#include "store/ResultTable.h"
#include "store/pg/PgResultStore.h"
#include "store/pg/PgRoles.h"
#include "store/pg/PgSchema.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <thread>

class Schema : public PgTestDatabase {
protected:
    // What hematix-mkdb --database on the test's database (and more) says, having ended well.
    QString mkdb(const QStringList& more = {})
    {
        QProcess tool;
        tool.start(testsupport::binDir() + QStringLiteral("/hematix-mkdb"), QStringList{QStringLiteral("--database"), uri_} + more);
        EXPECT_TRUE(tool.waitForFinished(30000));
        EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
        return QString::fromUtf8(tool.readAllStandardOutput());
    }
};

TEST_F(Schema, NewerDatabaseIsRefused)
{
    EXPECT_THROW(pgschema::check(*db_), EDatabaseError);  // none yet
    pgschema::ensure(*db_);
    db_->exec(QStringLiteral("UPDATE hematix_schema SET version = $1"), {QString::number(pgschema::kVersion + 1)});
    const QString says = QStringLiteral("the database is version %1, this program knows up to %2")
                             .arg(pgschema::kVersion + 1).arg(pgschema::kVersion);
    EXPECT_TRUE(messageOf<EDatabaseError>([&] { pgschema::check(*db_); }).contains(says));
    EXPECT_TRUE(messageOf<EDatabaseError>([&] { pgschema::ensure(*db_); }).contains(says));
}

TEST_F(Schema, ResultColumnsAreTheTablesFieldsAsTexts)
{
    pgschema::ensure(*db_);
    QStringList expected = {QStringLiteral("id bigint"), QStringLiteral("deleted boolean"), QStringLiteral("find_text text")};
    for (const DbfFieldSpec& f : resulttable::fields())
        expected << (f.type == 'D' ? f.name.toLower() + QStringLiteral(" date")
                                   : QStringLiteral("%1 character varying %2").arg(f.name.toLower()).arg(f.length));
    expected << QStringLiteral("identity_key text");
    const pg::Result r = db_->exec(QStringLiteral(
        "SELECT string_agg(concat_ws(' ', column_name, data_type, character_maximum_length), ',' ORDER BY "
        "ordinal_position) FROM information_schema.columns WHERE table_name = 'results'"));
    EXPECT_EQ(r.scalar(), expected.join(QLatin1Char(',')));
}

// What a field takes and what it refuses: written through hematix_fit() the refusal names the
// field; straight into the column the database has the last word (varchar's names no column).
TEST_F(Schema, FieldsRefuseLongTextsAndTextsOutsideTheCodePage)
{
    pgschema::ensure(*db_);
    const struct {
        const char* field;
        QString value;
        const char *fit, *direct;  // what the refusals say; null: taken
    } cases[] = {
        {"FIO", QString(80, QChar(0x0416)), nullptr, nullptr},
        {"FIO", QString(81, QLatin1Char('a')), "FIO: 81 characters, the field holds 80", "character varying(80)"},
        {"NUM", QStringLiteral("1234567890"), nullptr, nullptr},
        {"NUM", QStringLiteral("12345678901"), "NUM: 11 characters, the field holds 10", "character varying(10)"},
        {"COMMENT", QStringLiteral("Ёё№ €\u0098"), nullptr, nullptr},  // 0x98 is in the program's code page too
        {"COMMENT", QStringLiteral("x\u0101"), "COMMENT: \"\u0101\" is not in code page 1251", "comment_cp1251"},
        {"RECEPTION", QString::fromUtf8("\xF0\x9F\x98\x80"), "RECEPTION: \"\xF0\x9F\x98\x80\" is not", "reception_cp1251"},
    };
    for (const auto& c : cases) {
        const QString field = QString::fromLatin1(c.field);
        const std::pair<QString, const char*> ways[] = {{pgschema::checkedValue(field, 1), c.fit}, {QStringLiteral("$1"), c.direct}};
        for (const auto& [value, says] : ways) {
            const QString sql = QStringLiteral("INSERT INTO results (%1) VALUES (%2)").arg(pgschema::column(field), value);
            const QString said = messageOf<ERowRefused>([&] { db_->exec(sql, {c.value}); });
            EXPECT_TRUE(said.contains(QString::fromUtf8(says ? says : "(not raised)"))) << c.field << ": " << said.toStdString();
        }
    }
}

TEST_F(Schema, AMessageIsStoredOnceAmongUndeletedRows)
{
    pgschema::ensure(*db_);
    const QString insert = QStringLiteral("INSERT INTO results (num, identity_key) VALUES ('1', $1) RETURNING id");
    const QString first = *db_->exec(insert, {QStringLiteral("k1")}).scalar();
    EXPECT_THROW(db_->exec(insert, {QStringLiteral("k1")}), ERowRefused);
    db_->exec(insert, {std::nullopt});  // rows made by hand have no identity
    db_->exec(insert, {std::nullopt});
    db_->exec(QStringLiteral("UPDATE results SET deleted = true WHERE id = $1"), {first});
    EXPECT_NO_THROW(db_->exec(insert, {QStringLiteral("k1")}));
    EXPECT_EQ(db_->exec(QStringLiteral("SELECT count(*) FROM results")).scalar(), QStringLiteral("4"));
}

// The tool makes the schema; a database left at version 1 is brought on; then it is current.
TEST_F(Schema, ToolMakesTheSchemaBringsItOnThenFindsItCurrent)
{
    const QString vacuumEvery = QStringLiteral("SELECT 'autovacuum_vacuum_insert_threshold=10000' = ANY(reloptions) "
                                               "FROM pg_class WHERE relname = 'results'");
    const QByteArray now = QByteArray::number(pgschema::kVersion);
    for (const QByteArray& said : {"version 0 -> " + now, "version 1 -> " + now, "at version " + now + " already"}) {
        if (said.startsWith("version 1")) {
            for (const char* undo : {"DROP TRIGGER results_insert ON results", "DROP TRIGGER results_update ON results",
                                     "DROP FUNCTION hematix_rows_changed()", "DROP SEQUENCE hematix_waited"})
                db_->exec(QLatin1String(undo));
            db_->exec(QStringLiteral("UPDATE hematix_schema SET version = 1"));
            db_->exec(QStringLiteral("ALTER TABLE results RESET (autovacuum_vacuum_insert_threshold)"));
        }
        EXPECT_TRUE(mkdb().contains(QLatin1String(said))) << said.constData();
        EXPECT_EQ(db_->exec(vacuumEvery).scalar(), QStringLiteral("t")) << said.constData();
    }
    EXPECT_TRUE(pgschema::ensure(*db_).done.isEmpty());
}

// hematix-mkdb --roles sets the two roles' rights once, says when there is nothing to do, and
// takes back a right granted beyond them since.
TEST_F(Schema, ToolSetsTheRolesRightsOnceAndTakesBackMore)
{
    pgschema::ensure(*db_);
    const auto roles = [&] { return mkdb({QStringLiteral("--roles")}); };
    const QString first = roles();
    for (const char* said : {"hematix_writer: granted UPDATE on TABLE results (deleted, dat, tim, num, fio,",
                             "hematix_reader: granted SELECT on TABLE results\n", "PUBLIC: revoked EXECUTE on FUNCTION hematix_store("})
        EXPECT_TRUE(first.contains(QLatin1String(said))) << said << '\n' << first.toStdString();
    EXPECT_TRUE(roles().contains(QLatin1String("have their rights already; nothing to do")));
    db_->exec(QStringLiteral("GRANT DELETE, UPDATE ON results TO hematix_writer"));
    db_->exec(QStringLiteral("GRANT EXECUTE ON FUNCTION hematix_in_cp1251(text) TO PUBLIC"));
    const QString third = roles();
    for (const char* said : {"hematix_writer: revoked DELETE, UPDATE on TABLE results\n",
                             "PUBLIC: revoked EXECUTE on FUNCTION hematix_in_cp1251(text)"})
        EXPECT_TRUE(third.contains(QLatin1String(said))) << said << '\n' << third.toStdString();
}

// A desk's login user given hematix_reader reads the rows and cannot change one even through
// its own SQL; one given hematix_writer stores, edits, deletes and restores as the program does.
TEST_F(Schema, AReaderOnlyReadsAndAWriterChangesRowsAsTheProgramDoes)
{
    pgschema::ensure(*db_);
    pgroles::ensure(*db_);
    const QString database = uri_.section(QLatin1Char('?'), 0, 0).section(QLatin1Char('/'), -1);
    // Login roles outlive the test's database; the test server goes with the run.
    QStringList users;
    const auto login = [&](const char* role) {
        users << database.left(50) + QLatin1Char('_') + QLatin1String(role).mid(8, 1);
        db_->exec(QStringLiteral("CREATE ROLE %1 LOGIN IN ROLE %2").arg(users.last(), QLatin1String(role)));
        return QString(uri_).replace(QStringLiteral("user=postgres"), QStringLiteral("user=") + users.last());
    };
    const QString readerUri = login(pgroles::kReader), writerUri = login(pgroles::kWriter);
    QTemporaryDir folder;

    PgResultStore writer(folder.path() + QLatin1Char('/'), writerUri);
    EXPECT_TRUE(writer.writable(nullptr));
    const ImportedRow row{QStringLiteral("12/07/2026"), {}, QStringLiteral("101"), {}};
    audit::ReceivedMessage message;
    message.bytes = "\x05 a message \x04";
    message.capture = QStringLiteral("m1.txt");
    EXPECT_EQ(writer.store(row, message).record, 1);
    {
        // Another program holds the archive's lock: the writer waits and notes that it did.
        pg::Connection holder(uri_, 5);
        pg::Connection::Transaction held(holder);
        holder.exec(QStringLiteral("SELECT pg_advisory_xact_lock(hashtext('hematix archive'))"));
        audit::ReceivedMessage second = message;
        second.capture = QStringLiteral("m2.txt");
        std::thread waiting([&] { EXPECT_EQ(writer.store({row.date, {}, QStringLiteral("102"), {}}, second).record, 2); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        held.commit();
        waiting.join();
    }
    TTable edited;
    writer.attachRows(edited);
    edited.Open();
    edited.Edit();
    edited.FieldByName(QStringLiteral("FIO"))->SetAsString(QStringLiteral("Анна"));
    edited.Post();
    edited.Delete();
    writer.restore(1);
    EXPECT_EQ(db_->exec(QStringLiteral("SELECT (SELECT string_agg(kind, ',' ORDER BY seq) FROM history) || '/' || "
                                       "(SELECT count(*) FROM archive) || '/' || (SELECT fio || deleted FROM results WHERE id = 1) "
                                       "|| '/' || (SELECT last_value > 0 FROM hematix_waited)"))
                  .scalar(),
              QStringLiteral("edit,deleted,restored/2/Аннаfalse/true"));

    PgResultStore reader(folder.path() + QLatin1Char('/'), readerUri);
    QString who;
    EXPECT_FALSE(reader.writable(&who));
    EXPECT_EQ(who, users[0]);
    EXPECT_NO_THROW(reader.openAudit(0));  // prunes nothing: a desk may not
    EXPECT_TRUE(messageOf<EDatabaseError>([&] { reader.restore(1); }).contains(QStringLiteral("may only read")));
    TTable read;
    reader.attachRows(read);
    read.Open();
    EXPECT_EQ(read.FieldByName(QStringLiteral("FIO"))->AsString(), QStringLiteral("Анна"));
    pg::Connection own(readerUri, 5);
    const std::pair<QString, std::vector<pg::Value>> refused[] = {
        {QStringLiteral("UPDATE results SET fio = 'x'"), {}},
        {QStringLiteral("UPDATE results SET deleted = true"), {}},
        {QStringLiteral("INSERT INTO results (num) VALUES ('1')"), {}},
        {pgschema::storeCall(), std::vector<pg::Value>(pgschema::kRowArguments + 5)},
        {QStringLiteral("DELETE FROM archive"), {}},
        {QStringLiteral("INSERT INTO history SELECT seq + 1, prev, time, kind, record, capture, entry FROM history LIMIT 1"), {}},
        {QStringLiteral("CREATE TEMP TABLE t (a int)"), {}},
    };
    for (const auto& [sql, params] : refused)
        EXPECT_TRUE(messageOf<EDatabaseError>([&] { own.exec(sql, params); }).contains(QStringLiteral("permission denied")))
            << sql.toStdString();
    EXPECT_EQ(own.exec(QStringLiteral("SELECT count(*) FROM line_log")).scalar(), QStringLiteral("0"));
}
