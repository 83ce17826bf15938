#pragma once
// The connection to the selected lidar: the one port (a serial port, or on Linux the socket
// BlueZ connects to a paired lidar), the list of known lidars, the identity of the connected
// one, and the operations that open, identify and release it.
#include <QObject>
#include <QSerialPort>
#include <QString>

#include <memory>

#include "lidar/exchange.h"
#include "lidar/lidarentry.h"

namespace velomark {

class OperatorInterface;

// The name QSerialPort takes for a lidar entry's port: a device path on Linux as it stands,
// the "\\.\COMn" device form on Windows.
QString serialPortName(const QString &portName);

// The port text of a lidar reached through BlueZ instead of a tty: "bluetooth:" and the
// address as "AA:BB:CC:DD:EE:FF".
QString bluetoothPortName(const QString &compactAddress);
// The address of such a port text as "AA:BB:CC:DD:EE:FF"; empty for any other port text.
QString bluetoothPortAddress(const QString &portName);

// Whether the port has failed for good: closed, or a read or resource error (the lidar
// switched off or out of range, the socket hung up). A time-out is the only harmless way for
// a wait to fail.
bool portFailed(const QIODevice &port);
// Forgets an error an earlier exchange left on the port, before a reader starts on it.
void clearPortError(QIODevice &port);

class BluezProfile;
class SocketPort;

class LidarConnection : public QObject
{
    Q_OBJECT
public:
    explicit LidarConnection(OperatorInterface &op, QObject *parent = nullptr);
    ~LidarConnection() override;

    // The port of the lidar: the serial port, or the socket of a lidar reached through BlueZ.
    // It has no parent, so the live and dump readers can move it to their thread; they move
    // it back as their last act.
    QIODevice &port() { return *m_port; }
    // The exchange primitives' view of the port.
    LidarChannel channel();
    OperatorInterface &operatorInterface() { return m_op; }

    LidarList lidars;             // filled by discovery; looked up by name, first match
    QString connectedLidarName;   // non-empty exactly while the port is open for an identified lidar
    int lidarType = 6;            // model family of the last identification; 6 = none or invalid
    int firmwareMajor = -1;
    int firmwareMinor = -1;

    // Opens the port of the entry named selectedText (empty: no current row), configures it,
    // tries three times with 1 s pauses, then identifies the lidar; emits controlsChanged()
    // once the port opened.
    void OpenLidarPort(const QString &selectedText);
    // Releases the lidar from remote mode and closes the port; nothing when it is closed.
    void CloseLidarPort();
    // Makes the lidar named selectedText the connected one; true when the port is open. An
    // open port that has failed is released first and opened again.
    bool ConnectSelectedLidar(const QString &selectedText);
    // After the port failed: closes it without the remote-off frame (nobody would hear it, and
    // the exchange would only add a second message) and forgets the connected lidar, so that
    // the next action connects again.
    void releaseLostPort();
    // Why the last OpenLidarPort could not open the port (the system's words); empty when it
    // opened or was not tried.
    QString openError() const { return m_openError; }
    // The pause between two attempts to open the port.
    int openRetryPauseMs = 1000;
    // Remote mode on (02 0B 0B 03) or off (02 0C 0C 03); true when the lidar echoed it.
    bool SetLidarRemoteMode(bool on);
    // Remote mode on, identify, read model and firmware; true when a model was recognised.
    bool InitCommunication();

    // Only types 4 and 5 keep a log.
    bool hasStoredLog() const { return lidarType == 4 || lidarType == 5; }
    // Firmware 9.3 or later uses the framed diagnostic-mode commands.
    bool framedDiagCommands() const;

signals:
    // The connection changed; the window runs UpdateControls.
    void controlsChanged();

private:
    bool configurePort(const QString &portName);
    // One attempt to open the entry's port; false with m_openError set. *retry is cleared when
    // another attempt would not help.
    bool openOnce(const LidarEntry &entry, bool *retry);
    // Closes whichever port is open, without any frame to the lidar.
    void closePort();
    // A failed port left at home (not lent to a reader) is released, so nothing polls it.
    void releaseIfFailed();

    OperatorInterface &m_op;
    QSerialPort m_serial;
    QIODevice *m_port = &m_serial;
#ifndef Q_OS_WIN
    std::unique_ptr<SocketPort> m_socket;
    std::unique_ptr<BluezProfile> m_profile;
#endif
    QString m_bluetoothDevice;  // BlueZ's object of the device whose socket is open
    QString m_openError;
};

}  // namespace velomark
