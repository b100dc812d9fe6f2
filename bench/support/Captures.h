#pragma once
// Capture files as the receiver keeps them (ENQ and the frames, without the EOT), made by the
// analyser simulator from a fixed seed so that every round imports the same messages.
#include "link/sim/AnalyserSimulator.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <cstdint>

namespace benchsupport {

inline QList<QByteArray> captures(int count, std::uint32_t seed)
{
    sim::MessageGenerator gen(seed, QDateTime(QDate(2023, 6, 5), QTime(8, 0, 0)));
    QList<QByteArray> out;
    for (int i = 0; i < count; ++i)
        out.append(sim::wireBytes(gen.next()).chopped(1));
    return out;
}

} // namespace benchsupport
