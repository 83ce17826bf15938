#include "log/logrows.h"

#include "common/text.h"

namespace velomark {

namespace {

const QString kApproaching = QStringLiteral("Approaching");
const QString kReceding = QStringLiteral("Receding");

// Tenths as "%.1f" of tenths / 10 prints them: the integer part, a point, one digit.
template <typename Text>
void appendTenths(Text *text, int tenths)
{
    const qint64 value = tenths;
    const qint64 magnitude = value < 0 ? -value : value;
    if (value < 0)
        text->append("-");
    appendDigits(text, magnitude / 10);
    text->append(".");
    appendDigits(text, magnitude % 10);
}

QString tenthsText(int tenths)
{
    QString text;
    appendTenths(&text, tenths);
    return text;
}

// Writes the digits of a non-negative value, zero-padded to `width`; returns the end.
char *putDigits(char *out, quint64 value, int width)
{
    char digits[24];
    int count = 0;
    do {
        digits[count++] = char('0' + value % 10);
        value /= 10;
    } while (value > 0);
    for (int i = count; i < width; ++i)
        *out++ = '0';
    while (count > 0)
        *out++ = digits[--count];
    return out;
}

char *putText(char *out, const char *text)
{
    while (*text)
        *out++ = *text++;
    return out;
}

// A field of plain ASCII that needs no quotes (every position the decoder writes) goes into
// the line as it is; returns nullptr for any other text, which takes the general way.
char *putPlainField(char *out, const QString &field, const char *limit)
{
    if (field.size() > limit - out)
        return nullptr;
    for (const QChar c : field) {
        const ushort u = c.unicode();
        if (u >= 0x80 || u == ',' || u == '"' || u == '\n' || u == '\r')
            return nullptr;
        *out++ = char(u);
    }
    return out;
}

// One line of the log CSV for a record, appended in UTF-8: the text logCsvLine gives for the
// record's row, written without building the row.
void appendCsvLine(QByteArray *out, const SpeedRecord &record, const QByteArray &lidarIdField)
{
    char line[128];
    const char *const limit = line + sizeof line;
    char *p = putDigits(line, uint(record.speed), 1);
    p = putText(p, record.metric ? ",km/h," : ",mph,");
    const qint64 range = record.range;
    if (range < 0)
        *p++ = '-';
    const quint64 magnitude = quint64(range < 0 ? -range : range);
    p = putDigits(p, magnitude / 10, 1);
    *p++ = '.';
    *p++ = char('0' + magnitude % 10);
    p = putText(p, record.metric ? ",m," : ",ft,");
    p = putText(p, record.direction == 0 ? "Approaching," : "Receding,");
    if (record.dateTime.isValid()) {
        int year = 0, month = 0, day = 0;
        record.dateTime.date().getDate(&year, &month, &day);
        p = putDigits(p, quint64(qMax(year, 0)), 4);
        *p++ = '-';
        p = putDigits(p, quint64(month), 2);
        *p++ = '-';
        p = putDigits(p, quint64(day), 2);
        *p++ = ',';
        const QTime time = record.dateTime.time();
        p = putDigits(p, quint64(time.hour()), 2);
        *p++ = ':';
        p = putDigits(p, quint64(time.minute()), 2);
        *p++ = ':';
        p = putDigits(p, quint64(time.second()), 2);
        *p++ = ',';
    } else {
        p = putText(p, ",,");
    }
    // At most 60 bytes so far; the positions are at most 16 characters each when plain.
    char *const positions = p;
    p = putPlainField(p, record.latitude, limit - 2);
    if (p) {
        *p++ = ',';
        p = putPlainField(p, record.longitude, limit - 1);
    }
    if (p) {
        *p++ = ',';
        out->append(line, int(p - line));
    } else {
        out->append(line, int(positions - line));
        out->append(csvField(record.latitude).toUtf8());
        out->append(',');
        out->append(csvField(record.longitude).toUtf8());
        out->append(',');
    }
    out->append(lidarIdField);
    out->append('\n');
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
        // Records hold the lidar's wall clock, shown as it was logged, never converted.
        row.append(isoDateText(record.dateTime.date()));
        row.append(clockText(record.dateTime.time()));
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

QString titleWithoutRecordCount(const QString &title)
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
    return base;
}

QString titleWithRecordCount(const QString &title, int rowCount, bool incomplete)
{
    return titleWithoutRecordCount(title) + (incomplete ? QStringLiteral(" (%1 Records, incomplete)") : QStringLiteral(" (%1 Records)")).arg(rowCount);
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

void appendLogCsvLines(const QVector<SpeedRecord> &records, const LogDateFilter &filter, const QString &lidarId,
                       QByteArray *csv)
{
    const QByteArray lidarIdField = csvField(lidarId).toUtf8();
    for (const SpeedRecord &record : records) {
        if (filter.shows(record))
            appendCsvLine(csv, record, lidarIdField);
    }
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
