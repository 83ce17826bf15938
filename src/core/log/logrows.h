#pragma once
// The log list without widgets: which records the date filter lets through, the eight texts
// of a row, the record count in the window title, and the log CSV built from row texts.
#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>
#include <QVector>
#include <Qt>

#include "live/speedrecord.h"

namespace velomark {

enum LogColumn {
    LogSpeed,
    LogRange,
    LogDirection,
    LogDate,
    LogTime,
    LogLatitude,
    LogLongitude,
    LogLidarId,
    LogColumnCount
};

// The texts of one row of the log list, one per column, in column order.
using LogRow = QStringList;

// Columns 0 to 6 are right-aligned, the lidar id centred.
Qt::Alignment logColumnAlignment(int column);

// The Lidar_Id column of a lidar: the last five characters of its name.
QString lidarIdOf(const QString &lidarName);

// The eight texts of a record's row: "65 km/h", "50.0 m", "Approaching", "2024-12-25",
// "10:30:45", latitude, longitude, lidar id.
LogRow logRowTexts(const SpeedRecord &record, const QString &lidarId);

// The date filter of the log tab. With `allRecords` ("Retrieve All Records") every record
// passes; otherwise a record passes when its calendar date, as the lidar logged it, lies from
// `start` to `end`, both days included, whatever its time of day. A record without a valid date never passes the filter.
struct LogDateFilter
{
    bool allRecords = true;
    QDate start;
    QDate end;

    static LogDateFilter all() { return {}; }
    static LogDateFilter between(const QDate &from, const QDate &to) { return {false, from, to}; }
    bool shows(const SpeedRecord &record) const;
};

// The rows of the records that pass the filter, in record order.
QVector<LogRow> logRows(const QVector<SpeedRecord> &records, const LogDateFilter &filter,
                        const QString &lidarId);

// The window title with the list's row count: " (N Records)", or " (N Records, incomplete)"
// for the rows of a cut download, replaces a count suffix that the title already ends with.
QString titleWithRecordCount(const QString &title, int rowCount, bool incomplete = false);

// The title without the count suffix titleWithRecordCount adds (the title as it stands when it
// ends in none).
QString titleWithoutRecordCount(const QString &title);

// First line of the log CSV.
extern const char kLogCsvHeader[];

// One line of the log CSV from a row's texts, ended by a line feed: speed and range are split
// from their units; a field holding a comma, quote or line break is quoted.
QString logCsvLine(const LogRow &row);

// The whole log CSV (header and one line per row) in UTF-8: the log text buffer.
QByteArray logCsvText(const QVector<LogRow> &rows);

// Appends the log CSV lines (no header) of the records that pass the filter, straight from the
// records with no row texts in between: the lines logCsvText(logRows(records, filter, lidarId))
// holds. For dumps of millions of lines (see writeDumpCsv).
void appendLogCsvLines(const QVector<SpeedRecord> &records, const LogDateFilter &filter, const QString &lidarId,
                       QByteArray *csv);

}  // namespace velomark
