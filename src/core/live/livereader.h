#pragma once
#include <QByteArray>
#include <QString>
#include <QThread>

#include <atomic>

#include "live/livebuffer.h"

namespace velomark {

class Transport;

// The live reader: waits for the bytes the lidar sends unasked and cuts them into buffers, one
// per record: as soon as the bytes hold a complete record, else at a pause of 40 ms, and never
// later than 250 ms or 4096 bytes. It strips notification frames from their ends, drops
// buffers too short to hold a record and emits the rest. It neither parses nor stores anything.
//
// The port belongs to the reader while it runs: startReading() moves it to the reader, and the
// run moves it back to the application's thread as its last act. The port must have no parent
// (a child object cannot change threads).
class rThread : public QThread
{
    Q_OBJECT
public:
    explicit rThread(QObject *parent = nullptr);
    ~rThread() override;

    // Called on the thread that owns the open link: clears the stop flag, moves the link's
    // device to the reader and starts it. False (and nothing started) when the reader still
    // runs, the link is not open or lives on another thread, or no application object exists.
    bool startReading(Transport *link, int outputFormat);

    // Safe from any thread; the run ends within about a second, whatever the lidar sends. A
    // request made after startReading() is never lost, even when the run has not begun yet.
    void requestStop();

    // Whether the last run ended because the link failed, and the link's words for it; read
    // them after the run has ended.
    bool lostLink() const { return m_lostLink; }
    QString lostError() const { return m_lostError; }

signals:
    // One buffer, queued to the receiver on its own thread.
    void speed_disp(QByteArray buffer);
    // The port failed while reading (the lidar switched off or out of range): the run has
    // ended and the port is back on the application's thread, still open. Emitted once, as the
    // run ends; a receiver should wait() for the reader before it closes the port.
    void portLost(QString error);

protected:
    void run() override;

private:
    // Emits the buffers the cutter has cut.
    void handOn(LiveBufferCutter &cutter);

private:
    std::atomic<bool> m_stopRequested{false};
    Transport *m_link = nullptr;
    int m_outputFormat = 0;
    bool m_lostLink = false;
    QString m_lostError;
};

}  // namespace velomark
