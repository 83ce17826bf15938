#include "lidartarget.h"

#include <csignal>

#include "cli.h"
#include "lidar/discovery.h"
#include "lidar/lidarconnection.h"

namespace cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void onInterrupt(int)
{
    g_interrupted = 1;
}

}  // namespace

QList<QCommandLineOption> lidarTargetOptions()
{
    return {
        QCommandLineOption(QStringLiteral("port"), QStringLiteral("The lidar's serial port (a device path)."),
                           QStringLiteral("PATH")),
        QCommandLineOption(QStringLiteral("lidar"),
                           QStringLiteral("Finds the lidar by discovery, first match by name."),
                           QStringLiteral("NAME")),
        QCommandLineOption(QStringLiteral("name"),
                           QStringLiteral("The lidar's list text with --port (default: the port path); "
                                          "its last five characters are the Lidar_Id."),
                           QStringLiteral("NAME")),
    };
}

std::optional<QString> selectLidarTarget(const QCommandLineParser &parser, velomark::LidarConnection &connection,
                                         velomark::OperatorInterface &op, int *exitCode)
{
    const QString port = parser.value(QStringLiteral("port"));
    const QString lidar = parser.value(QStringLiteral("lidar"));
    if (port.isEmpty() == lidar.isEmpty()) {
        *exitCode = usageError(QStringLiteral("give either --port PATH or --lidar NAME"));
        return std::nullopt;
    }
    if (!lidar.isEmpty()) {
        if (parser.isSet(QStringLiteral("name"))) {
            *exitCode = usageError(QStringLiteral("--name goes with --port; --lidar uses the discovered name"));
            return std::nullopt;
        }
        const std::optional<velomark::LidarEntry> entry = velomark::discoverLidarByName(lidar, op);
        if (!entry) {
            *exitCode = Failed;
            return std::nullopt;
        }
        connection.lidars = {*entry};
        return entry->name;
    }
    const QString name = parser.isSet(QStringLiteral("name")) ? parser.value(QStringLiteral("name")) : port;
    connection.lidars = {velomark::LidarEntry{QString(), name, port}};
    return name;
}

void catchInterrupts()
{
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
}

bool interrupted()
{
    return g_interrupted != 0;
}

}  // namespace cli
