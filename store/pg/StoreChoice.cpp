#include "store/pg/StoreChoice.h"

#include "platform/IniFile.h"
#include "store/DbfResultStore.h"
#include "store/pg/PgResultStore.h"

#include <libpq-fe.h>

namespace storechoice {

bool isDatabaseUri(const QString& text)
{
    return text.startsWith(QLatin1String("postgresql://")) || text.startsWith(QLatin1String("postgres://"));
}

QString databaseSetting(const QString& programFolder)
{
    return IniFile(programFolder + QStringLiteral("set.ini"))
        .readString(QStringLiteral("MAIN"), QStringLiteral("Database"), QString())
        .trimmed();
}

void checkDatabaseUri(const QString& database)
{
    if (!isDatabaseUri(database))
        throw EDatabaseError(QStringLiteral("Database=%1 is not a PostgreSQL URI (postgresql://host/database)")
                                 .arg(pg::maskedUri(database)));
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(database.toUtf8().constData(), &error);
    if (!options) {
        const QString why = error ? QString::fromUtf8(error).trimmed() : QStringLiteral("out of memory");
        PQfreemem(error);
        throw EDatabaseError(QStringLiteral("Database=%1 does not read: %2").arg(pg::maskedUri(database), why));
    }
    bool password = false;
    for (const PQconninfoOption* o = options; o->keyword; ++o)
        if (qstrcmp(o->keyword, "password") == 0 && o->val && *o->val)
            password = true;
    PQconninfoFree(options);
    if (password)
        throw EDatabaseError(QStringLiteral("Database=%1 holds a password: keep it in ~/.pgpass instead")
                                 .arg(pg::maskedUri(database)));
}

std::unique_ptr<ResultStore> open(const QString& programFolder, const QString& database, TQuery* statements)
{
    if (database.isEmpty())
        return std::make_unique<DbfResultStore>(programFolder, statements);
    checkDatabaseUri(database);
    return std::make_unique<PgResultStore>(programFolder, database);
}

} // namespace storechoice
