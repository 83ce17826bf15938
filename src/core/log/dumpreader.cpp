#include "log/dumpreader.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include "common/trace.h"
#include "lidar/transport/transport.h"

namespace velomark {

namespace {
// Short waits keep a stop request from waiting out a whole silence.
constexpr int kPollMs = 100;
}  // namespace

ThreadReadDataDump::ThreadReadDataDump(QByteArray &dumpBuffer, QString &pendingMessage)
    : QThread(nullptr), m_dump(dumpBuffer), m_pendingMessage(pendingMessage)
{
}

ThreadReadDataDump::~ThreadReadDataDump()
{
    requestStop();
    wait();
}

void ThreadReadDataDump::startDump(Transport &link)
{
    m_link = &link;
    m_stopRequested.store(false);
    m_endReason = EndReason::Silence;
    m_portError.clear();
    m_bytes.store(0);
    m_lines.store(0);
    // An error left from an earlier exchange must not end the dump before it begins.
    link.clearError();
    link.moveDeviceTo(this);
    start(QThread::InheritPriority);
}

void ThreadReadDataDump::run()
{
    trace(lcLog(), QStringLiteral("ThreadReadDataDump started"));
    Transport &link = *m_link;
    const QString label = QStringLiteral("ThreadReadDataDump");
    m_dump.clear();
    QElapsedTimer silence;
    silence.start();
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    qint64 bytes = 0;
    qint64 lines = 0;
    EndReason reason = EndReason::StopRequested;
    while (!m_stopRequested.load()) {
        // Bytes may already wait in the port's buffer, which a wait would not report.
        if (link.bytesAvailable() <= 0 && !link.waitForReadyRead(kPollMs)) {
            // A link that failed will never bring more; waiting on it would only spin.
            if (link.hasFailed()) {
                reason = EndReason::PortFailed;
                m_portError = link.errorString();
                // Whatever the link still holds belongs to the dump.
                const QByteArray rest = link.readAll(label);
                m_dump.append(rest);
                bytes += rest.size();
                lines += rest.count('\n');
                break;
            }
            if (silence.elapsed() < kSilenceMs)
                continue;
            reason = EndReason::Silence;
            if (m_dump.isEmpty())
                m_pendingMessage = QStringLiteral("Retrieving memory data: No data found");
            m_stopRequested.store(true);
            break;
        }
        const QByteArray chunk = link.readAll(label);
        if (chunk.isEmpty())
            continue;
        silence.restart();
        m_dump.append(chunk);
        bytes += chunk.size();
        lines += chunk.count('\n');
        m_bytes.store(bytes);
        m_lines.store(lines);
        if (sinceProgress.elapsed() >= kProgressIntervalMs) {
            sinceProgress.restart();
            emit progress(bytes, lines);
        }
    }
    m_endReason = reason;
    m_bytes.store(bytes);
    m_lines.store(lines);
    emit progress(bytes, lines);
    if (reason == EndReason::PortFailed)
        trace(lcLog(), QStringLiteral("ThreadReadDataDump: port failed after %1 bytes: %2").arg(m_dump.size()).arg(m_portError));
    // The slots that run after finished() use the port on the event-loop thread.
    link.moveDeviceTo(QCoreApplication::instance()->thread());
    trace(lcLog(), QStringLiteral("ThreadReadDataDump finished"));
}

}  // namespace velomark
