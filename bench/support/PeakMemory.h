#pragma once
// Peak memory of one run, for the benchmarks that measure it: the program runs itself again as
// a child (argv "--child" ...) that does the one run and prints its peak resident set in
// kilobytes on standard output; the parent reads that number. Each run thus starts from a fresh
// address space and no run's peak hides another's.
#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStringList>

namespace benchsupport {

// A figure of this process in kilobytes as the kernel's status file gives it; -1 when it does not.
inline long statusKb(const QByteArray& key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').first().toLong();
    return -1;
}
// Peak resident set of this process image. ru_maxrss would carry the parent's peak over the
// fork, so the kernel's high-water mark of the new address space is read instead.
inline long maxRssKb() { return statusKb("VmHWM:"); }
// Resident set of this process now.
inline long rssKb() { return statusKb("VmRSS:"); }

enum class ChildErrors { Dropped, Forwarded };

// Runs this program with "--child" followed by args and returns the number it prints; -1 when
// it does not finish within timeoutMs.
inline long childPeakKb(const QStringList& args, int timeoutMs, ChildErrors errors = ChildErrors::Dropped)
{
    QProcess p;
    if (errors == ChildErrors::Forwarded)
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QCoreApplication::applicationFilePath(), QStringList{QStringLiteral("--child")} + args);
    if (!p.waitForFinished(timeoutMs))
        return -1;
    return p.readAllStandardOutput().trimmed().toLong();
}

} // namespace benchsupport
