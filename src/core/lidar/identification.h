#pragma once
// Reading a lidar's identify reply: its model family and its firmware version.
#include <QByteArray>

namespace velomark {

// Model families; 3 is never produced.
constexpr int kLidarTypeNone = 6;

// The first row of the model table whose text occurs in the reply decides; kLidarTypeNone
// when no model text occurs.
int lidarTypeFromReply(const QByteArray &reply);

struct FirmwareVersion
{
    int major = 0;
    int minor = 0;
};

// The number after "Version" and its separator byte (after the first 7 bytes when "Version"
// is missing), cut at the build marker "\n\rBuild - ". A part that is not a whole decimal
// number reads as 0; without a point both parts come from the whole text.
FirmwareVersion firmwareFromReply(const QByteArray &reply);

// Firmware 9.3 or later takes the framed diagnostic-mode commands.
bool usesFramedDiagCommands(int firmwareMajor, int firmwareMinor);

}  // namespace velomark
