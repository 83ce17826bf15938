// Showing the log: filling the window's log list (offscreen) with 10^4 and 10^5 records,
// date filter off and on, including the view's first layout and paint. Then the speed chart of
// those rows: the "Speed Chart" tab brought to the front (rows read from the list, series
// built, chart drawn and painted by the view), and the chart painted offscreen as plot does
// it; with a limit most points are above and one few are.
#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QSpinBox>
#include <QTabWidget>
#include <QTreeWidget>

#include <cstdio>

#include "common/operatorinterface.h"
#include "live/speedrecord.h"
#include "log/logrows.h"
#include "speedchart.h"
#include "vantrix.h"

namespace {

// Records over 60 days from 2025-01-01, half of them with a position.
QVector<velomark::SpeedRecord> makeRecords(int count)
{
    QVector<velomark::SpeedRecord> records;
    records.reserve(count);
    const QDateTime first(QDate(2025, 1, 1), QTime(0, 0));
    for (int i = 0; i < count; ++i) {
        velomark::SpeedRecord record;
        record.dateTime = first.addSecs(qint64(i) * 60 * 24 * 60 * 60 / count);
        record.speed = 20 + i % 150;
        record.range = 50 + i % 9000;
        record.direction = i & 1;
        record.metric = i % 3 != 0;
        if (i & 1) {
            record.latitude = QStringLiteral("N49.27542000");
            record.longitude = QStringLiteral("E1.38433667");
        }
        records.append(record);
    }
    return records;
}

template <typename Step>
double bestOf3(Step step)
{
    double best = 1e300;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        step();
        best = std::min(best, timer.nsecsElapsed() / 1e6);
    }
    return best;
}

void benchChart(Vantrix &dialog)
{
    QTabWidget *tabs = dialog.form().tabWidgetData;
    velomark::SpeedChartPanel *panel = dialog.form().speedChart;
    std::printf("\n%-10s %-7s %12s %12s %14s %14s\n", "records", "limit", "points", "above", "chart tab ms",
                "plot ms");
    for (int count : {10000, 100000}) {
        const QVector<velomark::SpeedRecord> records = makeRecords(count);
        tabs->setCurrentIndex(0);
        dialog.form().checkBoxAll->setChecked(true);
        dialog.form().treeWidgetLoggedData->clear();
        dialog.ShowLoggedRecords(records, QStringLiteral("54321"));
        QCoreApplication::processEvents();
        for (int limit : {30, 150}) {
            panel->limitBox()->setValue(limit);
            const double tab = bestOf3([&] {
                tabs->setCurrentIndex(0);
                panel->listChanged(velomark::ChartRows::Log);
                tabs->setCurrentWidget(panel);
                QCoreApplication::processEvents();
                panel->view()->grab();
            });
            const double plot = bestOf3([&] {
                velomark::SpeedSeries built(velomark::ChartRows::Log, limit);
                built.setRows(velomark::logRows(records, velomark::LogDateFilter::all(), QString()));
                QImage image(800, 500, QImage::Format_RGB32);
                QPainter painter(&image);
                velomark::paintSpeedChart(built, image.size(), &painter);
            });
            std::printf("%-10d %-7d %12d %12d %14.1f %14.1f\n", count, limit, panel->series().measurements(),
                        panel->series().aboveLimit(), tab, plot);
        }
    }
}

}  // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    velomark::SilentOperator op;
    Vantrix dialog(&op);
    dialog.show();
    // The first Show looks for lidars after 300 ms; that must not fall into a measurement.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 600)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    std::printf("%-10s %-8s %10s %12s %14s\n", "records", "filter", "rows", "ms", "rows/s");
    for (int count : {10000, 100000}) {
        const QVector<velomark::SpeedRecord> records = makeRecords(count);
        for (bool filtered : {false, true}) {
            // The filter keeps the first 30 of the 60 days.
            dialog.form().checkBoxAll->setChecked(!filtered);
            dialog.form().dateEditStart->setDate(QDate(2025, 1, 1));
            dialog.form().dateEditEnd->setDate(QDate(2025, 1, 30));
            double best = 1e300;
            int rows = 0;
            for (int run = 0; run < 3; ++run) {
                dialog.form().treeWidgetLoggedData->clear();
                QCoreApplication::processEvents();
                QElapsedTimer timer;
                timer.start();
                dialog.ShowLoggedRecords(records, QStringLiteral("54321"));
                // The view lays out and paints the new rows before the operator sees them.
                QCoreApplication::processEvents();
                best = std::min(best, timer.nsecsElapsed() / 1e6);
                rows = dialog.form().treeWidgetLoggedData->topLevelItemCount();
            }
            std::printf("%-10d %-8s %10d %12.1f %14.0f\n", count, filtered ? "on" : "off", rows, best,
                        rows / (best / 1000.0));
        }
    }
    benchChart(dialog);
    return 0;
}
