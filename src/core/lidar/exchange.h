#pragma once
// The three exchange primitives every lidar command is built on. They block the calling
// thread with fixed time-outs and speak to the operator only through OperatorInterface.
#include <QByteArray>
#include <QString>
#include <functional>

#include "lidar/replies.h"

class QIODevice;
class QSerialPort;

namespace velomark {

class OperatorInterface;

// Which pending bytes a purge drops.
enum class Purge { Input, Output, Both };

// The byte stream to the lidar: any QIODevice plus a way to drop pending bytes, so a
// direct Bluetooth socket could take the tty's place without touching the protocol code.
class LidarChannel
{
public:
    LidarChannel(QIODevice &device, std::function<void(Purge)> purge);
    // The serial port of a lidar; purging maps to QSerialPort::clear.
    static LidarChannel forSerialPort(QSerialPort &port);

    QIODevice &device() const { return *m_device; }
    void purge(Purge which) const;

private:
    QIODevice *m_device;
    std::function<void(Purge)> m_purge;
};

// Time-outs of the exchange, in milliseconds.
namespace timeout {
constexpr int kWrite = 30000;
constexpr int kReply = 3000;
constexpr int kEraseReply = 8000;
constexpr int kDiagLeaveReply = 10000;
constexpr int kShortFollowUp = 600;  // after a first chunk of fewer than 4 bytes
constexpr int kFollowUp = 200;
// However the lidar goes on sending, a reply's follow-up ends this long after its first bytes.
constexpr int kMaxFollowUp = 1000;
}  // namespace timeout

// Drops pending output and writes one command. A short write shows
// label + "WritePort() failed: " + the device's error string (title: kMessageTitle); a write
// that does not complete within 30 s gives false without a message.
bool WritePort(LidarChannel &channel, const QByteArray &command, const QString &label,
               OperatorInterface &op);

// Collects one reply: waits up to firstWaitMs for its first byte, then gathers chunks until the
// reply is complete (when replyEnd is given), a gap of 200 ms (600 ms when the first chunk held
// fewer than 4 bytes), or 1 s of follow-up. Bytes after a complete reply stay unread in the
// device: they may be the lidar's first live records. Empty on time-out. expectedCount -1
// disables the short-reply trace.
QByteArray ReadPort(LidarChannel &channel, int firstWaitMs, int expectedCount, const QString &label,
                    const ReplyEnd &replyEnd = {});

// Writes a control command and tests that the lidar echoed it (anywhere in the reply, after
// any 0x00 bytes). Waits 8 s for the first byte when the label contains "Erase", else 3 s.
// Invalid replies are reported (title: the application name) only when showMessages is set.
bool SendCommand(LidarChannel &channel, const QByteArray &command, const QString &label,
                 bool showMessages, OperatorInterface &op);

// The reply without its leading 0x00 bytes, which carry no meaning.
QByteArray withoutLeadingNulls(const QByteArray &reply);

}  // namespace velomark
