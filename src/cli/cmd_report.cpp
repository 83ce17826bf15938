// velomark-cli report: the speed-study report of a dump, a saved log CSV or a live data file
// as an A4 PDF, with the evidence of its download record when one lies beside the file.
#include <QCommandLineParser>
#include <QFileInfo>

#include "chart/speedreport.h"
#include "cli.h"
#include "log/filerows.h"
#include "reportpdf.h"

namespace cli {

int runReport(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption limit(QStringLiteral("limit"),
                                   QStringLiteral("The speed limit, in the unit of the figures (default 50)."),
                                   QStringLiteral("N"), QStringLiteral("50"));
    const QCommandLineOption unit(QStringLiteral("unit"),
                                  QStringLiteral("km/h or mph: the unit of the figures, as stats takes it."),
                                  QStringLiteral("UNIT"));
    const QCommandLineOption title(QStringLiteral("title"),
                                   QStringLiteral("The report's title (default \"Speed study: FILE\")."),
                                   QStringLiteral("T"));
    const QCommandLineOption output(QStringLiteral("output"), QStringLiteral("The report: FILE.pdf."),
                                    QStringLiteral("FILE"));
    const DateFilterOptions dates;
    dates.addTo(parser);
    for (const QCommandLineOption *option : {&limit, &unit, &title, &output})
        parser.addOption(*option);
    parser.addPositionalArgument(
        QStringLiteral("FILE"),
        QStringLiteral("A dump file, a saved log CSV or a live data file, as stats reads it.\n"
                       "The report (A4) names the lidar and its Lidar_Id, the period from the first to the last "
                       "record, the filter and the record counts, and holds the figures of stats (one decimal), "
                       "the speed over time and the speed distribution. When a download record <stem>.json lies "
                       "beside FILE, the report carries its dump digest, whether FILE is that dump and whether "
                       "the record is signed (<stem>.json.p7s beside it)."));
    int exitCode = Success;
    if (!parseArguments(parser, args,
                        QStringLiteral("Writes the speed-study report of a dump, a log CSV or a live data file "
                                       "as a PDF."),
                        &exitCode))
        return exitCode;
    if (parser.positionalArguments().size() != 1)
        return usageError(QStringLiteral("report needs exactly one FILE"));
    const QString path = parser.value(output);
    if (path.isEmpty() || QFileInfo(path).suffix().toLower() != QLatin1String("pdf"))
        return usageError(QStringLiteral("report needs --output FILE ending in .pdf"));
    const std::unique_ptr<StudyInput> study = readStudyInput(parser, unit, limit, dates, &exitCode);
    if (!study)
        return exitCode;
    const QString &input = study->path;
    const velomark::FileRows &rows = study->rows;
    const velomark::ChartRows kind =
        rows.kind == velomark::RowFileKind::LiveData ? velomark::ChartRows::Live : velomark::ChartRows::Log;
    const velomark::SpeedStats &stats = study->stats;
    if (stats.all.count == 0)
        err() << "no records in " << input << Qt::endl;
    const QString name = QFileInfo(input).fileName();
    velomark::SpeedReport report = velomark::speedReportOf(
        rows.rows, kind, stats, study->filter,
        parser.isSet(title) ? parser.value(title) : QStringLiteral("Speed study: %1").arg(name), name);
    const QString recordError = velomark::addDownloadRecord(&report, input, study->file.bytes);
    if (!recordError.isEmpty())
        err() << "the download record beside " << input << " is left out: " << recordError << Qt::endl;
    velomark::SpeedSeries series(kind, study->limit);
    series.setRows(rows.rows);
    const QString error = velomark::writeReportPdf(report, series, path);
    if (!error.isEmpty()) {
        err() << "velomark-cli: cannot write " << path << ": " << error << Qt::endl;
        return Failed;
    }
    return Success;
}

}  // namespace cli
