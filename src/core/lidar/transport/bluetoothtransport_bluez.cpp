#include "lidar/transport/bluetoothtransport_bluez.h"

#include "lidar/transport/profile_bluez.h"

namespace velomark {

BluetoothTransport::BluetoothTransport(const QString &address) : m_address(address) {}

QString BluetoothTransport::connectingText(const QString &lidarName) const
{
    return QStringLiteral("Connecting to lidar %1 over Bluetooth, please wait ...").arg(lidarName);
}

bool BluetoothTransport::open(bool *retry)
{
    BluezProfile profile;
    const BluezProfile::Connection connection = profile.connect(m_address);
    if (connection.fd < 0) {
        setErrorText(QStringLiteral("%1: %2").arg(connection.errorName, connection.errorText));
        *retry = connection.mayPass;
        return false;
    }
    // A socket that cannot be made non-blocking would fail the same way again.
    *retry = false;
    return openDescriptor(connection.fd);
}

QString BluetoothTransport::description() const
{
    return bluetoothPortName(QString(m_address).remove(QLatin1Char(':')));
}

}  // namespace velomark
