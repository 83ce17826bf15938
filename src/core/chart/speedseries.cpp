#include "chart/speedseries.h"

#include <cmath>

#include "common/text.h"
#include "live/liverow.h"
#include "log/logrows.h"

namespace velomark {

namespace {

constexpr double kKmPerMile = 1.609344;
constexpr qint64 kSecond = 1000;
constexpr qint64 kMinute = 60 * kSecond;
constexpr qint64 kHour = 60 * kMinute;
constexpr qint64 kDay = 24 * kHour;

// A tick's text: "hh:mm:ss", "hh:mm", "MM-dd hh:mm" or "yyyy-MM-dd" (a step of days).
QString tickText(const QDateTime &when, bool withDate, bool withTime, bool withSeconds)
{
    QString text;
    if (withDate) {
        const QString date = isoDateText(when.date());
        text = withTime ? date.mid(5) : date;
    }
    if (withTime) {
        if (withDate)
            text += QLatin1Char(' ');
        const QString clock = clockText(when.time());
        text += withSeconds ? clock : clock.left(5);
    }
    return text;
}

// The number written by `count` ASCII digits from `from`; -1 when any of them is no digit.
int digitsAt(const QString &text, int from, int count)
{
    int value = 0;
    for (int i = from; i < from + count; ++i) {
        const ushort c = text.at(i).unicode();
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// "yyyy-MM-dd" as the log list writes it, read without a format parser: a chart reads 10^5.
QDate logDate(const QString &text)
{
    if (text.size() != 10 || text.at(4) != QLatin1Char('-') || text.at(7) != QLatin1Char('-'))
        return QDate();
    const int year = digitsAt(text, 0, 4), month = digitsAt(text, 5, 2), day = digitsAt(text, 8, 2);
    return year < 0 || month < 0 || day < 0 ? QDate() : QDate(year, month, day);
}

// "hh:mm:ss" as both lists write it.
QTime clockTime(const QString &text)
{
    if (text.size() != 8 || text.at(2) != QLatin1Char(':') || text.at(5) != QLatin1Char(':'))
        return QTime();
    const int hour = digitsAt(text, 0, 2), minute = digitsAt(text, 3, 2), second = digitsAt(text, 6, 2);
    return hour < 0 || minute < 0 || second < 0 ? QTime() : QTime(hour, minute, second);
}

}  // namespace

bool readSpeedText(const QString &text, int *speed, bool *metric)
{
    // Read digit by digit: the statistics read 10^6 of these texts.
    constexpr int kMaxDigits = 9;
    int value = 0, digits = 0;
    for (; digits < text.size() && digits <= kMaxDigits; ++digits) {
        const ushort c = text.at(digits).unicode();
        if (c < '0' || c > '9')
            break;
        value = value * 10 + (c - '0');
    }
    if (digits == 0 || digits > kMaxDigits || digits >= text.size() || text.at(digits) != QLatin1Char(' '))
        return false;
    const QStringRef unit = text.midRef(digits + 1);
    if (unit == QLatin1String("km/h"))
        *metric = true;
    else if (unit == QLatin1String("mph"))
        *metric = false;
    else
        return false;
    *speed = value;
    return true;
}

QDateTime chartRowTime(const QStringList &row, ChartRows kind)
{
    const QString dateText = row.value(LogDate);
    const QDate date = kind == ChartRows::Log ? logDate(dateText) : liveRowDate(dateText);
    return lidarDateTime(date, clockTime(row.value(LogTime)));
}

SpeedSeries::SpeedSeries(ChartRows kind, int limit) : m_kind(kind), m_limit(limit) {}

SpeedSeries::RowValue SpeedSeries::rowValue(const QStringList &row, ChartRows kind)
{
    RowValue value;
    const QDateTime when = chartRowTime(row, kind);
    if (!when.isValid() || !readSpeedText(row.value(LogSpeed), &value.speed, &value.metric))
        return value;
    value.time = double(when.toMSecsSinceEpoch());
    value.direction = row.value(LogDirection) == QLatin1String("Receding") ? 1 : 0;
    value.valid = true;
    return value;
}

void SpeedSeries::setRows(const QVector<QStringList> &rows)
{
    m_values.clear();
    m_values.reserve(rows.size());
    m_metricRows = m_imperialRows = 0;
    for (const QStringList &row : rows) {
        const RowValue value = rowValue(row, m_kind);
        if (value.valid)
            ++(value.metric ? m_metricRows : m_imperialRows);
        m_values.append(value);
    }
    rebuild();
}

bool SpeedSeries::addRow(const QStringList &row)
{
    const QString before = unit();
    const RowValue value = rowValue(row, m_kind);
    if (value.valid)
        ++(value.metric ? m_metricRows : m_imperialRows);
    m_values.append(value);
    if (unit() != before) {
        rebuild();
        return false;
    }
    addValue(value, m_values.size() - 1);
    return true;
}

void SpeedSeries::setLimit(int limit)
{
    m_limit = limit;
    m_aboveLimit = 0;
    for (const SpeedPoints *points : {&m_approaching, &m_receding}) {
        for (const QPointF &point : points->points)
            m_aboveLimit += point.y() > m_limit ? 1 : 0;
    }
}

void SpeedSeries::rebuild()
{
    m_approaching = {};
    m_receding = {};
    m_rowCount = m_leftOut = m_aboveLimit = 0;
    m_firstTime = m_lastTime = m_topSpeed = 0;
    for (int i = 0; i < m_values.size(); ++i)
        addValue(m_values.at(i), i);
}

void SpeedSeries::addValue(const RowValue &value, int row)
{
    ++m_rowCount;
    if (!value.valid) {
        ++m_leftOut;
        return;
    }
    const bool metricChart = m_metricRows >= m_imperialRows;
    double speed = value.speed;
    if (value.metric != metricChart)
        speed = metricChart ? speed * kKmPerMile : speed / kKmPerMile;
    SpeedPoints &points = value.direction == 1 ? m_receding : m_approaching;
    if (measurements() == 0) {
        m_firstTime = m_lastTime = value.time;
    } else {
        m_firstTime = qMin(m_firstTime, value.time);
        m_lastTime = qMax(m_lastTime, value.time);
    }
    m_topSpeed = qMax(m_topSpeed, speed);
    points.points.append(QPointF(value.time, speed));
    points.rows.append(row);
    if (speed > m_limit)
        ++m_aboveLimit;
}

QString SpeedSeries::title() const
{
    return QStringLiteral("%1 of %2 measurements above %3 %4")
        .arg(m_aboveLimit)
        .arg(measurements())
        .arg(m_limit)
        .arg(unit());
}

int SpeedSeries::rowAt(const QPointF &point) const
{
    for (const SpeedPoints *points : {&m_approaching, &m_receding}) {
        const int index = points->points.indexOf(point);
        if (index >= 0)
            return points->rows.at(index);
    }
    return -1;
}

QVector<TimeTick> timeTicks(double first, double last, int maxTicks)
{
    static const qint64 kSteps[] = {kSecond,     2 * kSecond,  5 * kSecond,  10 * kSecond, 15 * kSecond,
                                    30 * kSecond, kMinute,     2 * kMinute,  5 * kMinute,  10 * kMinute,
                                    15 * kMinute, 30 * kMinute, kHour,       2 * kHour,    3 * kHour,
                                    6 * kHour,   12 * kHour,   kDay,         2 * kDay,     7 * kDay,
                                    14 * kDay,   30 * kDay,    91 * kDay,    365 * kDay};
    const qint64 from = qint64(std::floor(first));
    const qint64 to = qint64(std::ceil(last));
    qint64 step = kSteps[0];
    for (const qint64 candidate : kSteps) {
        step = candidate;
        if ((to - from) / candidate < maxTicks)
            break;
    }
    // The ticks stand on whole steps of the wall clock.
    qint64 at = from - ((from % step) + step) % step;
    if (at < from)
        at += step;
    const bool sameDay = from / kDay == to / kDay;
    QVector<TimeTick> ticks;
    for (; at <= to; at += step) {
        const QDateTime when = QDateTime::fromMSecsSinceEpoch(at, Qt::UTC);
        ticks.append({double(at), tickText(when, !sameDay, step < kDay, step < kMinute)});
    }
    return ticks;
}

}  // namespace velomark
