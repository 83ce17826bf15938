#include "lidar/exchange.h"

#include <QElapsedTimer>
#include <QIODevice>
#include <QSerialPort>

#include "common/operatorinterface.h"
#include "common/text.h"
#include "common/trace.h"
#include "lidar/frame.h"

namespace velomark {

LidarChannel::LidarChannel(QIODevice &device, std::function<void(Purge)> purge)
    : m_device(&device), m_purge(std::move(purge))
{
}

LidarChannel LidarChannel::forSerialPort(QSerialPort &port)
{
    return LidarChannel(port, [&port](Purge which) {
        switch (which) {
        case Purge::Input:
            port.clear(QSerialPort::Input);
            break;
        case Purge::Output:
            port.clear(QSerialPort::Output);
            break;
        case Purge::Both:
            port.clear(QSerialPort::AllDirections);
            break;
        }
    });
}

void LidarChannel::purge(Purge which) const
{
    if (m_purge)
        m_purge(which);
}

QByteArray withoutLeadingNulls(const QByteArray &reply)
{
    int first = 0;
    while (first < reply.size() && reply.at(first) == '\0')
        ++first;
    return reply.mid(first);
}

bool WritePort(LidarChannel &channel, const QByteArray &command, const QString &label,
               OperatorInterface &op)
{
    QIODevice &device = channel.device();
    channel.purge(Purge::Output);
    trace(lcLidar(), label + QStringLiteral(": TX ") + hexBytes(command));
    const qint64 written = device.write(command);
    if (written == command.size())
        return device.waitForBytesWritten(timeout::kWrite);

    const QString text = label + QStringLiteral("WritePort() failed: ") + device.errorString();
    traceBare(lcLidar(), text);
    op.inform(kMessageTitle, text);
    channel.purge(Purge::Output);
    return false;
}

QByteArray ReadPort(LidarChannel &channel, int firstWaitMs, int expectedCount, const QString &label,
                    const ReplyEnd &replyEnd)
{
    QIODevice &device = channel.device();
    // Bytes that arrived while the command was being written are already buffered and
    // would not wake a wait for new data.
    if (device.bytesAvailable() <= 0 && !device.waitForReadyRead(firstWaitMs)) {
        trace(lcLidar(), label + QStringLiteral(": There is no response from the laser"));
        return {};
    }
    QByteArray reply;
    ReplySpan span;
    QElapsedTimer followUp;
    followUp.start();
    int gap = -1;
    for (;;) {
        // Only the bytes up to the reply's end are taken; the rest stays for the next reader.
        qint64 take = device.bytesAvailable();
        if (replyEnd) {
            span = replyEnd(reply + device.peek(take));
            if (span.end >= 0)
                take = qMax(0, span.end - reply.size());
        }
        reply += device.read(take);
        if (span.end >= 0)
            break;
        if (gap < 0)
            gap = reply.size() < 4 ? timeout::kShortFollowUp : timeout::kFollowUp;
        const qint64 left = timeout::kMaxFollowUp - followUp.elapsed();
        if (left <= 0 || !device.waitForReadyRead(int(qMin<qint64>(gap, left)))) {
            // A wait can end on a device error with bytes already buffered.
            reply += device.readAll();
            break;
        }
    }
    if (span.end >= 0)
        reply = reply.mid(span.start, span.end - span.start);

    if (reply.isEmpty()) {
        trace(lcLidar(), label + QStringLiteral(": Read port error"));
        return reply;
    }
    trace(lcLidar(), label + QStringLiteral(": RX ") + hexBytes(reply));
    if (reply.size() < expectedCount)
        trace(lcLidar(), label + QStringLiteral(": Not getting enough bytes: %1").arg(reply.size()));
    return reply;
}

bool SendCommand(LidarChannel &channel, const QByteArray &command, const QString &label,
                 bool showMessages, OperatorInterface &op)
{
    // Bytes left over from an earlier exchange must not be taken for this echo.
    channel.purge(Purge::Both);
    if (!WritePort(channel, command, label, op))
        return false;
    const int firstWait = label.contains(QLatin1String("Erase")) ? timeout::kEraseReply : timeout::kReply;
    const QByteArray reply = ReadPort(channel, firstWait, command.size(), label, echoEnd(command));
    if (reply.isEmpty())
        return false;

    const QByteArray meaningful = withoutLeadingNulls(reply);
    if (meaningful.isEmpty()) {
        if (showMessages)
            op.inform(applicationTitle(),
                      label + QStringLiteral(": Invalid response(null characters) from the lidar"));
        return false;
    }
    // The lidar echoes a control frame; it may stand anywhere among other bytes.
    if (meaningful.contains(command))
        return true;
    if (showMessages)
        op.inform(applicationTitle(),
                  label + QStringLiteral(": Invalid data received: \n") + hexBytes(meaningful));
    return false;
}

}  // namespace velomark
