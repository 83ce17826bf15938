#include "lidar/lidarconnection.h"

#include <QThread>

#include "common/operatorinterface.h"
#include "common/trace.h"
#include "lidar/frame.h"
#include "lidar/identification.h"

namespace velomark {

LidarConnection::LidarConnection(OperatorInterface &op, QObject *parent) : QObject(parent), m_op(op) {}

LidarConnection::~LidarConnection()
{
    if (m_transport)
        m_transport->close();
}

bool LidarConnection::framedDiagCommands() const
{
    return usesFramedDiagCommands(firmwareMajor, firmwareMinor);
}

QString LidarConnection::firmwareText() const
{
    return QStringLiteral("%1.%2").arg(firmwareMajor).arg(firmwareMinor);
}

bool LidarConnection::openTransport(const LidarEntry &entry)
{
    m_transport = Transport::forPort(entry.portName);
    // A link whose lidar vanished while idle keeps waking the event loop with errors. The
    // failure may be noticed on a reader's thread; the check is posted to this object's
    // thread, so that no exchange or reader loses the link under its feet.
    connect(m_transport.get(), &Transport::lost, this, [this] {
        QMetaObject::invokeMethod(this, &LidarConnection::releaseIfFailed, Qt::QueuedConnection);
    }, Qt::DirectConnection);
    const QString settingsError = m_transport->applySettings();
    m_settingsRefused = !settingsError.isEmpty();
    if (m_settingsRefused) {
        m_op.inform(applicationTitle(), settingsError);
        m_openError = settingsError;
        return false;
    }
    const QString connecting = m_transport->connectingText(entry.name);
    if (!connecting.isEmpty())
        m_op.showConnecting(connecting);

    m_openError.clear();
    bool retry = true;
    for (int attempt = 0; attempt < 3 && retry; ++attempt) {
        if (m_transport->open(&retry)) {
            m_openError.clear();
            return true;
        }
        m_openError = m_transport->errorString();
        trace(lcLidar(), QStringLiteral("OpenLidarPort: %1: %2").arg(m_transport->description(), m_openError));
        // A Bluetooth link may need a moment after the lidar wakes up.
        if (retry)
            QThread::msleep(openRetryPauseMs);
    }
    return false;
}

void LidarConnection::closePort()
{
    if (m_transport)
        m_transport->close();
}

void LidarConnection::OpenLidarPort(const QString &selectedText)
{
    if (selectedText.isEmpty())
        return;
    const LidarEntry *entry = nullptr;
    for (const LidarEntry &candidate : qAsConst(lidars)) {
        if (candidate.name == selectedText) {
            entry = &candidate;
            break;
        }
    }
    if (!entry || entry->portName.isEmpty()) {
        m_op.inform(applicationTitle(),
                    QStringLiteral("Lidar %1: please make sure it is paired and powered on").arg(selectedText));
        return;
    }
    const QString portName = entry->portName;
    if (!openTransport(*entry)) {
        if (!m_settingsRefused)
            m_op.inform(applicationTitle(),
                        QStringLiteral("Lidar %1 : please make sure it is powered on").arg(selectedText));
        return;
    }
    if (InitCommunication()) {
        connectedLidarName = selectedText;
        connectedPortName = portName;
    } else {
        closePort();  // without remote off: the lidar did not identify itself
    }
    emit controlsChanged();
}

void LidarConnection::CloseLidarPort()
{
    if (!isOpen())
        return;
    // A lidar that hung up while idle hears nothing; the operator need not hear of it either.
    if (!m_transport->probe()) {
        trace(lcLidar(), QStringLiteral("Lidar %1: port lost: %2").arg(connectedLidarName, m_transport->errorString()));
        releaseLostPort();
        return;
    }
    SetLidarRemoteMode(false);
    releaseLostPort();
}

void LidarConnection::releaseLostPort()
{
    closePort();
    connectedLidarName.clear();
    connectedPortName.clear();
}

void LidarConnection::releaseIfFailed()
{
    if (!isOpen() || m_transport->deviceThread() != thread() || !m_transport->hasFailed())
        return;
    trace(lcLidar(), QStringLiteral("Lidar %1: port lost: %2").arg(connectedLidarName, m_transport->errorString()));
    releaseLostPort();
    emit controlsChanged();
}

bool LidarConnection::ConnectSelectedLidar(const QString &selectedText)
{
    // A lidar that vanished while idle leaves the link open; a look without waiting brings
    // its hang-up to light.
    if (isOpen() && !m_transport->probe()) {
        trace(lcLidar(), QStringLiteral("Lidar %1: port lost: %2").arg(connectedLidarName, m_transport->errorString()));
        releaseLostPort();
    }
    if (isOpen() && selectedText == connectedLidarName)
        return true;
    if (isOpen())
        CloseLidarPort();
    OpenLidarPort(selectedText);
    return isOpen();
}

bool LidarConnection::SetLidarRemoteMode(bool on)
{
    if (!m_transport)
        return false;
    return SendCommand(*m_transport, remoteModeFrame(on), QStringLiteral("SetLidarRemoteMode"), true, m_op);
}

bool LidarConnection::InitCommunication()
{
    const QString label = QStringLiteral("InitCommunication");
    if (!SetLidarRemoteMode(true))
        return false;
    Transport &link = *m_transport;
    if (!WritePort(link, identifyFrame(), label, m_op)) {
        m_op.closeWait();
        return false;
    }
    const QByteArray reply = ReadPort(link, timeout::kReply, -1, label, identifyTextEnd());
    if (reply.isEmpty()) {
        m_op.inform(applicationTitle(), QStringLiteral("InitCommunication: Lidar does not response"));
        return false;
    }
    const QByteArray meaningful = withoutLeadingNulls(reply);
    if (meaningful.isEmpty()) {
        m_op.inform(applicationTitle(),
                    QStringLiteral("InitCommunication: Invalid response(null characters) from the lidar"));
        return false;
    }
    lidarType = lidarTypeFromReply(meaningful);
    if (lidarType == kLidarTypeNone) {
        m_op.inform(applicationTitle(), QStringLiteral("Invalid lidar type detected"));
        return false;
    }
    const FirmwareVersion version = firmwareFromReply(meaningful);
    firmwareMajor = version.major;
    firmwareMinor = version.minor;
    trace(lcLidar(), QStringLiteral("InitCommunication: lidar type %1, firmware %2.%3")
                         .arg(lidarType).arg(firmwareMajor).arg(firmwareMinor));
    return true;
}

}  // namespace velomark
