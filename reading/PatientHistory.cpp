#include "reading/PatientHistory.h"

#include <QTime>
#include <algorithm>
#include <cmath>

namespace reading {

namespace {

// TIM as "h:mm" or "h:mm:ss"; none otherwise.
std::optional<QTime> timeOf(const QString& text)
{
    const QStringList parts = text.trimmed().split(u':');
    if (parts.size() < 2 || parts.size() > 3)
        return std::nullopt;
    int n[3] = {0, 0, 0};
    for (qsizetype i = 0; i < parts.size(); ++i) {
        bool ok = false;
        n[i] = parts[i].toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    const QTime t(n[0], n[1], n[2]);
    return t.isValid() ? std::optional<QTime>(t) : std::nullopt;
}

// True when a is newer than b. A row without a valid date is older than every dated one, and a
// time that does not read older than every one that does on its day.
bool newer(const HistoryRow& a, const HistoryRow& b)
{
    if (a.date.isValid() != b.date.isValid())
        return a.date.isValid();
    if (a.date != b.date)
        return a.date > b.date;
    const std::optional<QTime> ta = timeOf(a.time), tb = timeOf(b.time);
    const int sa = ta ? ta->msecsSinceStartOfDay() : -1, sb = tb ? tb->msecsSinceStartOfDay() : -1;
    if (sa != sb)
        return sa > sb;
    return a.record > b.record;
}

} // namespace

QList<HistoryLine> readHistory(QList<HistoryRow> rows, const ReferenceRanges& ranges)
{
    std::stable_sort(rows.begin(), rows.end(), newer);
    QList<HistoryLine> lines;
    lines.reserve(rows.size());
    for (HistoryRow& row : rows) {
        HistoryLine line;
        const std::optional<double> age = ageInYears(row.doc);
        for (int f = 0; f < ReferenceRanges::kFieldCount; ++f) {
            HistoryValue& v = line.values[size_t(f)];
            v.number = leadingNumber(row.values[size_t(f)]);
            v.flag = flagAt(ranges, f, row.values[size_t(f)], age);
        }
        line.row = std::move(row);
        lines.push_back(std::move(line));
    }

    for (int f = 0; f < ReferenceRanges::kFieldCount; ++f) {
        const DeltaLimit limit = ranges.delta(f);
        if (!limit.active())
            continue;
        for (qsizetype k = 0; k < lines.size(); ++k) {
            HistoryValue& v = lines[k].values[size_t(f)];
            const QDate date = lines[k].row.date;
            if (!v.number || !date.isValid())
                continue;
            for (qsizetype j = k + 1; j < lines.size(); ++j) {
                const HistoryLine& before = lines[j];
                const std::optional<double> previous = before.values[size_t(f)].number;
                if (!previous || !before.row.date.isValid())
                    continue;
                const qint64 days = before.row.date.daysTo(date);
                if (days > *limit.days)
                    break;
                v.changeDays = int(days);
                v.changeRecord = before.row.record;
                if (*previous > 0) {
                    v.changePercent = (*v.number - *previous) / *previous * 100.0;
                    // Values carry a few decimals; a change exactly at the share ("1.5" to "1.8")
                    // must not tip over it by a rounding error.
                    v.deltaMarked = std::abs(*v.changePercent) > *limit.percent * (1 + 1e-9);
                }
                break;
            }
        }
    }
    return lines;
}

QString changeText(const HistoryValue& v)
{
    if (!v.changePercent)
        return {};
    const long percent = std::lround(*v.changePercent);
    return QStringLiteral("%1%2% за %3 дн.").arg(percent < 0 ? QStringLiteral("−") : QStringLiteral("+")).arg(std::labs(percent)).arg(v.changeDays);
}

QList<SeriesPoint> seriesOf(const QList<HistoryRow>& rows, int field)
{
    QList<SeriesPoint> points;
    if (field < 0 || field >= ReferenceRanges::kFieldCount)
        return points;
    QList<HistoryRow> ordered = rows;
    std::stable_sort(ordered.begin(), ordered.end(), newer);
    for (auto it = ordered.crbegin(); it != ordered.crend(); ++it) {
        if (!it->date.isValid())
            continue;
        const std::optional<double> v = leadingNumber(it->values[size_t(field)]);
        if (!v)
            continue;
        points.push_back({QDateTime(it->date, timeOf(it->time).value_or(QTime(0, 0))), *v, it->record, it->num});
    }
    return points;
}

Limits chartBand(const QList<HistoryRow>& rows, int field, const ReferenceRanges& ranges)
{
    if (field < 0 || field >= ReferenceRanges::kFieldCount)
        return {};
    QList<HistoryRow> ordered = rows;
    std::stable_sort(ordered.begin(), ordered.end(), newer);
    std::optional<double> age;
    for (const HistoryRow& row : ordered)
        if ((age = ageInYears(row.doc)))
            break;
    return ranges.limitsFor(field, age);
}

HistoryRow historyRowOf(int record, const QList<QPair<QString, QString>>& fields)
{
    HistoryRow row;
    row.record = record;
    for (const auto& [name, text] : fields) {
        if (name.compare(QLatin1String("DAT"), Qt::CaseInsensitive) == 0)
            row.date = QDate::fromString(text.trimmed(), QStringLiteral("yyyyMMdd"));
        else if (name.compare(QLatin1String("TIM"), Qt::CaseInsensitive) == 0)
            row.time = text.trimmed();
        else if (name.compare(QLatin1String("NUM"), Qt::CaseInsensitive) == 0)
            row.num = text.trimmed();
        else if (name.compare(QLatin1String("DOC"), Qt::CaseInsensitive) == 0)
            row.doc = text.trimmed();
        else if (const int i = ReferenceRanges::indexOf(name); i >= 0)
            row.values[size_t(i)] = text.trimmed();
    }
    return row;
}

} // namespace reading
