#pragma once
// Capture files as the receiver keeps them (ENQ and the frames, without the EOT), made by the
// analyser simulator. The same seed and first day give the same messages, so that two paths can
// import the same ones; the import stores a message only once, so work that has to store rows
// again takes another seed (other sample numbers) and another day (other timestamps).
#include "link/sim/AnalyserSimulator.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <cstdint>

namespace benchsupport {

inline QList<QByteArray> captures(int count, std::uint32_t seed, QDate firstDay = QDate(2023, 6, 5))
{
    sim::MessageGenerator gen(seed, QDateTime(firstDay, QTime(8, 0, 0)));
    QList<QByteArray> out;
    for (int i = 0; i < count; ++i)
        out.append(sim::wireBytes(gen.next()).chopped(1));
    return out;
}

} // namespace benchsupport
