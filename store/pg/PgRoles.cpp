#include "store/pg/PgRoles.h"

#include "store/ResultTable.h"
#include "store/pg/PgSchema.h"

#include <QMap>
#include <QSet>

#include <optional>

namespace pgroles {

namespace {

QString literal(QString text)
{
    return QLatin1Char('\'') + text.replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
}

QString identifier(QString name)
{
    return QLatin1Char('"') + name.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

const QString kPublic = QStringLiteral("PUBLIC");

// The rights on one object (or one column of a table) for the two roles and PUBLIC.
struct Rights {
    QString object;  // as GRANT names it: "TABLE results", "FUNCTION hematix_fit(text,integer,text)"
    QString column;  // a column of object: the rights are the column's
    QString acl;     // a statement answering the object's aclitem[] (defaults made explicit)
    QString has;     // has_*_privilege(..., '%1'): whether the connected user holds a right
    QStringList reader, writer;
    // What PUBLIC must not hold; nullopt: anything.
    std::optional<QStringList> publicMayNot;
    bool onDatabase = false;  // only the database's owner can change these
};

QString tableAcl(const QString& relation)
{
    return QStringLiteral("SELECT coalesce(relacl, acldefault(CASE relkind WHEN 'S' THEN 's' ELSE 'r' END::\"char\", "
                          "relowner)) FROM pg_class WHERE oid = %1::regclass")
        .arg(literal(relation));
}

Rights table(const QString& name, QStringList reader, QStringList writer)
{
    Rights r;
    r.object = QStringLiteral("TABLE ") + name;
    r.acl = tableAcl(name);
    r.has = QStringLiteral("has_table_privilege(%1, '%2')").arg(literal(name));
    r.reader = std::move(reader);
    r.writer = std::move(writer);
    return r;
}

// Every right the roles are given, from the statements of store/pg: the program reads results
// (the grid's blocks and counts, finds, periods, the trail's check), archive and history (a row's
// story, the check), line_log and hematix_schema; it inserts rows (hematix_store, an appended
// row), updates the fields and the deleted flag (edits, deletions, restoring), numbers an
// appended row (nextval), notes a wait for the archive's lock (hematix_waited), appends to both
// chains, and prunes the archive at start.
std::vector<Rights> rightsOf(pg::Connection& c)
{
    const QString what = QStringLiteral("Reading the schema's objects");
    const pg::Result where = c.exec(QStringLiteral("SELECT n.nspname, current_database(), pg_get_serial_sequence('results', 'id'), "
                                                   "pg_get_serial_sequence('line_log', 'seq') FROM pg_class t "
                                                   "JOIN pg_namespace n ON n.oid = t.relnamespace WHERE t.oid = 'results'::regclass"),
                                    {}, what);
    const pg::Row& w = where.rows.at(0);
    const QString schema = w[0].value_or(QString()), database = w[1].value_or(QString());
    std::vector<Rights> all;

    Rights db;
    db.object = QStringLiteral("DATABASE ") + identifier(database);
    db.acl = QStringLiteral("SELECT coalesce(datacl, acldefault('d', datdba)) FROM pg_database WHERE datname = current_database()");
    db.has = QStringLiteral("has_database_privilege(current_database(), '%1')");
    db.reader = {QStringLiteral("CONNECT")};
    db.publicMayNot = QStringList{QStringLiteral("CONNECT"), QStringLiteral("TEMPORARY")};
    db.onDatabase = true;
    all.push_back(db);

    Rights ns;
    ns.object = QStringLiteral("SCHEMA ") + identifier(schema);
    ns.acl = QStringLiteral("SELECT coalesce(nspacl, acldefault('n', nspowner)) FROM pg_namespace WHERE nspname = %1").arg(literal(schema));
    ns.has = QStringLiteral("has_schema_privilege(%1, '%2')").arg(literal(schema));
    ns.reader = {QStringLiteral("USAGE")};
    ns.publicMayNot = QStringList{QStringLiteral("CREATE")};
    all.push_back(ns);

    const QStringList select = {QStringLiteral("SELECT")};
    all.push_back(table(QStringLiteral("hematix_schema"), select, {}));
    all.push_back(table(QStringLiteral("results"), select, {QStringLiteral("INSERT")}));
    all.push_back(table(QStringLiteral("archive"), select, {QStringLiteral("INSERT"), QStringLiteral("DELETE")}));
    all.push_back(table(QStringLiteral("history"), select, {QStringLiteral("INSERT")}));
    all.push_back(table(QStringLiteral("line_log"), select, {}));

    // UPDATE by column: the fields and the deleted flag, never the number or the message's identity.
    QSet<QString> updated = {QStringLiteral("deleted")};
    for (const DbfFieldSpec& f : resulttable::fields())
        updated.insert(pgschema::column(f.name));
    const pg::Result columns = c.exec(QStringLiteral("SELECT attname FROM pg_attribute WHERE attrelid = 'results'::regclass "
                                                     "AND attnum > 0 AND NOT attisdropped ORDER BY attnum"),
                                      {}, what);
    for (const pg::Row& row : columns.rows) {
        const QString name = row[0].value_or(QString());
        Rights r;
        r.object = QStringLiteral("TABLE results");
        r.column = name;
        r.acl = QStringLiteral("SELECT attacl FROM pg_attribute WHERE attrelid = 'results'::regclass AND attname = %1").arg(literal(name));
        r.has = QStringLiteral("has_column_privilege('results', %1, '%2')").arg(literal(name));
        if (updated.contains(name))
            r.writer = {QStringLiteral("UPDATE")};
        all.push_back(r);
    }

    for (int i : {2, 3}) {
        const QString sequence = w[size_t(i)].value_or(QString());
        Rights r;
        r.object = QStringLiteral("SEQUENCE ") + sequence;
        r.acl = tableAcl(sequence);
        r.has = QStringLiteral("has_sequence_privilege(%1, '%2')").arg(literal(sequence));
        if (i == 2)
            r.writer = {QStringLiteral("USAGE")};  // an appended row takes its number first
        all.push_back(r);
    }

    // When a program last waited for the archive's lock (hematix_store reads and sets it).
    Rights waited;
    const QString sequence = identifier(schema) + QStringLiteral(".hematix_waited");
    waited.object = QStringLiteral("SEQUENCE ") + sequence;
    waited.acl = tableAcl(sequence);
    waited.has = QStringLiteral("has_sequence_privilege(%1, '%2')").arg(literal(sequence));
    waited.writer = {QStringLiteral("SELECT"), QStringLiteral("UPDATE")};
    all.push_back(waited);

    const pg::Result functions = c.exec(QStringLiteral("SELECT p.oid::regprocedure::text FROM pg_proc p WHERE p.pronamespace = "
                                                       "(SELECT relnamespace FROM pg_class WHERE oid = 'results'::regclass) "
                                                       "AND p.proname IN ('hematix_store', 'hematix_fit', 'hematix_in_cp1251') ORDER BY 1"),
                                        {}, what);
    if (functions.rows.size() != 3)
        throw EDatabaseError(QStringLiteral("%1: the schema should have hematix_store, hematix_fit and hematix_in_cp1251, it has %2 of them")
                                 .arg(what)
                                 .arg(functions.rows.size()));
    for (const pg::Row& row : functions.rows) {
        const QString signature = row[0].value_or(QString());
        Rights r;
        r.object = QStringLiteral("FUNCTION ") + signature;
        r.acl = QStringLiteral("SELECT coalesce(proacl, acldefault('f', proowner)) FROM pg_proc WHERE oid = %1::regprocedure")
                    .arg(literal(signature));
        r.has = QStringLiteral("has_function_privilege(%1, '%2')").arg(literal(signature));
        r.writer = {QStringLiteral("EXECUTE")};
        // Functions are callable by everyone unless revoked; hematix_store runs with the
        // caller's rights, so this only keeps a stranger from reaching the tables through it.
        r.publicMayNot = std::nullopt;
        all.push_back(r);
    }
    return all;
}

// Makes role (NOLOGIN) when missing; two programs doing it at once both find it made.
void makeRole(pg::Connection& c, const QString& role, QStringList& done)
{
    const QString what = QStringLiteral("Making the role %1").arg(role);
    const pg::Result r = c.exec(QStringLiteral("SELECT rolcanlogin FROM pg_roles WHERE rolname = $1"), {role}, what);
    if (r.rows.empty()) {
        c.exec(QStringLiteral("DO $$ BEGIN CREATE ROLE %1 NOLOGIN; EXCEPTION WHEN duplicate_object OR unique_violation THEN "
                              "NULL; END $$")
                   .arg(role),
               {}, what);
        done << QStringLiteral("made the role %1 (NOLOGIN)").arg(role);
    } else if (r.scalar() == QStringLiteral("t")) {
        // A group role: users log in as themselves, so that the history names them.
        c.exec(QStringLiteral("ALTER ROLE %1 NOLOGIN").arg(role), {}, what);
        done << QStringLiteral("%1 may no longer log in itself (NOLOGIN)").arg(role);
    }
}

bool isMember(pg::Connection& c, const QString& member, const QString& role)
{
    return c.exec(QStringLiteral("SELECT EXISTS (SELECT 1 FROM pg_auth_members m WHERE m.roleid = $2::regrole "
                                 "AND m.member = $1::regrole)"),
                  {member, role}, QStringLiteral("Reading %1's roles").arg(member))
               .scalar()
           == QStringLiteral("t");
}

QString onWhat(const Rights& r)
{
    return r.column.isEmpty() ? r.object : QStringLiteral("%1 (%2)").arg(r.object, r.column);
}

// "SELECT, INSERT" or, for a column, "UPDATE (fio)".
QString privileges(const Rights& r, const QStringList& list)
{
    QStringList out;
    for (const QString& p : list)
        out << (r.column.isEmpty() ? p : QStringLiteral("%1 (%2)").arg(p, identifier(r.column)));
    return out.join(QStringLiteral(", "));
}

// One change made: granted or revoked privileges on an object, for a grantee; the columns of a
// table changed alike are said in one line.
struct Change {
    QString grantee, verb, privileges, object;
    QStringList columns;
    QString line() const
    {
        return QStringLiteral("%1: %2 %3 on %4%5")
            .arg(grantee, verb, privileges, object,
                 columns.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(columns.join(QStringLiteral(", "))));
    }
};

void note(QList<Change>& changes, Change c)
{
    for (Change& earlier : changes)
        if (!c.columns.isEmpty() && earlier.grantee == c.grantee && earlier.verb == c.verb
            && earlier.privileges == c.privileges && earlier.object == c.object && !earlier.columns.isEmpty()) {
            earlier.columns << c.columns;
            return;
        }
    changes << std::move(c);
}

void setRights(pg::Connection& c, const Rights& r, const QMap<QString, qint64>& oids, QList<Change>& changes)
{
    const QString what = QStringLiteral("Setting the rights on %1").arg(onWhat(r));
    QMap<qint64, QSet<QString>> held;
    const pg::Result acl =
        c.exec(QStringLiteral("SELECT a.grantee, a.privilege_type FROM (%1) x(acl), aclexplode(x.acl) a").arg(r.acl), {}, what);
    for (const pg::Row& row : acl.rows)
        held[row[0].value_or(QString()).toLongLong()].insert(row[1].value_or(QString()));

    const std::pair<QString, const QStringList*> grantees[] = {{QLatin1String(kReader), &r.reader},
                                                                {QLatin1String(kWriter), &r.writer},
                                                                {kPublic, nullptr}};
    for (const auto& [grantee, wanted] : grantees) {
        const QSet<QString>& has = held[oids.value(grantee)];
        QStringList grant, revoke;
        if (wanted)
            for (const QString& p : *wanted)
                if (!has.contains(p))
                    grant << p;
        for (const QString& p : has) {
            const bool allowed = wanted ? wanted->contains(p) : r.publicMayNot && !r.publicMayNot->contains(p);
            if (!allowed)
                revoke << p;
        }
        revoke.sort();
        const QStringList columns = r.column.isEmpty() ? QStringList() : QStringList{r.column};
        if (!grant.isEmpty()) {
            c.exec(QStringLiteral("GRANT %1 ON %2 TO %3").arg(privileges(r, grant), r.object, grantee), {}, what);
            note(changes, {grantee, QStringLiteral("granted"), grant.join(QStringLiteral(", ")), r.object, columns});
        }
        if (!revoke.isEmpty()) {
            c.exec(QStringLiteral("REVOKE %1 ON %2 FROM %3").arg(privileges(r, revoke), r.object, grantee), {}, what);
            note(changes, {grantee, QStringLiteral("revoked"), revoke.join(QStringLiteral(", ")), r.object, columns});
        }
    }
}

} // namespace

Ensured ensure(pg::Connection& connection)
{
    pg::Connection& c = connection;
    pg::Connection::Transaction transaction(c);
    // As making the schema: two runs at once take turns.
    c.exec(QStringLiteral("SELECT pg_advisory_xact_lock(hashtext('hematix_schema'))"), {},
           QStringLiteral("Waiting for another program making the schema"));
    pgschema::check(c);
    Ensured e;
    const QString reader = QLatin1String(kReader), writer = QLatin1String(kWriter);
    makeRole(c, reader, e.done);
    makeRole(c, writer, e.done);
    // The writer reads through the reader's rights; the reverse would let every desk write.
    if (isMember(c, reader, writer)) {
        c.exec(QStringLiteral("REVOKE %1 FROM %2").arg(writer, reader), {}, QStringLiteral("Setting the roles"));
        e.done << QStringLiteral("%1 is no longer a member of %2").arg(reader, writer);
    }
    if (!isMember(c, writer, reader)) {
        c.exec(QStringLiteral("DO $$ BEGIN GRANT %1 TO %2; EXCEPTION WHEN unique_violation THEN NULL; END $$").arg(reader, writer),
               {}, QStringLiteral("Setting the roles"));
        e.done << QStringLiteral("%1 is a member of %2").arg(writer, reader);
    }

    QMap<QString, qint64> oids;
    oids[kPublic] = 0;
    for (const QString& role : {reader, writer})
        oids[role] = c.exec(QStringLiteral("SELECT $1::regrole::oid"), {role}, QStringLiteral("Reading the roles"))
                         .scalar()
                         .value_or(QString())
                         .toLongLong();
    const bool ownsDatabase =
        c.exec(QStringLiteral("SELECT pg_has_role(datdba, 'USAGE') FROM pg_database WHERE datname = current_database()"), {},
               QStringLiteral("Reading the database's owner"))
            .scalar()
        == QStringLiteral("t");
    QList<Change> changes;
    for (const Rights& r : rightsOf(c)) {
        if (r.onDatabase && !ownsDatabase) {
            e.notes << QStringLiteral("the database's rights are left as they are: only its owner may change them "
                                      "(as the owner: REVOKE CONNECT, TEMPORARY ON %1 FROM PUBLIC; GRANT CONNECT ON %1 TO %2)")
                           .arg(r.object, reader);
            continue;
        }
        setRights(c, r, oids, changes);
    }
    for (const Change& change : changes)
        e.done << change.line();
    transaction.commit();
    return e;
}

bool userMayWrite(pg::Connection& connection, QString* user)
{
    QStringList checks;
    for (const Rights& r : rightsOf(connection))
        for (const QStringList* wanted : {&r.reader, &r.writer})
            for (const QString& p : *wanted)
                checks << r.has.arg(p);
    const pg::Result r = connection.exec(QStringLiteral("SELECT current_user, %1").arg(checks.join(QStringLiteral(" AND "))), {},
                                         QStringLiteral("Reading the user's rights"));
    if (user)
        *user = r.rows.at(0)[0].value_or(QString());
    return r.rows.at(0)[1] == QStringLiteral("t");
}

} // namespace pgroles
