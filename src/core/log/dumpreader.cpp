#include "log/dumpreader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPort>

#include "common/trace.h"

namespace velomark {

namespace {
// Short waits keep a stop request from waiting out a whole silence.
constexpr int kPollMs = 100;

// A time-out is the only harmless way for a wait to fail; a lidar that vanished leaves the
// port open, but every wait then fails at once with a read or resource error.
bool portFailed(const QSerialPort &port)
{
    const QSerialPort::SerialPortError error = port.error();
    return !port.isOpen() || (error != QSerialPort::NoError && error != QSerialPort::TimeoutError);
}
}  // namespace

ThreadReadDataDump::ThreadReadDataDump(QSerialPort &port, QByteArray &dumpBuffer, QString &pendingMessage)
    : QThread(nullptr), m_port(port), m_dump(dumpBuffer), m_pendingMessage(pendingMessage)
{
}

ThreadReadDataDump::~ThreadReadDataDump()
{
    requestStop();
    wait();
}

void ThreadReadDataDump::startDump()
{
    m_stopRequested.store(false);
    m_bytes.store(0);
    m_lines.store(0);
    // An error left from an earlier exchange must not end the dump before it begins.
    m_port.clearError();
    m_port.moveToThread(this);
    start(QThread::InheritPriority);
}

void ThreadReadDataDump::run()
{
    trace(lcLog(), QStringLiteral("ThreadReadDataDump started"));
    m_dump.clear();
    QElapsedTimer silence;
    silence.start();
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    qint64 bytes = 0;
    qint64 lines = 0;
    while (!m_stopRequested.load()) {
        // Bytes may already wait in the port's buffer, which a wait would not report.
        if (m_port.bytesAvailable() <= 0 && !m_port.waitForReadyRead(kPollMs)) {
            // A port that failed will never bring more; waiting on it would only spin.
            if (silence.elapsed() < kSilenceMs && !portFailed(m_port))
                continue;
            if (m_dump.isEmpty())
                m_pendingMessage = QStringLiteral("Retrieving memory data: No data found");
            m_stopRequested.store(true);
            break;
        }
        const QByteArray chunk = m_port.readAll();
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
    emit progress(bytes, lines);
    // The slots that run after finished() use the port on the event-loop thread.
    m_port.moveToThread(QCoreApplication::instance()->thread());
    trace(lcLog(), QStringLiteral("ThreadReadDataDump finished"));
}

}  // namespace velomark
