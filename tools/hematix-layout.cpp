// Prints a loaded layout, one object a line, for comparison with the layout tables:
//   hematix-layout FILE | Report | Unit7
#include "platform/Exception.h"
#include "report/model/LayoutDump.h"
#include "report/model/LayoutLoader.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);   // fonts need a GUI application
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: hematix-layout FILE|%s\n",
                     qPrintable(layoutloader::builtinNames().join(QLatin1Char('|'))));
        return 2;
    }
    try {
        const QString what = args[1];
        std::unique_ptr<TReport> report;
        if (layoutloader::builtinNames().contains(what) && !QFileInfo(what).isFile())
            report = layoutloader::loadBuiltin(what, QCoreApplication::applicationDirPath());
        else
            report = layoutloader::loadFile(what);
        std::fputs(layoutdump::dump(*report).toUtf8().constData(), stdout);
    } catch (const Exception& e) {
        std::fprintf(stderr, "hematix-layout: %s\n", e.what());
        return 1;
    }
    return 0;
}
