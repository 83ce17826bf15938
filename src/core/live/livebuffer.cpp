#include "live/livebuffer.h"

namespace velomark {

namespace {

const QByteArray kNotificationFrames[] = {
    QByteArray::fromRawData("\x02\x04\x04\x03", 4),
    QByteArray::fromRawData("\x02\x05\x05\x03", 4),
};

bool startsWithNotification(const QByteArray &buffer)
{
    for (const QByteArray &frame : kNotificationFrames)
        if (buffer.startsWith(frame))
            return true;
    return false;
}

bool endsWithNotification(const QByteArray &buffer)
{
    for (const QByteArray &frame : kNotificationFrames)
        if (buffer.endsWith(frame))
            return true;
    return false;
}

}  // namespace

QByteArray stripNotificationFrames(QByteArray buffer)
{
    while (startsWithNotification(buffer))
        buffer.remove(0, 4);
    while (endsWithNotification(buffer))
        buffer.chop(4);
    return buffer;
}

int minimumLiveBufferLength(int outputFormat)
{
    return outputFormat == 1 ? 10 : 40;
}

int completeLiveRecordLength(const QByteArray &pending, int outputFormat)
{
    if (outputFormat != 1) {
        const int lineEnd = pending.indexOf("\r\n");
        return lineEnd < 0 ? 0 : lineEnd + 2;
    }
    const int minimumLength = minimumLiveBufferLength(outputFormat);
    for (int i = 0; i < pending.size(); ++i) {
        const char byte = pending.at(i);
        if (byte == 0x02)
            ++i;  // the frame type after a frame start is never escaped
        else if (byte == 0x10)
            ++i;  // the escaped byte is data, whatever its value
        else if (byte == 0x03 && i + 1 >= minimumLength)
            return i + 1;
    }
    return 0;
}

LiveBufferCutter::LiveBufferCutter(int outputFormat)
    : m_outputFormat(outputFormat), m_minimumLength(minimumLiveBufferLength(outputFormat))
{
}

bool LiveBufferCutter::take(const QByteArray &bytes)
{
    m_pending += bytes;
    bool cutAny = false;
    for (;;) {
        // Every complete record is a buffer of its own, however closely the next one follows.
        const int length = completeLiveRecordLength(m_pending, m_outputFormat);
        if (length > 0)
            cut(length);
        else if (m_pending.size() >= kMaxLiveBufferBytes)
            cut(kMaxLiveBufferBytes);
        else
            return cutAny;
        cutAny = true;
    }
}

void LiveBufferCutter::cutAll(const QByteArray &lastBytes)
{
    m_pending += lastBytes;
    if (!m_pending.isEmpty())
        cut(m_pending.size());
}

QList<QByteArray> LiveBufferCutter::takeBuffers()
{
    QList<QByteArray> buffers;
    buffers.swap(m_buffers);
    return buffers;
}

void LiveBufferCutter::cut(int length)
{
    const QByteArray stripped = stripNotificationFrames(m_pending.left(length));
    m_pending.remove(0, length);
    if (!stripped.isEmpty() && stripped.size() >= m_minimumLength)
        m_buffers.append(stripped);
}

}  // namespace velomark
