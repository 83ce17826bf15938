#pragma once
// The three exchange primitives every lidar command is built on. They block the calling
// thread with fixed time-outs and speak to the operator only through OperatorInterface.
#include <QByteArray>
#include <QString>

#include "lidar/replies.h"
#include "lidar/transport/transport.h"

namespace velomark {

class OperatorInterface;

// Time-outs of the exchange, in milliseconds.
namespace timeout {
constexpr int kWrite = 30000;
constexpr int kReply = 3000;
constexpr int kEraseReply = 8000;
constexpr int kDiagLeaveReply = 10000;
constexpr int kShortFollowUp = 600;  // after a first chunk of fewer than 4 bytes
constexpr int kFollowUp = 200;
// A reply whose pieces keep coming within the follow-up gap is read whole up to this long:
// only a lidar that streams without pause outside any recognised reply meets the limit.
constexpr int kReplyLimit = 10000;
// The bytes that follow an echo are read up to this long; a streaming lidar never pauses.
constexpr int kEchoTailLimit = 1000;
}  // namespace timeout

// Drops pending output and writes one command. A short write shows
// label + "WritePort() failed: " + the link's error string (title: kMessageTitle); a write
// that does not complete within 30 s gives false without a message.
bool WritePort(Transport &link, const QByteArray &command, const QString &label, OperatorInterface &op);

// Collects one reply: waits up to firstWaitMs for its first byte, then gathers the pieces that
// follow within a gap of 200 ms (600 ms when the first piece held fewer than 4 bytes), up to
// 10 s. A reply that replyEnd recognises ends there; bytes after a query reply stay unread
// (they may be the lidar's first live records), bytes after an echo are read with it up to
// the gap. Empty on time-out. expectedCount -1 disables the short-reply trace.
QByteArray ReadPort(Transport &link, int firstWaitMs, int expectedCount, const QString &label,
                    const ReplyEnd &replyEnd = {});

// Writes a control command and tests that the lidar echoed it (anywhere in the reply, after
// any 0x00 bytes). Waits 8 s for the first byte when the label contains "Erase", else 3 s.
// Invalid replies are reported (title: the application name) only when showMessages is set.
bool SendCommand(Transport &link, const QByteArray &command, const QString &label, bool showMessages,
                 OperatorInterface &op);

// The reply without its leading 0x00 bytes, which carry no meaning.
QByteArray withoutLeadingNulls(const QByteArray &reply);

}  // namespace velomark
