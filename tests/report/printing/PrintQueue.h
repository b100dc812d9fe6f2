#pragma once
// The printing tests' print queue: the build's own print service with one PDF queue, started once
// for the test run by ctest (scripts/print-queue.sh). This program talks to it alone: the
// service's address is set before main, so Qt and the print service's client library both ask it.
// A test started outside ctest starts the queue itself when it is not running.
#include <QImage>
#include <QString>
#include <QStringList>

namespace printqueue {

QString queueName();
QString outDir();
// True when the queue answers (starting it when this program runs outside ctest).
bool available();
// Waits until the service has no unfinished job (at most timeoutMs); false on timeout.
bool waitIdle(int timeoutMs = 60000);
// The PDF the queue wrote for a job number, after waiting for it; empty when there is none.
QString pdfOfJob(int job);
// Every PDF in the output folder.
QStringList pdfs();
// Page count of a PDF (pdfinfo), -1 when unreadable.
int pdfPages(const QString& pdf);
// The PDF's pages rendered at dpi (pdftoppm), in page order.
QList<QImage> render(const QString& pdf, int dpi = 150);
// Refuses or accepts new jobs on the queue (cupsreject / cupsaccept).
bool setAccepting(bool accepting);

} // namespace printqueue
