#include <QtTest>

#include "chart/speedseries.h"
#include "live/liverow.h"
#include "log/logrows.h"

using namespace velomark;

namespace {

QStringList logRow(const char *speed, const char *direction = "Approaching", const char *date = "2024-12-25",
                   const char *time = "10:30:45")
{
    return {QLatin1String(speed), QStringLiteral("50.0 m"), QLatin1String(direction), QLatin1String(date),
            QLatin1String(time), QString(), QString(), QStringLiteral("12345")};
}

SpeedRecord liveRecord(int speed, bool metric, int direction, const QDateTime &when)
{
    return SpeedRecord{QString(), QString(), when, direction, speed, 500, 0, metric};
}

}  // namespace

Q_DECLARE_METATYPE(QVector<QStringList>)

class TestSpeedSeries : public QObject
{
    Q_OBJECT
private slots:
    // Rows of the log list in; what the chart draws and counts out.
    void logRows_data()
    {
        QTest::addColumn<QVector<QStringList>>("rows");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<int>("approaching");
        QTest::addColumn<int>("receding");
        QTest::addColumn<int>("leftOut");
        QTest::addColumn<QString>("title");
        QTest::addColumn<double>("topSpeed");

        QTest::newRow("empty list") << QVector<QStringList>{} << 50 << "km/h" << 0 << 0 << 0
                                    << "0 of 0 measurements above 50 km/h" << 0.0;
        QTest::newRow("both directions, limit strictly above")
            << QVector<QStringList>{logRow("65 km/h"), logRow("50 km/h", "Receding"), logRow("51 km/h", "Receding")}
            << 50 << "km/h" << 1 << 2 << 0 << "2 of 3 measurements above 50 km/h" << 65.0;
        QTest::newRow("invalid dates, times and speeds left out and counted")
            << QVector<QStringList>{logRow("65 km/h", "Approaching", "", ""), logRow("65 km/h", "Approaching", "2024-13-25"),
                                    logRow("65 km/h", "Approaching", "2024-12-25", "25:30:45"), logRow(""),
                                    logRow("65 knots"), logRow("70 km/h", "Receding")}
            << 0 << "km/h" << 0 << 1 << 5 << "1 of 1 measurements above 0 km/h" << 70.0;
    }
    void logRows()
    {
        QFETCH(QVector<QStringList>, rows);
        QFETCH(int, limit);
        SpeedSeries series(ChartRows::Log, limit);
        series.setRows(rows);
        QTEST(series.unit(), "unit");
        QTEST(int(series.approaching().points.size()), "approaching");
        QTEST(int(series.receding().points.size()), "receding");
        QTEST(series.leftOut(), "leftOut");
        QTEST(series.title(), "title");
        QFETCH(double, topSpeed);
        QVERIFY(qFuzzyCompare(series.topSpeed() + 1, topSpeed + 1));
        QCOMPARE(series.rowCount(), rows.size());
        // Every point leads back to its own row.
        for (const SpeedPoints *points : {&series.approaching(), &series.receding()}) {
            for (int i = 0; i < points->points.size(); ++i)
                QCOMPARE(series.rowAt(points->points.at(i)), points->rows.at(i));
        }
    }

    // Live rows as the live list shows them, added one by one; the unit follows the majority.
    void liveRowsAdded()
    {
        const QDateTime when(QDate(2024, 12, 25), QTime(10, 30, 45), Qt::UTC);
        SpeedSeries series(ChartRows::Live, 50);
        const QString lidar = QStringLiteral("VZQ 12345");
        // The empty chart speaks km/h; the first mph row turns it.
        QVERIFY(!series.addRow(liveRowTexts(liveRecord(40, false, 0, when), lidar)));
        QVERIFY(series.addRow(liveRowTexts(liveRecord(30, false, 0, when.addSecs(1)), lidar)));
        QVERIFY(series.addRow(liveRowTexts(liveRecord(80, true, 1, when.addSecs(5)), lidar)));
        QCOMPARE(series.unit(), QStringLiteral("mph"));
        QCOMPARE(series.approaching().points.constFirst(), QPointF(double(when.toMSecsSinceEpoch()), 40));
        QCOMPARE(series.receding().points.constFirst().y(), 80 / 1.609344);
        // A tie goes to km/h: the points already built are in the old unit.
        QVERIFY(!series.addRow(liveRowTexts(liveRecord(90, true, 1, when.addSecs(9)), lidar)));
        QCOMPARE(series.unit(), QStringLiteral("km/h"));
        QCOMPARE(series.approaching().points.constFirst().y(), 40 * 1.609344);
        QCOMPARE(series.receding().rows, (QVector<int>{2, 3}));
        QCOMPARE(series.aboveLimit(), 3);
    }

    void timeTicks_data()
    {
        QTest::addColumn<QDateTime>("first");
        QTest::addColumn<QDateTime>("last");
        QTest::addColumn<QStringList>("texts");
        const QDate day(2024, 12, 25);
        QTest::newRow("seconds") << QDateTime(day, QTime(10, 30, 1), Qt::UTC) << QDateTime(day, QTime(10, 30, 40), Qt::UTC)
                                 << QStringList{"10:30:05", "10:30:10", "10:30:15", "10:30:20",
                                                "10:30:25", "10:30:30", "10:30:35", "10:30:40"};
        QTest::newRow("hours") << QDateTime(day, QTime(8, 10), Qt::UTC) << QDateTime(day, QTime(17, 0), Qt::UTC)
                               << QStringList{"10:00", "12:00", "14:00", "16:00"};
        QTest::newRow("days") << QDateTime(day, QTime(8, 0), Qt::UTC) << QDateTime(day.addDays(3), QTime(9, 0), Qt::UTC)
                              << QStringList{"12-25 12:00", "12-26 00:00", "12-26 12:00",
                                             "12-27 00:00", "12-27 12:00", "12-28 00:00"};
        QTest::newRow("weeks") << QDateTime(day, QTime(8, 0), Qt::UTC) << QDateTime(day.addDays(40), QTime(9, 0), Qt::UTC)
                               << QStringList{"2024-12-26", "2025-01-02", "2025-01-09", "2025-01-16",
                                              "2025-01-23", "2025-01-30"};
    }
    void timeTicks()
    {
        QFETCH(QDateTime, first);
        QFETCH(QDateTime, last);
        QStringList texts;
        for (const TimeTick &tick : velomark::timeTicks(double(first.toMSecsSinceEpoch()), double(last.toMSecsSinceEpoch())))
            texts << tick.text;
        QTEST(texts, "texts");
    }
};

QTEST_GUILESS_MAIN(TestSpeedSeries)
#include "tst_speedseries.moc"
