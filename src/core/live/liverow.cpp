#include "live/liverow.h"

#include <QDir>
#include <QLocale>

#include "common/text.h"

namespace velomark {

const char liveCsvHeader[] =
    "Speed,Range,Direction,Date,Time,GPS_Latitude,GPS_Longitude,Lidar_Id,File_name,Note\n";

namespace {

QString speedNumber(const SpeedRecord &record)
{
    return record.speed == SpeedRecord::kMissing ? QString() : QString::number(record.speed);
}

QString rangeNumber(const SpeedRecord &record)
{
    return record.range == SpeedRecord::kMissing ? QString()
                                                  : QString::asprintf("%.1f", record.range / 10.0);
}

QString directionText(const SpeedRecord &record)
{
    return record.direction == 1 ? QStringLiteral("Receding") : QStringLiteral("Approaching");
}

// The month is abbreviated in the workstation's language (2019Oct15 under an English locale),
// so the system locale is asked for its name; year and day are ASCII digits in every locale.
QString dateText(const SpeedRecord &record)
{
    if (!record.dateTime.isValid())
        return QString();
    const QDate date = record.dateTime.date();
    QString text;
    appendDigits(&text, date.year(), 4);
    text += QLocale::system().monthName(date.month(), QLocale::ShortFormat);
    appendDigits(&text, date.day(), 2);
    return text;
}

QString timeText(const SpeedRecord &record)
{
    if (!record.dateTime.isValid())
        return QString();
    return clockText(record.dateTime.time());
}

}  // namespace

QString liveLidarId(const QString &lidarName)
{
    return lastChars(lidarName, 5);
}

QString liveDataFileName(const QString &dataFilePath)
{
    // Qt hands out paths with "/" on every platform; the native separator counts as well.
    const int cut = qMax(dataFilePath.lastIndexOf(QLatin1Char('/')),
                         dataFilePath.lastIndexOf(QDir::separator()));
    return dataFilePath.mid(cut + 1);
}

QStringList liveRowTexts(const SpeedRecord &record, const QString &lidarName)
{
    const QString speed = speedNumber(record);
    const QString range = rangeNumber(record);
    return {
        speed.isEmpty() ? speed : speed + (record.metric ? QStringLiteral(" km/h") : QStringLiteral(" mph")),
        range.isEmpty() ? range : range + (record.metric ? QStringLiteral(" m") : QStringLiteral(" ft")),
        directionText(record),
        dateText(record),
        timeText(record),
        record.latitude,
        record.longitude,
        liveLidarId(lidarName),
    };
}

QDate liveRowDate(const QString &text)
{
    if (text.size() < 7)
        return QDate();
    bool yearOk = false, dayOk = false;
    const int year = text.leftRef(4).toInt(&yearOk);
    const int day = text.rightRef(2).toInt(&dayOk);
    const QStringRef month = text.midRef(4, text.size() - 6);
    if (!yearOk || !dayOk)
        return QDate();
    const QLocale locale = QLocale::system();
    for (int m = 1; m <= 12; ++m) {
        if (month == locale.monthName(m, QLocale::ShortFormat))
            return QDate(year, m, day);
    }
    return QDate();
}

Qt::Alignment liveColumnAlignment(int column)
{
    return column == kLiveColumnCount - 1 ? Qt::AlignHCenter : Qt::AlignRight;
}

QString liveDataLine(const SpeedRecord &record, const QString &lidarName, const QString &fileName,
                     const QString &note)
{
    const QStringList fields = {
        speedNumber(record),  rangeNumber(record), directionText(record),
        dateText(record),     timeText(record),    record.latitude,
        record.longitude,     liveLidarId(lidarName), fileName,
        note,
    };
    QStringList written;
    written.reserve(fields.size());
    for (const QString &field : fields)
        written << csvField(field);
    return written.join(QLatin1Char(',')) + QLatin1Char('\n');
}

}  // namespace velomark
