#pragma once
// The connection to the selected lidar: the one transport to it at a time (a serial port, or
// on Linux the socket BlueZ connects to a paired lidar), the list of known lidars, the
// identity of the connected one, and the operations that open, identify and release it.
#include <QObject>
#include <QString>

#include <memory>

#include "lidar/exchange.h"
#include "lidar/lidarentry.h"
#include "lidar/transport/transport.h"

namespace velomark {

class OperatorInterface;

class LidarConnection : public QObject
{
    Q_OBJECT
public:
    explicit LidarConnection(OperatorInterface &op, QObject *parent = nullptr);
    ~LidarConnection() override;

    // The link to the lidar, made anew for every open; null before the first. The exchange and
    // the readers take it for each run, never keeping one from an earlier run.
    Transport *transport() { return m_transport.get(); }
    bool isOpen() const { return m_transport && m_transport->isOpen(); }
    OperatorInterface &operatorInterface() { return m_op; }

    LidarList lidars;             // filled by discovery; looked up by name, first match
    QString connectedLidarName;   // non-empty exactly while the port is open for an identified lidar
    QString connectedPortName;    // the entry's port text while connected
    int lidarType = 6;            // model family of the last identification; 6 = none or invalid
    int firmwareMajor = -1;
    int firmwareMinor = -1;

    // Opens the port of the entry named selectedText (empty: no current row), configures it,
    // tries three times with 1 s pauses, then identifies the lidar; emits controlsChanged()
    // once the port opened.
    void OpenLidarPort(const QString &selectedText);
    // Opens the entry's port without identifying the lidar (three attempts); false with
    // openError() set.
    bool openTransport(const LidarEntry &entry);
    // Releases the lidar from remote mode and closes the port; nothing when it is closed. A
    // lidar that hung up meanwhile is let go without a word to it or to the operator.
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
    // "9.3", as identification read it.
    QString firmwareText() const;

signals:
    // The connection changed; the window runs UpdateControls.
    void controlsChanged();

private:
    // Closes the link, without any frame to the lidar.
    void closePort();
    // A failed link left at home (not lent to a reader) is released, so nothing polls it.
    void releaseIfFailed();

    OperatorInterface &m_op;
    std::unique_ptr<Transport> m_transport;
    bool m_settingsRefused = false;  // the last open failed on a setting, already told
    QString m_openError;
};

}  // namespace velomark
