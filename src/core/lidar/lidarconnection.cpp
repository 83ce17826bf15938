#include "lidar/lidarconnection.h"

#include <QThread>

#include "common/operatorinterface.h"
#include "common/trace.h"
#include "lidar/frame.h"
#include "lidar/identification.h"

namespace velomark {

QString serialPortName(const QString &portName)
{
#ifdef Q_OS_WIN
    return QStringLiteral("\\\\.\\%1").arg(portName);
#else
    return portName;
#endif
}

bool portFailed(const QSerialPort &port)
{
    if (!port.isOpen())
        return true;
    const QSerialPort::SerialPortError error = port.error();
    return error == QSerialPort::ReadError || error == QSerialPort::ResourceError;
}

LidarConnection::LidarConnection(OperatorInterface &op, QObject *parent)
    : QObject(parent), m_op(op)
{
    // A port whose lidar vanished while idle keeps waking the event loop with errors. The
    // error may be raised on a reader's thread; the check is posted to this object's thread
    // and waits for its loop, so that no exchange or reader loses the port under its feet.
    connect(&m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError)
            QMetaObject::invokeMethod(this, &LidarConnection::releaseIfFailed, Qt::QueuedConnection);
    }, Qt::DirectConnection);
}

LidarConnection::~LidarConnection() = default;

bool LidarConnection::framedDiagCommands() const
{
    return usesFramedDiagCommands(firmwareMajor, firmwareMinor);
}

bool LidarConnection::configurePort(const QString &portName)
{
    m_port.setPortName(serialPortName(portName));
    const auto failed = [this](const char *setter) {
        m_op.inform(applicationTitle(), QLatin1String(setter) + m_port.errorString());
        return false;
    };
    if (!m_port.setDataBits(QSerialPort::Data8))
        return failed("setDataBits() failed with error: ");
    if (!m_port.setParity(QSerialPort::NoParity))
        return failed("setParity() failed with error: ");
    if (!m_port.setStopBits(QSerialPort::OneStop))
        return failed("setStopBits() failed with error: ");
    if (!m_port.setFlowControl(QSerialPort::NoFlowControl))
        return failed("setFlowControl() failed with error: ");
    if (!m_port.setBaudRate(57600, QSerialPort::AllDirections))
        return failed("setBaudRate() failed with error: ");
    return true;
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
    if (!configurePort(entry->portName))
        return;

    m_openError.clear();
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (m_port.open(QIODevice::ReadWrite)) {
            m_openError.clear();
            break;
        }
        m_openError = m_port.errorString();
        trace(lcLidar(), QStringLiteral("OpenLidarPort: %1: %2").arg(m_port.portName(), m_openError));
        // A Bluetooth port may need a moment after the lidar wakes up.
        QThread::sleep(1);
    }

    if (m_port.isOpen()) {
        if (InitCommunication())
            connectedLidarName = selectedText;
        else
            m_port.close();  // without remote off: the lidar did not identify itself
        emit controlsChanged();
        return;
    }
    m_op.inform(applicationTitle(),
                QStringLiteral("Lidar %1 : please make sure it is powered on").arg(selectedText));
}

void LidarConnection::CloseLidarPort()
{
    if (!m_port.isOpen())
        return;
    SetLidarRemoteMode(false);
    m_port.close();
    connectedLidarName.clear();
}

void LidarConnection::releaseLostPort()
{
    m_port.close();
    connectedLidarName.clear();
}

void LidarConnection::releaseIfFailed()
{
    if (!m_port.isOpen() || m_port.thread() != thread() || !portFailed(m_port))
        return;
    trace(lcLidar(), QStringLiteral("Lidar %1: port lost: %2").arg(connectedLidarName, m_port.errorString()));
    releaseLostPort();
    emit controlsChanged();
}

bool LidarConnection::ConnectSelectedLidar(const QString &selectedText)
{
    if (m_port.isOpen()) {
        // A lidar that vanished while idle leaves the port open; a look without waiting
        // brings its hang-up to light.
        m_port.waitForReadyRead(0);
        if (portFailed(m_port)) {
            trace(lcLidar(), QStringLiteral("Lidar %1: port lost: %2").arg(connectedLidarName, m_port.errorString()));
            releaseLostPort();
        }
    }
    if (m_port.isOpen() && selectedText == connectedLidarName)
        return true;
    if (m_port.isOpen())
        CloseLidarPort();
    OpenLidarPort(selectedText);
    return m_port.isOpen();
}

bool LidarConnection::SetLidarRemoteMode(bool on)
{
    LidarChannel link = channel();
    return SendCommand(link, remoteModeFrame(on), QStringLiteral("SetLidarRemoteMode"), true, m_op);
}

bool LidarConnection::InitCommunication()
{
    const QString label = QStringLiteral("InitCommunication");
    if (!SetLidarRemoteMode(true))
        return false;
    LidarChannel link = channel();
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
