#pragma once
#include <QByteArray>
#include <QString>
#include <QThread>

#include <atomic>

#include "live/livebuffer.h"

class QIODevice;

namespace velomark {

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

    // Called on the thread that owns the open port: clears the stop flag, moves the port to
    // the reader and starts it. False (and nothing started) when the reader still runs, the
    // port is not open, has a parent or lives on another thread, or no application object
    // exists (the port goes back to the application's thread).
    bool startReading(QIODevice *port, int outputFormat);

    // Safe from any thread; the run ends within about a second, whatever the lidar sends. A
    // request made after startReading() is never lost, even when the run has not begun yet.
    void requestStop();

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
    QIODevice *m_port = nullptr;
    int m_outputFormat = 0;
};

}  // namespace velomark
