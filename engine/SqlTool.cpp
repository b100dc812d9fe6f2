#include "engine/SqlTool.h"

#include "engine/DataSet.h"
#include "engine/SqlLexer.h"

#include <algorithm>

QByteArray csvLine(const QStringList& fields)
{
    QByteArray line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i)
            line += ',';
        const QByteArray f = fields[i].toUtf8();
        if (f.contains(',') || f.contains('"') || f.contains('\r') || f.contains('\n')) {
            line += '"';
            for (const char c : f) {
                if (c == '"')
                    line += '"';
                line += c;
            }
            line += '"';
        } else {
            line += f;
        }
    }
    line += "\r\n";
    return line;
}

namespace {

QString csvText(const TField& f)
{
    if (f.IsNull())
        return QString();
    if (f.DataType() == TFieldType::Date) {
        const QDate d = f.AsDate();
        // The short date format depends on the machine; a file for other tools should not.
        return d.isValid() ? d.toString(Qt::ISODate) : f.AsString();
    }
    return f.AsString();
}

void writeAll(QIODevice& dev, const QByteArray& bytes)
{
    if (dev.write(bytes) != bytes.size())
        throw EDatabaseError(QStringLiteral("Cannot write the output: %1").arg(dev.errorString()));
}

// Whether the statement returns rows. A text that does not even tokenize is handed to ExecSQL,
// which reports the fault with the query's name like any other.
bool startsWithSelect(const QString& text)
{
    try {
        return tokenizeSql(text).front().isKeyword("SELECT");
    } catch (const EDatabaseError&) {
        return false;
    }
}

// Appends what in holds until its end or until out has limit bytes; false on a read error.
bool readBounded(QIODevice& in, qsizetype limit, QByteArray& out)
{
    char chunk[64 * 1024];
    while (out.size() < limit) {
        const qint64 n = in.read(chunk, std::min<qint64>(qint64(sizeof chunk), limit - out.size()));
        if (n < 0)
            return false;
        if (n == 0)
            return true;  // a file's reads wait for data, so nothing read is the end
        out.append(chunk, qsizetype(n));
    }
    return true;
}

} // namespace

void writeCsv(TDataSet& dataSet, QIODevice& out)
{
    QStringList header;
    for (const auto& f : dataSet.Fields())
        header << f->FieldName();
    writeAll(out, csvLine(header));
    QStringList row;
    for (dataSet.First(); !dataSet.Eof(); dataSet.Next()) {
        row.clear();
        for (const auto& f : dataSet.Fields())
            row << csvText(*f);
        writeAll(out, csvLine(row));
    }
}

QString sqlToolHelp()
{
    return QStringLiteral(
        "Usage: hematix-sql [STATEMENT...]\n"
        "Runs one SQL statement against dBase table files and prints what it returns.\n"
        "\n"
        "The statement is the arguments joined with spaces; with no arguments it is read from\n"
        "standard input. Tables are named by their file name in double quotes. A statement may\n"
        "be at most 1 MB (1,048,576 bytes) long.\n"
        "\n"
        "  SELECT * FROM \"/opt/hematix/DB/HEMATIX.dbf\" WHERE DAT BETWEEN \"6/1/2023\" AND \"6/30/2023\"\n"
        "  SELECT NUM, FIO FROM \"DB/HEMATIX.dbf\" WHERE DAT = \"6/5/2023\" AND NOT FIO = \"\"\n"
        "  INSERT INTO \"DB/HEMATIX.dbf\" (DAT, NUM, FIO) VALUES (\"6/5/2023\", \"000000001\", \"Test\")\n"
        "\n"
        "Statements: SELECT (* or columns) FROM ... [WHERE ...] and INSERT INTO ... [(columns)]\n"
        "VALUES (...). Conditions: = <> < <= > >=, BETWEEN ... AND ..., IS [NOT] NULL, AND, OR,\n"
        "NOT and parentheses. Texts and dates go in double quotes (a double quote inside a text\n"
        "is written twice); dates are month/day/year. Keywords and column names may be written\n"
        "in any case.\n"
        "\n"
        "Rows come out as CSV in UTF-8 with a header line; dates as year-month-day. A statement\n"
        "that returns no rows prints \"N rows affected\". Errors go to standard error and the\n"
        "exit status is 1 (2 for wrong usage).\n"
        "\n"
        "  --help    print this text\n");
}

int runSqlTool(const QStringList& args, QIODevice& in, QIODevice& out, QIODevice& err)
{
    QStringList words = args;
    if (!words.isEmpty() && (words.first() == QLatin1String("--help") || words.first() == QLatin1String("-h"))) {
        out.write(sqlToolHelp().toUtf8());
        return 0;
    }
    if (!words.isEmpty() && words.first() == QLatin1String("--"))
        words.removeFirst();
    else if (!words.isEmpty() && words.first().startsWith(QLatin1String("--"))) {
        err.write(QStringLiteral("hematix-sql: unknown option %1 (see --help)\n").arg(words.first()).toUtf8());
        return 2;
    }

    QString text;
    if (words.isEmpty()) {
        // Read no further than one byte past the longest statement taken: an endless stream
        // (a device, a pipe that never ends) must not grow the tool.
        QByteArray bytes;
        if (!readBounded(in, kSqlMaxStatementLength + 1, bytes)) {
            err.write(QStringLiteral("hematix-sql: cannot read the statement from standard input: %1\n")
                          .arg(in.errorString())
                          .toUtf8());
            return 1;
        }
        if (bytes.size() > kSqlMaxStatementLength) {
            err.write(QStringLiteral("hematix-sql: the statement on standard input is longer than %1 bytes, "
                                     "the most a statement may have\n")
                          .arg(kSqlMaxStatementLength)
                          .toUtf8());
            return 1;
        }
        text = QString::fromUtf8(bytes);
    } else {
        text = words.join(QLatin1Char(' '));
    }
    if (text.trimmed().isEmpty()) {
        err.write(QByteArrayLiteral("hematix-sql: no statement given (see --help)\n"));
        return 2;
    }

    try {
        TQuery query;
        // Messages of the query name it; this is the name a user of the tool knows.
        query.SetName(QStringLiteral("hematix-sql"));
        query.SQL = QStringList{text};
        if (startsWithSelect(text)) {
            query.Open();
            writeCsv(query, out);
        } else {
            query.ExecSQL();
            out.write(QStringLiteral("%1 rows affected\n").arg(query.RowsAffected()).toUtf8());
        }
    } catch (const Exception& e) {
        err.write((e.message() + QLatin1Char('\n')).toUtf8());
        return 1;
    } catch (const std::exception& e) {
        err.write(QByteArray("hematix-sql: ") + e.what() + '\n');
        return 1;
    }
    return 0;
}
