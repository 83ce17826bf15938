#pragma once
// The dump thread: owns the lidar's port while the lidar streams its log, gathers every
// byte until the lidar has been silent for 5 s, a stop is requested or the port fails, then
// hands the port back to the thread of the application object as its last act.
#include <QByteArray>
#include <QString>
#include <QThread>

#include <atomic>

namespace velomark {

class Transport;

class ThreadReadDataDump : public QThread
{
    Q_OBJECT
public:
    // The dump ends when no byte arrives for this long.
    static constexpr int kSilenceMs = 5000;
    // How often the progress signal may fire.
    static constexpr int kProgressIntervalMs = 250;

    // dumpBuffer and pendingMessage belong to the caller; the thread writes them while it
    // runs, the caller reads them only after the thread has ended.
    ThreadReadDataDump(QByteArray &dumpBuffer, QString &pendingMessage);
    ~ThreadReadDataDump() override;

    // Why a run ended. A dump cut by a failed port is never complete.
    enum class EndReason { Silence, StopRequested, PortFailed };

    // Clears the stop flag, moves the link's device to this thread and starts it on the link
    // the connection holds now. A stop request made after this call is never lost, however
    // early it comes.
    void startDump(Transport &link);
    // Asks the run to end; it does within a fraction of a second, after handing the port back.
    void requestStop() { m_stopRequested.store(true); }

    // How much has arrived so far; safe to read from any thread.
    qint64 bytesReceived() const { return m_bytes.load(); }
    qint64 linesReceived() const { return m_lines.load(); }
    // Why the last run ended and, after a port failure, the port's error text; read them only
    // after the thread has ended.
    EndReason endReason() const { return m_endReason; }
    QString portError() const { return m_portError; }

signals:
    // Emitted from the dump thread a few times a second while bytes arrive, and once at the
    // end; connected queued, the receiver never touches the port.
    void progress(qint64 bytes, qint64 lines);

protected:
    void run() override;

private:
    Transport *m_link = nullptr;
    QByteArray &m_dump;
    QString &m_pendingMessage;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<qint64> m_bytes{0};
    std::atomic<qint64> m_lines{0};
    EndReason m_endReason = EndReason::Silence;
    QString m_portError;
};

}  // namespace velomark
