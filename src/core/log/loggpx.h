#pragma once
// The positions of the log as GPX 1.1: one waypoint per row that carries a position, in row
// order, built from the same texts the log list and its CSV show.
#include <QByteArray>
#include <QVector>

#include "log/logrows.h"

namespace velomark {

struct LogGpx
{
    QByteArray text;      // the whole GPX file, UTF-8, line feeds
    int waypoints = 0;    // rows written
    int withoutPosition = 0;  // rows left out: no position, or one that is no number of degrees
};

// Each waypoint: lat/lon in decimal degrees (south and west negative) with the digits of the
// position texts; <time> the lidar's wall clock as logged, without a zone designator, since
// the lidar's zone is unknown; <name> the speed with its unit; <desc> direction and range;
// <src> the Lidar_Id.
LogGpx logGpx(const QVector<LogRow> &rows);

}  // namespace velomark
