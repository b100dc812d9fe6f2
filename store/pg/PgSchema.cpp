#include "store/pg/PgSchema.h"

#include "audit/Chain.h"
#include "engine/Cp1251.h"
#include "store/ResultStore.h"
#include "store/ResultTable.h"

#include <iterator>

namespace pgschema {

namespace {

// A bracket expression of every character code page 1251 has, as engine/Cp1251 decodes it (0x98
// included, which PostgreSQL's own WIN1251 lacks: convert_to() would refuse a text the dBase
// table holds, and it raises without naming the field). NUL is no character of a text here.
QString cp1251Class()
{
    QString chars = QStringLiteral("\\u0001-\\u007f");
    for (int byte = 0x80; byte <= 0xFF; ++byte)
        chars += QStringLiteral("\\u%1").arg(cp1251::toChar(static_cast<unsigned char>(byte)).unicode(), 4, 16,
                                             QLatin1Char('0'));
    return QLatin1Char('[') + chars + QLatin1Char(']');
}

QString quoted(const QString& text)
{
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
}

// The text field named field; raises EDatabaseError when the table has none.
const DbfFieldSpec& textField(const QString& field)
{
    for (const DbfFieldSpec& f : resulttable::fields())
        if (f.name == field && f.type == 'C')
            return f;
    throw EDatabaseError(QStringLiteral("No text field %1 in the result table").arg(field));
}

// A text all of whose characters are in the code page, as a quoted regular expression.
QString cp1251Pattern() { return quoted(QLatin1Char('^') + cp1251Class() + QStringLiteral("*$")); }

// The columns an imported row fills with their values: $1 the date, $2 TIM, $3 NUM, $4.. the
// eighteen values, in hematix_store's argument order. The texts go in as given; fitted holds
// hematix_fit's call on each, and misfit, as one expression, whether it would refuse any.
struct RowStatement {
    QStringList columns;
    QStringList values;
    QStringList fitted; // hematix_fit('TIM', 8, $2), ...
    QString misfit;     // true when one of the texts is too long or outside the code page
};

const RowStatement& rowStatement()
{
    static const RowStatement s = [] {
        RowStatement r;
        int n = 0;
        r.columns << QStringLiteral("dat");
        r.values << QStringLiteral("$%1::date").arg(++n);
        QStringList tooLong, texts;
        auto text = [&](const QString& field) {
            r.columns << column(field);
            r.values << QStringLiteral("$%1").arg(++n);
            r.fitted << checkedValue(field, n);
            tooLong << QStringLiteral("char_length($%1) > %2").arg(n).arg(textField(field).length);
            texts << r.values.last();
        };
        for (const char* field : {"TIM", "NUM"})
            text(QLatin1String(field));
        // An imported row's FIO, COE and RECEPTION are empty texts; DOC, RETIC, FORMULA and
        // COMMENT hold no value (left out, NULL), as the dBase import leaves them.
        for (const char* field : {"fio", "coe", "reception"}) {
            r.columns << QLatin1String(field);
            r.values << QStringLiteral("''");
        }
        for (const QString& field : resulttable::valueFields())
            text(field);
        Q_ASSERT(n == kRowArguments);
        // One pattern match over all the texts: it holds for the whole exactly when for each.
        // The pattern itself rather than hematix_in_cp1251, which would be a call of its own.
        r.misfit = tooLong.join(QStringLiteral(" OR ")) + QStringLiteral(" OR concat(%1) !~ %2")
                                                            .arg(texts.join(QLatin1Char(',')), cp1251Pattern());
        return r;
    }();
    return s;
}

// The server's clock in milliseconds, as hematix_waited keeps it.
const QString nowMs = QStringLiteral("(extract(epoch FROM clock_timestamp()) * 1000)::bigint");

// hematix_store (see the header). Each statement of a plpgsql function reads with a snapshot of
// its own, so what the statements after the archive's lock read is what the lock holder left.
QString storeFunction()
{
    const RowStatement& s = rowStatement();
    QStringList arguments;
    for (int i = 0; i < kRowArguments; ++i)
        arguments << QStringLiteral("text");
    arguments << QStringLiteral("key text") << QStringLiteral("capture text") << QStringLiteral("at text")
              << QStringLiteral("at_json text") << QStringLiteral("entry_rest text")
              << QStringLiteral("OUT row_id bigint") << QStringLiteral("OUT is_new boolean")
              << QStringLiteral("OUT durable boolean");
    // The whole row among the undeleted last kRecentRows: a row stored without a message, again.
    QStringList same;
    for (qsizetype i = 0; i < s.columns.size(); ++i)
        if (s.values[i].contains(QLatin1Char('$')))
            same << QStringLiteral("r.%1 IS NOT DISTINCT FROM %2").arg(s.columns[i], s.values[i]);
    return QStringLiteral(
               "CREATE OR REPLACE FUNCTION hematix_store(%1) LANGUAGE plpgsql AS $f$\n"
               "DECLARE\n"
               "  head_seq bigint;\n"
               "  head_line text;\n"
               "  prev text := repeat('0', 64);\n"
               "  line text;\n"
               "BEGIN\n"
               "  is_new := false;\n"
               "  durable := true;\n"
               "  IF capture IS NULL THEN\n"
               "    SELECT r.id INTO row_id FROM (SELECT * FROM results WHERE NOT deleted ORDER BY id DESC LIMIT %2) r\n"
               "      WHERE %3 ORDER BY r.id DESC LIMIT 1;\n"
               "    IF row_id IS NOT NULL THEN RETURN; END IF;\n"
               "  END IF;\n"
               // Each field's own check would refuse a misfit too, but without naming the field
               // (a long text) or the character; hematix_fit names them. Called for every
               // value, it cost more than the whole row's insert.
               "  IF %9 THEN\n"
               "    PERFORM %10;\n"
               "  END IF;\n"
               // Only a row that is inserted takes a number: a resend leaves no gap. The
               // conflict is a program that stored the message since this statement began.
               "  INSERT INTO results (%4, identity_key) SELECT %5, key\n"
               "    WHERE NOT EXISTS (SELECT 1 FROM results WHERE identity_key = key AND NOT deleted)\n"
               "    ON CONFLICT (identity_key) WHERE NOT deleted AND identity_key IS NOT NULL DO NOTHING\n"
               "    RETURNING id INTO row_id;\n"
               "  is_new := row_id IS NOT NULL;\n"
               "  IF NOT is_new THEN\n"
               "    SELECT id INTO row_id FROM results WHERE identity_key = key AND NOT deleted;\n"
               "  END IF;\n"
               // A new row always gets its origin; a resend is archived unless this capture
               // already is (a crash between the commit and the capture file's removal).
               "  IF row_id IS NULL OR capture IS NULL THEN\n"
               "    RETURN;\n"
               "  END IF;\n"
               // The row went in beside other programs' rows (the unique index decides a message
               // two of them store at once); the archive's chain takes one entry at a time. Its
               // lock goes at the commit. While other programs are storing (one waited for the
               // lock within the last second), a commit that waited for the disk would keep them
               // waiting through it: it does not, and the caller waits for the disk after, before
               // it lets the capture go (storeFlush). A program storing alone lets its commit
               // wait for the disk itself, and the message costs one round trip.
               "  IF NOT pg_try_advisory_xact_lock(hashtext('hematix archive')) THEN\n"
               "    PERFORM setval('hematix_waited', %8);\n"
               "    PERFORM pg_advisory_xact_lock(hashtext('hematix archive'));\n"
               "    durable := false;\n"
               "  END IF;\n"
               // A resend of a capture archived already: nothing more to write.
               // Nested, so that a new row's statement holds no query of the archive to set up.
               "  IF NOT is_new THEN\n"
               "    IF EXISTS (SELECT 1 FROM archive a WHERE a.capture = hematix_store.capture) THEN\n"
               "      RETURN;\n"
               "    END IF;\n"
               "  END IF;\n"
               // The chain's head, and whether a program waited lately, in one statement.
               "  SELECT h.seq, h.entry, durable AND w.last_value < %7 INTO head_seq, head_line, durable\n"
               "    FROM hematix_waited w LEFT JOIN LATERAL (SELECT a.seq, a.entry FROM archive a ORDER BY a.seq DESC LIMIT 1) h ON true;\n"
               "  IF NOT durable THEN\n"
               "    PERFORM set_config('synchronous_commit', 'off', true);\n"
               "  END IF;\n"
               // As audit::Chain::appendAll builds a line.
               "  IF head_line IS NOT NULL THEN\n"
               "    prev := encode(sha256(convert_to(head_line, 'UTF8')), 'hex');\n"
               "  END IF;\n"
               "  head_seq := coalesce(head_seq, 0) + 1;\n"
               "  line := '{\"seq\":' || head_seq || ',\"prev\":\"' || prev || '\",\"time\":' || at_json\n"
               "    || ',\"kind\":\"message\",\"outcome\":\"' || CASE WHEN is_new THEN 'stored' ELSE 'resend' END\n"
               "    || '\",\"record\":' || row_id || entry_rest;\n"
               "  IF octet_length(line) > %6 THEN\n"
               "    RAISE EXCEPTION USING ERRCODE = 'program_limit_exceeded',\n"
               "      MESSAGE = format('An entry of %s bytes is longer than an entry can be', octet_length(line));\n"
               "  END IF;\n"
               "  INSERT INTO archive (seq, prev, time, kind, record, capture, entry)\n"
               "    VALUES (head_seq, prev, at::timestamptz, 'message', row_id, capture, line);\n"
               "END $f$")
        .arg(arguments.join(QStringLiteral(", ")))
        .arg(ResultStore::kRecentRows)
        .arg(same.join(QStringLiteral(" AND ")))
        .arg(s.columns.join(QLatin1Char(',')), s.values.join(QLatin1Char(',')))
        .arg(audit::kMaxLine)
        .arg(QStringLiteral("%1 - 1000").arg(nowMs), nowMs)
        .arg(s.misfit, s.fitted.join(QStringLiteral(", ")));
}

// hematix_store as this program calls it, in place of the one an older version made (its
// answer's columns may differ, which CREATE OR REPLACE refuses).
void makeStoreFunction(pg::Connection& c, const QString& what)
{
    QStringList types;
    for (int i = 0; i < kRowArguments + 5; ++i)
        types << QStringLiteral("text");
    c.exec(QStringLiteral("DROP FUNCTION IF EXISTS hematix_store(%1)").arg(types.join(QLatin1Char(','))), {}, what);
    c.exec(storeFunction(), {}, what);
}

// Whether a text is in code page 1251 (the fields' checks). plpgsql, where version 1 had an SQL
// function: an SQL function is inlined, and a table's checks are prepared anew for every
// statement, so each insert read every field's check back, each with its long pattern,
// which took half a stored row's time.
QString inCp1251(const QString& language)
{
    const QString test = QStringLiteral("value ~ %1").arg(cp1251Pattern());
    return QStringLiteral("CREATE OR REPLACE FUNCTION hematix_in_cp1251(value text) RETURNS boolean LANGUAGE %1 IMMUTABLE "
                          "STRICT PARALLEL SAFE %2")
        .arg(language, language == QLatin1String("sql") ? QStringLiteral("RETURN ") + test
                                                         : QStringLiteral("AS $$ BEGIN RETURN %1; END $$").arg(test));
}

void makeVersion1(pg::Connection& c)
{
    const QString what = QStringLiteral("Making the schema (version 1)");
    auto run = [&](const QString& sql) { c.exec(sql, {}, what); };

    run(QStringLiteral("CREATE TABLE hematix_schema (version int NOT NULL)"));
    run(QStringLiteral("INSERT INTO hematix_schema VALUES (0)"));

    const QString allowed = cp1251Class();
    run(inCp1251(QStringLiteral("sql")));
    run(QStringLiteral(
            "CREATE FUNCTION hematix_fit(field text, width int, value text) RETURNS text LANGUAGE plpgsql "
            "IMMUTABLE STRICT PARALLEL SAFE AS $$\n"
            "BEGIN\n"
            "  IF char_length(value) > width THEN\n"
            "    RAISE EXCEPTION USING ERRCODE = 'string_data_right_truncation', COLUMN = lower(field),\n"
            "      MESSAGE = format('%s: %s characters, the field holds %s', field, char_length(value), width);\n"
            "  END IF;\n"
            "  IF NOT hematix_in_cp1251(value) THEN\n"
            "    RAISE EXCEPTION USING ERRCODE = 'untranslatable_character', COLUMN = lower(field),\n"
            "      MESSAGE = format('%s: \"%s\" is not in code page 1251', field,\n"
            "                       left(regexp_replace(value, %1, '', 'g'), 1));\n"
            "  END IF;\n"
            "  RETURN value;\n"
            "END $$")
            .arg(quoted(allowed)));

    QStringList columns = {QStringLiteral("id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY"),
                           QStringLiteral("deleted boolean NOT NULL DEFAULT false"),
                           // U+E000 is outside the code page, so no text looked for holds it: a
                           // match never spans the number and the name. Near the row's start: a
                           // find that reads rows through takes apart only the columns before it.
                           QStringLiteral("%1 text GENERATED ALWAYS AS (%2 || U&'\\E000' || %3) STORED")
                               .arg(findText(), foldedColumn(QStringLiteral("coalesce(num, '')")),
                                    foldedColumn(QStringLiteral("coalesce(fio, '')")))};
    for (const DbfFieldSpec& f : resulttable::fields()) {
        const QString name = column(f.name);
        if (f.type == 'D')
            columns << name + QStringLiteral(" date");
        else
            columns << QStringLiteral("%1 varchar(%2) CONSTRAINT %1_cp1251 CHECK (hematix_in_cp1251(%1))")
                           .arg(name)
                           .arg(f.length);
    }
    columns << QStringLiteral("identity_key text");
    run(QStringLiteral("CREATE TABLE results (\n  %1\n)").arg(columns.join(QStringLiteral(",\n  "))));
    // A message is stored once: the database itself refuses a second undeleted row of it.
    run(QStringLiteral("CREATE UNIQUE INDEX results_identity ON results (identity_key) "
                       "WHERE NOT deleted AND identity_key IS NOT NULL"));
    run(QStringLiteral("CREATE INDEX results_dat ON results (dat)"));
    // The grid counts the shown rows of a range of ids: the deleted ones, few, from here.
    run(QStringLiteral("CREATE INDEX results_deleted ON results (id) WHERE deleted"));
    run(QStringLiteral("CREATE EXTENSION IF NOT EXISTS pg_trgm"));
    run(QStringLiteral("CREATE INDEX results_find_trgm ON results USING gin (%1 gin_trgm_ops)").arg(findText()));
    run(QStringLiteral("CREATE INDEX results_patient ON results (%1)").arg(foldedName()));

    for (const char* chain : {"archive", "history"}) {
        run(QStringLiteral("CREATE TABLE %1 (seq bigint PRIMARY KEY, prev text NOT NULL, "
                           "time timestamptz NOT NULL, kind text NOT NULL, record bigint, capture text, "
                           "entry text NOT NULL)")
                .arg(QLatin1String(chain)));
        // The last days' entries (checks, pruning). BRIN: entries are appended in time order, and
        // a block range's summary costs an append next to nothing, where a btree would be one
        // more index written with every message.
        run(QStringLiteral("CREATE INDEX %1_time ON %1 USING brin (time)").arg(QLatin1String(chain)));
    }
    // A row's entries: its deletion, to restore it.
    run(QStringLiteral("CREATE INDEX history_record ON history (record)"));
    run(storeFunction());
    // A capture read again after a crash is archived once. Hash: capture keys are SHA-256 texts,
    // each insert lands on a random page, and a hash index's four-byte codes keep those pages few
    // (a btree of the 64-character keys is some four times larger, and falls out of memory first).
    run(QStringLiteral("CREATE INDEX archive_capture ON archive USING hash (capture)"));
    // seq keeps the order of lines logged within one clock tick.
    run(QStringLiteral("CREATE TABLE line_log (seq bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY, "
                       "time timestamptz NOT NULL, dir text NOT NULL, bytes bytea NOT NULL)"));
}

// The grid counts a range's rows by an index-only scan of the primary key, which reads a row's
// page only until vacuum marks it all-visible. Left to the defaults, an insert-only table is
// vacuumed after a fifth of its rows again, so at 1,000,000 rows the newest 200,000 would each
// cost a page read; every 10,000 rows keeps that to a few chunks, and such a vacuum visits only
// the pages written since.
void makeVersion2(pg::Connection& c)
{
    c.exec(QStringLiteral("ALTER TABLE results SET (autovacuum_vacuum_insert_threshold = 10000, "
                          "autovacuum_vacuum_insert_scale_factor = 0)"),
           {}, QStringLiteral("Making the schema (version 2)"));
}

// Programs on other PCs show rows as they are stored or changed: each statement that inserts or
// updates rows notifies the range of their ids on hematix_rows (at commit, in commit order, so a
// row whose id was taken early and committed late is told when it is there to read).
void makeVersion3(pg::Connection& c)
{
    const QString what = QStringLiteral("Making the schema (version 3)");
    c.exec(QStringLiteral("CREATE FUNCTION hematix_rows_changed() RETURNS trigger LANGUAGE plpgsql AS $$\n"
                          "DECLARE lo bigint; hi bigint;\n"
                          "BEGIN\n"
                          "  SELECT min(id), max(id) INTO lo, hi FROM changed;\n"
                          "  IF lo IS NOT NULL THEN\n"
                          "    PERFORM pg_notify('hematix_rows', lo || ' ' || hi);\n"
                          "  END IF;\n"
                          "  RETURN NULL;\n"
                          "END $$"),
           {}, what);
    // A trigger with a transition table takes one kind of statement.
    for (const char* kind : {"INSERT", "UPDATE"})
        c.exec(QStringLiteral("CREATE TRIGGER results_%1 AFTER %2 ON results REFERENCING NEW TABLE AS changed "
                              "FOR EACH STATEMENT EXECUTE FUNCTION hematix_rows_changed()")
                   .arg(QString::fromLatin1(kind).toLower(), QLatin1String(kind)),
               {}, what);
}

// hematix_store inserts a message's row before it takes the archive's lock, and commits without
// waiting for the disk (the lock is held by one program at a time, and a commit's wait for the
// disk would hold it through); the program waits for the disk after (storeFlush).
void makeVersion4(pg::Connection& c)
{
    makeStoreFunction(c, QStringLiteral("Making the schema (version 4)"));
}

// The fields' checks no longer read their pattern back for every statement (inCp1251), and
// hematix_store commits synchronously when it took the archive's lock without waiting: one
// round trip for a message while no other program is storing.
void makeVersion5(pg::Connection& c)
{
    const QString what = QStringLiteral("Making the schema (version 5)");
    c.exec(inCp1251(QStringLiteral("plpgsql")), {}, what);
    c.exec(QStringLiteral("CREATE SEQUENCE hematix_waited"), {}, what);
    makeStoreFunction(c, what);
}

// hematix_store checks a row's texts in one expression, and calls hematix_fit only to name what
// it refuses. CREATE OR REPLACE: the same arguments and answer, and the roles' rights stay.
// The archive's entries (a message's bytes in base64) are compressed with LZ4, some times faster
// than PostgreSQL's own pglz, for entries written from now on; a server built without LZ4 keeps
// pglz.
void makeVersion6(pg::Connection& c)
{
    const QString what = QStringLiteral("Making the schema (version 6)");
    c.exec(storeFunction(), {}, what);
    c.exec(QStringLiteral("DO $$ BEGIN EXECUTE 'ALTER TABLE archive ALTER COLUMN entry SET COMPRESSION lz4'; "
                          "EXCEPTION WHEN feature_not_supported THEN NULL; END $$"),
           {}, what);
}

struct Step {
    const char* says;
    void (*run)(pg::Connection&);
};
// steps[v] brings a database of version v to v + 1.
const Step steps[] = {
    {"made the schema, version 1: results, archive, history, line_log", makeVersion1},
    {"version 2: results vacuumed every 10,000 new rows, so counting rows stays in the indexes", makeVersion2},
    {"version 3: rows stored or changed are notified on hematix_rows", makeVersion3},
    {"version 4: messages' rows go in side by side; the archive's lock is left before the disk has them", makeVersion4},
    {"version 5: the fields' checks are not read back for every row; a message alone commits in one round trip", makeVersion5},
    {"version 6: a message is stored with fewer statements, its row's texts checked once, its entry compressed with LZ4", makeVersion6},
};
static_assert(std::size(steps) == kVersion, "one step per version");

QString newerMessage(int version)
{
    return QStringLiteral("the database is version %1, this program knows up to %2").arg(version).arg(kVersion);
}

} // namespace

QString column(const QString& field)
{
    return field.toLower();
}

QString foldedColumn(const QString& column)
{
    return QStringLiteral("translate(lower(%1), 'ё', 'е')").arg(column);
}

QString findText()
{
    return QStringLiteral("find_text");
}

namespace {
// hematix_store's call answering row_id, is_new and third.
QString storeCallAnswering(const QString& third)
{
    QStringList arguments;
    for (int i = 1; i <= kRowArguments + 5; ++i)
        arguments << QStringLiteral("$%1").arg(i);
    return QStringLiteral("SELECT row_id, is_new, %1 FROM hematix_store(%2)").arg(third, arguments.join(QLatin1Char(',')));
}
} // namespace

QString storeCall()
{
    // Made once: every message asks for it.
    static const QString call = storeCallAnswering(QStringLiteral("durable"));
    return call;
}

QString storeCallUnflushed()
{
    // The setting lasts to the end of the statement's own transaction: its commit.
    static const QString call = storeCallAnswering(QStringLiteral("set_config('synchronous_commit', 'off', true)"));
    return call;
}

QString storeFlush()
{
    // A transaction that wrote to the log (a transactional message writes a record and takes a
    // transaction id) commits synchronously: it waits until the log is on disk up to its commit,
    // past the message's commit before it. A transaction that wrote nothing (pg_current_xact_id()
    // alone) would commit without waiting.
    return QStringLiteral("SELECT pg_logical_emit_message(true, 'hematix', '')");
}

QString foldedName()
{
    return foldedColumn(QStringLiteral("btrim(fio)"));
}

QString checkedValue(const QString& field, int parameter)
{
    const DbfFieldSpec& f = textField(field);
    return QStringLiteral("hematix_fit('%1', %2, $%3)").arg(f.name).arg(f.length).arg(parameter);
}

int version(pg::Connection& connection)
{
    const QString what = QStringLiteral("Reading the schema's version");
    if (connection.exec(QStringLiteral("SELECT to_regclass('hematix_schema') IS NULL"), {}, what).scalar()
        == QStringLiteral("t"))
        return 0;
    const pg::Result r = connection.exec(QStringLiteral("SELECT version FROM hematix_schema"), {}, what);
    bool ok = false;
    const int v = r.rows.size() == 1 && r.scalar() ? r.scalar()->toInt(&ok) : 0;
    if (!ok || v < 0)
        throw EDatabaseError(QStringLiteral("%1: hematix_schema should hold one version, it holds %2 rows")
                                 .arg(what)
                                 .arg(r.rows.size()));
    return v;
}

Ensured ensure(pg::Connection& connection)
{
    pg::Connection::Transaction transaction(connection);
    // Two programs making the schema at once: the second waits, then finds it made.
    connection.exec(QStringLiteral("SELECT pg_advisory_xact_lock(hashtext('hematix_schema'))"), {},
                    QStringLiteral("Waiting for another program making the schema"));
    Ensured e;
    e.from = version(connection);
    if (e.from > kVersion)
        throw EDatabaseError(newerMessage(e.from));
    for (int v = e.from; v < kVersion; ++v) {
        steps[v].run(connection);
        e.done << QString::fromLatin1(steps[v].says);
    }
    if (e.from < kVersion)
        connection.exec(QStringLiteral("UPDATE hematix_schema SET version = $1"), {QString::number(kVersion)},
                        QStringLiteral("Recording the schema's version"));
    transaction.commit();
    e.to = kVersion;
    return e;
}

void check(pg::Connection& connection)
{
    const int v = version(connection);
    if (v > kVersion)
        throw EDatabaseError(newerMessage(v));
    if (v == 0)
        throw EDatabaseError(QStringLiteral("%1 has no Hematix schema: hematix-mkdb --database makes it")
                                 .arg(connection.location()));
    if (v < kVersion)
        throw EDatabaseError(QStringLiteral("the database is version %1, this program needs %2: "
                                            "hematix-mkdb --database brings it there")
                                 .arg(v)
                                 .arg(kVersion));
}

} // namespace pgschema
