// velomark-cli lidars: Bluetooth discovery, one line per lidar found.
#include "cli.h"
#include "lidar/discovery/discovery.h"

namespace cli {

int runLidars(const QStringList &args)
{
    QCommandLineParser parser;
    int exitCode = Success;
    if (!parseArguments(parser, args,
                        QStringLiteral("Lists the paired lidars: name, address and port, "
                                       "separated by tabs."),
                        &exitCode))
        return exitCode;
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("lidars takes no arguments"));

    CliOperator op;
    const velomark::LidarList lidars = velomark::enumerateLidars(op);
    for (const velomark::LidarEntry &lidar : lidars)
        out() << lidar.name << '\t' << lidar.address << '\t' << lidar.portName << '\n';
    out().flush();
    return lidars.isEmpty() ? Failed : Success;
}

}  // namespace cli
