#pragma once
// Small pieces shared by the window's tests.
#include <QFile>

inline const QByteArray kLiveHeader =
    "Speed,Range,Direction,Date,Time,GPS_Latitude,GPS_Longitude,Lidar_Id,File_name,Note\n";

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}
