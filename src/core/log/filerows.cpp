#include "log/filerows.h"

#include "live/livedatafile.h"
#include "live/liverow.h"
#include "log/logdecoder.h"

namespace velomark {

namespace {

// The fields of the log CSV and of the live data file, in the order of their headers.
enum LogCsvField { CsvSpeed, CsvSpeedUnit, CsvRange, CsvRangeUnit, CsvDirection, CsvDate, CsvTime, CsvLatitude,
                   CsvLongitude, CsvLidarId };
enum LiveField { LiveSpeed, LiveRange, LiveDirection, LiveDate, LiveTime, LiveLatitude, LiveLongitude, LiveLidarId };

QByteArray firstLine(const QByteArray &bytes)
{
    const int end = bytes.indexOf('\n');
    QByteArray line = end < 0 ? bytes : bytes.left(end + 1);
    // A file saved with Windows line ends has CR LF where the header has LF.
    if (line.endsWith("\r\n"))
        line.remove(line.size() - 2, 1);
    return line;
}

// A number and its unit as one text ("65 km/h"); empty when the number is.
QString withUnit(const QString &number, const QString &unit)
{
    return number.isEmpty() ? number : number + QLatin1Char(' ') + unit;
}

bool passes(const LogDateFilter &filter, const QDate &date)
{
    return filter.allRecords || (date.isValid() && date >= filter.start && date <= filter.end);
}

}  // namespace

RowFileKind rowFileKind(const QByteArray &bytes)
{
    const QByteArray line = firstLine(bytes);
    if (line == kLogCsvHeader)
        return RowFileKind::LogCsv;
    if (line == liveCsvHeader)
        return RowFileKind::LiveData;
    return RowFileKind::Dump;
}

QVector<QStringList> csvLines(const QByteArray &bytes)
{
    const QString text = QString::fromUtf8(bytes);
    QVector<QStringList> lines;
    QStringList fields;
    QString field;
    bool quoted = false;
    bool header = true;
    const auto endLine = [&] {
        fields.append(field);
        field.clear();
        if (!header)
            lines.append(fields);
        header = false;
        fields.clear();
    };
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c != QLatin1Char('"'))
                field += c;
            else if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"'))
                field += text.at(++i);
            else
                quoted = false;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            fields.append(field);
            field.clear();
        } else if (c == QLatin1Char('\n')) {
            endLine();
        } else if (c != QLatin1Char('\r') || i + 1 >= text.size() || text.at(i + 1) != QLatin1Char('\n')) {
            field += c;
        }
    }
    if (!field.isEmpty() || !fields.isEmpty())
        endLine();
    return lines;
}

FileRows fileRows(const QByteArray &bytes, const LogDateFilter &filter, const QString &liveUnit)
{
    FileRows result;
    result.kind = rowFileKind(bytes);
    if (result.kind == RowFileKind::Dump) {
        result.rows = logRows(decodeLogDump(bytes), filter, QString());
        return result;
    }
    const bool live = result.kind == RowFileKind::LiveData;
    // The range's unit follows the speed's, as the lidar gives them.
    const QString rangeUnit = liveUnit == QLatin1String("mph") ? QStringLiteral("ft") : QStringLiteral("m");
    const QVector<QStringList> lines = csvLines(bytes);
    result.rows.reserve(lines.size());
    for (const QStringList &fields : lines) {
        LogRow row;
        if (live) {
            if (!passes(filter, liveRowDate(fields.value(LiveDate))))
                continue;
            row = LogRow{withUnit(fields.value(LiveSpeed), liveUnit), withUnit(fields.value(LiveRange), rangeUnit)};
            for (int field = LiveDirection; field <= LiveLidarId; ++field)
                row.append(fields.value(field));
        } else {
            if (!passes(filter, QDate::fromString(fields.value(CsvDate), Qt::ISODate)))
                continue;
            row = LogRow{withUnit(fields.value(CsvSpeed), fields.value(CsvSpeedUnit)),
                         withUnit(fields.value(CsvRange), fields.value(CsvRangeUnit))};
            for (int field = CsvDirection; field <= CsvLidarId; ++field)
                row.append(fields.value(field));
        }
        result.rows.append(row);
    }
    return result;
}

}  // namespace velomark
