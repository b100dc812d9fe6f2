#include "engine/DateFormat.h"

#include <QLocale>
#include <QStringList>

namespace datefmt {

QString shortDateFormat()
{
    QString format = QLocale::system().dateFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("yyyy"))) {
        const qsizetype at = format.indexOf(QLatin1String("yy"));
        if (at >= 0)
            format.replace(at, 2, QStringLiteral("yyyy"));
        else if (!format.contains(QLatin1Char('y')))
            format = QStringLiteral("dd.MM.yyyy");
    }
    return format;
}

QString formatShortDate(const QDate& date)
{
    if (!date.isValid())
        return {};
    return QLocale::system().toString(date, shortDateFormat());
}

QDate parseMonthDayYear(const QString& text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('/'));
    if (parts.size() != 3)
        return {};
    int numbers[3] = {};
    for (int i = 0; i < 3; ++i) {
        const QString& p = parts[i];
        const qsizetype maxLen = i == 2 ? 4 : 2;
        if (p.isEmpty() || p.size() > maxLen)
            return {};
        for (QChar c : p)
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return {};
        numbers[i] = p.toInt();
    }
    if (parts[2].size() != 4)
        return {};
    return QDate(numbers[2], numbers[0], numbers[1]);
}

QDate parseUserDate(const QString& text)
{
    const QString t = text.trimmed();
    const QLocale locale = QLocale::system();
    QDate d = locale.toDate(t, shortDateFormat());
    if (d.isValid())
        return d;
    d = locale.toDate(t, locale.dateFormat(QLocale::ShortFormat));
    if (d.isValid()) {
        // A two-digit year means the century around now, not the 1900s.
        if (d.year() < 1950)
            d = d.addYears(100);
        return d;
    }
    d = parseMonthDayYear(t);
    if (d.isValid())
        return d;
    return QDate::fromString(t, Qt::ISODate);
}

} // namespace datefmt
