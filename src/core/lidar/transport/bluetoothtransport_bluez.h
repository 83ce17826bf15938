#pragma once
// A paired lidar reached through BlueZ itself: the serial port profile's RFCOMM socket, which
// BlueZ hands to our profile object. No tty, no root.
#include "lidar/transport/sockettransport_posix.h"

namespace velomark {

class BluetoothTransport : public SocketTransport
{
    Q_OBJECT
public:
    // address: "AA:BB:CC:DD:EE:FF".
    explicit BluetoothTransport(const QString &address);

    QString connectingText(const QString &lidarName) const override;
    // Each attempt registers our profile with BlueZ only while it lasts; closing the socket
    // ends the link.
    bool open(bool *retry) override;
    QString description() const override;

private:
    QString m_address;
};

}  // namespace velomark
