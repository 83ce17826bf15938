// velomark-cli stats: the figures of a speed study (percentiles, mean, pace, share above the
// limit, histogram) of a dump, a saved log CSV or a live data file.
#include <QCommandLineParser>

#include <cstdio>

#include "chart/speedstats.h"
#include "cli.h"
#include "log/filerows.h"

namespace cli {

int runStats(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption limit(QStringLiteral("limit"),
                                   QStringLiteral("The speed limit, in the unit of the figures (default 50, as "
                                                  "the chart's). Above it means strictly faster."),
                                   QStringLiteral("N"), QStringLiteral("50"));
    const QCommandLineOption unit(QStringLiteral("unit"),
                                  QStringLiteral("km/h or mph: the unit of the figures. Default: the unit most "
                                                 "records use, km/h on a tie; the others are converted "
                                                 "(1 mph = 1.609344 km/h). A live data file does not say its "
                                                 "unit: its speeds are taken in this unit (default km/h)."),
                                  QStringLiteral("UNIT"));
    const QCommandLineOption format(
        QStringLiteral("format"),
        QStringLiteral("text (a table, the default), csv (a line per group, then an empty line and the "
                       "histogram) or json (the figures unrounded). Text and CSV show one decimal."),
        QStringLiteral("FORMAT"), QStringLiteral("text"));
    const DateFilterOptions dates;
    dates.addTo(parser);
    for (const QCommandLineOption *option : {&limit, &unit, &format})
        parser.addOption(*option);
    parser.addPositionalArgument(
        QStringLiteral("FILE"),
        QStringLiteral("A dump file (logDump.txt), a saved log CSV or a live data file, told apart by the first line.\n"
                       "For all records and for each direction: count, minimum, maximum, mean, standard deviation "
                       "(of a sample, n - 1; none for fewer than two speeds), the 15th, 50th, 85th and 95th "
                       "percentiles (linear interpolation between the closest ranks, inclusive: PERCENTILE.INC), "
                       "the pace (the interval of 10 from a whole number that holds the most speeds, the lowest "
                       "on a tie), the count above the limit, shares in percent of the count, and a histogram of "
                       "bins of 5 from 0. Records without a valid speed (none, or above 999) are left out and counted. A file with no "
                       "valid speed prints nothing and says \"no records in FILE\"."));
    int exitCode = Success;
    if (!parseArguments(parser, args,
                        QStringLiteral("Prints the speed-study figures of a dump, a log CSV or a live data file."),
                        &exitCode))
        return exitCode;
    if (parser.positionalArguments().size() != 1)
        return usageError(QStringLiteral("stats needs exactly one FILE"));
    const QString formatName = parser.value(format);
    if (formatName != QLatin1String("text") && formatName != QLatin1String("csv")
        && formatName != QLatin1String("json"))
        return usageError(QStringLiteral("--format is text, csv or json, not '%1'").arg(formatName));
    const std::unique_ptr<StudyInput> input = readStudyInput(parser, unit, limit, dates, &exitCode);
    if (!input)
        return exitCode;
    const velomark::SpeedStats &stats = input->stats;
    const QString &path = input->path;
    if (stats.all.count == 0) {
        // As decode does with such a file: said, and no failure.
        err() << "no records in " << path << Qt::endl;
        return Success;
    }
    QByteArray text;
    if (formatName == QLatin1String("json"))
        text = velomark::speedStatsJson(stats);
    else if (formatName == QLatin1String("csv"))
        text = velomark::speedStatsCsv(stats);
    else
        text = velomark::speedStatsText(stats).toUtf8();
    out().flush();
    if (std::fwrite(text.constData(), 1, size_t(text.size()), stdout) != size_t(text.size())
        || std::fflush(stdout) != 0) {
        err() << "velomark-cli: writing the figures failed" << Qt::endl;
        return Failed;
    }
    return Success;
}

}  // namespace cli
