#include "store/Statements.h"

#include "store/ResultTable.h"

namespace {

QString dateText(const QDate& d)
{
    // Plain numbers, month first, whatever the system's date format: the engine reads m/d/yyyy.
    return QStringLiteral("%1/%2/%3").arg(d.month()).arg(d.day()).arg(d.year());
}

QString selectFrom(const QString& programFolder)
{
    return QStringLiteral("SELECT * FROM ") + quoted(resulttable::tableFile(programFolder));
}

} // namespace

QString quoted(const QString& text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : text) {
        if (c == QLatin1Char('"'))
            out += QLatin1Char('"');
        out += c;
    }
    out += QLatin1Char('"');
    return out;
}

QStringList insertStatement(const QString& programFolder, const ImportedRow& row)
{
    const auto& v = row.values;
    auto four = [&](size_t first) {
        QString line;
        for (size_t i = first; i < first + 4; ++i)
            line += quoted(v[i]) + QLatin1Char(',');
        return line;
    };
    const QString empty = quoted(QString());
    // The values' columns come from the table's own list; the first two close the first line.
    const QStringList& names = resulttable::valueFields();
    return {
        QStringLiteral("INSERT INTO ") + quoted(resulttable::tableFile(programFolder))
            + QStringLiteral(" (DAT,TIM,NUM,FIO,COE,RECEPTION,") + names[0] + QLatin1Char(',') + names[1]
            + QLatin1Char(','),
        names.mid(2).join(QLatin1Char(',')) + QLatin1Char(')'),
        QStringLiteral(" VALUES (") + quoted(row.date) + QLatin1Char(',') + quoted(row.time) + QLatin1Char(',')
            + quoted(row.num) + QLatin1Char(',') + empty + QLatin1Char(',') + empty + QLatin1Char(',') + empty
            + QLatin1Char(','),
        four(0),
        four(4),
        four(8),
        four(12),
        quoted(v[16]) + QLatin1Char(',') + quoted(v[17]) + QLatin1Char(')'),
    };
}

QString singleDaySelect(const QString& programFolder, const QDate& day)
{
    return selectFrom(programFolder) + QStringLiteral(" WHERE DAT = ") + quoted(dateText(day));
}

QString rangeSelect(const QString& programFolder, const QDate& first, const QDate& last)
{
    return selectFrom(programFolder) + QStringLiteral(" WHERE DAT BETWEEN ") + quoted(dateText(first))
        + QStringLiteral(" AND ") + quoted(dateText(last));
}
