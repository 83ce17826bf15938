#pragma once
#include <QDateTime>
#include <QString>

namespace velomark {

// One measurement, from a live record or from the lidar's stored log.
struct SpeedRecord
{
    static constexpr int kMissing = 32767;

    QString latitude;    // hemisphere letter + "%.8f" degrees, at most 15 characters after it; empty without a position
    QString longitude;   // as latitude
    QDateTime dateTime;  // invalid when the record gives none
    int direction = 0;   // 1 receding, 0 approaching
    int speed = kMissing;  // whole units of the record's unit system
    int range = kMissing;  // tenths of the record's length unit
    int statusBits = 0;  // two low bits of a binary record's status byte; carried only
    bool metric = false; // km/h and metres; else mph and feet
};

}  // namespace velomark
