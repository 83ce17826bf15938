#include "lidar/discovery/discovery_bluez.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QMap>
#include <QRegularExpression>
#include <QVariantMap>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/trace.h"
#include "lidar/transport/transport.h"
#include "lidar/transport/profile_bluez.h"

namespace velomark {

namespace {

const QString kBluezService = QStringLiteral("org.bluez");
const QString kDeviceInterface = QStringLiteral("org.bluez.Device1");
const QString kAdapterInterface = QStringLiteral("org.bluez.Adapter1");

// The kernel's RFCOMM device list, as <bluetooth/rfcomm.h> declares it; spelled out here so
// the build needs no Bluetooth development package.
constexpr int kAfBluetooth = 31;
constexpr int kBtprotoRfcomm = 3;
constexpr unsigned long kRfcommGetDevList = _IOR('R', 210, int);
constexpr int kMaxRfcommDevices = 256;

struct RfcommAddress
{
    std::uint8_t b[6];  // least significant byte first
} __attribute__((packed));

struct RfcommDevInfo
{
    std::int16_t id;
    std::uint32_t flags;
    std::uint16_t state;
    RfcommAddress src;
    RfcommAddress dst;
    std::uint8_t channel;
};

struct RfcommDevListReq
{
    std::uint16_t devNum;
    RfcommDevInfo devInfo[kMaxRfcommDevices];
};

// Remote addresses of the bound RFCOMM devices by device number, for kernels whose sysfs
// has no address attribute.
QHash<int, QString> rfcommAddressesFromKernel()
{
    QHash<int, QString> addresses;
    const int sock = ::socket(kAfBluetooth, SOCK_RAW, kBtprotoRfcomm);
    if (sock < 0) {
        trace(lcLidar(), QStringLiteral("RFCOMM device list: %1").arg(qt_error_string(errno)));
        return addresses;
    }
    auto request = std::make_unique<RfcommDevListReq>();
    request->devNum = kMaxRfcommDevices;
    if (::ioctl(sock, kRfcommGetDevList, request.get()) < 0) {
        trace(lcLidar(), QStringLiteral("RFCOMMGETDEVLIST: %1").arg(qt_error_string(errno)));
    } else {
        const int count = std::min<int>(request->devNum, kMaxRfcommDevices);
        for (int i = 0; i < count; ++i) {
            const RfcommDevInfo &info = request->devInfo[i];
            QString text;
            for (int byte = 5; byte >= 0; --byte)
                text += QStringLiteral("%1").arg(info.dst.b[byte], 2, 16, QLatin1Char('0')).toUpper();
            addresses.insert(info.id, text);
        }
    }
    ::close(sock);
    return addresses;
}

// One object of GetManagedObjects: its interfaces with their properties.
using InterfaceMap = QMap<QString, QVariantMap>;

bool readManagedObjects(const QDBusArgument &argument, QMap<QString, InterfaceMap> *objects)
{
    if (argument.currentSignature() != QLatin1String("a{oa{sa{sv}}}"))
        return false;
    argument.beginMap();
    while (!argument.atEnd()) {
        QDBusObjectPath path;
        InterfaceMap interfaces;
        argument.beginMapEntry();
        argument >> path;
        argument.beginMap();
        while (!argument.atEnd()) {
            QString name;
            QVariantMap properties;
            argument.beginMapEntry();
            argument >> name >> properties;
            argument.endMapEntry();
            interfaces.insert(name, properties);
        }
        argument.endMap();
        argument.endMapEntry();
        objects->insert(path.path(), interfaces);
    }
    argument.endMap();
    return true;
}

}  // namespace

BluezSource::BluezSource(const QDBusConnection &bus, const QString &sysfsRoot, const QString &devRoot)
    : m_bus(bus), m_sysfsRoot(sysfsRoot), m_devRoot(devRoot)
{
}

QString BluezSource::sysfsRootFromEnvironment()
{
    const QString root = qEnvironmentVariable("VELOMARK_SYSFS_ROOT");
    return root.isEmpty() ? QStringLiteral("/") : root;
}

QString BluezSource::compactAddress(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral("^[0-9A-Fa-f]{2}(:[0-9A-Fa-f]{2}){5}$"));
    const QString trimmed = text.trimmed();
    if (!form.match(trimmed).hasMatch())
        return QString();
    return trimmed.toUpper().remove(QLatin1Char(':'));
}

namespace {

// BlueZ's objects with their interfaces; false with the reason ("ErrorName: text") when BlueZ
// did not answer or answered something else.
bool fetchManagedObjects(const QDBusConnection &bus, QMap<QString, InterfaceMap> *objects,
                         QString *errorName, QString *errorText)
{
    const QDBusMessage call = QDBusMessage::createMethodCall(
        kBluezService, QStringLiteral("/"), QStringLiteral("org.freedesktop.DBus.ObjectManager"),
        QStringLiteral("GetManagedObjects"));
    const QDBusMessage reply = bus.call(call, QDBus::Block, BluezSource::kBusTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1
        && readManagedObjects(reply.arguments().at(0).value<QDBusArgument>(), objects))
        return true;
    if (reply.type() == QDBusMessage::ErrorMessage) {
        *errorName = reply.errorName();
        *errorText = reply.errorMessage();
    } else {
        *errorName = QStringLiteral("org.freedesktop.DBus.Error.InvalidSignature");
        *errorText = QStringLiteral("unexpected reply from %1").arg(kBluezService);
    }
    trace(lcLidar(), QStringLiteral("GetManagedObjects: %1: %2").arg(*errorName, *errorText));
    return false;
}

// Whether BlueZ can connect the device's serial port: it offers the profile, or BlueZ has not
// learnt its services yet and ConnectProfile will find out.
bool offersSerialPort(const QVariantMap &device)
{
    const QStringList uuids = device.value(QStringLiteral("UUIDs")).toStringList();
    return uuids.isEmpty() || uuids.contains(BluezProfile::kSerialPortUuid, Qt::CaseInsensitive);
}

}  // namespace

QString BluezSource::devicePath(const QDBusConnection &bus, const QString &address, QString *errorName,
                                QString *errorText)
{
    QMap<QString, InterfaceMap> objects;
    if (!fetchManagedObjects(bus, &objects, errorName, errorText))
        return QString();
    const QString wanted = compactAddress(address);
    for (auto object = objects.cbegin(); !wanted.isEmpty() && object != objects.cend(); ++object) {
        const auto device = object->constFind(kDeviceInterface);
        if (device != object->cend()
            && compactAddress(device->value(QStringLiteral("Address")).toString()) == wanted)
            return object.key();
    }
    *errorName = QStringLiteral("org.bluez.Error.DoesNotExist");
    *errorText = QStringLiteral("no device %1").arg(address);
    return QString();
}

DeviceLookup BluezSource::devices()
{
    DeviceLookup lookup;
    if (!m_bus.isConnected()) {
        lookup.failure = DeviceLookup::NoService;
        lookup.systemText = m_bus.lastError().message();
        trace(lcLidar(), QStringLiteral("System bus: %1").arg(lookup.systemText));
        return lookup;
    }

    QMap<QString, InterfaceMap> objects;
    QString errorName;
    if (!fetchManagedObjects(m_bus, &objects, &errorName, &lookup.systemText)) {
        lookup.failure = DeviceLookup::NoService;
        return lookup;
    }

    bool adapterSeen = false;
    // QMap keeps the objects sorted by path, so the list order does not depend on the bus.
    for (auto object = objects.cbegin(); object != objects.cend(); ++object) {
        if (object->contains(kAdapterInterface))
            adapterSeen = true;
        const auto device = object->constFind(kDeviceInterface);
        if (device == object->cend())
            continue;
        // Only devices the system remembers count, as on Windows.
        if (!device->value(QStringLiteral("Paired")).toBool())
            continue;
        QString name = device->value(QStringLiteral("Name")).toString();
        if (name.isEmpty())
            name = device->value(QStringLiteral("Alias")).toString();
        const QString address = compactAddress(device->value(QStringLiteral("Address")).toString());
        if (address.isEmpty()) {
            trace(lcLidar(), QStringLiteral("%1: no usable address").arg(object.key()));
            continue;
        }
        // Without a bound tty the lidar is still reached through BlueZ's profile interface.
        const QString directPort = offersSerialPort(*device) ? bluetoothPortName(address) : QString();
        lookup.devices.append({name, address, directPort});
    }
    if (!adapterSeen) {
        lookup.failure = DeviceLookup::NoService;
        lookup.systemText = QStringLiteral("no Bluetooth adapter");
        lookup.devices.clear();
        trace(lcLidar(), QStringLiteral("GetManagedObjects: no %1").arg(kAdapterInterface));
    }
    return lookup;
}

InstanceLookup BluezSource::serialInstances()
{
    InstanceLookup lookup;
    const QDir ttys(QDir(m_sysfsRoot).filePath(QStringLiteral("sys/class/tty")));
    static const QRegularExpression rfcommName(QStringLiteral("^rfcomm(\\d+)$"));

    // Numeric order: rfcomm10 comes after rfcomm9.
    std::vector<std::pair<int, QString>> found;
    const QStringList names = ttys.entryList(QStringList{QStringLiteral("rfcomm*")},
                                             QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        const QRegularExpressionMatch match = rfcommName.match(name);
        if (match.hasMatch())
            found.emplace_back(match.captured(1).toInt(), name);
    }
    std::sort(found.begin(), found.end());
    if (found.empty()) {
        lookup.failure = InstanceLookup::NoEnumeration;
        lookup.systemText = QStringLiteral("no RFCOMM tty in %1").arg(ttys.path());
        return lookup;
    }

    bool kernelAsked = false;
    QHash<int, QString> kernelAddresses;
    for (const auto &[number, name] : found) {
        QFile attribute(ttys.filePath(name + QStringLiteral("/address")));
        QString address;
        if (attribute.open(QIODevice::ReadOnly))
            address = compactAddress(QString::fromLatin1(attribute.readAll()));
        if (address.isEmpty() && !attribute.exists()) {
            // Older kernels show no address attribute; the RFCOMM device list knows it.
            if (!kernelAsked) {
                kernelAddresses = rfcommAddressesFromKernel();
                kernelAsked = true;
            }
            address = kernelAddresses.value(number);
        }
        // The identifier carries the address as the matching expects it.
        const QString identifier = address.isEmpty() ? name : name + QLatin1Char('_') + address;
        lookup.instances.append({identifier, QDir(m_devRoot).filePath(name)});
    }
    return lookup;
}

}  // namespace velomark
