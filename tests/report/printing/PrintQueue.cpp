#include "PrintQueue.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <cstdlib>
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

// A queue this program started (run outside ctest) is stopped when the program ends.
struct StartedHere {
    bool started = false;
    ~StartedHere()
    {
        if (started)
            std::system(QStringLiteral("'%1' stop '%2' '%3'")
                            .arg(QStringLiteral(HEMATIX_SOURCE_DIR "/scripts/print-queue.sh"),
                                 QStringLiteral(HEMATIX_PRINT_QUEUE_DIR), QStringLiteral(HEMATIX_PRINT_QUEUE))
                            .toLocal8Bit()
                            .constData());
    }
} startedHere;

} // namespace

namespace printqueue {

QString queueName() { return QStringLiteral(HEMATIX_PRINT_QUEUE); }
QString outDir() { return QStringLiteral(HEMATIX_PRINT_QUEUE_DIR) + QStringLiteral("/out"); }

bool available()
{
    (void)kServerSet;
    int status = 0;
    run(QStringLiteral("lpstat"), {QStringLiteral("-p"), queueName()}, &status);
    if (status == 0)
        return true;
    run(QStringLiteral(HEMATIX_SOURCE_DIR "/scripts/print-queue.sh"),
        {QStringLiteral("start"), QStringLiteral(HEMATIX_PRINT_QUEUE_DIR), queueName()}, &status);
    startedHere.started = startedHere.started || status == 0;
    return status == 0;
}

bool waitIdle(int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (activeJobs() > 0) {
        if (t.elapsed() > timeoutMs)
            return false;
        QThread::msleep(50);
    }
    return true;
}

QStringList pdfs()
{
    QStringList result;
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

int pdfPages(const QString& pdf)
{
    int status = 0;
    const QString out = run(QStringLiteral("pdfinfo"), {pdf}, &status);
    if (status != 0)
        return -1;
    const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(out);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

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
