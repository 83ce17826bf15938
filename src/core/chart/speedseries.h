#pragma once
// The speed chart without widgets: the rows of the log list or of the live list in, the
// points of the two directions, the unit, the limit count and the time ticks out.
#include <QDateTime>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QVector>

namespace velomark {

// Which list the rows come from: their date texts differ ("2024-12-25" in the log list,
// "2024Dec25" in the live list).
enum class ChartRows { Log, Live };

// The lidar's wall clock of a row (held as Qt::UTC, never shifted); invalid when the date or
// the time text names none.
QDateTime chartRowTime(const QStringList &row, ChartRows kind);

// The number and the unit of a row's speed text ("65 km/h", "40 mph": ASCII digits, a blank,
// the unit); false for any other text.
bool readSpeedText(const QString &text, int *speed, bool *metric);

// The points of one direction: x the lidar's wall clock in milliseconds (UTC-held), y the
// speed in the chart's unit, and the list row of each point.
struct SpeedPoints
{
    QVector<QPointF> points;
    QVector<int> rows;
};

// One tick of the time axis: where it stands and its text.
struct TimeTick
{
    double at = 0;
    QString text;
};

class SpeedSeries
{
public:
    SpeedSeries(ChartRows kind = ChartRows::Log, int limit = 0);

    // Starts again from these rows (row i is list row i).
    void setRows(const QVector<QStringList> &rows);
    // Adds the list's next row. Returns false when the unit most rows use changed with it,
    // so that the points already built are in the old unit: the caller builds them again.
    bool addRow(const QStringList &row);
    void setLimit(int limit);

    ChartRows kind() const { return m_kind; }
    int limit() const { return m_limit; }
    // "km/h" or "mph": the unit most rows use (km/h on a tie or without rows).
    QString unit() const { return m_metricRows >= m_imperialRows ? QStringLiteral("km/h") : QStringLiteral("mph"); }
    const SpeedPoints &approaching() const { return m_approaching; }
    const SpeedPoints &receding() const { return m_receding; }
    // Rows drawn, rows left out (no speed, or no valid date and time), points above the limit.
    int measurements() const { return m_approaching.points.size() + m_receding.points.size(); }
    int leftOut() const { return m_leftOut; }
    int aboveLimit() const { return m_aboveLimit; }
    int rowCount() const { return m_rowCount; }
    // "12 of 340 measurements above 50 km/h"
    QString title() const;
    // Lowest and highest time of the points (both 0 without points).
    double firstTime() const { return m_firstTime; }
    double lastTime() const { return m_lastTime; }
    double topSpeed() const { return m_topSpeed; }
    // The list row of a point as drawn; -1 when no point stands there.
    int rowAt(const QPointF &point) const;

private:
    struct RowValue
    {
        double time = 0;
        int speed = 0;
        bool metric = true;
        int direction = 0;
        bool valid = false;
    };
    static RowValue rowValue(const QStringList &row, ChartRows kind);
    void addValue(const RowValue &value, int row);
    void rebuild();

    ChartRows m_kind;
    int m_limit;
    QVector<RowValue> m_values;
    int m_metricRows = 0;
    int m_imperialRows = 0;
    int m_rowCount = 0;
    int m_leftOut = 0;
    int m_aboveLimit = 0;
    double m_firstTime = 0;
    double m_lastTime = 0;
    double m_topSpeed = 0;
    SpeedPoints m_approaching;
    SpeedPoints m_receding;
};

// Ticks of the time axis from `first` to `last` (milliseconds of the lidar's wall clock): at
// most about `maxTicks` round steps (seconds to days), labelled "hh:mm:ss", "hh:mm",
// "MM-dd hh:mm" (a span over midnight) or "yyyy-MM-dd" (steps of days) as the span needs, in
// ASCII digits whatever the locale.
QVector<TimeTick> timeTicks(double first, double last, int maxTicks = 8);

}  // namespace velomark
