#include "store/pg/PgSchema.h"

#include "engine/Cp1251.h"
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

void makeVersion1(pg::Connection& c)
{
    const QString what = QStringLiteral("Making the schema (version 1)");
    auto run = [&](const QString& sql) { c.exec(sql, {}, what); };

    run(QStringLiteral("CREATE TABLE hematix_schema (version int NOT NULL)"));
    run(QStringLiteral("INSERT INTO hematix_schema VALUES (0)"));

    const QString allowed = cp1251Class();
    run(QStringLiteral("CREATE FUNCTION hematix_in_cp1251(value text) RETURNS boolean LANGUAGE sql IMMUTABLE "
                       "STRICT PARALLEL SAFE RETURN value ~ %1")
            .arg(quoted(QLatin1Char('^') + allowed + QStringLiteral("*$"))));
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
                           QStringLiteral("deleted boolean NOT NULL DEFAULT false")};
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
    run(QStringLiteral("CREATE EXTENSION IF NOT EXISTS pg_trgm"));
    // On exactly the expressions a find compares (foldedColumn), so that LIKE '%...%' uses them.
    for (const char* field : {"fio", "num"})
        run(QStringLiteral("CREATE INDEX results_%1_trgm ON results USING gin (%2 gin_trgm_ops)")
                .arg(QLatin1String(field), foldedColumn(QLatin1String(field))));
    run(QStringLiteral("CREATE INDEX results_patient ON results (%1)").arg(foldedName()));

    for (const char* chain : {"archive", "history"}) {
        run(QStringLiteral("CREATE TABLE %1 (seq bigint PRIMARY KEY, prev text NOT NULL, "
                           "time timestamptz NOT NULL, kind text NOT NULL, record bigint, capture text, "
                           "entry text NOT NULL)")
                .arg(QLatin1String(chain)));
        // The last days' entries (checks, pruning) and a row's entries (its deletion, to restore).
        run(QStringLiteral("CREATE INDEX %1_time ON %1 (time)").arg(QLatin1String(chain)));
        run(QStringLiteral("CREATE INDEX %1_record ON %1 (record)").arg(QLatin1String(chain)));
    }
    // A capture read again after a crash is archived once.
    run(QStringLiteral("CREATE INDEX archive_capture ON archive (capture)"));
    // seq keeps the order of lines logged within one clock tick.
    run(QStringLiteral("CREATE TABLE line_log (seq bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY, "
                       "time timestamptz NOT NULL, dir text NOT NULL, bytes bytea NOT NULL)"));
}

struct Step {
    const char* says;
    void (*run)(pg::Connection&);
};
// steps[v] brings a database of version v to v + 1.
const Step steps[] = {
    {"made the schema, version 1: results, archive, history, line_log", makeVersion1},
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

QString foldedName()
{
    return foldedColumn(QStringLiteral("btrim(fio)"));
}

QString checkedValue(const QString& field, int parameter)
{
    for (const DbfFieldSpec& f : resulttable::fields())
        if (f.name == field && f.type == 'C')
            return QStringLiteral("hematix_fit('%1', %2, $%3)").arg(f.name).arg(f.length).arg(parameter);
    throw EDatabaseError(QStringLiteral("No text field %1 in the result table").arg(field));
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
