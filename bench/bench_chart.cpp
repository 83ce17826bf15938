// The speed chart of 10^4 and 10^5 records: the "Speed Chart" tab brought to the front over a
// filled log list (series built, drawn, painted by the view), and the chart painted offscreen
// as plot does it; with a limit that most points are above (little to thin) and one few are.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QScatterSeries>
#include <QSpinBox>
#include <QTabWidget>
#include <QTreeWidget>

#include <cstdio>

#include "common/operatorinterface.h"
#include "log/logrows.h"
#include "speedchart.h"
#include "vantrix.h"

namespace {

// Records over a working day, speeds from 20 to 169, both directions, both unit systems.
QVector<velomark::SpeedRecord> makeRecords(int count)
{
    QVector<velomark::SpeedRecord> records;
    records.reserve(count);
    const QDateTime first(QDate(2025, 1, 1), QTime(7, 0), Qt::UTC);
    for (int i = 0; i < count; ++i) {
        velomark::SpeedRecord record;
        record.dateTime = first.addMSecs(qint64(i) * 10 * 60 * 60 * 1000 / count);
        record.speed = 20 + (i * 7919) % 150;
        record.range = 500;
        record.direction = i & 1;
        record.metric = i % 3 != 0;
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

}  // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    velomark::SilentOperator op;
    Vantrix dialog(&op);
    dialog.show();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 600)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QTabWidget *tabs = dialog.form().tabWidgetData;
    velomark::SpeedChartPanel *panel = dialog.form().speedChart;

    std::printf("%-10s %-7s %12s %12s %14s %14s\n", "records", "limit", "points", "above", "tab ms", "plot ms");
    for (int count : {10000, 100000}) {
        const QVector<velomark::SpeedRecord> records = makeRecords(count);
        tabs->setCurrentIndex(0);
        dialog.form().checkBoxAll->setChecked(true);
        dialog.form().treeWidgetLoggedData->clear();
        dialog.ShowLoggedRecords(records, QStringLiteral("54321"));
        QCoreApplication::processEvents();
        for (int limit : {30, 150}) {
            panel->limitBox()->setValue(limit);
            // The tab in front: rows read from the list, series built, chart drawn and painted.
            const double tab = bestOf3([&] {
                tabs->setCurrentIndex(0);
                panel->listChanged(velomark::ChartRows::Log);
                tabs->setCurrentWidget(panel);
                QCoreApplication::processEvents();
                panel->view()->grab();
            });
            const velomark::SpeedSeries &series = panel->series();
            const int drawn = series.measurements();
            const double plot = bestOf3([&] {
                velomark::SpeedSeries built(velomark::ChartRows::Log, limit);
                built.setRows(velomark::logRows(records, velomark::LogDateFilter::all(), QString()));
                QImage image(800, 500, QImage::Format_RGB32);
                QPainter painter(&image);
                velomark::paintSpeedChart(built, image.size(), &painter);
            });
            std::printf("%-10d %-7d %12d %12d %14.1f %14.1f\n", count, limit, drawn, series.aboveLimit(), tab, plot);
        }
    }
    return 0;
}
