#include "live/livereader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPort>

#include "common/trace.h"
#include "lidar/lidarconnection.h"

namespace velomark {

namespace {

// Longest wait for the first byte of a buffer, and so the longest time between two looks at
// the stop flag while the lidar is silent.
constexpr int kFirstWaitMs = 1000;
// A buffer ends when no further byte arrives within this pause.
constexpr int kPauseMs = 40;

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

rThread::rThread(QObject *parent) : QThread(parent) {}

rThread::~rThread()
{
    // A QThread destroyed while it runs takes the process down with it.
    requestStop();
    wait();
}

bool rThread::startReading(QSerialPort *port, int outputFormat)
{
    if (isRunning() || QCoreApplication::instance() == nullptr || port == nullptr
        || !port->isOpen() || port->parent() != nullptr || port->thread() != QThread::currentThread())
        return false;
    // Cleared here rather than in run, so a stop requested between start() and the first
    // step of the run still ends it.
    m_stopRequested = false;
    m_port = port;
    m_outputFormat = outputFormat;
    port->moveToThread(this);
    start(QThread::InheritPriority);
    return true;
}

void rThread::requestStop()
{
    m_stopRequested = true;
}

void rThread::handOn(const QByteArray &buffer, int minimumLength)
{
    const QByteArray stripped = stripNotificationFrames(buffer);
    if (!stripped.isEmpty() && stripped.size() >= minimumLength)
        emit speed_disp(stripped);
}

void rThread::run()
{
    trace(lcLive(), QStringLiteral("Thread reading speed data starts ..."));
    QSerialPort &port = *m_port;
    const int minimumLength = minimumLiveBufferLength(m_outputFormat);
    // An error left over from the exchanges before the run says nothing about this run.
    port.clearError();
    bool lost = false;
    QString lostError;
    // Bytes received but not handed on yet, and how long ago the first of them came.
    QByteArray pending;
    QElapsedTimer age;

    while (!m_stopRequested) {
        if (pending.isEmpty()) {
            // Bytes that followed the format reply already wait in the port's buffer, where a
            // wait would not see them.
            if (port.bytesAvailable() <= 0 && !port.waitForReadyRead(kFirstWaitMs)) {
                if (portFailed(port)) {
                    lost = true;
                    break;
                }
                continue;
            }
            if (m_stopRequested)
                break;
            age.start();
        }
        pending += port.readAll();

        // Every complete record is a buffer of its own, however closely the next one follows.
        int length;
        while ((length = completeLiveRecordLength(pending, m_outputFormat)) > 0) {
            handOn(pending.left(length), minimumLength);
            pending.remove(0, length);
            age.start();
        }
        if (pending.size() >= kMaxLiveBufferBytes) {
            handOn(pending.left(kMaxLiveBufferBytes), minimumLength);
            pending.remove(0, kMaxLiveBufferBytes);
            age.start();
            continue;
        }
        if (pending.isEmpty())
            continue;
        // Otherwise the buffer ends at a pause of 40 ms, or when it has grown too old.
        const qint64 left = kMaxLiveBufferMs - age.elapsed();
        if (left > 0 && port.waitForReadyRead(int(qMin<qint64>(kPauseMs, left))))
            continue;
        pending += port.readAll();
        handOn(pending, minimumLength);
        pending.clear();
        if (portFailed(port)) {
            lost = true;
            break;
        }
    }
    // Bytes that arrived before the port failed are still handed on.
    if (!pending.isEmpty())
        handOn(pending, minimumLength);
    if (lost)
        lostError = port.errorString();

    m_port = nullptr;
    port.moveToThread(QCoreApplication::instance()->thread());
    trace(lcLive(), QStringLiteral("Thread reading speed data stops ..."));
    if (lost)
        emit portLost(lostError);
}

}  // namespace velomark
