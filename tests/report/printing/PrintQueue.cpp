#include "PrintQueue.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <cups/cups.h>

namespace {

QString socketPath() { return QStringLiteral("/tmp/%1.sock").arg(QStringLiteral(HEMATIX_PRINT_QUEUE)); }

// Before main: everything in this program that asks for printers asks our queue's service.
const bool kServerSet = [] {
    qputenv("CUPS_SERVER", socketPath().toLocal8Bit());
    return true;
}();

QString run(const QString& program, const QStringList& args, int* status = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    p.waitForFinished(120000);
    if (status)
        *status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromLocal8Bit(p.readAll());
}

int activeJobs()
{
    cups_job_t* jobs = nullptr;
    const int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, nullptr, 0, CUPS_WHICHJOBS_ACTIVE);
    cupsFreeJobs(n, jobs);
    return n;
}

QString pointerFile() { return QStringLiteral(HEMATIX_PRINT_QUEUE_POINTER); }

QString printQueueScript() { return QStringLiteral(HEMATIX_SOURCE_DIR "/scripts/print-queue.sh"); }

QString destOption(cups_dest_t* dest, const char* name)
{
    return QString::fromUtf8(cupsGetOption(name, dest->num_options, dest->options));
}

// Why the queue will not finish its work, or empty: a stopped printer, or a job it stopped.
QString stuck()
{
    QString why;
    if (cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, HEMATIX_PRINT_QUEUE, nullptr)) {
        if (destOption(dest, "printer-state").toInt() == IPP_PSTATE_STOPPED)
            why = QStringLiteral("the printer stopped");
        cupsFreeDests(1, dest);
    }
    cups_job_t* jobs = nullptr;
    const int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, nullptr, 0, CUPS_WHICHJOBS_ACTIVE);
    for (int i = 0; i < n; ++i)
        if (jobs[i].state == IPP_JSTATE_STOPPED)
            why += QStringLiteral("%1job %2 stopped").arg(why.isEmpty() ? QString() : QStringLiteral(", ")).arg(jobs[i].id);
    cupsFreeJobs(n, jobs);
    return why;
}

// Jobs the queue has not finished or gave up, one line each: number, state and the message the
// queue gave. Jobs a test cancelled are left out, as they tell nothing about a failure.
QString unfinishedJobs()
{
    static const char* const wanted[] = {"job-id", "job-state", "job-state-reasons", "job-printer-state-message"};
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(wanted)), nullptr, wanted);
    ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    QStringList lines;
    int id = 0, state = 0;
    QString reasons, message;
    const auto flush = [&] {
        if (id > 0 && state != IPP_JSTATE_COMPLETED && state != IPP_JSTATE_CANCELED)
            lines << QStringLiteral("job %1: %2 (%3) %4")
                         .arg(id)
                         .arg(QString::fromUtf8(ippEnumString("job-state", state)), reasons, message);
        id = state = 0;
        reasons.clear();
        message.clear();
    };
    for (ipp_attribute_t* a = response ? ippFirstAttribute(response) : nullptr; a; a = ippNextAttribute(response)) {
        const char* name = ippGetName(a);
        if (!name) {   // the separator between two jobs
            flush();
            continue;
        }
        const QByteArray n(name);
        if (n == "job-id")
            id = ippGetInteger(a, 0);
        else if (n == "job-state")
            state = ippGetInteger(a, 0);
        else if (n == "job-state-reasons")
            for (int i = 0; i < ippGetCount(a); ++i)
                reasons += (i ? QStringLiteral(",") : QString()) + QString::fromUtf8(ippGetString(a, i, nullptr));
        else if (n == "job-printer-state-message")
            message = QString::fromUtf8(ippGetString(a, 0, nullptr));
    }
    flush();
    ippDelete(response);
    return lines.join(QLatin1Char('\n'));
}

// The service's last log lines about jobs, without the filters' argument and environment lists;
// the clients' polling would otherwise fill the tail.
QString logTail(int count)
{
    QFile log(printqueue::stateDir() + QStringLiteral("/log/error_log"));
    if (!log.open(QIODevice::ReadOnly))
        return QStringLiteral("(no log at %1)").arg(log.fileName());
    QStringList lines;
    for (const QString& line : QString::fromLocal8Bit(log.readAll()).split(QLatin1Char('\n')))
        if (line.contains(QLatin1String("[Job ")) && !line.contains(QLatin1String("envp["))
            && !line.contains(QLatin1String("argv[")))
            lines << line;
    return lines.mid(std::max<qsizetype>(0, lines.size() - count)).join(QLatin1Char('\n'));
}

// A queue this program started (run outside ctest) is stopped when the program ends.
struct StartedHere {
    bool started = false;
    ~StartedHere()
    {
        if (started)
            std::system(QStringLiteral("'%1' stop '%2' '%3'")
                            .arg(printQueueScript(), pointerFile(), QStringLiteral(HEMATIX_PRINT_QUEUE))
                            .toLocal8Bit()
                            .constData());
    }
} startedHere;

} // namespace

namespace printqueue {

QString queueName() { return QStringLiteral(HEMATIX_PRINT_QUEUE); }

QString stateDir()
{
    QFile pointer(pointerFile());
    return pointer.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(pointer.readAll()).trimmed() : QString();
}

QString outDir()
{
    const QString state = stateDir();
    return state.isEmpty() ? QString() : state + QStringLiteral("/out");
}

bool available()
{
    (void)kServerSet;
    int status = 0;
    run(QStringLiteral("lpstat"), {QStringLiteral("-p"), queueName()}, &status);
    if (status == 0)
        return true;
    run(printQueueScript(), {QStringLiteral("start"), pointerFile(), queueName()}, &status);
    startedHere.started = startedHere.started || status == 0;
    return status == 0;
}

bool waitIdle(int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (activeJobs() > 0) {
        if (t.elapsed() > timeoutMs || !stuck().isEmpty())
            return false;
        QThread::msleep(50);
    }
    return true;
}

QStringList pdfs()
{
    QStringList result;
    if (outDir().isEmpty())
        return result;
    for (const QFileInfo& f : QDir(outDir()).entryInfoList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Name))
        result.append(f.absoluteFilePath());
    return result;
}

QString pdfOfJob(int job)
{
    if (job <= 0 || !waitIdle())
        return {};
    const QRegularExpression own(QStringLiteral("job_%1(\\D|$)").arg(job));
    for (const QString& f : pdfs())
        if (own.match(QFileInfo(f).completeBaseName()).hasMatch())
            return f;
    return {};
}

QString trouble()
{
    // lpstat, as the printer's state message is not among the destination's options.
    QStringList printer;
    for (const QString& line : run(QStringLiteral("lpstat"), {QStringLiteral("-l"), QStringLiteral("-p"), queueName()})
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.trimmed().startsWith(QLatin1String("Form mounted")))
            break;
        printer << line;
    }
    const QString why = stuck();
    return (why.isEmpty() ? QString() : QStringLiteral("the print queue cannot finish: %1\n").arg(why))
        + printer.join(QLatin1Char('\n')) + QLatin1Char('\n') + unfinishedJobs() + QStringLiteral("\nlast lines of %1/log/error_log:\n").arg(stateDir())
        + logTail(15);
}

int pdfPages(const QString& pdf)
{
    int status = 0;
    const QString out = run(QStringLiteral("pdfinfo"), {pdf}, &status);
    if (status != 0)
        return -1;
    const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(out);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

QString tool(const QString& program, const QStringList& args) { return run(program, args); }

QList<QImage> render(const QString& pdf, int dpi)
{
    QTemporaryDir dir;
    run(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-png"), pdf,
                                     dir.filePath(QStringLiteral("page"))});
    QList<QImage> pages;
    for (const QFileInfo& f : QDir(dir.path()).entryInfoList({QStringLiteral("page*.png")}, QDir::Files, QDir::Name))
        pages.append(QImage(f.absoluteFilePath()));
    return pages;
}

bool setAccepting(bool accepting)
{
    int status = 0;
    run(accepting ? QStringLiteral("cupsaccept") : QStringLiteral("cupsreject"), {queueName()}, &status);
    if (status != 0)
        run(QStringLiteral("/usr/sbin/") + (accepting ? QStringLiteral("cupsaccept") : QStringLiteral("cupsreject")),
            {queueName()}, &status);
    return status == 0;
}

} // namespace printqueue
