#include <QtTest>
#include <QtWidgets>

#include <QLegendMarker>
#include <QLineSeries>
#include <QScatterSeries>
#include <QValueAxis>

#include "clirun.h"
#include "pdfreadback.h"
#include "recordingoperator.h"
#include "sampledump.h"
#include "speedchart.h"
#include "vantrix.h"

using namespace velomark;

namespace {

SpeedRecord record(int speed, bool metric, int direction, const QTime &time)
{
    return SpeedRecord{QString(), QString(), QDateTime(QDate(2024, 12, 25), time, Qt::UTC), direction, speed, 500, 0,
                       metric};
}

// A receding mph record among km/h ones, one without a date.
QVector<SpeedRecord> logRecords()
{
    return {record(65, true, 0, QTime(10, 0)), record(40, false, 1, QTime(10, 20)),
            record(45, true, 0, QTime(10, 40)), SpeedRecord{}, record(90, true, 1, QTime(11, 0))};
}

// Where the view shows a point of the chart.
QPoint viewPosition(SpeedChartPanel *panel, const QPointF &point)
{
    return panel->view()->mapFromScene(panel->chart()->mapToScene(panel->chart()->position(point)));
}

// The cells of a line of the figures table (Approaching, Receding, All).
QStringList statsCells(const QTableWidget *table, const QString &label)
{
    for (int row = 0; row < table->rowCount(); ++row) {
        if (table->verticalHeaderItem(row)->text() == label)
            return {table->item(row, 0)->text(), table->item(row, 1)->text(), table->item(row, 2)->text()};
    }
    return {};
}

// The window with the chart tab shown, its log list holding logRecords() unless the test fills
// it itself.
struct ChartWindow
{
    explicit ChartWindow(bool withLogRows = true)
    {
        dialog.resize(1000, 672);
        dialog.show();
        if (withLogRows) {
            dialog.form().checkBoxAll->setChecked(true);
            dialog.ShowLoggedRecords(logRecords(), QStringLiteral("12345"));
        }
        dialog.form().tabWidgetData->setCurrentWidget(panel);
    }
    RecordingOperator op;
    Vantrix dialog{&op};
    SpeedChartPanel *panel = dialog.form().speedChart;
};

}  // namespace

class TestSpeedChart : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // The chart tab draws the log list (the title counts its points; the series' own tests
    // check how they split); a click on a point selects its row; the limit recounts.
    void logListChart()
    {
        ChartWindow w;
        Vantrix &dialog = w.dialog;
        SpeedChartPanel *panel = w.panel;
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));

        QCOMPARE(dialog.form().tabWidgetData->tabText(2), QStringLiteral("Speed Chart"));
        QCOMPARE(panel->chart()->title(), QStringLiteral("3 of 4 measurements above 50 km/h"));
        QCOMPARE(panel->chart()->speedAxis()->titleText(), QStringLiteral("Speed (km/h)"));
        QStringList legend;
        for (QtCharts::QLegendMarker *marker : panel->chart()->legend()->markers())
            legend << marker->label();
        QCOMPARE(legend, (QStringList{"Approaching", "Receding", "Limit 50 km/h"}));

        // The 40 mph row, row 1, is the first receding point: hovering shows its texts. A click
        // near the fastest, row 4 after the row without a date, selects it; beside the points
        // nothing happens.
        const QPointF point = panel->series().receding().points.at(0);
        QWidget *viewport = panel->view()->viewport();
        QTest::mouseMove(viewport, viewPosition(panel, point) + QPoint(2, 1));
        QTRY_COMPARE(panel->hoverText(), QStringLiteral("40 mph 50.0 ft Receding 2024-12-25 10:20:00 12345"));
        const QPointF fastest = panel->series().receding().points.at(1);
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, viewPosition(panel, fastest) + QPoint(0, 4));
        QCOMPARE(dialog.form().treeWidgetLoggedData->currentIndex().row(), 4);
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, viewPosition(panel, point) + QPoint(0, 30));
        QCOMPARE(dialog.form().treeWidgetLoggedData->currentIndex().row(), 4);

        panel->limitBox()->setValue(70);
        QCOMPARE(panel->chart()->title(), QStringLiteral("1 of 4 measurements above 70 km/h"));
        QCOMPARE(panel->chart()->limitLine()->at(0).y(), 70.0);

        // A list filled again is drawn again; a cleared one leaves an empty chart.
        dialog.form().treeWidgetLoggedData->clear();
        QCOMPARE(panel->chart()->title(), QStringLiteral("0 of 0 measurements above 70 km/h"));
    }

    // The figures beside the chart follow the list shown (how they are worked out: chart
    // tst_speedstats). A live row added while the live chart shows is drawn at once, its figures
    // once the event loop runs, not while the row is being added; log rows do not disturb it.
    void liveRowsOnAShownChart()
    {
        ChartWindow w;
        Vantrix &dialog = w.dialog;
        SpeedChartPanel *panel = w.panel;
        const QTableWidget *table = panel->statsTable();
        QTRY_COMPARE(statsCells(table, QStringLiteral("Count")), (QStringList{"2", "2", "4"}));
        QCOMPARE(panel->limitBox()->suffix(), QStringLiteral(" km/h"));
        panel->limitBox()->setValue(64);
        // 45 and 65 approaching; 40 mph (64.4 km/h) and 90 receding.
        QTRY_COMPARE(statsCells(table, QStringLiteral("Above limit")), (QStringList{"1", "2", "3"}));

        panel->liveChoice()->click();
        QTRY_COMPARE(statsCells(table, QStringLiteral("Count")), (QStringList{"0", "0", "0"}));
        dialog.AppendLiveRecord(record(70, false, 0, QTime(9, 0)));
        dialog.AppendLiveRecord(record(30, false, 1, QTime(9, 1)));
        QCOMPARE(panel->series().measurements(), 2);
        QCOMPARE(statsCells(table, QStringLiteral("Count")), (QStringList{"0", "0", "0"}));
        QTRY_COMPARE(statsCells(table, QStringLiteral("Count")), (QStringList{"1", "1", "2"}));
        QCOMPARE(panel->limitBox()->suffix(), QStringLiteral(" mph"));
        dialog.ShowLoggedRecords(logRecords(), QStringLiteral("12345"));
        QCOMPARE(panel->series().measurements(), 2);
        QTest::mouseClick(panel->view()->viewport(), Qt::LeftButton, Qt::NoModifier,
                          viewPosition(panel, panel->series().receding().points.at(0)));
        QCOMPARE(dialog.form().treeWidgetLiveData->currentIndex().row(), 1);
    }

    // Save Chart saves the chart shown (over time or the distribution) at its size on screen;
    // a name without a picture's suffix becomes a PNG; a failed write is said.
    void saveChart_data()
    {
        QTest::addColumn<int>("view");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("saved");
        QTest::newRow("speed over time, PNG") << 0 << "time.png" << "time.png";
        QTest::newRow("distribution, no suffix") << 1 << "distribution" << "distribution.png";
        QTest::newRow("distribution, SVG") << 1 << "distribution.svg" << "distribution.svg";
        QTest::newRow("unwritable") << 0 << "no-dir/time.png" << QString();
    }
    void saveChart()
    {
        QFETCH(int, view);
        QFETCH(QString, chosen);
        QFETCH(QString, saved);
        ChartWindow w;
        RecordingOperator &op = w.op;
        SpeedChartPanel *panel = w.panel;
        panel->viewChoice()->setCurrentIndex(view);
        QWidget *shown = view == 0 ? static_cast<QWidget *>(panel->view()) : panel->distribution();
        QVERIFY(QTest::qWaitForWindowExposed(&w.dialog));
        QVERIFY(shown->isVisible());

        QTemporaryDir dir;
        op.fileNames.enqueue(dir.filePath(chosen));
        panel->saveChartButton()->click();
        if (saved.isEmpty()) {
            QCOMPARE(op.messages.size(), 1);
            QVERIFY2(op.messages.at(0).text.startsWith(QLatin1String("The chart could not be saved to ")),
                     qPrintable(op.messages.at(0).text));
            return;
        }
        QVERIFY(op.messages.isEmpty());
        const QString path = dir.filePath(saved);
        if (saved.endsWith(QLatin1String(".svg"))) {
            const QByteArray svg = fileBytes(path);
            QVERIFY(svg.contains("<svg") && svg.contains("85th percentile 78.8 km/h"));
        } else {
            QCOMPARE(QImage(path).size(), shown->size());
        }
    }

    // Save Report writes the PDF of the rows shown, with what the window knows of them: the
    // date filter of the log list.
    void saveReport()
    {
        if (!havePoppler())
            QSKIP("pdftotext and pdfinfo (poppler-utils) are not installed");
        ChartWindow w(false);
        const VantrixForm &ui = w.dialog.form();
        ui.checkBoxAll->setChecked(false);
        ui.dateEditStart->setDate(QDate(2024, 12, 25));
        ui.dateEditEnd->setDate(QDate(2024, 12, 25));
        w.dialog.ShowLoggedRecords(logRecords(), QStringLiteral("12345"));

        QTemporaryDir dir;
        w.op.fileNames.enqueue(dir.filePath(QStringLiteral("study")));
        w.panel->saveReportButton()->click();
        QVERIFY(w.op.messages.isEmpty());
        const QString text = pdfText(dir.filePath(QStringLiteral("study.pdf")));
        QVERIFY2(text.contains(QLatin1String("Speed study: Laser Data Log")), qPrintable(text));
        QCOMPARE(pdfLineCells(text, QStringLiteral("Filter")), (QStringList{"2024-12-25", "to", "2024-12-25"}));
        QCOMPARE(pdfLineCells(text, QStringLiteral("Lidar_Id")), QStringList{"12345"});
        QCOMPARE(pdfLineCells(text, QStringLiteral("Count")), (QStringList{"2", "2", "4"}));
    }

    // plot: a PNG of the asked size, an SVG, and usage errors.
    void plot()
    {
        const QString dump = m_dir.filePath(QStringLiteral("dump.txt"));
        QVERIFY(writeFileBytes(dump, sampledump::kDump));
        const QString png = m_dir.filePath(QStringLiteral("chart.png"));
        CliRun run = runCli({"plot", "--width", "900", "--height", "600", "--limit", "60", "--output", png, dump});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QByteArray("2 of 2 measurements above 60 km/h\n"));
        QCOMPARE(QImage(png).size(), QSize(900, 600));

        const QString svg = m_dir.filePath(QStringLiteral("chart.svg"));
        QCOMPARE(runCli({"plot", "--output", svg, dump}).exitCode, 0);
        const QByteArray svgText = fileBytes(svg);
        QVERIFY(svgText.contains("<svg") && svgText.contains("viewBox=\"0 0 800 500\"")
                && svgText.contains("measurements above 50 km/h"));

        QCOMPARE(runCli({"plot", "--output", m_dir.filePath(QStringLiteral("chart.pdf")), dump}).exitCode, 2);
        QCOMPARE(runCli({"plot", "--width", "10", "--output", png, dump}).exitCode, 2);
        QCOMPARE(runCli({"plot", "--output", m_dir.filePath(QStringLiteral("no-dir/chart.png")), dump}).exitCode, 1);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestSpeedChart)
#include "tst_speedchart.moc"
