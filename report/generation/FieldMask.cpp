#include "report/generation/FieldMask.h"

#include "engine/DateFormat.h"

#include <QLocale>
#include <QRegularExpression>
#include <QStringList>
#include <cmath>

namespace fieldmask {

namespace {

// Sections of a pattern split at ';' outside quotes.
QStringList sections(const QString& mask)
{
    QStringList out{QString()};
    QChar quote;
    for (QChar c : mask) {
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == u'\'' || c == u'"') {
            quote = c;
        } else if (c == u';') {
            out << QString();
            continue;
        }
        out.last() += c;
    }
    return out;
}

bool isPlaceholder(QChar c) { return c == u'0' || c == u'#' || c == u'.' || c == u','; }

// Literal text of a pattern piece, quotes removed.
QString literal(const QString& piece)
{
    QString out;
    QChar quote;
    for (QChar c : piece) {
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            else
                out += c;
        } else if (c == u'\'' || c == u'"') {
            quote = c;
        } else {
            out += c;
        }
    }
    return out;
}

QString dateSeparator()
{
    for (QChar c : datefmt::shortDateFormat())
        if (!c.isLetter())
            return QString(c);
    return QStringLiteral("/");
}

} // namespace

QString longTimeFormat()
{
    // Qt's long time format may carry the time zone ("t", "tttt"); the desktop's does not.
    const QString f = QLocale::system().timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (QChar c : f) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        out += c;
    }
    return out.simplified();
}

QString dateTimeText(const QDateTime& t)
{
    const QString date = datefmt::formatShortDate(t.date());
    if (t.time() == QTime(0, 0))
        return date;
    return date + QLatin1Char(' ') + QLocale::system().toString(t.time(), longTimeFormat());
}

QString formatFloat(const QString& mask, double value)
{
    if (!std::isfinite(value))
        return {};
    const QStringList parts = sections(mask);
    QString section = parts.value(0);
    bool sign = value < 0;
    if (value < 0 && parts.size() >= 2 && !parts[1].isEmpty()) {
        section = parts[1];
        sign = false;
    } else if (value == 0 && parts.size() >= 3 && !parts[2].isEmpty()) {
        section = parts[2];
    }
    if (section.contains(u'E', Qt::CaseInsensitive) && !section.contains(u'\'') && !section.contains(u'"'))
        return {};
    // Where the placeholders run, outside quotes.
    qsizetype first = -1, last = -1;
    {
        QChar quote;
        for (qsizetype i = 0; i < section.size(); ++i) {
            const QChar c = section[i];
            if (!quote.isNull()) {
                if (c == quote)
                    quote = QChar();
            } else if (c == u'\'' || c == u'"') {
                quote = c;
            } else if (isPlaceholder(c)) {
                if (first < 0)
                    first = i;
                last = i;
            }
        }
    }
    if (first < 0)
        return literal(section);
    const QString digits = section.mid(first, last - first + 1);
    const qsizetype point = digits.indexOf(u'.');
    const QString intPart = point < 0 ? digits : digits.left(point);
    const QString fracPart = point < 0 ? QString() : digits.mid(point + 1);
    const int minInt = static_cast<int>(intPart.count(u'0'));
    const int minFrac = static_cast<int>(fracPart.count(u'0'));
    const int maxFrac = std::min(18, static_cast<int>(fracPart.count(u'0') + fracPart.count(u'#')));
    const bool groups = intPart.contains(u',');

    QString number = QString::number(std::fabs(value), 'f', maxFrac);
    QString whole = number.section(u'.', 0, 0);
    QString frac = number.section(u'.', 1, 1);
    while (frac.size() > minFrac && frac.endsWith(u'0'))
        frac.chop(1);
    if (whole == QLatin1String("0") && minInt == 0)
        whole.clear();
    while (whole.size() < minInt)
        whole.prepend(u'0');
    const QLocale locale = QLocale::system();
    if (groups) {
        // Built in one pass: a mask may ask for any number of digits.
        QString grouped;
        grouped.reserve(whole.size() * 2);
        for (qsizetype i = 0; i < whole.size(); ++i) {
            if (i > 0 && (whole.size() - i) % 3 == 0)
                grouped += locale.groupSeparator();
            grouped += whole[i];
        }
        whole = grouped;
    }
    QString out = whole;
    if (!frac.isEmpty())
        out += locale.decimalPoint() + frac;
    if (sign && out.contains(QRegularExpression(QStringLiteral("[1-9]"))))
        out.prepend(u'-');
    return literal(section.left(first)) + out + literal(section.mid(last + 1));
}

QString formatDateTime(const QString& mask, const QDateTime& value)
{
    const QLocale locale = QLocale::system();
    const QDate date = value.date();
    const QTime time = value.time();
    QString out;
    bool afterHour = false;
    auto run = [&](qsizetype at, QChar c) {
        qsizetype n = 0;
        while (at + n < mask.size() && mask[at + n].toLower() == c)
            ++n;
        return n;
    };
    for (qsizetype i = 0; i < mask.size();) {
        const QChar c = mask[i];
        const QChar lower = c.toLower();
        if (c == u'\'' || c == u'"') {
            const qsizetype end = mask.indexOf(c, i + 1);
            out += mask.mid(i + 1, (end < 0 ? mask.size() : end) - i - 1);
            i = end < 0 ? mask.size() : end + 1;
            continue;
        }
        if (mask.mid(i, 5).compare(QLatin1String("am/pm"), Qt::CaseInsensitive) == 0) {
            out += time.hour() < 12 ? QStringLiteral("am") : QStringLiteral("pm");
            i += 5;
            continue;
        }
        const qsizetype n = run(i, lower);
        auto two = [](int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
        switch (lower.unicode()) {
        case u'y': out += n <= 2 ? two(date.year() % 100) : QString::number(date.year()); break;
        case u'm':
            if (afterHour && n <= 2)
                out += n == 1 ? QString::number(time.minute()) : two(time.minute());
            else if (n == 1)
                out += QString::number(date.month());
            else if (n == 2)
                out += two(date.month());
            else
                out += locale.monthName(date.month(), n == 3 ? QLocale::ShortFormat : QLocale::LongFormat);
            afterHour = false;
            break;
        case u'd':
            if (n == 1)
                out += QString::number(date.day());
            else if (n == 2)
                out += two(date.day());
            else
                out += locale.dayName(date.dayOfWeek(), n == 3 ? QLocale::ShortFormat : QLocale::LongFormat);
            break;
        case u'h': out += n == 1 ? QString::number(time.hour()) : two(time.hour()); break;
        case u'n': out += n == 1 ? QString::number(time.minute()) : two(time.minute()); break;
        case u's': out += n == 1 ? QString::number(time.second()) : two(time.second()); break;
        case u'z': out += n == 1 ? QString::number(time.msec()) : QStringLiteral("%1").arg(time.msec(), 3, 10, QLatin1Char('0')); break;
        case u'c': out += dateTimeText(value); break;
        case u'/': out += dateSeparator(); break;
        default: out += mask.mid(i, n); break;
        }
        if (lower == u'h')
            afterHour = true;
        else if (lower != u'm' && lower.isLetter())
            afterHour = false;
        i += n;
    }
    return out;
}

} // namespace fieldmask
