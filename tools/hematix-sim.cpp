// Plays the haematology analyser on a pseudo-terminal or a serial device; see --help.
#include "link/sim/AnalyserSimulator.h"

#include <QCoreApplication>
#include <QTextStream>

#include <csignal>
#include <cstdio>

namespace {
std::atomic<bool> stopRequested{false};
extern "C" void onSignal(int) { stopRequested.store(true); }
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    QStringList args = app.arguments();
    args.removeFirst();
    auto out = [](const QString& line) {
        std::fputs(line.toLocal8Bit().constData(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    };
    auto err = [](const QString& line) {
        std::fputs(line.toLocal8Bit().constData(), stderr);
        std::fputc('\n', stderr);
        std::fflush(stderr);
    };
    return sim::runProgram(args, out, err, &stopRequested);
}
