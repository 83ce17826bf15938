#pragma once
// A lidar on a serial port: the Bluetooth virtual serial port the system made for it, an
// RFCOMM tty, or the simulator's pseudo-terminal. 57600 baud, 8N1, no flow control.
#include <memory>

#include "lidar/transport/transport.h"

namespace velomark {

// The platform's serial port as a device: QSerialPort on Linux, the Win32 port on Windows.
class SerialDevice;

class SerialTransport : public Transport
{
    Q_OBJECT
public:
    explicit SerialTransport(const QString &portName);
    ~SerialTransport() override;

    // 8 data bits, no parity, one stop bit, no flow control, 57600 baud, in this order.
    QString applySettings() override;

    bool open(bool *retry) override;
    void close() override;
    QString description() const override;
    void purge(Purge which) override;
    bool hasFailed() const override;
    void clearError() override;

protected:
    QIODevice &device() override;

private:
    QString m_portName;
    std::unique_ptr<SerialDevice> m_port;
};

// The name of a lidar entry's port as the system opens it: a device path on Linux as it
// stands, the "\\.\COMn" device form on Windows.
QString serialPortName(const QString &portName);

}  // namespace velomark
