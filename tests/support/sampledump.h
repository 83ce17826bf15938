#pragma once
// A small stored log for the retrieval tests: what the simulated lidar holds, the file that
// lets it hold it, and the log CSV it gives.
#include <QByteArray>
#include <QString>
#include <QTemporaryFile>

namespace sampledump {

// One CRLF line, a record of New Year's midnight, an invalid date (month 13) and a line the
// decoder rejects; the first two lines are 85 bytes.
inline const QByteArray kDump =
    "01 12 25 24 10 30 45 41 00 41 01 F4 01 83\r\n"
    "01 01 01 25 00 00 00 41 00 41 01 F4 01 D0\n"
    "01 13 25 24 10 30 45 41 00 41 01 F4 01 82\n"
    "not a record\n";
inline constexpr int kFirstTwoLines = 85;

// The retrieval tests' simulated lidar, and the frames it receives, as upper-case hex.
inline const QString kLidarName = QStringLiteral("VZQ Sim 54321");
inline const QByteArray kConnect = "020B0B03021E1E03";      // remote on, identify
inline const QByteArray kFramedEnter = "0228280302343403";  // DIAG on, dump start
inline const QByteArray kFramedLeave = "02292903";
inline const QByteArray kRelease = "020C0C03";              // remote off

inline const QByteArray kCsvHeader =
    "Speed,Speed_Unit,Range,Range_Unit,Direction,Date,Time,GPS_Latitude,GPS_Longitude,Lidar_Id\n";

// The CSV lines of the three records, in dump order, for a lidar id.
inline QByteArray csvLine(int record, const QByteArray &lidarId)
{
    static const char *const kLines[] = {"65,km/h,50.0,m,Approaching,2024-12-25,10:30:45,,,",
                                         "65,km/h,50.0,m,Approaching,2025-01-01,00:00:00,,,",
                                         "65,km/h,50.0,m,Approaching,,,,,"};
    return QByteArray(kLines[record]) + lidarId + '\n';
}

inline QByteArray allRecordsCsv(const QByteArray &lidarId)
{
    return kCsvHeader + csvLine(0, lidarId) + csvLine(1, lidarId) + csvLine(2, lidarId);
}

// The dump in a file for --stored-log; it lives as long as the returned object.
inline bool writeStoredLog(QTemporaryFile &file)
{
    return file.open() && file.write(kDump) == kDump.size() && file.flush();
}

}  // namespace sampledump
