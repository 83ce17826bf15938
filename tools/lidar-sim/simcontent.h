#pragma once
// Generated content of the simulated lidar: plausible log dump lines and live records.
#include <QByteArray>
#include <QDateTime>

namespace lidarsim {

// A small deterministic generator, so a seed reproduces the same log and records.
class Random
{
public:
    explicit Random(quint32 seed) : state_(seed ? seed : 1) {}
    quint32 next();
    // A value in [low, high].
    int between(int low, int high);

private:
    quint32 state_;
};

// count log records, one line each ("01 12 25 24 ... 83\r\n"), spread over the days before
// now with the newest ones of today, in the lidar's dump format with correct checksums.
QByteArray demoLog(int count, Random &random, const QDateTime &now);

// One binary live record (output format 1): 02, frame type, escaped fields and checksum, 03.
QByteArray binaryLiveRecord(Random &random);
// One "$" text live record (output format 3), ended by "\r\n"; with a valid fix when gps.
QByteArray textLiveRecord(Random &random, bool gps, const QDateTime &now);

}  // namespace lidarsim
