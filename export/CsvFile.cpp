#include "export/CsvFile.h"

namespace rowexport {

namespace {

void putField(QByteArray& out, const QString& text, bool first)
{
    if (!first)
        out += ';';
    out += '"';
    out += text.toUtf8().replace('"', "\"\"");
    out += '"';
}

} // namespace

QByteArray csvBytes(const Rows& rows)
{
    QByteArray out("\xEF\xBB\xBF");
    for (size_t c = 0; c < rows.columns.size(); ++c)
        putField(out, rows.columns[c].name, c == 0);
    out += "\r\n";
    for (const auto& row : rows.cells) {
        for (size_t c = 0; c < row.size(); ++c) {
            const Cell& cell = row[c];
            putField(out, cell.type == Cell::Type::Date ? cell.date.toString(QStringLiteral("dd.MM.yyyy")) : cell.text, c == 0);
        }
        out += "\r\n";
    }
    return out;
}

} // namespace rowexport
