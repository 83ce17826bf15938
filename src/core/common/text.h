#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace velomark {

// While the text begins with "0", has at least two characters and its second character is
// not ".", drops the first character: 0045 -> 45, 000 -> 0, 00.5 -> 0.5; 0.5 and 7 stay.
QString StripLeadingZeros(QString text);

// Each byte as two upper-case hex digits and a blank ("02 0B 0B 03 ").
QString hexBytes(const QByteArray &bytes);

// A comma-separated field: as it stands, unless it holds a comma, a double quote or a line
// break; then it is wrapped in double quotes with inner double quotes doubled.
QString csvField(const QString &field);

// A date-time of the lidar's own clock: its wall-clock date and time exactly as the lidar
// recorded them, held as Qt::UTC so that no time zone of this workstation shifts, skips or
// doubles an hour of it. Valid whenever the date and the time are valid.
QDateTime lidarDateTime(const QDate &date, const QTime &time);

// A wall-clock date-time of the lidar read from text by a QDateTime format ("yyyyMMddhhmmss");
// invalid when the text does not match the format or names no real date and time.
QDateTime lidarDateTimeFromString(const QString &text, const QString &format);

// Appends the decimal digits of a non-negative value, with leading zeros up to `width`: plain
// ASCII digits whatever the locale, for numbers written to files.
void appendDigits(QString *text, qint64 value, int width = 1);
void appendDigits(QByteArray *text, qint64 value, int width = 1);
// "hh:mm:ss" and "yyyy-MM-dd" in ASCII digits whatever the locale.
QString clockText(const QTime &time);
QString isoDateText(const QDate &date);

// The last `count` characters of a text (the whole text when shorter).
QString lastChars(const QString &text, int count);

}  // namespace velomark
