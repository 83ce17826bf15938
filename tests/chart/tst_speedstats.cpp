#include <QtTest>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <cmath>

#include "chart/speedstats.h"
#include "clirun.h"
#include "golden.h"
#include "log/logrows.h"

using namespace velomark;

namespace {

QStringList row(const QString &speed, const char *direction = "Approaching")
{
    return {speed, QStringLiteral("50.0 m"), QLatin1String(direction), QStringLiteral("2024-12-25"),
            QStringLiteral("10:30:45"), QString(), QString(), QStringLiteral("12345")};
}

QVector<QStringList> kmh(std::initializer_list<int> speeds)
{
    QVector<QStringList> rows;
    for (const int speed : speeds)
        rows << row(QString::number(speed) + QStringLiteral(" km/h"));
    return rows;
}

// The figures of a group in a fixed order, for the table: count, min, max, mean, standard
// deviation (NaN when there is none), p15, p50, p85, p95, pace from, pace count, pace share,
// count above the limit, its share.
QVector<double> figures(const SpeedGroupStats &group)
{
    return {double(group.count), group.min, group.max, group.mean, group.hasStdDev() ? group.stdDev : NAN,
            group.p15, group.p50, group.p85, group.p95, double(group.paceFrom), double(group.paceCount),
            group.paceShare, double(group.aboveLimit), group.aboveLimitShare};
}

QVector<int> binCounts(const SpeedGroupStats &group)
{
    QVector<int> counts;
    for (const SpeedBin &bin : group.histogram)
        counts << bin.count;
    return counts;
}

// A histogram of `size` bins, empty but for the given (bin, count) pairs.
QVector<int> sparseBins(int size, std::initializer_list<QPair<int, int>> filled)
{
    QVector<int> bins(size, 0);
    for (const auto &bin : filled)
        bins[bin.first] = bin.second;
    return bins;
}

// The first figure of the group that differs from the expected one (NaN expects NaN), or
// nothing when all agree.
QString figureMismatch(const SpeedGroupStats &group, const QVector<double> &expected)
{
    const QVector<double> actual = figures(group);
    for (int i = 0; i < actual.size(); ++i) {
        const double wanted = expected.value(i, NAN);
        const bool agrees = std::isnan(wanted) ? std::isnan(actual.at(i))
                                               : std::abs(actual.at(i) - wanted) <= 1e-9 * std::max(1.0, std::abs(wanted));
        if (!agrees)
            return QStringLiteral("figure %1: %2, expected %3").arg(i).arg(actual.at(i), 0, 'g', 17).arg(wanted, 0, 'g', 17);
    }
    return expected.size() == actual.size() ? QString() : QStringLiteral("%1 figures expected").arg(expected.size());
}

}  // namespace

Q_DECLARE_METATYPE(QVector<QStringList>)

class TestSpeedStats : public QObject
{
    Q_OBJECT
private slots:
    // Small tables worked out by hand (means, deviations and percentiles of the mixed units
    // with Python's statistics module): pace ties and the pace's floor, units, a speed at the
    // limit, rows left out. A single speed and an empty direction are the formats' rows; the
    // limit, a pace away from the slowest speeds and the percentiles of a large log are Python's.
    void figures_data()
    {
        QTest::addColumn<QVector<QStringList>>("rows");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("askedUnit");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<int>("leftOut");
        QTest::addColumn<QVector<double>>("all");
        QTest::addColumn<QVector<int>>("histogram");
        QTest::addColumn<int>("approaching");
        QTest::addColumn<int>("receding");

        // [22, 32) and [37, 47) both hold two speeds: the lower wins.
        QTest::newRow("pace tie goes to the lowest start")
            << kmh({30, 31, 45, 46, 60}) << 100 << "" << "km/h" << 0
            << QVector<double>{5, 30, 60, 42.4, std::sqrt(613.2 / 4), 30.6, 45, 51.6, 57.2, 22, 2, 40, 0, 0}
            << sparseBins(13, {{6, 2}, {9, 2}, {12, 1}}) << 5 << 0;

        QTest::newRow("pace starts at 0, never below")
            << kmh({3, 4}) << 0 << "" << "km/h" << 0
            << QVector<double>{2, 3, 4, 3.5, std::sqrt(0.5), 3.15, 3.5, 3.85, 3.95, 0, 2, 100, 2, 100}
            << QVector<int>{2} << 2 << 0;

        const QVector<QStringList> mixed{row("40 mph"), row("30 mph"), row("100 km/h", "Receding")};
        QTest::newRow("mixed units: the majority's, the others converted unrounded")
            << mixed << 60 << "" << "mph" << 0
            << QVector<double>{3, 30, 100 / 1.609344, 44.04570640791113, 16.446106325035526, 33, 40,
                               55.495983456613374, 59.92340730136006, 21, 1, 100.0 / 3, 1, 100.0 / 3}
            << QVector<int>{0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 1} << 2 << 1;
        QTest::newRow("mixed units, km/h asked")
            << mixed << 60 << "km/h" << "km/h" << 0
            << QVector<double>{3, 30 * 1.609344, 100, 70.88469333333333, 26.46744253755797, 53.108352000000004,
                               64.37376, 89.312128, 96.437376, 39, 1, 100.0 / 3, 2, 200.0 / 3}
            << QVector<int>{0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1} << 2 << 1;
        QTest::newRow("a tie of units goes to km/h")
            << QVector<QStringList>{row("10 mph"), row("20 km/h")} << 50 << "" << "km/h" << 0
            << QVector<double>{2, 16.09344, 20, 18.04672, std::sqrt(2 * 1.95328 * 1.95328), 16.679424, 18.04672,
                               19.414016, 19.804672, 11, 2, 100, 0, 0}
            << QVector<int>{0, 0, 0, 1, 1} << 2 << 0;

        QTest::newRow("rows without a valid speed are left out and counted")
            << QVector<QStringList>{row(""), row("65 knots"), row("-5 km/h"), row("km/h"), row("fast km/h"),
                                    row("1000 mph"), row("20 km/h", "Receding"), row("999 km/h")}
            << 999 << "" << "km/h" << 6
            << QVector<double>{2, 20, 999, 509.5, std::sqrt(2 * 489.5 * 489.5), 166.85, 509.5, 852.15, 950.05, 11, 1,
                               50, 0, 0}
            << sparseBins(200, {{4, 1}, {199, 1}}) << 1 << 1;
        QTest::newRow("no valid speed at all")
            << QVector<QStringList>{row("")} << 50 << "" << "km/h" << 1
            << QVector<double>{0, 0, 0, 0, NAN, 0, 0, 0, 0, 0, 0, 0, 0, 0} << QVector<int>{} << 0 << 0;
    }
    void figures()
    {
        QFETCH(QVector<QStringList>, rows);
        QFETCH(int, limit);
        QFETCH(QString, askedUnit);
        QFETCH(QVector<double>, all);
        const SpeedStats stats = speedStats(rows, limit, askedUnit);
        QTEST(stats.unit, "unit");
        QTEST(stats.leftOut, "leftOut");
        QCOMPARE(stats.rowCount, rows.size());
        QCOMPARE(stats.limit, limit);
        const QString mismatch = figureMismatch(stats.all, all);
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
        QTEST(binCounts(stats.all), "histogram");
        QTEST(stats.approaching.count, "approaching");
        QTEST(stats.receding.count, "receding");
        QCOMPARE(stats.approaching.hasFigures(), stats.approaching.count > 0);
        QCOMPARE(stats.receding.hasFigures(), stats.receding.count > 0);
    }

    // The figures as text, CSV and JSON, in tests/data/speed_figures.txt: a direction with a
    // single speed (no deviation), one without any (nulls, dashes), a row without a valid speed.
    void formats()
    {
        QByteArray forms;
        for (const SpeedStats &stats : {speedStats({row("50 km/h"), row("61 km/h", "Receding"), row("71 km/h", "Receding")}, 60),
                                        speedStats({row("30 mph"), row("35 mph"), row("")}, 50)})
            forms += speedStatsText(stats).toUtf8() + '\n' + speedStatsCsv(stats) + '\n' + speedStatsJson(stats) + '\n';
        QCOMPARE(forms, golden(QStringLiteral("speed_figures.txt"), forms));
    }

    // A generated log of mixed units and both directions against Python's statistics module,
    // fed the same speed texts.
    void generatedLogAgainstPython()
    {
        const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
        if (python.isEmpty())
            QSKIP("python3 is not installed");
        QVector<QStringList> rows;
        QByteArray input;
        quint32 seed = 12345;
        for (int i = 0; i < 5000; ++i) {
            seed = seed * 1103515245u + 12345u;
            const int speed = 15 + int((seed >> 8) % 50) + int((seed >> 20) % 40);
            const bool metric = (seed >> 4) % 4 != 0;
            const bool receding = (seed >> 6) % 3 == 0;
            const QString text = QString::number(speed) + (metric ? QStringLiteral(" km/h") : QStringLiteral(" mph"));
            rows << row(text, receding ? "Receding" : "Approaching");
            input += text.toLatin1() + (receding ? " R\n" : " A\n");
        }
        const char *script = R"(
import json, math, statistics, sys
groups = {'all': [], 'approaching': [], 'receding': []}
for line in sys.stdin:
    number, unit, direction = line.split()
    v = float(number) * (1.609344 if unit == 'mph' else 1)
    groups['all'].append(v)
    groups['receding' if direction == 'R' else 'approaching'].append(v)
out = {}
for name, v in groups.items():
    q = statistics.quantiles(v, n=20, method='inclusive')
    paces = [(sum(1 for x in v if s <= x < s + 10), -s) for s in range(0, int(max(v)) + 1)]
    count, start = max(paces)
    bins = [0] * (int(max(v) // 5) + 1)
    for x in v:
        bins[int(x // 5)] += 1
    out[name] = {'figures': [len(v), min(v), max(v), statistics.mean(v), statistics.stdev(v), q[2], q[9],
                             q[16], q[18], -start, count, 100 * count / len(v),
                             sum(1 for x in v if x > 60), 100 * sum(1 for x in v if x > 60) / len(v)],
                 'bins': bins}
print(json.dumps(out))
)";
        const CliRun run = runProgram(python, {QStringLiteral("-c"), QString::fromLatin1(script)}, {}, input, 60000);
        QCOMPARE(run.exitCode, 0);
        const QJsonObject expected = QJsonDocument::fromJson(run.out).object();

        const SpeedStats stats = speedStats(rows, 60);
        QCOMPARE(stats.unit, QStringLiteral("km/h"));
        const QVector<QPair<QString, const SpeedGroupStats *>> groups = {
            {QStringLiteral("all"), &stats.all},
            {QStringLiteral("approaching"), &stats.approaching},
            {QStringLiteral("receding"), &stats.receding}};
        for (const auto &group : groups) {
            const QJsonObject wanted = expected.value(group.first).toObject();
            QVector<double> wantedFigures;
            for (const QJsonValue &figure : wanted.value(QStringLiteral("figures")).toArray())
                wantedFigures << figure.toDouble();
            const QString mismatch = figureMismatch(*group.second, wantedFigures);
            QVERIFY2(mismatch.isEmpty(), qPrintable(group.first + QStringLiteral(", ") + mismatch));
            QVector<int> bins;
            for (const QJsonValue &bin : wanted.value(QStringLiteral("bins")).toArray())
                bins << bin.toInt();
            QCOMPARE(binCounts(*group.second), bins);
        }
    }
};

QTEST_GUILESS_MAIN(TestSpeedStats)
#include "tst_speedstats.moc"
