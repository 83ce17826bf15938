#pragma once
#include <QDate>
#include <QString>
#include <QStringList>
#include <Qt>

#include "live/speedrecord.h"

namespace velomark {

// The first line of every live data file.
extern const char liveCsvHeader[];

constexpr int kLiveColumnCount = 8;

// The Lidar_Id of a live row: the last five characters of the connected lidar's name.
QString liveLidarId(const QString &lidarName);

// The File_name field: the data file's path after its last directory separator.
QString liveDataFileName(const QString &dataFilePath);

// The eight column texts of a live row: speed and range with their units, direction, date,
// time, latitude, longitude, Lidar_Id.
QStringList liveRowTexts(const SpeedRecord &record, const QString &lidarName);

// The date of a live row's date text ("2019Oct15", month in the workstation's language);
// invalid for any other text.
QDate liveRowDate(const QString &text);

// How a live row's column is aligned: numbers and positions to the right, the Lidar_Id centred.
Qt::Alignment liveColumnAlignment(int column);

// One line of the live data file, "\n" included: ten fields in the order of liveCsvHeader.
// A field that holds a comma, a double quote or a line break is quoted, so that the note or
// the file name cannot shift the later columns.
QString liveDataLine(const SpeedRecord &record, const QString &lidarName, const QString &fileName,
                     const QString &note);

}  // namespace velomark
