#include <QCommandLineParser>

#include "cli.h"
#include "lidar/lidarconnection.h"

namespace cli {

int runIdentify(const QStringList &args)
{
    QCommandLineParser parser;
    const LidarOptions lidarOptions;
    lidarOptions.addTo(parser);
    int exitCode = Success;
    if (!parseArguments(parser, args,
                        QStringLiteral("Connects a lidar, identifies its model family and firmware, "
                                       "and releases it."),
                        &exitCode))
        return exitCode;
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));

    CliOperator op;
    const std::optional<velomark::LidarEntry> lidar = lidarOptions.entry(parser, op, &exitCode);
    if (!lidar)
        return exitCode;
    velomark::LidarConnection connection(op);
    connection.lidars.append(*lidar);
    if (!connection.ConnectSelectedLidar(lidar->name))
        return Failed;
    out() << "type " << connection.lidarType << '\n'
          << "firmware " << connection.firmwareMajor << '.' << connection.firmwareMinor << Qt::endl;
    connection.CloseLidarPort();
    return Success;
}

}  // namespace cli
