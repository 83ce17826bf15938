#pragma once
// Small pieces shared by the window's tests; fileBytes() reads a whole file.
#include "clirun.h"

inline const QByteArray kLiveHeader =
    "Speed,Range,Direction,Date,Time,GPS_Latitude,GPS_Longitude,Lidar_Id,File_name,Note\n";
