#pragma once
#include <QList>
#include <QString>

namespace velomark {

// One discovered lidar. The list text of the lidar is its name; the entry is found again
// by that text, first match.
struct LidarEntry
{
    QString address;   // Bluetooth address, 12 upper-case hex digits, no separators
    QString name;      // Bluetooth device name, also the list item's text
    QString portName;  // a device path on Linux, COMn on Windows, or "bluetooth:" + address
};

using LidarList = QList<LidarEntry>;

}  // namespace velomark
