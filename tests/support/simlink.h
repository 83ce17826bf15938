#pragma once
// What the lidar tests share: a simulated lidar listed under one name with a connection to
// it, and the trace lines of the lidar link.
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include "lidar/lidarconnection.h"
#include "live/liveacquisition.h"
#include "live/livedatafile.h"
#include "live/livereader.h"
#include "lidarsim.h"
#include "recordingoperator.h"

namespace simlink {

inline const QString kName = QStringLiteral("VZQ-20417");
inline const QString kBluetoothAddress = QStringLiteral("00:11:22:33:44:55");

// kName at kBluetoothAddress as a device of the BlueZ stand-in, doing behaviour on a connect.
inline QString bluezLidar(const QString &behaviour)
{
    return kBluetoothAddress + '=' + kName + '=' + behaviour;
}

// The operator's messages as "A:text" (application title), "K:text" (logger title) or "title:text".
QStringList shown(const RecordingOperator &op);

// lidar-sim with its arguments, listed under kName for a connection of its own.
struct Bench
{
    explicit Bench(const QStringList &simArgs = {}) : sim(simArgs) {}
    bool start();
    // Opens the port as the logger does, without identifying the lidar.
    bool openPort() { return connection.openTransport(connection.lidars.value(0)); }
    velomark::Transport &link() { return *connection.transport(); }

    LidarSim sim;
    RecordingOperator op;
    velomark::LidarConnection connection{op};
};

// A Bench with a data file for a live run: Start's checks as the window runs them, asking for
// the reader once every check passed.
struct LiveBench : Bench
{
    using Bench::Bench;
    // Starts the simulator and accepts dir/live.txt as the data file.
    bool prepare() { return Bench::start() && dataFile.prepare(dir.filePath(QStringLiteral("live.txt")), op); }
    velomark::LiveStartResult start();

    QTemporaryDir dir;
    velomark::LiveDataFile dataFile;
    velomark::rThread reader;
    int readerRequests = 0;
};

// Collects the trace lines of one category, or of every category below "name.*", without their
// time stamps, while it lives.
class TraceCapture
{
public:
    explicit TraceCapture(const char *category = "velomark.lidar");
    ~TraceCapture();
    QStringList lines() const;
};

// The BlueZ stand-in (tests/lidar/mock_bluez.py) on a private dbus-daemon, which this process
// and the programs it starts see as the system bus from busAddress() on. The bus is the
// process's one: the D-Bus library keeps the first system bus address it was given.
class BluezStandIn
{
public:
    // Why the stand-in cannot run here (python3-dbus missing); empty when it can.
    static QString unavailable();
    // The private bus, started on first use; empty when no dbus-daemon started.
    static QString busAddress();
    ~BluezStandIn() { stop(); }
    // mock_bluez.py's arguments (devices as "ADDRESS=NAME=BEHAVIOUR[=FLAGS]"); true once it is
    // ready and owns org.bluez.
    bool start(const QStringList &arguments);
    // Ends it; org.bluez is free again on return.
    void stop();
    // What the stand-in was asked so far, one call a line.
    QStringList calls();

private:
    QProcess m_mock;
    QStringList m_calls;
};

}  // namespace simlink
