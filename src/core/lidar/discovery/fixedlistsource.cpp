#include "lidar/discovery/discovery.h"

namespace velomark {

FixedListSource::FixedListSource(const QString &spec)
{
    int index = 0;
    for (const QString &item : spec.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const int equals = item.indexOf(QLatin1Char('='));
        const QString name = (equals < 0 ? item : item.left(equals)).trimmed();
        const QString port = equals < 0 ? QString() : item.mid(equals + 1).trimmed();
        if (name.isEmpty() && port.isEmpty())
            continue;
        const QString address = addressFor(index++);
        m_devices.append({name, address});
        // Shaped like the system's instance identifiers, which carry the address inside.
        m_instances.append({QStringLiteral("VELOMARK_LIDARS\\%1").arg(address), port});
    }
}

QString FixedListSource::addressFor(int index)
{
    return QStringLiteral("0A%1").arg(index + 1, 10, 16, QLatin1Char('0')).toUpper();
}

DeviceLookup FixedListSource::devices()
{
    DeviceLookup lookup;
    lookup.devices = m_devices;
    return lookup;
}

InstanceLookup FixedListSource::serialInstances()
{
    InstanceLookup lookup;
    lookup.instances = m_instances;
    return lookup;
}

}  // namespace velomark
