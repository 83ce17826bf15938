// The speed-study figures of 10^6 list rows: reading the speed texts, converting the minority
// unit, and the figures of all rows and of each direction (target: under 200 ms); beside it
// the figures of speeds already read, which is the sorting and the pace's sliding window. On a
// shared machine the processor time beside the wall time tells the two apart.
#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "chart/speedstats.h"
#include "log/logrows.h"

namespace {

// Rows as the log list shows them: speeds spread from 20 to 169, a third in mph, both
// directions.
QVector<QStringList> makeRows(int count)
{
    QVector<QStringList> rows;
    rows.reserve(count);
    for (int i = 0; i < count; ++i) {
        const int speed = 20 + int((qint64(i) * 7919) % 150);
        const bool metric = i % 3 != 0;
        rows.append({QString::number(speed) + (metric ? QLatin1String(" km/h") : QLatin1String(" mph")),
                     QStringLiteral("50.0 m"), i & 1 ? QStringLiteral("Receding") : QStringLiteral("Approaching"),
                     QStringLiteral("2025-01-01"), QStringLiteral("10:30:45"), QString(), QString(),
                     QStringLiteral("54321")});
    }
    return rows;
}

struct Timing
{
    double wallMs = 1e300;
    double cpuMs = 1e300;
};

template <typename Step>
Timing bestOf3(Step step)
{
    Timing best;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        const std::clock_t cpu = std::clock();
        timer.start();
        step();
        best.wallMs = std::min(best.wallMs, timer.nsecsElapsed() / 1e6);
        best.cpuMs = std::min(best.cpuMs, (std::clock() - cpu) * 1000.0 / CLOCKS_PER_SEC);
    }
    return best;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::printf("%-10s %-28s %10s %10s %10s %10s\n", "rows", "step", "count", "ms", "cpu ms", "target ms");
    for (const int count : {100000, 1000000}) {
        const QVector<QStringList> rows = makeRows(count);
        velomark::SpeedStats stats;
        const Timing fromRows = bestOf3([&] { stats = velomark::speedStats(rows, 50); });
        std::printf("%-10d %-28s %10d %10.1f %10.1f %10s\n", count, "figures of list rows", stats.all.count,
                    fromRows.wallMs, fromRows.cpuMs, count == 1000000 ? "200" : "-");
        QVector<double> speeds;
        speeds.reserve(count);
        for (int i = 0; i < count; ++i)
            speeds.append(20 + int((qint64(i) * 7919) % 150) + (i % 3 == 0 ? 0.5 : 0.0));
        velomark::SpeedGroupStats group;
        const Timing fromSpeeds = bestOf3([&] { group = velomark::speedGroupStats(speeds, 50); });
        std::printf("%-10d %-28s %10d %10.1f %10.1f %10s\n", count, "figures of one group", group.count,
                    fromSpeeds.wallMs, fromSpeeds.cpuMs, "-");
    }
    return 0;
}
