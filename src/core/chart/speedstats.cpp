#include "chart/speedstats.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

#include "log/logrows.h"

namespace velomark {

namespace {

constexpr double kKmPerMile = 1.609344;
constexpr int kPaceWidth = 10;
constexpr int kBinWidth = 5;
// No lidar measures this fast; a higher number (a mistyped file) would only blow up the histogram.
constexpr int kHighestSpeed = 999;

double share(int part, int whole)
{
    return whole > 0 ? 100.0 * part / whole : 0;
}

// Linear interpolation between the closest ranks of sorted speeds, ranks counted from 0 to
// n - 1 (PERCENTILE.INC).
double percentile(const QVector<double> &sorted, double p)
{
    const double rank = (sorted.size() - 1) * p;
    const int below = int(std::floor(rank));
    if (below + 1 >= sorted.size())
        return sorted.at(below);
    return sorted.at(below) + (rank - below) * (sorted.at(below + 1) - sorted.at(below));
}

// A figure with one decimal in ASCII digits whatever the locale.
QString decimal(double value)
{
    return QString::number(value, 'f', 1);
}

struct Group
{
    const char *name;
    const char *title;
    const SpeedGroupStats *stats;
};

QVector<Group> groupsOf(const SpeedStats &stats)
{
    return {{"all", "All", &stats.all},
            {"approaching", "Approaching", &stats.approaching},
            {"receding", "Receding", &stats.receding}};
}

// The figures of a group in the order of the text's lines and the CSV's columns, one decimal;
// empty where the group has none.
QStringList figureTexts(const SpeedGroupStats &group)
{
    if (!group.hasFigures()) {
        QStringList texts{QStringLiteral("0")};
        while (texts.size() < 15)
            texts << QString();
        return texts;
    }
    return {QString::number(group.count),
            decimal(group.min),
            decimal(group.max),
            decimal(group.mean),
            group.hasStdDev() ? decimal(group.stdDev) : QString(),
            decimal(group.p15),
            decimal(group.p50),
            decimal(group.p85),
            decimal(group.p95),
            QString::number(group.paceFrom),
            QString::number(group.paceFrom + kPaceWidth),
            QString::number(group.paceCount),
            decimal(group.paceShare),
            QString::number(group.aboveLimit),
            decimal(group.aboveLimitShare)};
}

int binCount(const SpeedGroupStats &group, int bin)
{
    return bin < group.histogram.size() ? group.histogram.at(bin).count : 0;
}

QJsonValue jsonGroup(const SpeedGroupStats &group)
{
    QJsonObject object{{QStringLiteral("count"), group.count}};
    const bool figures = group.hasFigures();
    const auto figure = [figures](double value) { return figures ? QJsonValue(value) : QJsonValue(); };
    object.insert(QStringLiteral("min"), figure(group.min));
    object.insert(QStringLiteral("max"), figure(group.max));
    object.insert(QStringLiteral("mean"), figure(group.mean));
    object.insert(QStringLiteral("stdDev"), group.hasStdDev() ? QJsonValue(group.stdDev) : QJsonValue());
    object.insert(QStringLiteral("p15"), figure(group.p15));
    object.insert(QStringLiteral("p50"), figure(group.p50));
    object.insert(QStringLiteral("p85"), figure(group.p85));
    object.insert(QStringLiteral("p95"), figure(group.p95));
    if (figures) {
        object.insert(QStringLiteral("pace"), QJsonObject{{QStringLiteral("from"), group.paceFrom},
                                                          {QStringLiteral("to"), group.paceFrom + kPaceWidth},
                                                          {QStringLiteral("count"), group.paceCount},
                                                          {QStringLiteral("share"), group.paceShare}});
        object.insert(QStringLiteral("aboveLimit"), QJsonObject{{QStringLiteral("count"), group.aboveLimit},
                                                                {QStringLiteral("share"), group.aboveLimitShare}});
    } else {
        object.insert(QStringLiteral("pace"), QJsonValue());
        object.insert(QStringLiteral("aboveLimit"), QJsonValue());
    }
    QJsonArray histogram;
    for (const SpeedBin &bin : group.histogram)
        histogram.append(QJsonObject{{QStringLiteral("from"), bin.from},
                                     {QStringLiteral("to"), bin.to},
                                     {QStringLiteral("count"), bin.count}});
    object.insert(QStringLiteral("histogram"), histogram);
    return object;
}

SpeedGroupStats sortedGroupStats(const QVector<double> &speeds, int limit)
{
    SpeedGroupStats stats;
    stats.count = speeds.size();
    if (speeds.isEmpty())
        return stats;
    const int n = speeds.size();
    stats.min = speeds.constFirst();
    stats.max = speeds.constLast();

    double sum = 0;
    for (const double speed : speeds)
        sum += speed;
    stats.mean = sum / n;
    if (n > 1) {
        // Two passes: the squares of the deviations lose nothing to a large mean.
        double squares = 0;
        for (const double speed : speeds)
            squares += (speed - stats.mean) * (speed - stats.mean);
        stats.stdDev = std::sqrt(squares / (n - 1));
    }
    stats.p15 = percentile(speeds, 0.15);
    stats.p50 = percentile(speeds, 0.50);
    stats.p85 = percentile(speeds, 0.85);
    stats.p95 = percentile(speeds, 0.95);

    // The lowest start of a fullest pace is 0 or lies 9 below the whole part of a speed (where
    // that speed enters the interval), so only those starts are tried, in rising order, with
    // both ends of the interval sliding forward over the sorted speeds.
    int first = 0, end = 0, lastStart = -1;
    for (const double speed : speeds) {
        const int start = std::max(0, int(std::floor(speed)) - (kPaceWidth - 1));
        if (start == lastStart)
            continue;
        lastStart = start;
        while (first < n && speeds.at(first) < start)
            ++first;
        while (end < n && speeds.at(end) < start + kPaceWidth)
            ++end;
        if (end - first > stats.paceCount) {
            stats.paceCount = end - first;
            stats.paceFrom = start;
        }
    }
    stats.paceShare = share(stats.paceCount, n);

    const auto firstAbove = std::upper_bound(speeds.cbegin(), speeds.cend(), double(limit));
    stats.aboveLimit = int(speeds.cend() - firstAbove);
    stats.aboveLimitShare = share(stats.aboveLimit, n);

    const int bins = int(std::floor(stats.max / kBinWidth)) + 1;
    stats.histogram.resize(bins);
    for (int i = 0; i < bins; ++i)
        stats.histogram[i] = {i * kBinWidth, (i + 1) * kBinWidth, 0};
    for (const double speed : speeds)
        ++stats.histogram[int(std::floor(speed / kBinWidth))].count;
    return stats;
}

// Sorts whole speeds by counting them when they are small, as a lidar's are.
void sortSpeeds(QVector<int> *speeds)
{
    constexpr int kCountedUpTo = 1 << 16;
    if (speeds->isEmpty())
        return;
    const int top = *std::max_element(speeds->cbegin(), speeds->cend());
    if (top >= kCountedUpTo || top > 4 * speeds->size()) {
        std::sort(speeds->begin(), speeds->end());
        return;
    }
    QVector<int> counts(top + 1, 0);
    for (const int speed : *speeds)
        ++counts[speed];
    int at = 0;
    for (int speed = 0; speed <= top; ++speed) {
        for (int i = 0; i < counts.at(speed); ++i)
            (*speeds)[at++] = speed;
    }
}

}  // namespace

SpeedGroupStats speedGroupStats(QVector<double> speeds, int limit)
{
    std::sort(speeds.begin(), speeds.end());
    return sortedGroupStats(speeds, limit);
}

SpeedStats speedStats(const QVector<QStringList> &rows, int limit, const QString &unit)
{
    // Whole speeds as read, by direction (approaching, receding) and unit (km/h, mph).
    QVector<int> read[2][2];
    for (auto &direction : read) {
        // Only the pages a group fills are ever touched.
        for (QVector<int> &speeds : direction)
            speeds.reserve(rows.size());
    }
    SpeedStats stats;
    stats.limit = limit;
    stats.rowCount = rows.size();
    for (const QStringList &row : rows) {
        int speed = 0;
        bool metric = true;
        if (!readSpeedText(row.value(LogSpeed), &speed, &metric) || speed > kHighestSpeed) {
            ++stats.leftOut;
            continue;
        }
        read[row.value(LogDirection) == QLatin1String("Receding") ? 1 : 0][metric ? 0 : 1].append(speed);
    }
    const int metricRows = read[0][0].size() + read[1][0].size();
    const int imperialRows = read[0][1].size() + read[1][1].size();
    const bool metric = unit.isEmpty() ? metricRows >= imperialRows : unit == QLatin1String("km/h");
    stats.unit = metric ? QStringLiteral("km/h") : QStringLiteral("mph");

    // Converting keeps the order of a unit's speeds, so each direction is the merge of its two
    // units sorted apart, and all speeds the merge of the two directions.
    QVector<double> directions[2];
    for (int direction = 0; direction < 2; ++direction) {
        QVector<double> units[2];
        for (int from = 0; from < 2; ++from) {
            QVector<int> &speeds = read[direction][from];
            sortSpeeds(&speeds);
            const bool inKmh = from == 0;
            units[from].reserve(speeds.size());
            for (const int speed : speeds)
                units[from].append(inKmh == metric ? speed : metric ? speed * kKmPerMile : speed / kKmPerMile);
        }
        directions[direction].resize(units[0].size() + units[1].size());
        std::merge(units[0].cbegin(), units[0].cend(), units[1].cbegin(), units[1].cend(),
                   directions[direction].begin());
    }
    QVector<double> all(directions[0].size() + directions[1].size());
    std::merge(directions[0].cbegin(), directions[0].cend(), directions[1].cbegin(), directions[1].cend(),
               all.begin());
    stats.all = sortedGroupStats(all, limit);
    stats.approaching = sortedGroupStats(directions[0], limit);
    stats.receding = sortedGroupStats(directions[1], limit);
    return stats;
}

QVector<SpeedStatsLine> speedStatsLines(const SpeedStats &stats)
{
    // Each line and the field of figureTexts it shows; the pace's line shows its two ends,
    // fields 9 and 10.
    struct Line
    {
        const char *label;
        int field;
    };
    static const Line kLines[] = {{"Count", 0},           {"Minimum", 1},         {"Maximum", 2},
                                  {"Mean", 3},            {"Std. deviation", 4},  {"15th percentile", 5},
                                  {"Median", 6},          {"85th percentile", 7}, {"95th percentile", 8},
                                  {"Pace", 9},            {"Pace count", 11},     {"Pace share %", 12},
                                  {"Above limit", 13},    {"Above limit %", 14}};
    constexpr int kPaceField = 9;
    const QVector<QStringList> figures{figureTexts(stats.approaching), figureTexts(stats.receding),
                                       figureTexts(stats.all)};
    QVector<SpeedStatsLine> lines;
    for (const Line &figureLine : kLines) {
        SpeedStatsLine line{QLatin1String(figureLine.label), {}};
        for (const QStringList &group : figures) {
            QString cell = group.at(figureLine.field);
            if (figureLine.field == kPaceField && !cell.isEmpty())
                cell += QLatin1Char('-') + group.at(kPaceField + 1);
            line.cells << (cell.isEmpty() ? QStringLiteral("-") : cell);
        }
        lines.append(line);
    }
    return lines;
}

QString speedStatsText(const SpeedStats &stats)
{
    const QVector<Group> groups = groupsOf(stats);
    QString text = QStringLiteral("Speeds in %1, limit %2 %1: %3 rows, %4 left out without a valid speed\n\n")
                       .arg(stats.unit)
                       .arg(stats.limit)
                       .arg(stats.rowCount)
                       .arg(stats.leftOut);
    const auto line = [&text](const QString &label, const QStringList &cells) {
        text += label.leftJustified(17);
        for (const QString &cell : cells)
            text += cell.rightJustified(13);
        text += QLatin1Char('\n');
    };
    QStringList titles;
    for (const Group &group : groups)
        titles << QLatin1String(group.title);
    line(QString(), titles);
    // The text's columns are All, Approaching, Receding.
    for (const SpeedStatsLine &figureLine : speedStatsLines(stats))
        line(figureLine.label, {figureLine.cells.at(2), figureLine.cells.at(0), figureLine.cells.at(1)});
    text += QLatin1Char('\n');
    line(QStringLiteral("Histogram"), titles);
    for (int bin = 0; bin < stats.all.histogram.size(); ++bin) {
        const SpeedBin &range = stats.all.histogram.at(bin);
        QStringList cells;
        for (const Group &group : groups)
            cells << QString::number(binCount(*group.stats, bin));
        line(QStringLiteral("%1-%2").arg(range.from).arg(range.to), cells);
    }
    return text;
}

QByteArray speedStatsCsv(const SpeedStats &stats)
{
    QString text = QStringLiteral("group,unit,limit,count,min,max,mean,stdDev,p15,p50,p85,p95,paceFrom,paceTo,"
                                  "paceCount,paceShare,aboveLimit,aboveLimitShare\n");
    const QVector<Group> groups = groupsOf(stats);
    for (const Group &group : groups) {
        const QStringList figures = figureTexts(*group.stats);
        text += QStringList{QLatin1String(group.name), stats.unit, QString::number(stats.limit)}.join(QLatin1Char(','))
                + QLatin1Char(',') + figures.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    text += QStringLiteral("\nfrom,to,all,approaching,receding\n");
    for (int bin = 0; bin < stats.all.histogram.size(); ++bin) {
        const SpeedBin &range = stats.all.histogram.at(bin);
        text += QStringLiteral("%1,%2").arg(range.from).arg(range.to);
        for (const Group &group : groups)
            text += QLatin1Char(',') + QString::number(binCount(*group.stats, bin));
        text += QLatin1Char('\n');
    }
    return text.toUtf8();
}

QByteArray speedStatsJson(const SpeedStats &stats)
{
    QJsonObject groups;
    for (const Group &group : groupsOf(stats))
        groups.insert(QLatin1String(group.name), jsonGroup(*group.stats));
    const QJsonObject root{{QStringLiteral("unit"), stats.unit},
                           {QStringLiteral("limit"), stats.limit},
                           {QStringLiteral("leftOut"), stats.leftOut},
                           {QStringLiteral("groups"), groups}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

}  // namespace velomark
