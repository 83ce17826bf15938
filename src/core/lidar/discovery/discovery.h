#pragma once
// Discovery of the paired lidars and of the serial port the system made for each. The
// operating system answers two look-ups (Bluetooth devices; serial-port instances); the
// rest, filtering by name, matching addresses to instances and the operator's messages,
// is the same on every platform and lives here.
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

#include "lidar/lidarentry.h"

namespace velomark {

class OperatorInterface;

// A Bluetooth device the system knows.
struct BluetoothDevice
{
    QString name;
    QString address;  // 12 upper-case hex digits, no separators
    // The port that reaches the device without a serial-port instance ("bluetooth:..."), when
    // the system offers one; a bound instance's port is preferred.
    QString directPort = QString();
};

// One serial-port-profile instance: its identifier holds the device's 12-digit address.
struct SerialInstance
{
    QString identifier;
    QString portName;  // empty when the system names no port for it
};

struct DeviceLookup
{
    enum Failure {
        None,
        SocketLibrary,  // the socket library did not start
        NoService,      // no Bluetooth adapter or service
        LookupBegin,    // the look-up could not begin for another reason
    };
    Failure failure = None;
    QString systemText;         // the system's words for the failure
    QList<BluetoothDevice> devices;
    QStringList fetchErrors;    // system texts of fetch errors the look-up went on after
};

struct InstanceLookup
{
    enum Failure {
        None,
        NoEnumeration,  // the system has no Bluetooth serial ports at all
        OpenFailed,     // the enumeration exists but could not be read
    };
    Failure failure = None;
    QString systemText;
    QList<SerialInstance> instances;  // in enumeration order
};

// The two look-ups only the operating system can answer.
class DiscoverySource
{
public:
    virtual ~DiscoverySource() = default;
    virtual DeviceLookup devices() = 0;
    virtual InstanceLookup serialInstances() = 0;
};

// The fixed list of the environment variable VELOMARK_LIDARS ("NAME=PORT;NAME=PORT"), for
// the demo and the tests. Each entry gets an address of its own, derived from its position.
class FixedListSource : public DiscoverySource
{
public:
    explicit FixedListSource(const QString &spec);
    DeviceLookup devices() override;
    InstanceLookup serialInstances() override;

    // The address the entry at `index` (from 0) of the list is given.
    static QString addressFor(int index);

private:
    QList<BluetoothDevice> m_devices;
    QList<SerialInstance> m_instances;
};

// VELOMARK_LIDARS when it is set, otherwise the platform's own look-ups.
std::unique_ptr<DiscoverySource> createDiscoverySource();

// Runs the whole discovery behind the please-wait window and reports every failure to the
// operator. A lidar takes the port of its serial-port instance, else its direct port. The
// result holds the lidars that have a port, in discovery order; the caller
// shows their names and makes the first row current.
LidarList discoverLidars(DiscoverySource &source, OperatorInterface &op);

// discoverLidars() with the source createDiscoverySource() picks.
LidarList enumerateLidars(OperatorInterface &op);

// The first entry with that name, as the window finds the selected lidar's entry.
std::optional<LidarEntry> findLidar(const LidarList &lidars, const QString &name);

// Discovery followed by findLidar(), for the commands that name a lidar instead of a port.
// When lidars were found but none with that name (or it has no port), the operator is told
// "Lidar NAME: please make sure it is paired and powered on".
std::optional<LidarEntry> discoverLidarByName(const QString &name, OperatorInterface &op);

}  // namespace velomark
