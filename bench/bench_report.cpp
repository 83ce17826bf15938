// The speed-study report of 10^5 list rows as an A4 PDF: the figures, the facts of the rows,
// the speed-over-time chart and the distribution, written to a file (target: under 2 s). On a
// shared machine the processor time beside the wall time tells the two apart.
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "chart/speedreport.h"
#include "chart/speedstats.h"
#include "reportpdf.h"

namespace {

// Rows as the log list shows them: a record every 6 seconds over a week, speeds spread from
// 20 to 169, both directions.
QVector<QStringList> makeRows(int count)
{
    QVector<QStringList> rows;
    rows.reserve(count);
    const QDateTime start(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC);
    for (int i = 0; i < count; ++i) {
        const QDateTime at = start.addSecs(qint64(i) * 6);
        rows.append({QString::number(20 + int((qint64(i) * 7919) % 150)) + QLatin1String(" km/h"),
                     QStringLiteral("50.0 m"), i & 1 ? QStringLiteral("Receding") : QStringLiteral("Approaching"),
                     at.date().toString(Qt::ISODate), at.time().toString(QStringLiteral("HH:mm:ss")), QString(),
                     QString(), QStringLiteral("54321")});
    }
    return rows;
}

}  // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("report.pdf"));
    std::printf("%-10s %-28s %10s %10s %10s %10s\n", "rows", "step", "bytes", "ms", "cpu ms", "target ms");
    for (const int count : {100000}) {
        const QVector<QStringList> rows = makeRows(count);
        double bestWall = 1e300, bestCpu = 1e300;
        for (int run = 0; run < 3; ++run) {
            QElapsedTimer timer;
            const std::clock_t cpu = std::clock();
            timer.start();
            const velomark::SpeedStats stats = velomark::speedStats(rows, 50);
            const velomark::SpeedReport report =
                velomark::speedReportOf(rows, velomark::ChartRows::Log, stats, velomark::LogDateFilter::all(),
                                        QStringLiteral("Bench"), QStringLiteral("rows"));
            velomark::SpeedSeries series(velomark::ChartRows::Log, 50);
            series.setRows(rows);
            const QString error = velomark::writeReportPdf(report, series, path);
            if (!error.isEmpty()) {
                std::fprintf(stderr, "bench_report: %s\n", qPrintable(error));
                return 1;
            }
            bestWall = std::min(bestWall, timer.nsecsElapsed() / 1e6);
            bestCpu = std::min(bestCpu, (std::clock() - cpu) * 1000.0 / CLOCKS_PER_SEC);
        }
        std::printf("%-10d %-28s %10lld %10.1f %10.1f %10s\n", count, "report PDF of list rows",
                    static_cast<long long>(QFileInfo(path).size()), bestWall, bestCpu, "2000");
    }
    return 0;
}
