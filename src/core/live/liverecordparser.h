#pragma once
#include <QByteArray>
#include <QDateTime>

#include <optional>

#include "live/speedrecord.h"

namespace velomark {

// One buffer of the live reader as a measurement: a binary record when it begins with 0x02
// (output format 1), a "$" text record when it begins with "$" (output format 3). Only the
// first record of a buffer is read. Returns nothing when the buffer is to be ignored.
// `now` stamps binary records, which carry no date of their own (the workstation's clock); a
// "$" record keeps the lidar's date and time as a wall-clock value (lidarDateTime).
std::optional<SpeedRecord> parseLiveRecord(const QByteArray &buffer, const QDateTime &now);

std::optional<SpeedRecord> parseBinaryLiveRecord(const QByteArray &buffer, const QDateTime &now);
std::optional<SpeedRecord> parseTextLiveRecord(const QByteArray &buffer);

}  // namespace velomark
