#pragma once
// A connected socket to the lidar (the RFCOMM socket BlueZ hands over) as a QIODevice that
// behaves towards the exchange and the readers as the serial port does: blocking waits with
// time-outs, bytes buffered until read, and a hang-up or read error that marks the port lost.
// It uses no notifier or timer, so it moves between threads as freely as the serial port.
#include <QByteArray>
#include <QIODevice>

namespace velomark {

class SocketPort : public QIODevice
{
    Q_OBJECT
public:
    explicit SocketPort(QObject *parent = nullptr);
    ~SocketPort() override;

    // Takes over the connected socket descriptor (non-blocking from here on) and opens the
    // device for reading and writing. False when a descriptor is already held (fd is closed
    // then) or fd is invalid.
    bool openDescriptor(int fd);
    // Closes the socket; pending output is dropped.
    void close() override;

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;
    qint64 bytesToWrite() const override { return m_output.size(); }
    // True when new bytes arrived within msecs (-1: no limit); false on a time-out or when the
    // connection failed.
    bool waitForReadyRead(int msecs) override;
    // True once every written byte went to the socket within msecs.
    bool waitForBytesWritten(int msecs) override;

    // Drops what has been received, including what the socket holds readable right now.
    void purgeInput();
    // Drops what has not been sent yet.
    void purgeOutput() { m_output.clear(); }

    // The peer hung up or a read or write failed; the reason is errorString().
    bool hasFailed() const { return m_failed; }
    // Forgets a failure, as QSerialPort::clearError does; a dead socket fails again at once.
    void clearError() { m_failed = false; }
    // Why the socket could not be had, for errorString() of a device that never opened.
    void setErrorText(const QString &text) { setErrorString(text); }

signals:
    // The connection failed (emitted once per failure, on the thread that noticed it).
    void lost();

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 maxSize) override;

private:
    // Reads everything readable now into m_input; the number of bytes taken.
    qint64 fill();
    // Writes what the socket accepts now without blocking.
    void flush();
    // Waits up to msecs for the events (-1: no limit); the returned events, 0 on a time-out.
    short waitFor(short events, int msecs);
    void fail(const QString &reason);

    int m_fd = -1;
    QByteArray m_input;
    QByteArray m_output;
    bool m_failed = false;
};

}  // namespace velomark
