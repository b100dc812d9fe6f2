// hematix-mkdb PROGRAM_FOLDER: makes an empty result table, DB/HEMATIX.dbf, in a program folder.
// It never replaces an existing table.
#include "engine/DbfFile.h"
#include "store/ResultTable.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList args = app.arguments();
    if (args.size() != 2 || args[1].startsWith(QLatin1Char('-'))) {
        err << "usage: hematix-mkdb PROGRAM_FOLDER\n"
               "Makes an empty result table DB/HEMATIX.dbf in PROGRAM_FOLDER.\n";
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
