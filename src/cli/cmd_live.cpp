// velomark-cli live: live acquisition into a live data file, each line printed as it is written.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "cli.h"
#include "lidar/lidarconnection.h"
#include "live/liveacquisition.h"
#include "live/livedatafile.h"
#include "live/livereader.h"
#include "live/liverecordparser.h"

namespace cli {

namespace {

// SIGINT and SIGTERM only write a byte here; the event loop reads it and ends the run.
int g_signalPipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int)
{
    const char byte = 1;
    // Nothing can be done about a full pipe inside a handler; one byte already waits then.
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

// Routes SIGINT and SIGTERM to the event loop for as long as it lives.
class TerminationSignals
{
public:
    TerminationSignals()
    {
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
            return;
        struct sigaction action = {};
        action.sa_handler = onTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, &m_oldInt);
        ::sigaction(SIGTERM, &action, &m_oldTerm);
        m_notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
        m_ok = true;
    }
    ~TerminationSignals()
    {
        if (!m_ok)
            return;
        m_notifier.reset();
        ::sigaction(SIGINT, &m_oldInt, nullptr);
        ::sigaction(SIGTERM, &m_oldTerm, nullptr);
        ::close(g_signalPipe[0]);
        ::close(g_signalPipe[1]);
        g_signalPipe[0] = g_signalPipe[1] = -1;
    }
    bool ok() const { return m_ok; }
    QSocketNotifier *notifier() const { return m_notifier.get(); }

private:
    bool m_ok = false;
    struct sigaction m_oldInt = {};
    struct sigaction m_oldTerm = {};
    std::unique_ptr<QSocketNotifier> m_notifier;
};

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
    TerminationSignals termination;
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
    QObject::connect(termination.notifier(), &QSocketNotifier::activated, &context,
                     [] { QCoreApplication::exit(Success); });
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
