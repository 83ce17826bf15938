#include "live/livereader.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include "common/trace.h"
#include "lidar/transport/transport.h"

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

bool rThread::startReading(Transport *link, int outputFormat)
{
    if (isRunning() || QCoreApplication::instance() == nullptr || link == nullptr || !link->isOpen()
        || link->deviceThread() != QThread::currentThread())
        return false;
    // Cleared here rather than in run, so a stop requested between start() and the first
    // step of the run still ends it.
    m_stopRequested = false;
    m_link = link;
    m_outputFormat = outputFormat;
    m_lostLink = false;
    m_lostError.clear();
    link->moveDeviceTo(this);
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
    Transport &link = *m_link;
    const QString label = QStringLiteral("rThread");
    // An error left over from the exchanges before the run says nothing about this run.
    link.clearError();
    bool lost = false;
    QString lostError;
    // Bytes received but not handed on yet, and how long ago the first of them came.
    LiveBufferCutter cutter(m_outputFormat);
    QElapsedTimer age;

    while (!m_stopRequested) {
        if (!cutter.hasPending()) {
            // Bytes that followed the format reply already wait in the port's buffer, where a
            // wait would not see them.
            if (link.bytesAvailable() <= 0 && !link.waitForReadyRead(kFirstWaitMs)) {
                if (link.hasFailed()) {
                    lost = true;
                    break;
                }
                continue;
            }
            if (m_stopRequested)
                break;
            age.start();
        }
        if (cutter.take(link.readAll(label)))
            age.start();
        handOn(cutter);
        if (!cutter.hasPending())
            continue;
        // Otherwise the buffer ends at a pause of 40 ms, or when it has grown too old.
        const qint64 left = kMaxLiveBufferMs - age.elapsed();
        if (left > 0 && link.waitForReadyRead(int(qMin<qint64>(kPauseMs, left))))
            continue;
        cutter.cutAll(link.readAll(label));
        handOn(cutter);
        if (link.hasFailed()) {
            lost = true;
            break;
        }
    }
    // Bytes that arrived before the port failed are still handed on.
    cutter.cutAll();
    handOn(cutter);
    if (lost)
        lostError = link.errorString();
    m_lostLink = lost;
    m_lostError = lostError;

    m_link = nullptr;
    link.moveDeviceTo(QCoreApplication::instance()->thread());
    trace(lcLive(), QStringLiteral("Thread reading speed data stops ..."));
    if (lost)
        emit portLost(lostError);
}

}  // namespace velomark
