#pragma once
// What the lidar tests share: a simulated lidar listed under one name with a connection to
// it, and the trace lines of the lidar link.
#include <QProcess>
#include <QStringList>

#include "lidar/lidarconnection.h"
#include "lidarsim.h"
#include "recordingoperator.h"

namespace simlink {

inline const QString kName = QStringLiteral("VZQ-20417");

// The operator's messages as "A:text" (application title), "K:text" (logger title) or "title:text".
QStringList shown(const RecordingOperator &op);

// lidar-sim with its arguments, listed under kName for a connection of its own.
struct Bench
{
    explicit Bench(const QStringList &simArgs = {});
    bool start();
    // Opens the port as the logger does, without identifying the lidar.
    bool openPort(QIODevice::OpenMode mode = QIODevice::ReadWrite);
    velomark::LidarChannel channel() { return connection.channel(); }

    LidarSim sim;
    RecordingOperator op;
    velomark::LidarConnection connection{op};
};

// Collects the lidar link's trace lines (without their time stamps) while it lives.
class TraceCapture
{
public:
    TraceCapture();
    ~TraceCapture();
    QStringList lines() const;
    bool contains(const QString &line) const { return lines().contains(line); }
};

// A dbus-daemon of the test's own, stopped with it; address is empty when it did not start.
struct PrivateBus
{
    PrivateBus();
    ~PrivateBus();
    QProcess daemon;
    QString address;
};

}  // namespace simlink
