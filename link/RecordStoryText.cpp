#include "link/RecordStoryText.h"

#include <QHash>
#include <QJsonArray>

#include <algorithm>

namespace storytext {

namespace {

QString str(const QJsonObject& o, const char* key) { return o.value(QLatin1String(key)).toString(); }

QDateTime timeOf(const QJsonObject& o, const char* key)
{
    return QDateTime::fromString(str(o, key), Qt::ISODateWithMs);
}

QString exact(const QDateTime& t)
{
    return t.isValid() ? t.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss.zzz")) : QStringLiteral("не записано");
}

QString quoted(const QString& text) { return QStringLiteral("«%1»").arg(text); }

// "FIO: «old» → «new»; ..." of a list of changes with the two keys given.
QString changesText(const QJsonObject& entry, const char* before, const char* after, const QString& arrow)
{
    QStringList parts;
    for (const QJsonValue& v : entry.value(QLatin1String("changes")).toArray()) {
        const QJsonObject c = v.toObject();
        parts << QStringLiteral("%1: %2%3%4").arg(str(c, "field"), quoted(str(c, before)), arrow, quoted(str(c, after)));
    }
    return parts.join(QLatin1String("; "));
}

} // namespace

QString originName(audit::RecordStory::Origin origin)
{
    switch (origin) {
    case audit::RecordStory::Origin::None: return QStringLiteral("неизвестно");
    case audit::RecordStory::Origin::Message: return QStringLiteral("сообщение анализатора");
    case audit::RecordStory::Origin::Adopted: return QStringLiteral("была в таблице до журнала изменений");
    case audit::RecordStory::Origin::Entered: return QStringLiteral("введена вручную");
    case audit::RecordStory::Origin::Pruned: return QStringLiteral("сообщение удалено из архива по сроку хранения");
    }
    return {};
}

QString timeText(const QString& isoTime)
{
    const QDateTime t = QDateTime::fromString(isoTime, Qt::ISODateWithMs);
    return t.isValid() ? t.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")) : isoTime;
}

Message messageOf(const QJsonObject& entry)
{
    Message m;
    m.time = timeOf(entry, "time");
    m.enq = timeOf(entry, "enq");
    m.end = timeOf(entry, "end");
    m.sample = str(entry.value(QLatin1String("identity")).toObject(), "NUM");
    m.capture = str(entry, "name");
    m.length = entry.value(QLatin1String("length")).toInteger();
    m.sha256 = str(entry, "sha256");
    const QString outcome = str(entry, "outcome");
    m.outcome = outcome == QLatin1String("stored")     ? QStringLiteral("сохранено")
                : outcome == QLatin1String("resend")   ? QStringLiteral("повтор")
                : outcome == QLatin1String("rejected") ? QStringLiteral("отложено: ") + str(entry, "reason")
                                                       : outcome;
    m.record = entry.value(QLatin1String("record")).toInt();
    if (const auto bytes = QByteArray::fromBase64Encoding(str(entry, "bytes").toLatin1(), QByteArray::AbortOnBase64DecodingErrors))
        m.bytes = *bytes;
    return m;
}

QList<QPair<QString, QString>> messageFacts(const Message& m)
{
    return {
        {QStringLiteral("ENQ"), exact(m.enq)},
        {QStringLiteral("Конец"), exact(m.end)},
        {QStringLiteral("Проба"), m.sample.isEmpty() ? QStringLiteral("—") : m.sample},
        {QStringLiteral("Файл"), m.capture},
        {QStringLiteral("Длина"), QStringLiteral("%1 байт").arg(m.length)},
        {QStringLiteral("SHA-256"), m.sha256},
    };
}

QStringList dayRow(const Message& m)
{
    const QDateTime t = m.enq.isValid() ? m.enq : m.time;
    return {t.toString(QStringLiteral("hh:mm:ss")), m.sample, m.outcome, m.record > 0 ? QString::number(m.record) : QString()};
}

linetrace::Trace traceOf(const QString& programFolder, const Message& m)
{
    return linetrace::traceOf(programFolder, m.enq, m.end, m.bytes);
}

QList<TraceRow> traceRows(const linetrace::Trace& trace)
{
    QList<TraceRow> rows;
    rows.reserve(trace.items.size());
    for (const linetrace::Item& item : trace.items) {
        TraceRow row;
        row.time = item.time.isValid() ? item.time.toString(QStringLiteral("hh:mm:ss.zzz")) : QString();
        row.direction = item.direction == linetrace::Direction::In ? QStringLiteral("приём") : QStringLiteral("передача");
        row.bytes = linetrace::shown(item.bytes);
        QStringList frames;
        for (const linetrace::Frame& f : item.frames) {
            const QString number = f.number < 0 ? QStringLiteral("?") : QString::number(f.number);
            using V = linetrace::Frame::Verdict;
            frames << QStringLiteral("кадр %1: %2%3")
                          .arg(number,
                               f.verdict == V::Good  ? QStringLiteral("сумма верна")
                               : f.verdict == V::Bad ? QStringLiteral("неверная сумма")
                                                     : QStringLiteral("оборван"),
                               f.repeated ? QStringLiteral(", повтор") : QString());
            row.bad = row.bad || f.verdict != V::Good;
        }
        row.frames = frames.join(QLatin1String("; "));
        rows.append(row);
    }
    return rows;
}

QString traceSummary(const linetrace::Trace& trace)
{
    int frames = 0, bad = 0, cut = 0, repeated = 0;
    for (const linetrace::Item& item : trace.items)
        for (const linetrace::Frame& f : item.frames) {
            ++frames;
            bad += f.verdict == linetrace::Frame::Verdict::Bad;
            cut += f.verdict == linetrace::Frame::Verdict::CutShort;
            repeated += f.repeated;
        }
    if (frames == 0)
        return {};
    return QStringLiteral("Кадров: %1, с неверной суммой: %2, оборванных: %3, повторов: %4.").arg(frames).arg(bad).arg(cut).arg(repeated);
}

QList<ChangeRow> changeRows(const QList<QJsonObject>& history)
{
    QList<ChangeRow> rows;
    QHash<qint64, qsizetype> pending; // entry number -> its row
    for (const QJsonObject& e : history) {
        const QString kind = str(e, "kind");
        const bool resolution = kind == QLatin1String("applied") || kind == QLatin1String("not applied");
        const QString state = kind == QLatin1String("applied") ? QStringLiteral("применено")
                                                                : QStringLiteral("не применено: ") + str(e, "reason");
        if (resolution) {
            const auto it = pending.constFind(e.value(QLatin1String("of")).toInteger());
            if (it != pending.constEnd()) {
                rows[*it].state = state;
                continue;
            }
        }
        ChangeRow row{timeText(str(e, "time")), str(e, "user"), str(e, "host"), {}, {}};
        if (kind == QLatin1String("edit"))
            row.what = changesText(e, "old", "new", QStringLiteral(" → "));
        else if (kind == QLatin1String("entered"))
            row.what = QStringLiteral("введена");
        else if (kind == QLatin1String("deleted"))
            row.what = QStringLiteral("удалена");
        else if (kind == QLatin1String("restored"))
            row.what = QStringLiteral("восстановлена");
        else if (kind == QLatin1String("adopted"))
            row.what = QStringLiteral("была в таблице до журнала изменений");
        else if (kind == QLatin1String("outside"))
            row.what = QStringLiteral("изменена вне Hematix: ") + changesText(e, "history", "found", QStringLiteral(" в журнале, в таблице "));
        else if (kind == QLatin1String("refused"))
            row.what = QStringLiteral("правка не записана, запись изменена на другом рабочем месте: ")
                       + changesText(e, "tried", "found", QStringLiteral(" введено, в таблице "));
        else if (resolution)
            row.what = QStringLiteral("%1 (запись журнала №%2)").arg(state).arg(e.value(QLatin1String("of")).toInteger());
        else
            row.what = kind;
        if (str(e, "state") == QLatin1String("pending")) {
            row.state = QStringLiteral("не завершено");
            pending.insert(e.value(QLatin1String("seq")).toInteger(), rows.size());
        }
        rows.append(row);
    }
    std::reverse(rows.begin(), rows.end());
    return rows;
}

} // namespace storytext
