#pragma once
// The lidar's stored log arrives as text: one record per line, every byte of the record as a
// two-digit hexadecimal token, tokens separated by blanks. The decoder turns such a dump into
// measurement records, checking each line's type, length, fields and checksum.
#include <QByteArray>
#include <QVector>

#include "live/speedrecord.h"

namespace velomark {

// Appends the records of every accepted line of the dump to `records`, in line order.
// Rejected lines are only traced (category velomark.log); nothing is shown to the operator.
// The dump ends at its first NUL byte. A record's date and time are the lidar's wall clock as
// logged (see lidarDateTime): never read through the workstation's time zone.
void DecodeLogDump(QByteArray dump, QVector<SpeedRecord> &records);

// The records of a dump, as a new sequence.
QVector<SpeedRecord> decodeLogDump(const QByteArray &dump);

}  // namespace velomark
