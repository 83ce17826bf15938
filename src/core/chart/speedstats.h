#pragma once
// The figures of a speed study without widgets: the rows the chart takes in (log list, live
// list, or the rows of a file), per direction and for all rows together.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include "chart/speedseries.h"

namespace velomark {

// One bin of the histogram: the speeds from `from` up to, not including, `to`.
struct SpeedBin
{
    int from = 0;
    int to = 0;
    int count = 0;
};

// The figures of one group of speeds, all in the unit of the SpeedStats that holds them.
// With count 0 every figure is meaningless (hasFigures() is false); the standard deviation
// is that of a sample (divided by n - 1) and exists only from two speeds on (hasStdDev()).
struct SpeedGroupStats
{
    int count = 0;
    double min = 0;
    double max = 0;
    double mean = 0;
    double stdDev = 0;
    // Percentiles by linear interpolation between the closest ranks, inclusive of both ends
    // (as PERCENTILE.INC of a spreadsheet and numpy's default).
    double p15 = 0;
    double p50 = 0;
    double p85 = 0;
    double p95 = 0;
    // The pace: the interval [paceFrom, paceFrom + 10), paceFrom a whole number from 0, that
    // holds the most speeds (the lowest such paceFrom on a tie).
    int paceFrom = 0;
    int paceCount = 0;
    double paceShare = 0;  // percent of count
    // Speeds strictly above the limit.
    int aboveLimit = 0;
    double aboveLimitShare = 0;  // percent of count
    // Bins of 5 from 0 up to the bin of the highest speed, empty bins included.
    QVector<SpeedBin> histogram;

    bool hasFigures() const { return count > 0; }
    bool hasStdDev() const { return count > 1; }
};

struct SpeedStats
{
    QString unit;  // "km/h" or "mph"
    int limit = 0;
    int rowCount = 0;
    int leftOut = 0;  // rows without a valid speed
    SpeedGroupStats all;
    SpeedGroupStats approaching;
    SpeedGroupStats receding;
};

// The figures of the speeds of these rows (texts as the log or live list shows them: speed
// column "65 km/h" or "40 mph", direction column "Approaching" or "Receding"). Speeds are taken
// in `unit` ("km/h" or "mph"); an empty `unit` takes the unit most rows use, km/h on a tie, as
// the chart does. Speeds in the other unit are converted (1 mph = 1.609344 km/h), never rounded.
// A row is counted as receding when its direction says so and as approaching otherwise, as the
// chart draws it; rows without a valid speed (none, or above 999 in its unit) are left out and
// counted.
SpeedStats speedStats(const QVector<QStringList> &rows, int limit, const QString &unit = QString());

// The figures of one group of speeds, in any order (they are sorted here).
SpeedGroupStats speedGroupStats(QVector<double> speeds, int limit);

// One line of the figures for people: its label ("85th percentile") and a cell per group in
// the order Approaching, Receding, All (one decimal, "-" where a group has no such figure).
struct SpeedStatsLine
{
    QString label;
    QStringList cells;
};
QVector<SpeedStatsLine> speedStatsLines(const SpeedStats &stats);

// The figures for people: a table of the three groups (one decimal, "-" where a group has no
// such figure) and the histogram below it, numbers in ASCII digits with a decimal point.
QString speedStatsText(const SpeedStats &stats);
// The same as CSV: a line per group, then an empty line and the histogram (a line per bin,
// the counts of the three groups); empty fields where a group has no such figure.
QByteArray speedStatsCsv(const SpeedStats &stats);
// The figures unrounded as JSON; a group without speeds has count 0 and nulls, and a single
// speed has no standard deviation (null).
QByteArray speedStatsJson(const SpeedStats &stats);

}  // namespace velomark
