#pragma once
// Runs lidar-sim as a child process for a test: its pty path for QSerialPort, and everything it
// received and did, read back from its events file.
#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>

class LidarSim
{
public:
    // Once a simulated lidar vanished, its pty number is free for the next pseudo-terminal of
    // any process (another test running beside this one). A test that connects again after a
    // vanish points the lidar's entry here, so it neither reaches nor disturbs another lidar.
    static inline const QString kGonePath = QStringLiteral("/dev/velomark-vanished-lidar");

    explicit LidarSim(const QStringList &args = {});  // extra command-line options
    ~LidarSim();                                      // stops the process

    // Runs $LIDAR_SIM with args and --events <temp file>; waits for the path line.
    bool start();
    // The pty slave path (or with --socket the socket's), for the lidar's entry.
    QString portPath() const { return portPath_; }
    QByteArray receivedBytes() const { return chunks("RX").join(); }  // all RX bytes so far, in order
    QList<QByteArray> sent() const { return chunks("TX"); }          // every TX chunk so far, in order
    QByteArray sentBytes() const { return sent().join(); }           // all TX bytes concatenated
    QStringList states() const { return eventTexts("STATE"); }       // only the STATE texts
    bool waitForState(const QString &text, int timeoutMs);  // until a STATE line contains text
    void vanish();                       // SIGUSR1: the port disappears
    void stop();
    QString errorString() const { return error_; }

private:
    QStringList eventTexts(const char *kind) const;  // the texts of one kind of event line
    QList<QByteArray> chunks(const char *kind) const;

    QStringList args_;
    QProcess process_;
    QTemporaryFile events_;
    QString portPath_;
    QString error_;
};
