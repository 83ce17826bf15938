#pragma once
// A paired lidar reached through BlueZ itself: the serial port profile's RFCOMM socket, which
// BlueZ hands to our profile object. No tty, no root.
#include <memory>

#include "lidar/transport/sockettransport_posix.h"

namespace velomark {

class BluezProfile;

class BluetoothTransport : public SocketTransport
{
    Q_OBJECT
public:
    // address: "AA:BB:CC:DD:EE:FF".
    explicit BluetoothTransport(const QString &address);
    ~BluetoothTransport() override;

    QString connectingText(const QString &lidarName) const override;
    bool open(bool *retry) override;
    void close() override;
    QString description() const override;

private:
    QString m_address;
    std::unique_ptr<BluezProfile> m_profile;
    QString m_devicePath;  // BlueZ's object of the device whose socket is open
};

}  // namespace velomark
