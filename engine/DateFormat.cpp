#include "engine/DateFormat.h"

#include <QLocale>
#include <QStringList>

namespace datefmt {

namespace {

QString computeShortDateFormat()
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

// The system's locale does not change while the program runs; asking it for every date shown
// costs more than reading the row.
struct SystemDates {
    QLocale locale = QLocale::system();
    QString format = computeShortDateFormat();
};

const SystemDates& systemDates()
{
    static const SystemDates dates;
    return dates;
}

} // namespace

QString shortDateFormat() { return systemDates().format; }

QString formatShortDate(const QDate& date)
{
    if (!date.isValid())
        return {};
    const SystemDates& d = systemDates();
    return d.locale.toString(date, d.format);
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

namespace {

// The format with one-letter day and month, which Qt reads with or without a leading zero.
QString relaxed(QString format)
{
    format.replace(QLatin1String("dd"), QLatin1String("d"));
    if (!format.contains(QLatin1String("MMM")))
        format.replace(QLatin1String("MM"), QLatin1String("M"));
    return format;
}

} // namespace

QDate parseUserDate(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return {};
    const QLocale locale = QLocale::system();
    for (const QString& format : {shortDateFormat(), relaxed(shortDateFormat())}) {
        const QDate d = locale.toDate(t, format);
        if (d.isValid())
            return d;
    }
    const QString twoDigitYear = locale.dateFormat(QLocale::ShortFormat);
    if (!twoDigitYear.contains(QLatin1String("yyyy"))) {
        for (const QString& format : {twoDigitYear, relaxed(twoDigitYear)}) {
            QDate d = locale.toDate(t, format);
            // A two-digit year means the century that ends ten years from now, not the 1900s.
            if (d.isValid() && d.year() + 100 <= QDate::currentDate().year() + 10)
                d = d.addYears(100);
            if (d.isValid())
                return d;
        }
    }
    const QDate d = parseMonthDayYear(t);
    if (d.isValid())
        return d;
    return QDate::fromString(t, Qt::ISODate);
}

} // namespace datefmt
