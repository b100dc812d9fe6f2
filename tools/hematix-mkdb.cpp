// hematix-mkdb PROGRAM_FOLDER: makes an empty result table, DB/HEMATIX.dbf, in a program folder.
// It never replaces an existing table.
// hematix-mkdb --database URI: makes the results' schema in a PostgreSQL database, or brings an
// older one to the current version; a database already current is left as it is.
// hematix-mkdb --database URI --roles: the same, then the group roles hematix_reader and
// hematix_writer and their rights on it (store/pg/PgRoles); run again, it changes nothing.
#include "engine/DbfFile.h"
#include "store/ResultTable.h"
#include "store/pg/PgRoles.h"
#include "store/pg/PgSchema.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

int makeSchema(const QString& uri, bool roles, QTextStream& out, QTextStream& err)
{
    try {
        pg::Connection connection(uri);
        const pgschema::Ensured e = pgschema::ensure(connection);
        if (e.done.isEmpty()) {
            out << connection.location() << ": the schema is at version " << e.to << " already; nothing to do\n";
        } else {
            out << connection.location() << ": version " << e.from << " -> " << e.to << '\n';
            for (const QString& step : e.done)
                out << "  " << step << '\n';
        }
        if (roles) {
            const pgroles::Ensured r = pgroles::ensure(connection);
            if (r.done.isEmpty())
                out << connection.location() << ": the roles " << pgroles::kReader << " and " << pgroles::kWriter
                    << " have their rights already; nothing to do\n";
            else
                out << connection.location() << ": roles\n";
            for (const QString& step : r.done)
                out << "  " << step << '\n';
            for (const QString& note : r.notes)
                out << "  note: " << note << '\n';
        }
    } catch (const Exception& e) {
        err << "hematix-mkdb: " << e.message() << '\n';
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--database"))
        return makeSchema(args[2], false, out, err);
    if (args.size() == 4 && args[1] == QLatin1String("--database") && args[3] == QLatin1String("--roles"))
        return makeSchema(args[2], true, out, err);
    if (args.size() != 2 || args[1].startsWith(QLatin1Char('-'))) {
        err << "usage: hematix-mkdb PROGRAM_FOLDER\n"
               "       hematix-mkdb --database URI [--roles]\n"
               "Makes an empty result table DB/HEMATIX.dbf in PROGRAM_FOLDER, or the results' schema in\n"
               "the PostgreSQL database URI names (postgresql://...), bringing an older one up to date.\n"
               "--roles also makes the group roles hematix_reader (viewing desks) and hematix_writer\n"
               "(programs that import and edit) and sets their rights; give them to login users with\n"
               "GRANT hematix_writer TO anna.\n";
        return 2;
    }
    try {
        const QString file = resulttable::create(args[1]);
        const DbfFile table(file, DbfFile::Access::ReadOnly);
        out << "Made " << file << ": " << table.fields().size() << " fields, "
            << table.recordLength() << "-byte records, code page 1251\n";
        for (const DbfField& f : table.fields()) {
            out << "  " << f.name.leftJustified(10) << ' ' << QLatin1Char(f.type) << ' ' << f.length;
            if (f.decimals)
                out << '.' << f.decimals;
            out << '\n';
        }
    } catch (const Exception& e) {
        err << "hematix-mkdb: " << e.message() << '\n';
        return 1;
    }
    return 0;
}
