#pragma once
// What the lidar tests share: a port opened on lidar-sim as the logger opens it, and the
// trace lines of the lidar link.
#include <QSerialPort>
#include <QStringList>

namespace simlink {

// True when the tests can run the simulator ($LIDAR_SIM is set).
bool simAvailable();

// Opens the port on a path with the link's settings (57600 8N1, no flow control).
bool openPort(QSerialPort &port, const QString &path, QIODevice::OpenMode mode = QIODevice::ReadWrite);

// Collects the lidar link's trace lines (without their time stamps) while it lives.
class TraceCapture
{
public:
    TraceCapture();
    ~TraceCapture();
    QStringList lines() const;
    bool contains(const QString &text) const;  // a line equal to text
};

}  // namespace simlink
