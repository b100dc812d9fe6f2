#include "audit/RecordStory.h"

#include "audit/Chain.h"
#include "engine/Cp1251.h"

#include <QSet>

namespace audit {

QString originName(RecordStory::Origin origin)
{
    switch (origin) {
    case RecordStory::Origin::None: return QStringLiteral("no origin");
    case RecordStory::Origin::Message: return QStringLiteral("a message from the analyser");
    case RecordStory::Origin::Adopted: return QStringLiteral("present before the audit trail");
    case RecordStory::Origin::Entered: return QStringLiteral("entered by hand");
    case RecordStory::Origin::Pruned: return QStringLiteral("origin pruned");
    }
    return {};
}

RecordStory storyOf(const QString& programFolder, int record) { return storiesOf(programFolder, {record}).value(0); }

QList<RecordStory> storiesOf(const QString& programFolder, const QList<int>& records)
{
    return storiesOf(*folderTrail(programFolder, {}), records);
}

QList<RecordStory> storiesOf(TrailSource& source, const QList<int>& records)
{
    QHash<qint64, RecordStory> stories;
    for (int r : records) {
        RecordStory s;
        s.record = r;
        stories.insert(r, s);
    }
    auto storyOfEntry = [&](const Entry& e) -> RecordStory* {
        const QJsonValue v = e.object.value(QLatin1String("record"));
        if (!v.isDouble())
            return nullptr;
        const auto it = stories.find(v.toInteger());
        return it == stories.end() ? nullptr : &*it;
    };
    qint64 prunedUpTo = 0;
    Entry e;
    Place at;
    {
        const auto reader = source.chain(TrailSource::Which::Messages, {}, &records);
        while (reader->next(e, at)) {
            if (!e.problem.isEmpty() || e.lineNumber == 0)
                continue;
            const QString kind = e.object.value(QLatin1String("kind")).toString();
            if (kind == QLatin1String("pruned")) {
                prunedUpTo = std::max(prunedUpTo, e.object.value(QLatin1String("records")).toInteger());
                continue;
            }
            RecordStory* story = kind == QLatin1String("message") ? storyOfEntry(e) : nullptr;
            if (!story)
                continue;
            const QString outcome = e.object.value(QLatin1String("outcome")).toString();
            if (outcome == QLatin1String("stored") && story->origin == RecordStory::Origin::None) {
                story->origin = RecordStory::Origin::Message;
                story->originEntry = e.object;
            } else if (outcome == QLatin1String("resend")) {
                story->resends.append(e.object);
            }
        }
    }
    const auto reader = source.chain(TrailSource::Which::History, {}, &records);
    QHash<qint64, QString> changeKind;  // pending change -> its kind
    while (reader->next(e, at)) {
        if (!e.problem.isEmpty() || e.lineNumber == 0)
            continue;
        RecordStory* found = storyOfEntry(e);
        if (!found)
            continue;
        RecordStory& story = *found;
        story.history.append(e.object);
        const QString kind = e.object.value(QLatin1String("kind")).toString();
        if (story.origin == RecordStory::Origin::None && kind == QLatin1String("adopted")) {
            story.origin = RecordStory::Origin::Adopted;
            story.originEntry = e.object;
        } else if (story.origin == RecordStory::Origin::None && kind == QLatin1String("entered")) {
            story.origin = RecordStory::Origin::Entered;
            story.originEntry = e.object;
        }
        const bool change = kind == QLatin1String("edit") || kind == QLatin1String("entered")
                            || kind == QLatin1String("deleted") || kind == QLatin1String("restored");
        if (e.object.value(QLatin1String("state")).toString() == QLatin1String("pending")) {
            changeKind.insert(e.seq, kind);
        } else if (change && !e.object.contains(QLatin1String("state"))) {
            // Made together with its entry: it holds from here on.
            if (kind == QLatin1String("deleted"))
                story.deletedEntry = e.seq;
            else if (kind == QLatin1String("restored"))
                story.deletedEntry = 0;
            continue;
        }
        if (kind != QLatin1String("applied") && kind != QLatin1String("not applied"))
            continue;
        const qint64 of = e.object.value(QLatin1String("of")).toInteger();
        if (!changeKind.contains(of) || story.resolutions.contains(of))
            continue;
        story.resolutions.insert(of, e.object);
        // A deletion or a restore counts once the table holds it.
        if (kind == QLatin1String("applied") && changeKind.value(of) == QLatin1String("deleted"))
            story.deletedEntry = of;
        else if (kind == QLatin1String("applied") && changeKind.value(of) == QLatin1String("restored"))
            story.deletedEntry = 0;
    }
    QList<RecordStory> out;
    for (int r : records) {
        RecordStory s = stories.value(r);
        if (s.origin == RecordStory::Origin::None && r <= prunedUpTo)
            s.origin = RecordStory::Origin::Pruned;
        out.append(s);
    }
    return out;
}

QString stateOf(const RecordStory& story, const QJsonObject& entry)
{
    if (entry.value(QLatin1String("state")).toString() != QLatin1String("pending"))
        return {};
    const auto it = story.resolutions.find(entry.value(QLatin1String("seq")).toInteger());
    if (it == story.resolutions.end())
        return QStringLiteral("never resolved");
    if (it->value(QLatin1String("kind")).toString() == QLatin1String("applied"))
        return QStringLiteral("applied");
    const QString reason = it->value(QLatin1String("reason")).toString();
    return reason.isEmpty() ? QStringLiteral("not applied") : QStringLiteral("not applied: ") + reason;
}

QList<QJsonObject> messagesOfDay(const QString& programFolder, const QDate& day)
{
    QList<QJsonObject> out;
    ChainReader reader(QStringList{archiveFolder(programFolder) + QStringLiteral("/messages-")
                                   + day.toString(Qt::ISODate) + QStringLiteral(".jsonl")});
    Entry e;
    while (reader.next(e))
        if (e.problem.isEmpty() && e.object.value(QLatin1String("kind")).toString() == QLatin1String("message"))
            out.append(e.object);
    return out;
}

QStringList frameLines(const QByteArray& message)
{
    auto nameOf = [](unsigned char c) -> const char* {
        switch (c) {
        case 0x02: return "STX";
        case 0x03: return "ETX";
        case 0x04: return "EOT";
        case 0x05: return "ENQ";
        case 0x0a: return "LF";
        case 0x0d: return "CR";
        case 0x17: return "ETB";
        }
        return nullptr;
    };
    QStringList lines;
    QString line;
    qsizetype plainFrom = -1;  // start of the run of ordinary bytes not yet decoded
    auto flushPlain = [&](qsizetype to) {
        if (plainFrom >= 0)
            line += cp1251::decode(message.constData() + plainFrom, to - plainFrom);
        plainFrom = -1;
    };
    for (qsizetype i = 0; i < message.size(); ++i) {
        const auto c = static_cast<unsigned char>(message[i]);
        if (c >= 0x20 && c != 0x7f) {
            if (plainFrom < 0)
                plainFrom = i;
            continue;
        }
        flushPlain(i);
        if (const char* name = nameOf(c))
            line += QLatin1Char('<') + QLatin1String(name) + QLatin1Char('>');
        else
            line += QStringLiteral("<0x%1>").arg(c, 2, 16, QLatin1Char('0'));
        // A frame ends with its line feed; ENQ and EOT stand alone.
        if (c == 0x0a || c == 0x05 || c == 0x04) {
            lines.append(line);
            line.clear();
        }
    }
    flushPlain(message.size());
    if (!line.isEmpty())
        lines.append(line);
    return lines;
}

} // namespace audit
