// hematix-sql: runs one SQL statement against table files; see --help.
#include "engine/SqlTool.h"

#include <QCoreApplication>
#include <QFile>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    QFile in, out, err;
    if (!in.open(stdin, QIODevice::ReadOnly) || !out.open(stdout, QIODevice::WriteOnly)
        || !err.open(stderr, QIODevice::WriteOnly))
        return 2;
    return runSqlTool(args, in, out, err);
}
