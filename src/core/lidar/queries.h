#pragma once
// The parameter queries the Start action makes before live acquisition.
#include <QByteArray>

namespace velomark {

class LidarChannel;
class LidarConnection;
class OperatorInterface;

// Result codes shared by the queries.
namespace query {
constexpr int kInvalid = 4;     // invalid reply
constexpr int kNoAnswer = 5;    // no usable reply
constexpr int kSpeedMode = 1;   // the operation mode live acquisition needs
}  // namespace query

// Operation mode 0..3 from a reply of 5 or more bytes (02 09 05 value ... 03, value escaped
// with 0x10); 4 when the mode is above 3 or the reply has 1 to 4 bytes; 5 when the reply is
// empty or lacks the required bytes.
int operationModeFromReply(const QByteArray &reply);

// Output format from a reply of 6 or more bytes (02 09 10 03 value ... 03): the low four bits
// for types 2 and 5, the high four bits with sign (-8..7) for types 0, 1 and 4; 4 for a short
// reply, a reply without the required bytes or another lidar type; 5 when empty.
int outputFormatFromReply(const QByteArray &reply, int lidarType);

// Queries the operation mode (labels "QueryLidarrOperationMode" for the write,
// "QueryLidartrOperationMode" for the read and the messages).
int QueryLidarOperationMode(LidarChannel &channel, OperatorInterface &op);
int QueryLidarOperationMode(LidarConnection &connection);

// Queries the output format (label "QueueLidarrOutputFormat"), read by the lidar type.
int QueueLidarOutputFormat(LidarChannel &channel, int lidarType, OperatorInterface &op);
int QueueLidarOutputFormat(LidarConnection &connection);

}  // namespace velomark
