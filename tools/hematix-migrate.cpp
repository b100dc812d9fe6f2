// hematix-migrate [--batch N] FOLDER URI: copies a program folder's results (DB/HEMATIX.dbf),
// message archive, change history and line log into the PostgreSQL database URI names, which
// hematix-mkdb --database made.
// hematix-migrate [--batch N] URI FOLDER: writes the database's rows and trail back into a program
// folder, as a dBase table and the day files of Archive/, for readers that need them.
//
// Record numbers stay as they are, chains go over line by line, and a run stopped anywhere goes
// on where it stopped when run again (see store/pg/PgMigrate.h). Progress goes to stderr now
// and then. Exit 0 done, 1 failed (with a message), 2 wrong usage.
#include "store/pg/PgMigrate.h"
#include "store/pg/StoreChoice.h"

#include "audit/Chain.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

namespace {

int usage(QTextStream& err, const QString& problem)
{
    if (!problem.isEmpty())
        err << "hematix-migrate: " << problem << '\n';
    err << "usage: hematix-migrate [--batch N] PROGRAM_FOLDER URI\n"
           "       hematix-migrate [--batch N] URI PROGRAM_FOLDER\n"
           "Copies the folder's result table, message archive, change history and line log into the\n"
           "PostgreSQL database URI names (made by hematix-mkdb --database), or writes the database's\n"
           "back into the folder. Run again after a stop, it goes on where it stopped. --batch: rows or\n"
           "entries a transaction (default 1000).\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList args = app.arguments().mid(1);
    pgmigrate::Options options;
    if (args.size() >= 2 && args[0] == QLatin1String("--batch")) {
        bool ok = false;
        options.batch = args[1].toInt(&ok);
        if (!ok || options.batch < 1)
            return usage(err, QStringLiteral("--batch takes a whole number of at least 1"));
        args = args.mid(2);
    }
    if (args.size() != 2 || args[0].startsWith(QLatin1Char('-')) || args[1].startsWith(QLatin1Char('-')))
        return usage(err, {});
    const bool in = storechoice::isDatabaseUri(args[1]);
    if (in == storechoice::isDatabaseUri(args[0]))
        return usage(err, QStringLiteral("one of the two must be a database URI (postgresql://...), the other a folder"));

    QElapsedTimer clock;
    clock.start();
    qint64 said = -1000;
    options.progress = [&](const QString& text) {
        if (clock.elapsed() - said < 1000)
            return;
        said = clock.elapsed();
        err << "hematix-migrate: " << text << Qt::endl;
    };
    try {
        const pgmigrate::Moved m = in ? pgmigrate::toDatabase(args[0], args[1], options)
                                      : pgmigrate::toFolder(args[0], args[1], options);
        for (const QString& note : m.notes)
            err << "hematix-migrate: note: " << note << '\n';
        out << (in ? "into the database: " : "into the folder: ") << m.rows << " rows, " << m.messages
            << " archive entries, " << m.history << " history entries, " << m.lineLog << " line log lines, in "
            << QString::number(double(clock.elapsed()) / 1000.0, 'f', 1) << " s\n";
    } catch (const Exception& e) {
        err << "hematix-migrate: " << e.message() << '\n';
        return 1;
    } catch (const audit::AuditError& e) {
        err << "hematix-migrate: " << e.text() << '\n';
        return 1;
    } catch (const std::exception& e) {
        err << "hematix-migrate: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
