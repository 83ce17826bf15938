#include "lidar/transport/bluetoothtransport_bluez.h"

#include "lidar/transport/profile_bluez.h"

namespace velomark {

BluetoothTransport::BluetoothTransport(const QString &address) : m_address(address) {}

BluetoothTransport::~BluetoothTransport()
{
    close();
}

QString BluetoothTransport::connectingText(const QString &lidarName) const
{
    return QStringLiteral("Connecting to lidar %1 over Bluetooth, please wait ...").arg(lidarName);
}

bool BluetoothTransport::open(bool *retry)
{
    if (!m_profile)
        m_profile = std::make_unique<BluezProfile>();
    const BluezProfile::Connection connection = m_profile->connect(m_address);
    if (connection.fd >= 0 && openDescriptor(connection.fd)) {
        m_devicePath = connection.devicePath;
        return true;
    }
    if (connection.fd < 0)
        setErrorText(QStringLiteral("%1: %2").arg(connection.errorName, connection.errorText));
    m_profile->disconnect(connection.devicePath);
    // A BlueZ that does not answer would only make the operator wait again.
    *retry = !connection.hung;
    return false;
}

void BluetoothTransport::close()
{
    SocketTransport::close();
    if (m_profile && !m_devicePath.isEmpty())
        m_profile->disconnect(m_devicePath);
    m_devicePath.clear();
}

QString BluetoothTransport::description() const
{
    return bluetoothPortName(QString(m_address).remove(QLatin1Char(':')));
}

}  // namespace velomark
