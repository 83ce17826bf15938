#include "log/logrows.h"

#include "common/text.h"

namespace velomark {

namespace {

const QString kApproaching = QStringLiteral("Approaching");
const QString kReceding = QStringLiteral("Receding");

void appendDigits(QString *text, int value, int width)
{
    char digits[12];
    int count = 0;
    do {
        digits[count++] = char('0' + value % 10);
        value /= 10;
    } while (value > 0 && count < int(sizeof digits));
    for (int i = count; i < width; ++i)
        *text += QLatin1Char('0');
    while (count > 0)
        *text += QLatin1Char(digits[--count]);
}

QString dateText(const QDate &date)
{
    if (date.year() < 1000 || date.year() > 9999)
        return date.toString(QStringLiteral("yyyy-MM-dd"));
    QString text;
    text.reserve(10);
    appendDigits(&text, date.year(), 4);
    text += QLatin1Char('-');
    appendDigits(&text, date.month(), 2);
    text += QLatin1Char('-');
    appendDigits(&text, date.day(), 2);
    return text;
}

QString timeText(const QTime &time)
{
    QString text;
    text.reserve(8);
    appendDigits(&text, time.hour(), 2);
    text += QLatin1Char(':');
    appendDigits(&text, time.minute(), 2);
    text += QLatin1Char(':');
    appendDigits(&text, time.second(), 2);
    return text;
}

// Tenths as "%.1f" of tenths / 10 prints them: the integer part, a point, one digit.
QString tenthsText(int tenths)
{
    const qint64 value = tenths;
    const qint64 magnitude = value < 0 ? -value : value;
    QString text = value < 0 ? QStringLiteral("-") : QString();
    text += QString::number(magnitude / 10);
    text += QLatin1Char('.');
    text += QLatin1Char(char('0' + magnitude % 10));
    return text;
}

// Splits at single blanks, empty parts kept, and gives the first two parts.
void firstTwoParts(const QString &text, QString *first, QString *second)
{
    const int blank = text.indexOf(QLatin1Char(' '));
    if (blank < 0) {
        *first = text;
        second->clear();
        return;
    }
    *first = text.left(blank);
    const int next = text.indexOf(QLatin1Char(' '), blank + 1);
    *second = next < 0 ? text.mid(blank + 1) : text.mid(blank + 1, next - blank - 1);
}

}  // namespace

const char kLogCsvHeader[] =
    "Speed,Speed_Unit,Range,Range_Unit,Direction,Date,Time,GPS_Latitude,GPS_Longitude,Lidar_Id\n";

Qt::Alignment logColumnAlignment(int column)
{
    return column == LogLidarId ? Qt::AlignHCenter : Qt::AlignRight;
}

QString lidarIdOf(const QString &lidarName)
{
    return lastChars(lidarName, 5);
}

LogRow logRowTexts(const SpeedRecord &record, const QString &lidarId)
{
    LogRow row;
    row.reserve(LogColumnCount);
    row.append(QString::number(uint(record.speed)) + (record.metric ? QLatin1String(" km/h") : QLatin1String(" mph")));
    row.append(tenthsText(record.range) + (record.metric ? QLatin1String(" m") : QLatin1String(" ft")));
    row.append(record.direction == 0 ? kApproaching : kReceding);
    if (record.dateTime.isValid()) {
        // Records hold the lidar's local wall time; converting it to this machine's zone
        // would change nothing but cost a time-zone look-up per row.
        row.append(dateText(record.dateTime.date()));
        row.append(timeText(record.dateTime.time()));
    } else {
        row.append(QString());
        row.append(QString());
    }
    row.append(record.latitude);
    row.append(record.longitude);
    row.append(lidarId);
    return row;
}

bool LogDateFilter::shows(const SpeedRecord &record) const
{
    if (allRecords)
        return true;
    if (!record.dateTime.isValid())
        return false;
    const QDate date = record.dateTime.date();
    return date >= start && date <= end;
}

QVector<LogRow> logRows(const QVector<SpeedRecord> &records, const LogDateFilter &filter,
                        const QString &lidarId)
{
    QVector<LogRow> rows;
    rows.reserve(records.size());
    for (const SpeedRecord &record : records) {
        if (filter.shows(record))
            rows.append(logRowTexts(record, lidarId));
    }
    return rows;
}

QString titleWithRecordCount(const QString &title, int rowCount, bool incomplete)
{
    QString base = title;
    for (const QLatin1String tail : {QLatin1String(" Records)"), QLatin1String(" Records, incomplete)")}) {
        if (!base.endsWith(tail))
            continue;
        const int open = base.lastIndexOf(QLatin1String(" ("), base.size() - tail.size());
        const QStringRef number = base.midRef(open + 2, base.size() - tail.size() - open - 2);
        bool digitsOnly = open >= 0 && !number.isEmpty();
        for (QChar c : number)
            digitsOnly = digitsOnly && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        if (digitsOnly)
            base.truncate(open);
    }
    return base + (incomplete ? QStringLiteral(" (%1 Records, incomplete)") : QStringLiteral(" (%1 Records)")).arg(rowCount);
}

QString logCsvLine(const LogRow &row)
{
    QString speed, speedUnit, range, rangeUnit;
    firstTwoParts(row.value(LogSpeed), &speed, &speedUnit);
    firstTwoParts(row.value(LogRange), &range, &rangeUnit);
    QString line;
    line.reserve(96);
    for (const QString &field : {speed, speedUnit, range, rangeUnit}) {
        line += csvField(field);
        line += QLatin1Char(',');
    }
    for (int column = LogDirection; column <= LogLongitude; ++column) {
        line += csvField(row.value(column));
        line += QLatin1Char(',');
    }
    line += csvField(row.value(LogLidarId));
    line += QLatin1Char('\n');
    return line;
}

QByteArray logCsvText(const QVector<LogRow> &rows)
{
    QString text = QLatin1String(kLogCsvHeader);
    text.reserve(text.size() + rows.size() * 80);
    for (const LogRow &row : rows)
        text += logCsvLine(row);
    return text.toUtf8();
}

}  // namespace velomark
