#include "lidar/queries.h"

#include "common/operatorinterface.h"
#include "common/text.h"
#include "lidar/exchange.h"
#include "lidar/frame.h"
#include "lidar/lidarconnection.h"

namespace velomark {

namespace {

quint8 byteAt(const QByteArray &bytes, int index)
{
    return static_cast<quint8>(bytes.at(index));
}

// The value byte at valueIndex, or the one after it when valueIndex holds the escape byte.
quint8 escapedValue(const QByteArray &reply, int valueIndex)
{
    if (byteAt(reply, valueIndex) == static_cast<quint8>(frame::kEscape))
        return byteAt(reply, valueIndex + 1);
    return byteAt(reply, valueIndex);
}

// The high four bits of a byte taken as a signed 8-bit number.
int signedHighNibble(quint8 value)
{
    return static_cast<qint8>(value) >> 4;
}

bool endsFrame(const QByteArray &reply)
{
    return reply.endsWith(frame::kEtx);
}

}  // namespace

int operationModeFromReply(const QByteArray &reply)
{
    if (reply.isEmpty())
        return query::kNoAnswer;
    if (reply.size() < 5)
        return query::kInvalid;
    if (byteAt(reply, 0) != 0x02 || byteAt(reply, 1) != frame::kQuery
        || byteAt(reply, 2) != frame::kOperationMode || !endsFrame(reply))
        return query::kNoAnswer;
    const int mode = signedHighNibble(escapedValue(reply, 3));
    return mode >= 0 && mode <= 3 ? mode : query::kInvalid;
}

int outputFormatFromReply(const QByteArray &reply, int lidarType)
{
    if (reply.isEmpty())
        return query::kNoAnswer;
    if (reply.size() < 6)
        return query::kInvalid;
    // The queried parameter 0x03 stands escaped in the reply, as in the query.
    if (byteAt(reply, 0) != 0x02 || byteAt(reply, 1) != frame::kQuery
        || byteAt(reply, 2) != static_cast<quint8>(frame::kEscape)
        || byteAt(reply, 3) != frame::kOutputFormat || !endsFrame(reply))
        return query::kInvalid;
    const quint8 value = escapedValue(reply, 4);
    switch (lidarType) {
    case 2:
    case 5:
        return value & 0x0F;
    case 0:
    case 1:
    case 4:
        return signedHighNibble(value);
    default:
        return query::kInvalid;
    }
}

int QueryLidarOperationMode(LidarChannel &channel, OperatorInterface &op)
{
    const QString readLabel = QStringLiteral("QueryLidartrOperationMode");
    channel.purge(Purge::Both);
    if (!WritePort(channel, operationModeQueryFrame(), QStringLiteral("QueryLidarrOperationMode"), op))
        return query::kNoAnswer;
    const QByteArray reply = ReadPort(channel, timeout::kReply, -1, readLabel,
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
    LidarChannel link = connection.channel();
    return QueryLidarOperationMode(link, connection.operatorInterface());
}

int QueueLidarOutputFormat(LidarChannel &channel, int lidarType, OperatorInterface &op)
{
    const QString label = QStringLiteral("QueueLidarrOutputFormat");
    channel.purge(Purge::Both);
    if (!WritePort(channel, outputFormatQueryFrame(), label, op))
        return query::kNoAnswer;
    // A lidar that streams records once it is asked for its format may send them straight
    // after the reply: they stay in the port for the live reader.
    const QByteArray reply = ReadPort(channel, timeout::kReply, -1, label,
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
    LidarChannel link = connection.channel();
    return QueueLidarOutputFormat(link, connection.lidarType, connection.operatorInterface());
}

}  // namespace velomark
