#pragma once
// The parameter queries the Start action makes before live acquisition.
#include <QByteArray>

#include "lidar/replies.h"

namespace velomark {

class Transport;
class LidarConnection;
class OperatorInterface;

// Queries the operation mode (labels "QueryLidarrOperationMode" for the write,
// "QueryLidartrOperationMode" for the read and the messages).
int QueryLidarOperationMode(Transport &link, OperatorInterface &op);
int QueryLidarOperationMode(LidarConnection &connection);

// Queries the output format (label "QueueLidarrOutputFormat"), read by the lidar type.
int QueueLidarOutputFormat(Transport &link, int lidarType, OperatorInterface &op);
int QueueLidarOutputFormat(LidarConnection &connection);

}  // namespace velomark
