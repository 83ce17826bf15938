// velomark-cli plot: the speed chart of a dump file as a PNG or SVG picture, drawn without a
// display, for reports.
#include <QCommandLineParser>
#include <QFileInfo>

#include "cli.h"
#include "log/logdecoder.h"
#include "log/logrows.h"
#include "speedchart.h"

namespace cli {

int runPlot(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption limit(QStringLiteral("limit"),
                                   QStringLiteral("The speed limit drawn as a line, in the chart's unit (default 50)."),
                                   QStringLiteral("N"), QStringLiteral("50"));
    const QCommandLineOption width(QStringLiteral("width"), QStringLiteral("Width in pixels (default 800)."),
                                   QStringLiteral("W"), QStringLiteral("800"));
    const QCommandLineOption height(QStringLiteral("height"), QStringLiteral("Height in pixels (default 500)."),
                                    QStringLiteral("H"), QStringLiteral("500"));
    const QCommandLineOption output(QStringLiteral("output"),
                                    QStringLiteral("The picture: FILE.png or FILE.svg."), QStringLiteral("FILE"));
    const DateFilterOptions dates;
    dates.addTo(parser);
    for (const QCommandLineOption *option : {&limit, &width, &height, &output})
        parser.addOption(*option);
    parser.addPositionalArgument(QStringLiteral("DUMP"), QStringLiteral("The dump file (logDump.txt)."));
    int exitCode = Success;
    if (!parseArguments(parser, args, QStringLiteral("Draws the speed chart of a log dump file into a PNG or SVG."),
                        &exitCode))
        return exitCode;
    if (parser.positionalArguments().size() != 1)
        return usageError(QStringLiteral("plot needs exactly one DUMP"));
    const QString path = parser.value(output);
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (path.isEmpty() || (suffix != QLatin1String("png") && suffix != QLatin1String("svg")))
        return usageError(QStringLiteral("plot needs --output FILE ending in .png or .svg"));
    int limitValue = 0, widthValue = 0, heightValue = 0;
    if (!wholeNumberOption(parser, limit, 0, 999, &limitValue, &exitCode)
        || !wholeNumberOption(parser, width, 200, 10000, &widthValue, &exitCode)
        || !wholeNumberOption(parser, height, 150, 10000, &heightValue, &exitCode))
        return exitCode;
    const std::optional<velomark::LogDateFilter> filter = dates.filter(parser, &exitCode);
    if (!filter)
        return exitCode;
    DumpFile dump;
    if (!dump.open(parser.positionalArguments().constFirst(), &exitCode))
        return exitCode;

    velomark::SpeedSeries series(velomark::ChartRows::Log, limitValue);
    const QVector<velomark::LogRow> rows = velomark::logRows(velomark::decodeLogDump(dump.bytes), *filter, QString());
    if (rows.isEmpty())
        err() << "no records in " << parser.positionalArguments().constFirst() << Qt::endl;
    series.setRows(rows);
    QString error;
    if (!velomark::renderSpeedChart(series, QSize(widthValue, heightValue), path, &error)) {
        err() << "velomark-cli: cannot write " << path << ": " << error << Qt::endl;
        return Failed;
    }
    if (series.leftOut() > 0)
        err() << series.leftOut() << " records without a valid date and time were left out" << Qt::endl;
    out() << series.title() << Qt::endl;
    return Success;
}

}  // namespace cli
