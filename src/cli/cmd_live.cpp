// velomark-cli live: live acquisition into a live data file, each line printed as it is written.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>

#include <cstdio>

#include <memory>

#include "cli.h"
#include "console.h"
#include "lidar/lidarconnection.h"
#include "live/liveacquisition.h"
#include "live/livedatafile.h"
#include "live/livereader.h"
#include "live/liverecordparser.h"

namespace cli {

namespace {

bool positiveNumber(const QString &text, int *value)
{
    bool ok = false;
    *value = text.toInt(&ok);
    return ok && *value > 0;
}

}  // namespace

int runLive(const QStringList &args)
{
    QCommandLineParser parser;
    const LidarOptions lidarOptions(true);
    const QCommandLineOption output(QStringLiteral("output"),
                                    QStringLiteral("The live data file (created with its header, or appended to)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption note(QStringLiteral("note"), QStringLiteral("Free note written with every line."),
                                  QStringLiteral("TEXT"));
    const QCommandLineOption count(QStringLiteral("count"), QStringLiteral("Ends after N records."),
                                   QStringLiteral("N"));
    const QCommandLineOption seconds(QStringLiteral("seconds"), QStringLiteral("Ends after S seconds."),
                                     QStringLiteral("S"));
    lidarOptions.addTo(parser);
    parser.addOptions({output, note, count, seconds});
    int exitCode = Success;
    if (!parseArguments(parser, args,
                        QStringLiteral("Live acquisition into a live data file until N records, S seconds, "
                                       "SIGINT or SIGTERM; prints each line as it is written."),
                        &exitCode))
        return exitCode;
    if (parser.value(output).isEmpty())
        return usageError(QStringLiteral("live needs --output FILE"));
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    int maxRecords = 0;
    if (parser.isSet(count) && !positiveNumber(parser.value(count), &maxRecords))
        return usageError(QStringLiteral("--count needs a positive number"));
    int maxSeconds = 0;
    if (parser.isSet(seconds) && !positiveNumber(parser.value(seconds), &maxSeconds))
        return usageError(QStringLiteral("--seconds needs a positive number"));

    CliOperator op;
    velomark::LidarConnection connection(op);
    const std::optional<SelectedLidar> selected = lidarOptions.select(parser, connection, &exitCode);
    if (!selected)
        return exitCode;

    const QString dataFilePath = parser.value(output);
    velomark::LiveDataFile dataFile;
    if (!dataFile.prepare(dataFilePath, op))
        return Failed;

    // The signals are routed before the lidar is touched, so that none of them kills the
    // program while the lidar is in remote mode.
    const InterruptWatch termination([] { QCoreApplication::exit(Success); });
    if (!termination.ok()) {
        err() << "live: cannot watch SIGINT and SIGTERM" << Qt::endl;
        return Failed;
    }

    velomark::rThread reader;
    const velomark::LiveStartResult start =
        velomark::startLiveAcquisition(connection, selected->listText, dataFile, [&reader] { return &reader; });
    if (!start.started) {
        tellOpenError(connection);
        dataFile.close();
        connection.CloseLidarPort();
        return Failed;
    }

    // The rows carry the lidar's name; a lidar without one is still named in messages by its port.
    velomark::LiveRun run(selected->name, dataFilePath, parser.value(note));
    int records = 0;
    QObject context;
    // Same path as the window: parse, write and flush, then show (here: print) the line.
    QObject::connect(&reader, &velomark::rThread::speed_disp, &context,
                     [&](const QByteArray &buffer) {
                         if (maxRecords > 0 && records >= maxRecords)
                             return;
                         const std::optional<velomark::SpeedRecord> record =
                             velomark::parseLiveRecord(buffer, QDateTime::currentDateTime());
                         if (!record)
                             return;
                         const QString line = run.dataLine(*record);
                         run.write(dataFile, line, op);
                         // The same bytes as in the file, whatever the terminal's locale.
                         const QByteArray bytes = line.toUtf8();
                         std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
                         std::fflush(stdout);
                         ++records;
                         if (maxRecords > 0 && records >= maxRecords)
                             QCoreApplication::exit(Success);
                     },
                     Qt::QueuedConnection);
    // The run ends; the steps after it say what was lost.
    QObject::connect(&reader, &velomark::rThread::portLost, &context, [] { QCoreApplication::exit(Failed); },
                     Qt::QueuedConnection);
    if (maxSeconds > 0)
        QTimer::singleShot(maxSeconds * 1000, &context, [] { QCoreApplication::exit(Success); });

    QCoreApplication::exec();

    // The same steps as the window's Stop; records handed on before the reader ended belong to
    // this run (up to --count).
    if (velomark::endLiveRun(connection, &reader, &context, dataFile, selected->listText, op))
        return Failed;
    connection.CloseLidarPort();
    return Success;
}

}  // namespace cli
