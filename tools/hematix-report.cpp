// hematix-report: makes the result sheet of one row, or the period report of a day or a date
// range, from a program folder's result table or a PostgreSQL database, through the program's own
// layouts and generation, into a saved report file or a PDF, or exports the rows of a day or a
// range to a workbook or a CSV file. Labs archive a day's report from a script with it.
//
//   hematix-report sheet (FOLDER|URI) (--record N | --sample NUM) OUT [--pdf] [--layouts DIR]
//   hematix-report period (FOLDER|URI) FIRST [LAST] OUT [--pdf] [--layouts DIR]
//   hematix-report export (FOLDER|URI) FIRST [LAST] OUT.xlsx|OUT.csv
//
// FOLDER is a program folder (DB/HEMATIX.dbf inside; a layout file there replaces the built-in
// one, as in the program). URI (postgresql://...) names a database of the PostgreSQL store
// instead; it has no folder, so its reports use the built-in layouts, or those of the program
// folder --layouts names. Dates are year-month-day or the system's short date format. Errors go
// to standard error with exit status 1; a usage error exits with 2.
#include "engine/DataSet.h"
#include "engine/DateFormat.h"
#include "export/RowExport.h"
#include "report/generation/RpGenerator.h"
#include "report/model/LayoutLoader.h"
#include "report/model/RpBinding.h"
#include "report/model/RpReport.h"
#include "platform/canvas/EmfPlayer.h"
#include "report/pages/ReportFile.h"
#include "report/pages/RpPageList.h"
#include "report/pages/RpPrinter.h"
#include "store/PeriodQuery.h"
#include "store/ResultTable.h"
#include "store/pg/StoreChoice.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTextStream>

namespace {

constexpr const char* kUsage =
    "usage: hematix-report sheet (FOLDER|URI) (--record N | --sample NUM) OUT [--pdf] [--layouts DIR]\n"
    "       hematix-report period (FOLDER|URI) FIRST [LAST] OUT [--pdf] [--layouts DIR]\n"
    "       hematix-report export (FOLDER|URI) FIRST [LAST] OUT.xlsx|OUT.csv\n"
    "Makes the result sheet of one row of FOLDER/DB/HEMATIX.dbf (by record number, or the last row\n"
    "with that sample number), or the period report of the day FIRST or of FIRST to LAST, into the\n"
    "saved report file OUT, or into the PDF file OUT with --pdf; or writes the rows of the day or\n"
    "range into a workbook or a CSV file, the format named by OUT's extension. Dates:\n"
    "year-month-day or the system's short date format.\n"
    "A PostgreSQL URI (postgresql://host/database, no password in it: ~/.pgpass) in place of FOLDER\n"
    "reads the rows from that database. Layouts: Report.layout and Unit7.layout of FOLDER replace\n"
    "the built-in ones; a URI has no folder and uses the built-in layouts, or those of the program\n"
    "folder --layouts DIR names (which also replaces FOLDER's).\n";

struct UsageError {
    QString text;
};

QDate parseDate(const QString& text)
{
    QDate d = QDate::fromString(text, Qt::ISODate);
    if (!d.isValid())
        d = datefmt::parseUserDate(text);
    if (!d.isValid())
        throw UsageError{QStringLiteral("not a date: %1").arg(text)};
    return d;
}

// Every page is played as the program's preview will play it, under the same bound, so that no
// file is written that the program refuses to show. A small picture does: the bound counts the
// sheet the page claims, not the picture.
void checkPlayable(TRpPrinter& recorder)
{
    QImage small(32, 32, QImage::Format_RGB32);
    for (int n = 1; n <= recorder.PageCount(); ++n) {
        small.fill(Qt::white);
        QPainter painter(&small);
        try {
            recorder.GetPage(n)->Play(painter, QRectF(0, 0, small.width(), small.height()));
        } catch (const EmfError& e) {
            throw Exception(QStringLiteral("page %1 of the report could not be shown: %2").arg(n).arg(e.message()));
        }
    }
}

// Generates onto a page store and writes the result where it was asked for.
void generateTo(TReport& report, const QString& out, bool pdf)
{
    TRpGenerator gen(report);
    gen.ProcessEvents = [] {};
    TRpPrinter recorder;
    gen.Generate(recorder);
    checkPlayable(recorder);
    if (!pdf) {
        recorder.Save(out);
        return;
    }
    QTemporaryDir temp;
    if (!temp.isValid())
        throw Exception(QStringLiteral("cannot make a temporary folder for %1").arg(out));
    const QString file = temp.filePath(QStringLiteral("report.hrp"));
    recorder.Save(file);
    reportfile::writePdf(file, out);
}

// Takes "--name VALUE" off args; empty when it is not there.
QString takeOption(QStringList& args, const QString& name)
{
    const qsizetype at = args.indexOf(name);
    if (at < 0)
        return {};
    if (at + 1 >= args.size())
        throw UsageError{QStringLiteral("%1 takes a value").arg(name)};
    const QString value = args.at(at + 1);
    args.remove(at, 2);
    return value;
}

QString folderPath(const QString& text)
{
    QString folder = QDir(text).absolutePath();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

// Where the rows are, and where the layouts come from.
struct Source {
    std::unique_ptr<ResultStore> store;
    QString table;    // the dBase table; empty for a database
    QString layouts;  // the folder whose layout files replace the built-in ones; empty for none
};

Source openSource(const QString& where, const QString& layoutFolder)
{
    Source s;
    if (storechoice::isDatabaseUri(where)) {
        // No program folder: nothing here writes into one (the store's audit folder goes unused).
        s.store = storechoice::open(layoutFolder, where);
        s.layouts = layoutFolder;
        return s;
    }
    const QString folder = folderPath(where);
    s.table = resulttable::tableFile(folder);
    if (!QFileInfo::exists(s.table))
        throw Exception(QStringLiteral("no result table: %1").arg(s.table));
    s.store = storechoice::open(folder, QString());
    s.layouts = layoutFolder.isEmpty() ? folder : layoutFolder;
    return s;
}

int run(const QStringList& args, QTextStream& err)
{
    QStringList rest = args;
    const bool pdf = rest.removeAll(QStringLiteral("--pdf")) > 0;
    QString layoutFolder = takeOption(rest, QStringLiteral("--layouts"));
    if (!layoutFolder.isEmpty()) {
        if (!QFileInfo(layoutFolder).isDir())
            throw UsageError{QStringLiteral("--layouts: not a folder: %1").arg(layoutFolder)};
        layoutFolder = folderPath(layoutFolder);
    }
    if (rest.size() < 3)
        throw UsageError{QStringLiteral("too few arguments")};
    const QString mode = rest.takeFirst();
    const Source source = openSource(rest.takeFirst(), layoutFolder);
    const QString where = source.store->location();

    if (mode == QLatin1String("sheet")) {
        if (rest.size() != 3)
            throw UsageError{QStringLiteral("sheet takes --record N or --sample NUM, then OUT")};
        const QString how = rest[0], what = rest[1], out = rest[2];
        TTable data;
        data.SetName(QStringLiteral("Table1"));
        if (source.table.isEmpty())
            source.store->attachRows(data);  // nothing is written through it
        else
            data.SetTableName(source.table);
        data.Open();
        if (how == QLatin1String("--record")) {
            bool ok = false;
            const int recNo = what.toInt(&ok);
            if (!ok || recNo < 1)
                throw UsageError{QStringLiteral("not a record number: %1").arg(what)};
            data.SetRecNo(recNo);
        } else if (how == QLatin1String("--sample")) {
            // A sample number may come back on another day: the last row with it is the newest,
            // so the rows are read from the end (on a server, only the blocks up to it).
            int found = 0;
            const TField* num = data.FieldByName(QStringLiteral("NUM"));
            for (data.Last(); !data.Bof() && found == 0; data.Prior())
                if (num->AsString() == what.trimmed())
                    found = data.RecNo();
            if (found == 0)
                throw Exception(QStringLiteral("no row with sample number %1 in %2").arg(what, where));
            data.SetRecNo(found);
        } else {
            throw UsageError{QStringLiteral("unknown option: %1").arg(how)};
        }
        auto report = layoutloader::loadBuiltin(QStringLiteral("Report"), source.layouts);
        layoutloader::resolveDataSets(*report, [&](const QString& w, const QString& c) -> TDataSet* {
            return w == QLatin1String("Form1") && c == QLatin1String("Table1") ? &data : nullptr;
        });
        generateTo(*report, out, pdf);
        return 0;
    }
    if (mode == QLatin1String("period") || mode == QLatin1String("export")) {
        if (rest.size() != 2 && rest.size() != 3)
            throw UsageError{QStringLiteral("%1 takes FIRST [LAST] OUT").arg(mode)};
        const QDate first = parseDate(rest[0]);
        const QDate last = rest.size() == 3 ? parseDate(rest[1]) : first;
        const QString out = rest.last();
        if (last < first)
            throw UsageError{QStringLiteral("the range ends before it starts")};
        if (mode == QLatin1String("export")) {
            if (pdf)
                throw UsageError{QStringLiteral("export takes no --pdf: the format is OUT's extension")};
            try {
                rowexport::formatOf(out);
            } catch (const Exception& e) {
                throw UsageError{e.message()};
            }
            TQuery query;
            query.SetName(QStringLiteral("Query1"));
            const int written = rowexport::exportPeriod(*source.store, query, first, last, out);
            QTextStream(stdout) << written << " rows written to " << out << "\n";
            return 0;
        }
        // The headings, the query and the fields as the period dialog makes them.
        TQuery query;
        query.SetName(QStringLiteral("Query1"));
        source.store->selectPeriod(query, first, last);
        auto report = layoutloader::loadBuiltin(QStringLiteral("Unit7"), source.layouts);
        rpbinding::setCaptions(*report, periodquery::headings(first, last));
        rpbinding::bindFields(*report, nullptr, periodquery::fieldBindings());
        layoutloader::resolveDataSets(*report, [&](const QString& w, const QString& c) -> TDataSet* {
            return w == QLatin1String("Form6") && c == QLatin1String("Query1") ? &query : nullptr;
        });
        generateTo(*report, out, pdf);
        return 0;
    }
    err << "unknown mode: " << mode << "\n";
    throw UsageError{};
}

} // namespace

int main(int argc, char** argv)
{
    // Nothing is shown on screen; measuring and painting text need a platform all the same.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (args.contains(QStringLiteral("--help"))) {
        QTextStream(stdout) << kUsage;
        return 0;
    }
    int rc = 0;
    try {
        rc = run(args, err);
    } catch (const UsageError& e) {
        if (!e.text.isEmpty())
            err << e.text << "\n";
        err << kUsage;
        rc = 2;
    } catch (const Exception& e) {
        err << e.message() << "\n";
        rc = 1;
    }
    err.flush();
    return rc;
}
