#pragma once
// The byte stream to a lidar, whatever carries it: a serial port, or a Bluetooth socket that
// BlueZ connects. Protocol code and readers see only this contract; nothing outside the
// transports knows which kind is in use.
#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QIODevice;
class QThread;

namespace velomark {

// Which pending bytes a purge drops.
enum class Purge { Input, Output, Both };

class Transport : public QObject
{
    Q_OBJECT
public:
    ~Transport() override;

    // The transport for a lidar entry's port text: "bluetooth:AA:BB:..." is a socket through
    // BlueZ, anything else a serial port. The one place the kind is chosen.
    static std::unique_ptr<Transport> forPort(const QString &portName);

    // The link's settings, applied before it opens: the text of the first that failed (the
    // setter's name followed directly by the system's words), empty when all took.
    virtual QString applySettings() { return QString(); }
    // What the operator is told while the link is being made, when that takes long; empty
    // when it is quick.
    virtual QString connectingText(const QString &lidarName) const
    {
        Q_UNUSED(lidarName)
        return QString();
    }
    // One attempt to open the link. False with errorString() set; *retry is cleared when
    // another attempt would not help (a service that does not answer, a port that cannot be).
    virtual bool open(bool *retry) = 0;
    // Closes the link without a word to the lidar.
    virtual void close() = 0;
    bool isOpen() const;

    // What the link is, for messages and traces: its port text ("/dev/rfcomm0", "\\\\.\\COM5",
    // "bluetooth:AA:BB:CC:DD:EE:FF").
    virtual QString description() const = 0;
    QString errorString() const;

    // Drops pending bytes.
    virtual void purge(Purge which) = 0;
    // The link has failed for good: closed, or the lidar switched off, out of range or hung
    // up. A wait that times out is no failure.
    virtual bool hasFailed() const = 0;
    // Forgets an error an earlier exchange left, before a reader starts on the link.
    virtual void clearError() = 0;
    // Looks, without waiting, whether the lidar hung up while nobody was reading.
    bool probe();

    // Every byte to or from the lidar passes these, traced in hex per chunk under the label
    // (the category "velomark.wire"; nothing is formatted while it is off).
    qint64 write(const QByteArray &bytes, const QString &label);
    QByteArray read(qint64 maxSize, const QString &label);
    QByteArray readAll(const QString &label);
    // The bytes waiting, left in place: a reply's end is found before its bytes are taken.
    QByteArray peek(qint64 maxSize);
    qint64 bytesAvailable() const;
    bool waitForReadyRead(int msecs);
    bool waitForBytesWritten(int msecs);

    // A reader takes the device to its thread before it starts and gives it back to the
    // application's thread as its last act; only one thread uses the link at a time.
    void moveDeviceTo(QThread *thread);
    QThread *deviceThread() const;

signals:
    // The link failed; emitted on whichever thread noticed it, once per failure.
    void lost();

protected:
    explicit Transport(QObject *parent = nullptr);
    // The device the bytes pass through. It has no parent, so it can change threads.
    virtual QIODevice &device() = 0;
    const QIODevice &device() const { return const_cast<Transport *>(this)->device(); }
};

// The port text of a lidar reached through BlueZ instead of a tty: "bluetooth:" and the
// address as "AA:BB:CC:DD:EE:FF".
QString bluetoothPortName(const QString &compactAddress);
// The address of such a port text as "AA:BB:CC:DD:EE:FF"; empty for any other port text and
// on systems without BlueZ.
QString bluetoothPortAddress(const QString &portName);

}  // namespace velomark
