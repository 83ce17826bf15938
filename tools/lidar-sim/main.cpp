// lidar-sim: a speed lidar on a pseudo-terminal, the stand-in for the device in tests and demos.
#include <QCoreApplication>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <unistd.h>

#include "simoptions.h"
#include "simulator.h"

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    lidarsim::SimOptions options;
    QString error;
    bool helpWanted = false;
    if (!lidarsim::parseOptions(app.arguments().mid(1), options, error, helpWanted)) {
        std::fprintf(stderr, "lidar-sim: %s\nTry 'lidar-sim --help'.\n", qPrintable(error));
        return 2;
    }
    if (helpWanted) {
        std::fputs(qPrintable(lidarsim::helpText()), stdout);
        return 0;
    }
    lidarsim::Simulator::installSignalHandlers();
    // A test that dies must not leave its lidar behind holding a terminal.
    if (options.exitWithParent) {
        const pid_t parent = ::getppid();
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            return 0;
    }
    lidarsim::Simulator simulator(options);
    if (!simulator.open(error)) {
        std::fprintf(stderr, "lidar-sim: %s\n", qPrintable(error));
        return 1;
    }
    // The terminal's path is the first line, so a script can read it before it connects.
    std::printf("%s\n", qPrintable(simulator.slavePath()));
    std::fflush(stdout);
    return simulator.run();
}
