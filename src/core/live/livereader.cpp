#include "live/livereader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QIODevice>

#include "common/trace.h"
#include "lidar/lidarconnection.h"

namespace velomark {

namespace {

// Longest wait for the first byte of a buffer, and so the longest time between two looks at
// the stop flag while the lidar is silent.
constexpr int kFirstWaitMs = 1000;
// A buffer ends when no further byte arrives within this pause.
constexpr int kPauseMs = 40;

}  // namespace

rThread::rThread(QObject *parent) : QThread(parent) {}

rThread::~rThread()
{
    // A QThread destroyed while it runs takes the process down with it.
    requestStop();
    wait();
}

bool rThread::startReading(QIODevice *port, int outputFormat)
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

void rThread::handOn(LiveBufferCutter &cutter)
{
    for (const QByteArray &buffer : cutter.takeBuffers())
        emit speed_disp(buffer);
}

void rThread::run()
{
    trace(lcLive(), QStringLiteral("Thread reading speed data starts ..."));
    QIODevice &port = *m_port;
    // An error left over from the exchanges before the run says nothing about this run.
    clearPortError(port);
    bool lost = false;
    QString lostError;
    // Bytes received but not handed on yet, and how long ago the first of them came.
    LiveBufferCutter cutter(m_outputFormat);
    QElapsedTimer age;

    while (!m_stopRequested) {
        if (!cutter.hasPending()) {
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
        if (cutter.take(port.readAll()))
            age.start();
        handOn(cutter);
        if (!cutter.hasPending())
            continue;
        // Otherwise the buffer ends at a pause of 40 ms, or when it has grown too old.
        const qint64 left = kMaxLiveBufferMs - age.elapsed();
        if (left > 0 && port.waitForReadyRead(int(qMin<qint64>(kPauseMs, left))))
            continue;
        cutter.cutAll(port.readAll());
        handOn(cutter);
        if (portFailed(port)) {
            lost = true;
            break;
        }
    }
    // Bytes that arrived before the port failed are still handed on.
    cutter.cutAll();
    handOn(cutter);
    if (lost)
        lostError = port.errorString();

    m_port = nullptr;
    port.moveToThread(QCoreApplication::instance()->thread());
    trace(lcLive(), QStringLiteral("Thread reading speed data stops ..."));
    if (lost)
        emit portLost(lostError);
}

}  // namespace velomark
