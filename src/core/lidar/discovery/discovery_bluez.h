#pragma once
// The Linux look-ups: paired devices from BlueZ over D-Bus, serial ports from the RFCOMM
// ttys the kernel shows in sysfs. A paired lidar without a tty gets the "bluetooth:" port that
// BlueZ's profile interface connects.
#include <QDBusConnection>
#include <QString>

#include "lidar/discovery/discovery.h"

namespace velomark {

class BluezSource : public DiscoverySource
{
public:
    // A hung bus must never freeze the window for long.
    static constexpr int kBusTimeoutMs = 3000;

    // `bus` is the system bus in production; `sysfsRoot` is the folder that holds
    // sys/class/tty ("/" in production); `devRoot` is the folder of the port names ("/dev").
    BluezSource(const QDBusConnection &bus, const QString &sysfsRoot, const QString &devRoot);

    DeviceLookup devices() override;
    InstanceLookup serialInstances() override;

    // VELOMARK_SYSFS_ROOT when it is set, otherwise "/".
    static QString sysfsRootFromEnvironment();

    // The object path of BlueZ's device with that address; empty when BlueZ has no such
    // device or did not answer within kBusTimeoutMs, with D-Bus's error name and text.
    static QString devicePath(const QDBusConnection &bus, const QString &address, QString *errorName,
                              QString *errorText);

    // "aa:bb:cc:dd:ee:ff" as 12 upper-case hex digits; empty when the text is no address.
    static QString compactAddress(const QString &text);

private:
    QDBusConnection m_bus;
    QString m_sysfsRoot;
    QString m_devRoot;
};

}  // namespace velomark
