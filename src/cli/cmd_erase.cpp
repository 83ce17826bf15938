// velomark-cli erase: clears the log stored in a lidar.
#include <QCommandLineParser>

#include "cli.h"
#include "lidar/diagnostics.h"
#include "lidar/lidarconnection.h"
#include "interrupts.h"

namespace cli {

namespace {

// The erase's success is the command's result and goes to standard output; every other
// message stays on standard error.
class EraseOperator : public CliOperator
{
public:
    using CliOperator::CliOperator;
    void inform(const QString &title, const QString &text) override
    {
        if (text == velomark::kEraseSucceeded)
            out() << text << Qt::endl;
        else
            CliOperator::inform(title, text);
    }
};

}  // namespace

int runErase(const QStringList &args)
{
    QCommandLineParser parser;
    const LidarOptions lidarOptions;
    lidarOptions.addTo(parser);
    const QCommandLineOption yes(QStringLiteral("yes"),
                                 QStringLiteral("Answers Yes to \"Do you want to erase the logged data in lidar ?\"."));
    parser.addOption(yes);
    int exitCode = Success;
    if (!parseArguments(parser, args, QStringLiteral("Erases the log stored in a lidar."), &exitCode))
        return exitCode;
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));

    EraseOperator op(parser.isSet(yes));
    velomark::LidarConnection connection(op);
    const std::optional<SelectedLidar> selected = lidarOptions.select(parser, connection, &exitCode);
    if (!selected)
        return exitCode;
    const velomark::EraseOutcome outcome = velomark::eraseStoredLog(connection, selected->listText, op);
    if (outcome == velomark::EraseOutcome::NotConnected)
        tellOpenError(connection);
    connection.CloseLidarPort();
    return outcome == velomark::EraseOutcome::Erased ? Success : Failed;
}

}  // namespace cli
