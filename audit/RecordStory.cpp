#include "audit/RecordStory.h"

#include "audit/Chain.h"

#include <QHash>
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

RecordStory storyOf(const QString& programFolder, int record)
{
    RecordStory story;
    story.record = record;
    const QByteArray wanted = QByteArray::number(record);
    qint64 prunedUpTo = 0;
    {
        ChainReader reader(Chain::files(programFolder, QStringLiteral("messages")), false);
        Entry e;
        while (reader.next(e)) {
            const QByteArrayView kind = shortKey(e.line, "\"kind\":");
            if (kind == "pruned") {
                const Entry p = parseLine(e.line);
                prunedUpTo = std::max(prunedUpTo, qint64(p.object.value(QLatin1String("records")).toDouble()));
                continue;
            }
            if (kind != "message" || shortKey(e.line, "\"record\":") != wanted)
                continue;
            const Entry p = parseLine(e.line);
            if (!p.problem.isEmpty())
                continue;
            const QString outcome = p.object.value(QLatin1String("outcome")).toString();
            if (outcome == QLatin1String("stored") && story.origin == RecordStory::Origin::None) {
                story.origin = RecordStory::Origin::Message;
                story.originEntry = p.object;
            } else if (outcome == QLatin1String("resend")) {
                story.resends.append(p.object);
            }
        }
    }
    ChainReader reader(Chain::files(programFolder, QStringLiteral("history")), false);
    Entry e;
    QHash<qint64, QByteArrayView> pendingKind;
    QSet<qint64> deletions;
    while (reader.next(e)) {
        if (shortKey(e.line, "\"record\":") != wanted)
            continue;
        const Entry p = parseLine(e.line);
        if (!p.problem.isEmpty())
            continue;
        story.history.append(p.object);
        const QString kind = p.object.value(QLatin1String("kind")).toString();
        if (story.origin == RecordStory::Origin::None && kind == QLatin1String("adopted")) {
            story.origin = RecordStory::Origin::Adopted;
            story.originEntry = p.object;
        } else if (story.origin == RecordStory::Origin::None && kind == QLatin1String("entered")) {
            story.origin = RecordStory::Origin::Entered;
            story.originEntry = p.object;
        }
        const qint64 of = qint64(p.object.value(QLatin1String("of")).toDouble());
        if (kind == QLatin1String("deleted"))
            deletions.insert(p.seq);
        else if (kind == QLatin1String("applied") && deletions.contains(of))
            story.deletedEntry = of;
        else if (kind == QLatin1String("restored"))
            story.deletedEntry = 0;
    }
    if (story.origin == RecordStory::Origin::None && record <= prunedUpTo)
        story.origin = RecordStory::Origin::Pruned;
    return story;
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

} // namespace audit
