// fuzz-sources: src/core/lidar/discovery/fixedlistsource.cpp
// The lidar list of the environment ("NAME=PORT;NAME=PORT") is typed by hand: any text must
// give one device and one serial instance per entry, paired by an address of their own.
#include <QString>

#include <cstdint>

#include "lidar/discovery/discovery.h"

#include "check.h"

using namespace velomark;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    FixedListSource source(text);
    const DeviceLookup devices = source.devices();
    const InstanceLookup instances = source.serialInstances();
    check(devices.failure == DeviceLookup::None && instances.failure == InstanceLookup::None);
    check(devices.devices.size() == instances.instances.size());
    check(devices.devices.size() <= text.count(QLatin1Char(';')) + 1);
    for (int i = 0; i < devices.devices.size(); ++i) {
        const BluetoothDevice &device = devices.devices.at(i);
        const SerialInstance &instance = instances.instances.at(i);
        check(device.address == FixedListSource::addressFor(i) && device.address.size() == 12);
        check(instance.identifier.endsWith(device.address));
        check(!device.name.isEmpty() || !instance.portName.isEmpty());
        check(device.name == device.name.trimmed() && instance.portName == instance.portName.trimmed());
        check(!device.name.contains(QLatin1Char(';')) && !instance.portName.contains(QLatin1Char(';')));
        check(!device.name.contains(QLatin1Char('=')));
    }
    return 0;
}
