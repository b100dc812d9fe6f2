#pragma once
// The print service's job counts, for the printing benchmarks: how many jobs it holds in a state,
// and waiting until none is active.
#include <QElapsedTimer>
#include <QThread>
#include <cups/cups.h>

namespace benchsupport {

inline int printJobs(int which)
{
    cups_job_t* list = nullptr;
    const int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &list, nullptr, 0, which);
    cupsFreeJobs(n, list);
    return n;
}

// Waits until the service has no active job; false once limitMs have gone by.
inline bool waitPrintIdle(qint64 limitMs, unsigned long pollMs)
{
    QElapsedTimer t;
    t.start();
    while (printJobs(CUPS_WHICHJOBS_ACTIVE) > 0) {
        if (t.elapsed() > limitMs)
            return false;
        QThread::msleep(pollMs);
    }
    return true;
}

} // namespace benchsupport
