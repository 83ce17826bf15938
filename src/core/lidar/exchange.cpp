#include "lidar/exchange.h"

#include <QElapsedTimer>

#include "common/operatorinterface.h"
#include "common/text.h"
#include "common/trace.h"
#include "lidar/frame.h"

namespace velomark {

QByteArray withoutLeadingNulls(const QByteArray &reply)
{
    int first = 0;
    while (first < reply.size() && reply.at(first) == '\0')
        ++first;
    return reply.mid(first);
}

bool WritePort(Transport &link, const QByteArray &command, const QString &label, OperatorInterface &op)
{
    link.purge(Purge::Output);
    trace(lcLidar(), label + QStringLiteral(": TX ") + hexBytes(command));
    const qint64 written = link.write(command, label);
    if (written == command.size())
        return link.waitForBytesWritten(timeout::kWrite);

    const QString text = label + QStringLiteral("WritePort() failed: ") + link.errorString();
    traceBare(lcLidar(), text);
    op.inform(kMessageTitle, text);
    link.purge(Purge::Output);
    return false;
}

QByteArray ReadPort(Transport &link, int firstWaitMs, int expectedCount, const QString &label,
                    const ReplyEnd &replyEnd)
{
    // Bytes that arrived while the command was being written are already buffered and
    // would not wake a wait for new data.
    if (link.bytesAvailable() <= 0 && !link.waitForReadyRead(firstWaitMs)) {
        trace(lcLidar(), label + QStringLiteral(": There is no response from the laser"));
        return {};
    }
    QByteArray reply;
    ReplySpan span;
    QElapsedTimer clock;
    clock.start();
    qint64 limit = timeout::kReplyLimit;
    int gap = -1;
    for (;;) {
        qint64 take = link.bytesAvailable();
        if (replyEnd && span.end < 0) {
            span = replyEnd(reply + link.peek(take));
            if (span.end >= 0 && span.restStays) {
                // Only the bytes up to the reply's end are taken; the rest stays for the next reader.
                reply += link.read(qMax(0, span.end - reply.size()), label);
                break;
            }
            if (span.end >= 0)
                limit = qMin<qint64>(limit, clock.elapsed() + timeout::kEchoTailLimit);
        }
        reply += link.read(take, label);
        if (gap < 0)
            gap = reply.size() < 4 ? timeout::kShortFollowUp : timeout::kFollowUp;
        const qint64 left = limit - clock.elapsed();
        if (left <= 0 || !link.waitForReadyRead(int(qMin<qint64>(gap, left)))) {
            // A wait can end on a link error with bytes already buffered.
            reply += link.readAll(label);
            break;
        }
    }
    if (span.end >= 0 && span.restStays)
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

bool SendCommand(Transport &link, const QByteArray &command, const QString &label, bool showMessages,
                 OperatorInterface &op)
{
    // Bytes left over from an earlier exchange must not be taken for this echo.
    link.purge(Purge::Both);
    if (!WritePort(link, command, label, op))
        return false;
    const int firstWait = label.contains(QLatin1String("Erase")) ? timeout::kEraseReply : timeout::kReply;
    const QByteArray reply = ReadPort(link, firstWait, command.size(), label, echoEnd(command));
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
