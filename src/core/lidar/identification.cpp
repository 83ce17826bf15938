#include "lidar/identification.h"

#include <QString>

#include "common/text.h"

namespace velomark {

namespace {

struct ModelRow
{
    const char *text;
    int type;
};

// Order matters: "Orlek" is tested before "BT:Orlek", and "MSP:Brasko" before the RX rows.
constexpr ModelRow kModels[] = {
    {"Orlek", 0},
    {"BT:Orlek", 1},
    {"MSP:Brasko", 2},
    {"RS232:RX:Brasko", 4},
    {"BT:RX:Brasko", 5},
    {"SCI1:RX:Brasko", 5},
    {"SCI2:RX:Brasko", 5},
    {"SCI3:RX:Brasko", 5},
    {"RX:Brasko", 4},
};

int decimalOrZero(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

}  // namespace

int lidarTypeFromReply(const QByteArray &reply)
{
    for (const ModelRow &row : kModels) {
        if (reply.contains(row.text))
            return row.type;
    }
    return kLidarTypeNone;
}

FirmwareVersion firmwareFromReply(const QByteArray &reply)
{
    static const QByteArray versionWord("Version");
    static const QByteArray buildMarker("\n\rBuild - ");
    const int at = reply.indexOf(versionWord);
    // The word "Version" and one separator byte precede the number.
    QByteArray versionBytes = reply.mid(at >= 0 ? at + versionWord.size() + 1 : 7);
    // Cutting (not removing) the build marker keeps a build number off the minor version.
    const int build = versionBytes.indexOf(buildMarker);
    if (build >= 0)
        versionBytes.truncate(build);
    const QString text = QString::fromUtf8(versionBytes).trimmed();

    FirmwareVersion version;
    const int point = text.indexOf(QLatin1Char('.'));
    if (point < 0) {
        version.major = decimalOrZero(text);
        version.minor = decimalOrZero(StripLeadingZeros(text));
    } else {
        version.major = decimalOrZero(text.left(point));
        version.minor = decimalOrZero(StripLeadingZeros(text.mid(point + 1)));
    }
    return version;
}

bool usesFramedDiagCommands(int firmwareMajor, int firmwareMinor)
{
    return firmwareMajor > 9 || (firmwareMajor == 9 && firmwareMinor >= 3);
}

}  // namespace velomark
