#include <QCommandLineParser>

#include "cli.h"
#include "lidar/lidarconnection.h"

namespace cli {

int runIdentify(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("The lidar's serial port (a device path)."),
                                  QStringLiteral("PATH"));
    const QCommandLineOption name(QStringLiteral("name"),
                                  QStringLiteral("The lidar's list text (default: the port path)."),
                                  QStringLiteral("NAME"));
    parser.addOption(port);
    parser.addOption(name);
    int exitCode = Success;
    if (!parseArguments(parser, args,
                        QStringLiteral("Connects a lidar, identifies its model family and firmware, "
                                       "and releases it."),
                        &exitCode))
        return exitCode;
    if (!parser.isSet(port) || parser.value(port).isEmpty())
        return usageError(QStringLiteral("identify needs --port PATH"));
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));

    const QString lidarName = parser.isSet(name) ? parser.value(name) : parser.value(port);
    CliOperator op;
    velomark::LidarConnection connection(op);
    connection.lidars.append(velomark::LidarEntry{QString(), lidarName, parser.value(port)});
    if (!connection.ConnectSelectedLidar(lidarName))
        return Failed;
    out() << "type " << connection.lidarType << '\n'
          << "firmware " << connection.firmwareMajor << '.' << connection.firmwareMinor << Qt::endl;
    connection.CloseLidarPort();
    return Success;
}

}  // namespace cli
