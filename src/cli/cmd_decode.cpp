// velomark-cli decode: a dump file as the log CSV that Save on the log tab writes, or as the
// GPX of its positions.
#include <QCommandLineParser>
#include <QTextStream>

#include <cstdio>

#include "cli.h"
#include "log/logdecoder.h"
#include "log/logfiles.h"
#include "log/loggpx.h"
#include "log/logrows.h"

namespace cli {

int runDecode(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption lidarId(QStringLiteral("lidar-id"),
                                     QStringLiteral("Lidar_Id of every row (its last five characters)."),
                                     QStringLiteral("TEXT"));
    const QCommandLineOption format(QStringLiteral("format"),
                                    QStringLiteral("csv (the log CSV, the default) or gpx (GPX 1.1 waypoints of "
                                                   "the records that carry a position)."),
                                    QStringLiteral("FORMAT"), QStringLiteral("csv"));
    const DateFilterOptions dates;
    parser.addOption(lidarId);
    parser.addOption(format);
    dates.addTo(parser);
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The dump file (logDump.txt)."));
    int exitCode = Success;
    if (!parseArguments(parser, args, QStringLiteral("Decodes a log dump file and prints the log CSV."),
                        &exitCode))
        return exitCode;

    if (parser.positionalArguments().size() != 1)
        return usageError(QStringLiteral("decode needs exactly one FILE"));

    const std::optional<velomark::LogDateFilter> filter = dates.filter(parser, &exitCode);
    if (!filter)
        return exitCode;
    const QString formatName = parser.value(format);
    if (formatName != QLatin1String("csv") && formatName != QLatin1String("gpx"))
        return usageError(QStringLiteral("--format is csv or gpx, not '%1'").arg(formatName));

    DumpFile dumpFile;
    if (!dumpFile.open(parser.positionalArguments().constFirst(), &exitCode))
        return exitCode;
    const QByteArray &dump = dumpFile.bytes;

    out().flush();
    if (formatName == QLatin1String("gpx")) {
        const velomark::LogGpx gpx = velomark::logGpx(
            velomark::logRows(velomark::decodeLogDump(dump), *filter, velomark::lidarIdOf(parser.value(lidarId))));
        const bool gpxWritten =
            std::fwrite(gpx.text.constData(), 1, size_t(gpx.text.size()), stdout) == size_t(gpx.text.size());
        if (!gpxWritten || std::fflush(stdout) != 0) {
            err() << "velomark-cli: writing the GPX failed" << Qt::endl;
            return Failed;
        }
        if (gpx.withoutPosition > 0)
            err() << gpx.withoutPosition << " of " << gpx.withoutPosition + gpx.waypoints
                  << " records have no position and were left out" << Qt::endl;
        if (gpx.withoutPosition + gpx.waypoints == 0)
            err() << "no records in " << parser.positionalArguments().constFirst() << Qt::endl;
        return Success;
    }
    // The CSV bytes go out as they are, the same bytes Save writes.
    qint64 lines = 0;
    const bool written = velomark::writeDumpCsv(
        dump, *filter, velomark::lidarIdOf(parser.value(lidarId)), [&lines](const QByteArray &csv) {
            lines += csv.count('\n');
            return std::fwrite(csv.constData(), 1, size_t(csv.size()), stdout) == size_t(csv.size());
        });
    if (!written || std::fflush(stdout) != 0) {
        err() << "velomark-cli: writing the CSV failed" << Qt::endl;
        return Failed;
    }
    // The header alone: the operator may have picked the wrong file.
    if (lines <= 1)
        err() << "no records in " << parser.positionalArguments().constFirst() << Qt::endl;
    return Success;
}

}  // namespace cli
