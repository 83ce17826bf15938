// velomark-cli retrieve: the whole retrieval (diagnostic mode, dump, decode, restore) and the
// log CSV that Save on the log tab would write for the same rows.
#include <QCommandLineParser>
#include <QDate>

#include <cstdio>

#include "cli.h"
#include "common/trace.h"
#include "lidar/lidarconnection.h"
#include "interrupts.h"
#include "log/dumpreader.h"
#include "log/logdecoder.h"
#include "log/logfiles.h"
#include "log/logrows.h"
#include "log/retrieval.h"

namespace cli {

namespace {

bool writeToStdout(const QByteArray &bytes)
{
    out().flush();
    return std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size())
           && std::fflush(stdout) == 0;
}

}  // namespace

int runRetrieve(const QStringList &args)
{
    QCommandLineParser parser;
    const LidarOptions lidarOptions(true);
    lidarOptions.addTo(parser);
    const DateFilterOptions dates;
    const QCommandLineOption output(QStringLiteral("output"),
                                    QStringLiteral("Writes the log CSV into FILE instead of standard output."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption dumpFile(QStringLiteral("dump"),
                                      QStringLiteral("Writes the raw dump bytes into FILE."), QStringLiteral("FILE"));
    dates.addTo(parser);
    parser.addOptions({output, dumpFile});
    int exitCode = Success;
    if (!parseArguments(parser, args,
                        QStringLiteral("Retrieves the log stored in a lidar and prints it as the log CSV."),
                        &exitCode))
        return exitCode;
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    const std::optional<velomark::LogDateFilter> filter = dates.filter(parser, &exitCode);
    if (!filter)
        return exitCode;

    CliOperator op;
    velomark::LidarConnection connection(op);
    const std::optional<SelectedLidar> selected = lidarOptions.select(parser, connection, &exitCode);
    if (!selected)
        return exitCode;

    catchInterrupts();
    if (velomark::prepareRetrieval(connection, selected->listText, op) != velomark::PrepareOutcome::Ready) {
        tellOpenError(connection);
        connection.CloseLidarPort();
        return Failed;
    }
    QByteArray dump;
    QString pendingMessage;
    if (!interrupted()) {
        velomark::ThreadReadDataDump reader(connection.port(), dump, pendingMessage);
        reader.startDump();
        while (!reader.wait(100)) {
            if (interrupted())
                reader.requestStop();
        }
    }
    // The lidar leaves DIAG mode on every path once it entered it, an empty dump included.
    velomark::restoreFromDiagMode(connection, op);
    const QString lidarId = velomark::lidarIdOf(selected->name);
    connection.CloseLidarPort();
    if (interrupted()) {
        err() << "velomark-cli: retrieval interrupted" << Qt::endl;
        return Failed;
    }
    if (!pendingMessage.isEmpty())
        op.inform(velomark::applicationTitle(), pendingMessage);

    if (parser.isSet(dumpFile)) {
        const velomark::FileWriteResult kept = velomark::writeLogDump(dump, parser.value(dumpFile));
        if (!kept.ok) {
            err() << "velomark-cli: writing " << parser.value(dumpFile) << " failed: " << kept.errorString
                  << Qt::endl;
            return Failed;
        }
    }
    const QByteArray csv =
        velomark::logCsvText(velomark::logRows(velomark::decodeLogDump(dump), *filter, lidarId));
    if (parser.isSet(output)) {
        const velomark::FileWriteResult written = velomark::writeLogCsv(csv, parser.value(output));
        if (!written.ok) {
            err() << "velomark-cli: writing " << parser.value(output) << " failed: " << written.errorString
                  << Qt::endl;
            return Failed;
        }
    } else if (!writeToStdout(csv)) {
        err() << "velomark-cli: writing the CSV failed" << Qt::endl;
        return Failed;
    }
    return Success;
}

}  // namespace cli
