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
    velomark::LidarConnection connection(op);
    const std::optional<SelectedLidar> selected = lidarOptions.select(parser, connection, &exitCode);
    if (!selected)
        return exitCode;
    if (!connection.ConnectSelectedLidar(selected->listText)) {
        tellOpenError(connection);
        return Failed;
    }
    out() << "type " << connection.lidarType << '\n'
          << "firmware " << connection.firmwareMajor << '.' << connection.firmwareMinor << Qt::endl;
    connection.CloseLidarPort();
    return Success;
}

}  // namespace cli
