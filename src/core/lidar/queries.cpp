#include "lidar/queries.h"

#include <QIODevice>

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

// Drops the input that came in before the reply. A quick lidar may have answered already, so
// the pending bytes are looked at instead of flushed blind: from the first reply frame start
// (02 09) on they stay.
void dropInputBeforeReply(QIODevice &device, const QByteArray &replyStart)
{
    // Moves what the system holds for the port into the device's buffer, without waiting.
    device.waitForReadyRead(0);
    const QByteArray pending = device.peek(device.bytesAvailable());
    const int start = pending.indexOf(replyStart);
    device.skip(start >= 0 ? start : pending.size());
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
    const QByteArray reply = ReadPort(channel, timeout::kReply, -1, readLabel);
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
    // Only stale input goes: dropping output here could throw the query away before the
    // lidar has taken it, and flushing all input could throw its reply away.
    dropInputBeforeReply(channel.device(), QByteArray::fromHex("0209"));
    const QByteArray reply = ReadPort(channel, timeout::kReply, -1, label);
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
