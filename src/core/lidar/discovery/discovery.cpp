#include "lidar/discovery/discovery.h"

#include <QHash>

#include "common/operatorinterface.h"
#include "common/trace.h"

#ifdef Q_OS_WIN
#include "lidar/discovery/discovery_win.h"
#else
#include "lidar/discovery/discovery_bluez.h"
#endif

namespace velomark {

namespace {

// Devices of this maker carry these letters in their Bluetooth name, in this case.
const QString kLidarNameMark = QStringLiteral("VZQ");

const QString kNoLidarDevice = QStringLiteral("No lidar device found in this system");

#ifdef Q_OS_WIN
QString fromWide(const std::wstring &text)
{
    return QString::fromStdWString(text);
}

static_assert(int(win::DeviceLookupResult::LookupBegin) == int(DeviceLookup::LookupBegin)
              && int(win::DeviceLookupResult::NoService) == int(DeviceLookup::NoService)
              && int(win::DeviceLookupResult::SocketLibrary) == int(DeviceLookup::SocketLibrary));
static_assert(int(win::InstanceLookupResult::NoEnumeration) == int(InstanceLookup::NoEnumeration)
              && int(win::InstanceLookupResult::OpenFailed) == int(InstanceLookup::OpenFailed));

// The Windows look-ups include no Qt header; this carries their answers over.
class WindowsSource : public DiscoverySource
{
public:
    DeviceLookup devices() override
    {
        const win::DeviceLookupResult found = win::lookUpDevices();
        DeviceLookup lookup;
        lookup.failure = static_cast<DeviceLookup::Failure>(found.failure);
        lookup.systemText = fromWide(found.systemText);
        for (const win::Device &device : found.devices)
            lookup.devices.append({fromWide(device.name), fromWide(device.address)});
        for (const std::wstring &text : found.fetchErrors)
            lookup.fetchErrors.append(fromWide(text));
        return lookup;
    }

    InstanceLookup serialInstances() override
    {
        const win::InstanceLookupResult found = win::lookUpSerialInstances();
        InstanceLookup lookup;
        lookup.failure = static_cast<InstanceLookup::Failure>(found.failure);
        lookup.systemText = fromWide(found.systemText);
        for (const std::wstring &key : found.serviceKeys)
            trace(lcLidar(), fromWide(key));
        for (const win::Instance &instance : found.instances)
            lookup.instances.append({fromWide(instance.identifier), fromWide(instance.portName)});
        return lookup;
    }
};
#endif

}  // namespace

std::unique_ptr<DiscoverySource> createDiscoverySource()
{
    if (qEnvironmentVariableIsSet("VELOMARK_LIDARS"))
        return std::make_unique<FixedListSource>(qEnvironmentVariable("VELOMARK_LIDARS"));
#ifdef Q_OS_WIN
    return std::make_unique<WindowsSource>();
#else
    return std::make_unique<BluezSource>(QDBusConnection::systemBus(),
                                         BluezSource::sysfsRootFromEnvironment(),
                                         QStringLiteral("/dev"));
#endif
}

LidarList discoverLidars(DiscoverySource &source, OperatorInterface &op)
{
    const QString title = applicationTitle();
    op.showWait(QStringLiteral("Searching for lidar devices, please wait ..."));

    const DeviceLookup lookup = source.devices();
    switch (lookup.failure) {
    case DeviceLookup::None:
        break;
    case DeviceLookup::SocketLibrary:
        op.inform(title, QStringLiteral("WSAStartup : %1").arg(lookup.systemText));
        op.closeWait();
        return {};
    case DeviceLookup::NoService:
        op.inform(title, QStringLiteral("No Bluetooth adapter/service found in the system"));
        op.closeWait();
        return {};
    case DeviceLookup::LookupBegin:
        op.inform(title, QStringLiteral("WSALookupServiceBegin : %1").arg(lookup.systemText));
        op.closeWait();
        return {};
    }
    for (const QString &text : lookup.fetchErrors)
        op.inform(title, QStringLiteral("WSALookupServiceNext : %1").arg(text));

    LidarList working;
    QHash<int, QString> directPorts;  // by position in working
    for (const BluetoothDevice &device : lookup.devices) {
        if (!device.name.contains(kLidarNameMark, Qt::CaseSensitive))
            continue;
        working.append({device.address, device.name, QString()});
        if (!device.directPort.isEmpty())
            directPorts.insert(working.size() - 1, device.directPort);
        trace(lcLidar(), QStringLiteral("Found: %1 (%2)").arg(device.name, device.address));
    }
    if (working.isEmpty()) {
        op.closeWait();
        op.inform(title, kNoLidarDevice);
        return {};
    }

    const InstanceLookup instances = source.serialInstances();
    switch (instances.failure) {
    case InstanceLookup::None:
        break;
    case InstanceLookup::NoEnumeration:
        // Lidars reached without a serial-port instance need none.
        if (!directPorts.isEmpty())
            break;
        op.inform(title, QStringLiteral("No lidar Bluetooth interface found in this system"));
        op.closeWait();
        return {};
    case InstanceLookup::OpenFailed:
        op.inform(title, QStringLiteral("RegOpenKeyExW : %1").arg(instances.systemText));
        op.closeWait();
        return {};
    }

    for (const SerialInstance &instance : instances.instances) {
        trace(lcLidar(), instance.identifier);
        if (instance.portName.isEmpty())
            continue;
        for (LidarEntry &entry : working) {
            // An empty address would occur in every identifier and steal every port.
            if (entry.address.isEmpty()
                || !instance.identifier.contains(entry.address, Qt::CaseSensitive))
                continue;
            entry.portName = instance.portName;
            trace(lcLidar(), QStringLiteral("Lidar port: %1").arg(entry.portName));
            break;
        }
    }

    for (auto direct = directPorts.cbegin(); direct != directPorts.cend(); ++direct) {
        LidarEntry &entry = working[direct.key()];
        if (entry.portName.isEmpty()) {
            entry.portName = direct.value();
            trace(lcLidar(), QStringLiteral("Lidar port: %1").arg(entry.portName));
        }
    }

    LidarList lidars;
    for (const LidarEntry &entry : qAsConst(working)) {
        if (!entry.portName.isEmpty())
            lidars.append(entry);
    }
    op.closeWait();
    if (lidars.isEmpty())
        op.inform(title, kNoLidarDevice);
    return lidars;
}

LidarList enumerateLidars(OperatorInterface &op)
{
    const std::unique_ptr<DiscoverySource> source = createDiscoverySource();
    return discoverLidars(*source, op);
}

std::optional<LidarEntry> findLidar(const LidarList &lidars, const QString &name)
{
    for (const LidarEntry &entry : lidars) {
        if (entry.name == name)
            return entry;
    }
    return std::nullopt;
}

std::optional<LidarEntry> discoverLidarByName(const QString &name, OperatorInterface &op)
{
    const LidarList lidars = enumerateLidars(op);
    // Discovery has already told the operator why the list is empty.
    if (lidars.isEmpty())
        return std::nullopt;
    const std::optional<LidarEntry> entry = findLidar(lidars, name);
    if (!entry || entry->portName.isEmpty()) {
        op.inform(applicationTitle(),
                  QStringLiteral("Lidar %1: please make sure it is paired and powered on").arg(name));
        return std::nullopt;
    }
    return entry;
}

}  // namespace velomark
