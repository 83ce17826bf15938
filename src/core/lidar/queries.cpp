#include "lidar/queries.h"

#include "common/operatorinterface.h"
#include "common/text.h"
#include "lidar/exchange.h"
#include "lidar/frame.h"
#include "lidar/lidarconnection.h"

namespace velomark {

int QueryLidarOperationMode(Transport &link, OperatorInterface &op)
{
    const QString readLabel = QStringLiteral("QueryLidartrOperationMode");
    link.purge(Purge::Both);
    if (!WritePort(link, operationModeQueryFrame(), QStringLiteral("QueryLidarrOperationMode"), op))
        return query::kNoAnswer;
    const QByteArray reply = ReadPort(link, timeout::kReply, -1, readLabel,
                                      replyFrameEnd(QByteArray::fromHex("020905")));
    if (reply.isEmpty()) {
        op.inform(kMessageTitle, readLabel + QStringLiteral(": No response from lidar"));
        return query::kNoAnswer;
    }
    if (reply.size() < 5) {
        op.inform(kMessageTitle, readLabel + QStringLiteral(": Invalid data: \n") + hexBytes(reply));
        return query::kInvalid;
    }
    return operationModeFromReply(reply);
}

int QueryLidarOperationMode(LidarConnection &connection)
{
    Transport &link = *connection.transport();
    return QueryLidarOperationMode(link, connection.operatorInterface());
}

int QueueLidarOutputFormat(Transport &link, int lidarType, OperatorInterface &op)
{
    const QString label = QStringLiteral("QueueLidarrOutputFormat");
    link.purge(Purge::Both);
    if (!WritePort(link, outputFormatQueryFrame(), label, op))
        return query::kNoAnswer;
    // A lidar that streams records once it is asked for its format may send them straight
    // after the reply: they stay in the port for the live reader.
    const QByteArray reply = ReadPort(link, timeout::kReply, -1, label,
                                      replyFrameEnd(QByteArray::fromHex("02091003")));
    if (reply.isEmpty()) {
        op.inform(kMessageTitle, label + QStringLiteral(": No response from lidar"));
        return query::kNoAnswer;
    }
    if (reply.size() < 6) {
        op.inform(kMessageTitle, label + QStringLiteral(": Invalid data: \n") + hexBytes(reply));
        return query::kInvalid;
    }
    return outputFormatFromReply(reply, lidarType);
}

int QueueLidarOutputFormat(LidarConnection &connection)
{
    Transport &link = *connection.transport();
    return QueueLidarOutputFormat(link, connection.lidarType, connection.operatorInterface());
}

}  // namespace velomark
