#pragma once
// Reading the lidar's replies: where a reply ends among the bytes read, and what the short
// query replies say. Pure functions of the bytes; the exchanges that collect them are elsewhere.
#include <QByteArray>
#include <QtGlobal>

#include <functional>
#include <optional>

namespace velomark {

// Where a complete reply stands among the bytes read so far: [start, end). end < 0 while the
// reply is not complete.
struct ReplySpan
{
    int start = 0;
    int end = -1;
    // The bytes after the end belong to whoever reads next (the first live records after a
    // query reply) and stay unread. Otherwise they are part of this reply up to its gap.
    bool restStays = true;
};
// Finds the end of an expected reply, so that a read stops there instead of waiting for a pause
// that a streaming lidar never makes.
using ReplyEnd = std::function<ReplySpan(const QByteArray &bytes)>;

// The echo of command, anywhere among the bytes. What the lidar adds right after an echo is
// still part of its reply, so that it never joins the next command's reply.
ReplyEnd echoEnd(const QByteArray &command);
// A reply frame that begins with frameStart (02 09 and the queried parameter as sent), up to its
// first ETX that is not escaped; bytes before the frame are not part of the reply.
ReplyEnd replyFrameEnd(const QByteArray &frameStart);
// The identify text: after "Version" and a digit of the number, the first byte that starts a
// live record (STX or "$") ends it. Text without such a byte ends at a pause, as before.
ReplyEnd identifyTextEnd();

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

// The flag value of a configuration reply frame (02 09 58 value ... 03, value escaped by 0x10);
// nothing when the reply is not such a frame.
std::optional<quint8> configFlagValue(const QByteArray &reply);

}  // namespace velomark
