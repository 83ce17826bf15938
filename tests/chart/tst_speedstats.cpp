#include <QtTest>

#include <QStandardPaths>

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

// A log of mixed units and both directions, the same every run.
QVector<QStringList> generatedLog()
{
    QVector<QStringList> rows;
    quint32 seed = 12345;
    for (int i = 0; i < 5000; ++i) {
        seed = seed * 1103515245u + 12345u;
        const int speed = 15 + int((seed >> 8) % 50) + int((seed >> 20) % 40);
        const bool metric = (seed >> 4) % 4 != 0;
        const bool receding = (seed >> 6) % 3 == 0;
        rows << row(QString::number(speed) + (metric ? QStringLiteral(" km/h") : QStringLiteral(" mph")),
                    receding ? "Receding" : "Approaching");
    }
    return rows;
}

// The figures of each group as Python's statistics module works them out, in `unit`, of
// the speed texts it reads as valid, against those of speedStatsJson() given as the third
// argument: where they differ (numbers within 1e-9 of each other, relative), or an empty line.
const char *const kPythonFigures = R"(
import json, math, re, statistics, sys
unit, limit, actual = sys.argv[1], int(sys.argv[2]), json.loads(sys.argv[3])
groups = {'all': [], 'approaching': [], 'receding': []}
left_out = 0
for line in sys.stdin:
    text, direction = line.rstrip('\n').split('\t')
    match = re.fullmatch(r'(\d+) (km/h|mph)', text)
    if not match or int(match[1]) > 999:
        left_out += 1
        continue
    v = float(match[1])
    if match[2] != unit:
        v = v * 1.609344 if unit == 'km/h' else v / 1.609344
    groups['all'].append(v)
    groups['receding' if direction == 'Receding' else 'approaching'].append(v)
out = {}
for name, v in groups.items():
    if not v:
        out[name] = dict.fromkeys(['aboveLimit', 'max', 'mean', 'min', 'p15', 'p50', 'p85', 'p95', 'pace', 'stdDev'])
        out[name].update(count=0, histogram=[])
        continue
    q = statistics.quantiles(v, n=20, method='inclusive') if len(v) > 1 else v * 19
    paces = [(sum(1 for x in v if s <= x < s + 10), -s) for s in range(0, int(max(v)) + 1)]
    count, start = max(paces)
    bins = [0] * (int(max(v) // 5) + 1)
    for x in v:
        bins[int(x // 5)] += 1
    above = sum(1 for x in v if x > limit)
    out[name] = {'count': len(v), 'min': min(v), 'max': max(v), 'mean': statistics.mean(v),
                 'stdDev': statistics.stdev(v) if len(v) > 1 else None, 'p15': q[2], 'p50': q[9], 'p85': q[16],
                 'p95': q[18], 'pace': {'from': -start, 'to': 10 - start, 'count': count, 'share': 100 * count / len(v)},
                 'aboveLimit': {'count': above, 'share': 100 * above / len(v)},
                 'histogram': [{'from': 5 * i, 'to': 5 * i + 5, 'count': n} for i, n in enumerate(bins)]}
def mismatch(a, b, where):
    if isinstance(a, (int, float)) and isinstance(b, (int, float)):
        return '' if math.isclose(a, b, rel_tol=1e-9, abs_tol=1e-9) else f'{where}: {a!r}, expected {b!r}'
    if isinstance(a, dict) and isinstance(b, dict) and a.keys() == b.keys():
        return next(filter(None, (mismatch(a[k], b[k], f'{where}/{k}') for k in b)), '')
    if isinstance(a, list) and isinstance(b, list) and len(a) == len(b):
        return next(filter(None, (mismatch(x, y, f'{where}/{i}') for i, (x, y) in enumerate(zip(a, b)))), '')
    return '' if a == b else f'{where}: differs'
print(mismatch(actual, {'groups': out, 'leftOut': left_out, 'limit': limit, 'unit': unit}, ''))
)";

}  // namespace

Q_DECLARE_METATYPE(QVector<QStringList>)

class TestSpeedStats : public QObject
{
    Q_OBJECT
private slots:
    // The figures of each group and their histograms against Python's statistics module, fed
    // the same speed texts: pace ties and the pace's floor, the unit of the majority or the one
    // asked (a tie goes to km/h), a speed at the limit, rows without a valid speed, and a
    // generated log of both units and directions.
    void figures_data()
    {
        QTest::addColumn<QVector<QStringList>>("rows");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("askedUnit");
        QTest::addColumn<QString>("unit");

        // [22, 32) and [37, 47) both hold two speeds: the lower wins.
        QTest::newRow("pace tie goes to the lowest start")
            << QVector<QStringList>{row("30 km/h"), row("31 km/h"), row("45 km/h"), row("46 km/h"), row("60 km/h")}
            << 100 << "" << "km/h";
        QTest::newRow("pace starts at 0, never below")
            << QVector<QStringList>{row("3 km/h"), row("4 km/h")} << 0 << "" << "km/h";
        const QVector<QStringList> mixed{row("40 mph"), row("30 mph"), row("100 km/h", "Receding")};
        QTest::newRow("mixed units: the majority's, the others converted") << mixed << 60 << "" << "mph";
        QTest::newRow("mixed units, km/h asked") << mixed << 60 << "km/h" << "km/h";
        QTest::newRow("a tie of units goes to km/h")
            << QVector<QStringList>{row("10 mph"), row("20 km/h")} << 50 << "" << "km/h";
        QTest::newRow("rows without a valid speed are left out and counted")
            << QVector<QStringList>{row(""), row("65 knots"), row("-5 km/h"), row("km/h"), row("fast km/h"),
                                    row("1000 mph"), row("20 km/h", "Receding"), row("999 km/h")}
            << 999 << "" << "km/h";
        QTest::newRow("generated log") << generatedLog() << 60 << "" << "km/h";
    }
    void figures()
    {
        QFETCH(QVector<QStringList>, rows);
        QFETCH(int, limit);
        QFETCH(QString, askedUnit);
        QFETCH(QString, unit);
        const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
        if (python.isEmpty())
            QSKIP("python3 is not installed");
        QByteArray input;
        for (const QStringList &speedRow : rows)
            input += speedRow.at(LogSpeed).toUtf8() + '\t' + speedRow.at(LogDirection).toUtf8() + '\n';
        const QByteArray actual = speedStatsJson(speedStats(rows, limit, askedUnit));
        const CliRun run = runProgram(python, {QStringLiteral("-c"), QString::fromLatin1(kPythonFigures), unit,
                                               QString::number(limit), QString::fromUtf8(actual)}, {}, input, 60000);
        QVERIFY2(run.exitCode == 0, run.err.constData());
        QVERIFY2(run.out == "\n", run.out.constData());
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
};

QTEST_GUILESS_MAIN(TestSpeedStats)
#include "tst_speedstats.moc"
