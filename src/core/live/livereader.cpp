#include "live/livereader.h"

#include <QCoreApplication>
#include <QSerialPort>

#include "common/trace.h"

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

// A time-out is the only harmless way for a wait to fail. When the lidar vanishes the port
// still counts as open, but every wait returns at once with a read or resource error.
bool portFailed(const QSerialPort &port)
{
    if (!port.isOpen())
        return true;
    const QSerialPort::SerialPortError error = port.error();
    return error != QSerialPort::NoError && error != QSerialPort::TimeoutError;
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

void rThread::run()
{
    trace(lcLive(), QStringLiteral("Thread reading speed data starts ..."));
    QSerialPort &port = *m_port;
    const int minimumLength = minimumLiveBufferLength(m_outputFormat);
    // An error left over from the exchanges before the run says nothing about this run.
    port.clearError();
    bool lost = false;
    QString lostError;

    while (!m_stopRequested) {
        if (!port.waitForReadyRead(kFirstWaitMs)) {
            if (portFailed(port)) {
                lost = true;
                lostError = port.errorString();
                break;
            }
            continue;
        }
        if (m_stopRequested)
            break;

        QByteArray buffer = port.readAll();
        while (port.waitForReadyRead(kPauseMs))
            buffer += port.readAll();
        // Bytes that arrived before the port failed are still handed on.
        if (portFailed(port)) {
            lost = true;
            lostError = port.errorString();
        }

        buffer = stripNotificationFrames(buffer);
        if (!buffer.isEmpty() && buffer.size() >= minimumLength)
            emit speed_disp(buffer);
        if (lost)
            break;
    }

    m_port = nullptr;
    port.moveToThread(QCoreApplication::instance()->thread());
    trace(lcLive(), QStringLiteral("Thread reading speed data stops ..."));
    if (lost)
        emit portLost(lostError);
}

}  // namespace velomark
