#pragma once
// What the store benchmarks store: an imported row with a sample number of their own, and a
// message of the size the analyser sends (some 1.3 KB) with a new capture each time. n makes
// each one a new identity.
#include "audit/Chain.h"
#include "audit/MessageArchive.h"
#include "store/ResultStore.h"

namespace benchsupport {

inline ImportedRow resultRow(QChar prefix, int n)
{
    ImportedRow r;
    r.date = QStringLiteral("12/07/2026");
    r.time = QStringLiteral("09:15:02");
    r.num = prefix + QStringLiteral("%1").arg(n, 8, 10, QLatin1Char('0'));
    for (QString& v : r.values)
        v = QStringLiteral("5.5 |");
    return r;
}

inline audit::ReceivedMessage analyserMessage(int n)
{
    audit::ReceivedMessage m;
    m.bytes = QByteArray("\x05") + QByteArray(1300, 'R');
    // Its times as the import has them: read back from the capture's times file, offset and all.
    static const QDateTime enq = QDateTime::fromString(audit::timeText(QDateTime(QDate(2026, 12, 7), QTime(9, 0))), Qt::ISODateWithMs);
    m.enq = enq.addMSecs(n);
    m.end = m.enq.addMSecs(900);
    m.capture = QStringLiteral("Temp%1.log").arg(n);
    return m;
}

} // namespace benchsupport
