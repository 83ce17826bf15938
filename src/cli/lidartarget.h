#pragma once
// The lidar a command talks to: --port PATH (with --name NAME for its list text) or
// --lidar NAME found by discovery; and the signals that end a long operation cleanly.
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>

#include <optional>

namespace velomark {
class LidarConnection;
class OperatorInterface;
}  // namespace velomark

namespace cli {

// --port, --lidar and --name.
QList<QCommandLineOption> lidarTargetOptions();

// Puts the named lidar into the connection's list and gives the text to select it by.
// Bad usage prints why and sets *exitCode to Usage; a lidar that discovery did not find
// sets it to Failed (discovery has told the operator).
std::optional<QString> selectLidarTarget(const QCommandLineParser &parser, velomark::LidarConnection &connection,
                                         velomark::OperatorInterface &op, int *exitCode);

// From here on SIGINT and SIGTERM only raise a flag that interrupted() reports.
void catchInterrupts();
bool interrupted();

}  // namespace cli
