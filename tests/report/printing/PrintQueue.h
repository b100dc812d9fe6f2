#pragma once
// The printing tests' print queue: the build's own print service with one PDF queue, started once
// for the test run by ctest (scripts/print-queue.sh). This program talks to it alone: the
// service's address is set before main, so Qt and the print service's client library both ask it.
// A test started outside ctest starts the queue itself when it is not running. The service's
// state lives in a private folder under /tmp, named in a pointer file in the build folder.
#include <QImage>
#include <QString>
#include <QStringList>

namespace printqueue {

QString queueName();
// The service's state folder (from the pointer file); empty when the queue was never started.
QString stateDir();
QString outDir();
// True when the queue answers (starting it when this program runs outside ctest).
bool available();
// Waits until the service has no unfinished job (at most timeoutMs); false on timeout, and at once
// when the queue has stopped a job or itself (a filter failed), as that job will never finish.
bool waitIdle(int timeoutMs = 60000);
// The PDF the queue wrote for a job number, after waiting for it; empty when there is none.
QString pdfOfJob(int job);
// The queue's own account of what went wrong, for a failure message: the printer's state and
// message, every job that did not complete with its state and message, and the service's last
// log lines about jobs.
QString trouble();
// Every PDF in the output folder.
QStringList pdfs();
// Page count of a PDF (pdfinfo), -1 when unreadable.
int pdfPages(const QString& pdf);
// What a program (pdfinfo, pdftotext) writes, its errors included.
QString tool(const QString& program, const QStringList& args);
// The PDF's pages rendered at dpi (pdftoppm), in page order.
QList<QImage> render(const QString& pdf, int dpi = 150);
// Refuses or accepts new jobs on the queue (cupsreject / cupsaccept).
bool setAccepting(bool accepting);

} // namespace printqueue
