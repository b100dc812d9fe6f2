// hematix-pages: looks into saved report files (header, pages, links) and renders their pages to
// PNG or PDF, so that a saved report can be sent on or inspected without the program.
#include "report/pages/ReportFile.h"

#include <QGuiApplication>
#include <QTextStream>
#include <cstdio>

int main(int argc, char** argv)
{
    // Nothing is shown on screen; painting needs a platform all the same.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    const int rc = reportfile::runTool(args, out, err);
    out.flush();
    err.flush();
    return rc;
}
