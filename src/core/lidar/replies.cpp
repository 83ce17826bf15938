#include "lidar/replies.h"

#include "lidar/frame.h"

namespace velomark {

ReplyEnd echoEnd(const QByteArray &command)
{
    return [command](const QByteArray &bytes) {
        const int at = bytes.indexOf(command);
        return at < 0 ? ReplySpan{} : ReplySpan{0, at + command.size(), false};
    };
}

ReplyEnd replyFrameEnd(const QByteArray &frameStart)
{
    return [frameStart](const QByteArray &bytes) {
        const int start = bytes.indexOf(frameStart);
        if (start < 0)
            return ReplySpan{};
        for (int i = start + frameStart.size(); i < bytes.size(); ++i) {
            if (bytes.at(i) == frame::kEscape)
                ++i;
            else if (bytes.at(i) == frame::kEtx)
                return ReplySpan{start, i + 1};
        }
        return ReplySpan{};
    };
}

ReplyEnd identifyTextEnd()
{
    return [](const QByteArray &bytes) {
        const int version = bytes.indexOf("Version");
        if (version < 0)
            return ReplySpan{};
        int i = version + 8;  // the word and its separator byte
        while (i < bytes.size() && bytes.at(i) == ' ')
            ++i;
        if (i >= bytes.size() || bytes.at(i) < '0' || bytes.at(i) > '9')
            return ReplySpan{};
        for (; i < bytes.size(); ++i) {
            if (bytes.at(i) == frame::kStx || bytes.at(i) == '$')
                return ReplySpan{0, i};
        }
        return ReplySpan{};
    };
}

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

std::optional<quint8> configFlagValue(const QByteArray &reply)
{
    if (reply.size() < 6 || reply.at(0) != frame::kStx || quint8(reply.at(1)) != frame::kQuery
        || quint8(reply.at(2)) != frame::kConfigFlags || reply.at(reply.size() - 1) != frame::kEtx)
        return std::nullopt;
    // An escaped value stands one byte later.
    return quint8(reply.at(3) == frame::kEscape ? reply.at(4) : reply.at(3));
}

}  // namespace velomark
