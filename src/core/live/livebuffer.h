#pragma once
// Cutting the bytes the lidar sends unasked into buffers of one record each; the live reader's
// rules without its port and clock.
#include <QByteArray>
#include <QList>

namespace velomark {

// The lidar's short notification frames (02 04 04 03 and 02 05 05 03) removed from both ends
// of a buffer, as often as they stand there; a frame inside the buffer stays.
QByteArray stripNotificationFrames(QByteArray buffer);

// The shortest buffer that can hold a record: 10 bytes in output format 1, 40 in any other.
int minimumLiveBufferLength(int outputFormat);

// The length of the first complete record at the start of pending, 0 while there is none: in
// output format 1 up to the first ETX that is not escaped, once the buffer holds at least the
// minimum length (notification frames before a record are too short to count); in any other
// format ("$" text) up to the first CR LF.
int completeLiveRecordLength(const QByteArray &pending, int outputFormat);

// Limits of one buffer: a lidar that never pauses still has its bytes handed on.
constexpr int kMaxLiveBufferMs = 250;
constexpr int kMaxLiveBufferBytes = 4096;

// The pending bytes of the live reader and the buffers cut from them. Each buffer is stripped
// of notification frames at its ends and dropped when it is then too short to hold a record.
class LiveBufferCutter
{
public:
    explicit LiveBufferCutter(int outputFormat);

    // Adds bytes that arrived and cuts off every complete record, and a stream without records
    // kMaxLiveBufferBytes at a time. True when anything was cut.
    bool take(const QByteArray &bytes);
    // Adds the last bytes and cuts all pending bytes as one buffer: at a pause, when the
    // buffer has grown too old, or as the reading ends.
    void cutAll(const QByteArray &lastBytes = {});

    bool hasPending() const { return !m_pending.isEmpty(); }
    int pendingSize() const { return m_pending.size(); }
    // The buffers to hand on, oldest first; the list starts empty again.
    QList<QByteArray> takeBuffers();

private:
    void cut(int length);

    int m_outputFormat;
    int m_minimumLength;
    QByteArray m_pending;
    QList<QByteArray> m_buffers;
};

}  // namespace velomark
