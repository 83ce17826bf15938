#include "lidar/lidarconnection.h"

#include <QThread>

#include "common/operatorinterface.h"
#include "common/trace.h"
#include "lidar/frame.h"
#include "lidar/identification.h"

#ifndef Q_OS_WIN
#include "lidar/discovery_bluez.h"
#include "lidar/profile_bluez.h"
#include "lidar/socketport_posix.h"
#endif

namespace velomark {

QString serialPortName(const QString &portName)
{
#ifdef Q_OS_WIN
    return QStringLiteral("\\\\.\\%1").arg(portName);
#else
    return portName;
#endif
}

namespace {
const QString kBluetoothPrefix = QStringLiteral("bluetooth:");
}  // namespace

QString bluetoothPortName(const QString &compactAddress)
{
    QString text = compactAddress.toUpper();
    for (int at = text.size() - 2; at > 0; at -= 2)
        text.insert(at, QLatin1Char(':'));
    return kBluetoothPrefix + text;
}

QString bluetoothPortAddress(const QString &portName)
{
    if (!portName.startsWith(kBluetoothPrefix, Qt::CaseInsensitive))
        return QString();
#ifdef Q_OS_WIN
    return QString();
#else
    const QString compact = BluezSource::compactAddress(portName.mid(kBluetoothPrefix.size()));
    return compact.isEmpty() ? QString() : bluetoothPortName(compact).mid(kBluetoothPrefix.size());
#endif
}

bool portFailed(const QIODevice &port)
{
    if (!port.isOpen())
        return true;
    if (const auto *serial = qobject_cast<const QSerialPort *>(&port)) {
        const QSerialPort::SerialPortError error = serial->error();
        return error == QSerialPort::ReadError || error == QSerialPort::ResourceError;
    }
#ifndef Q_OS_WIN
    if (const auto *socket = qobject_cast<const SocketPort *>(&port))
        return socket->hasFailed();
#endif
    return false;
}

void clearPortError(QIODevice &port)
{
    if (auto *serial = qobject_cast<QSerialPort *>(&port))
        serial->clearError();
#ifndef Q_OS_WIN
    else if (auto *socket = qobject_cast<SocketPort *>(&port))
        socket->clearError();
#endif
}

LidarConnection::LidarConnection(OperatorInterface &op, QObject *parent)
    : QObject(parent), m_op(op)
{
    // A port whose lidar vanished while idle keeps waking the event loop with errors. The
    // error may be raised on a reader's thread; the check is posted to this object's thread
    // and waits for its loop, so that no exchange or reader loses the port under its feet.
    connect(&m_serial, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError)
            QMetaObject::invokeMethod(this, &LidarConnection::releaseIfFailed, Qt::QueuedConnection);
    }, Qt::DirectConnection);
}

LidarConnection::~LidarConnection()
{
    closePort();
}

LidarChannel LidarConnection::channel()
{
#ifndef Q_OS_WIN
    if (m_socket && m_port == m_socket.get()) {
        SocketPort &socket = *m_socket;
        return LidarChannel(socket, [&socket](Purge which) {
            if (which != Purge::Output)
                socket.purgeInput();
            if (which != Purge::Input)
                socket.purgeOutput();
        });
    }
#endif
    return LidarChannel::forSerialPort(m_serial);
}

bool LidarConnection::framedDiagCommands() const
{
    return usesFramedDiagCommands(firmwareMajor, firmwareMinor);
}

bool LidarConnection::configurePort(const QString &portName)
{
    m_serial.setPortName(serialPortName(portName));
    const auto failed = [this](const char *setter) {
        m_op.inform(applicationTitle(), QLatin1String(setter) + m_serial.errorString());
        return false;
    };
    if (!m_serial.setDataBits(QSerialPort::Data8))
        return failed("setDataBits() failed with error: ");
    if (!m_serial.setParity(QSerialPort::NoParity))
        return failed("setParity() failed with error: ");
    if (!m_serial.setStopBits(QSerialPort::OneStop))
        return failed("setStopBits() failed with error: ");
    if (!m_serial.setFlowControl(QSerialPort::NoFlowControl))
        return failed("setFlowControl() failed with error: ");
    if (!m_serial.setBaudRate(57600, QSerialPort::AllDirections))
        return failed("setBaudRate() failed with error: ");
    return true;
}

bool LidarConnection::openOnce(const LidarEntry &entry, bool *retry)
{
    const QString address = bluetoothPortAddress(entry.portName);
    if (address.isEmpty()) {
        m_port = &m_serial;
        if (m_serial.open(QIODevice::ReadWrite))
            return true;
        m_openError = m_serial.errorString();
        trace(lcLidar(), QStringLiteral("OpenLidarPort: %1: %2").arg(m_serial.portName(), m_openError));
        return false;
    }
#ifdef Q_OS_WIN
    *retry = false;
    m_openError = QStringLiteral("%1: no such port on this system").arg(entry.portName);
    return false;
#else
    if (!m_profile)
        m_profile = std::make_unique<BluezProfile>();
    if (!m_socket) {
        m_socket = std::make_unique<SocketPort>();
        // A socket that fails while idle is released as the serial port is.
        connect(m_socket.get(), &SocketPort::lost, this, [this] {
            QMetaObject::invokeMethod(this, &LidarConnection::releaseIfFailed, Qt::QueuedConnection);
        }, Qt::DirectConnection);
    }
    const BluezProfile::Connection connection = m_profile->connect(address);
    if (connection.fd >= 0 && m_socket->openDescriptor(connection.fd)) {
        m_port = m_socket.get();
        m_bluetoothDevice = connection.devicePath;
        return true;
    }
    m_openError = connection.fd >= 0 ? m_socket->errorString()
                                     : QStringLiteral("%1: %2").arg(connection.errorName, connection.errorText);
    trace(lcLidar(), QStringLiteral("OpenLidarPort: %1: %2").arg(entry.portName, m_openError));
    m_profile->disconnect(connection.devicePath);
    // A BlueZ that does not answer would only make the window wait again.
    *retry = !connection.hung;
    return false;
#endif
}

void LidarConnection::closePort()
{
    m_port->close();
#ifndef Q_OS_WIN
    if (m_profile && !m_bluetoothDevice.isEmpty())
        m_profile->disconnect(m_bluetoothDevice);
#endif
    m_bluetoothDevice.clear();
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
    if (bluetoothPortAddress(entry->portName).isEmpty() && !configurePort(entry->portName))
        return;

    m_openError.clear();
    bool retry = true;
    for (int attempt = 0; attempt < 3 && retry; ++attempt) {
        if (openOnce(*entry, &retry)) {
            m_openError.clear();
            break;
        }
        // A Bluetooth port may need a moment after the lidar wakes up.
        if (retry)
            QThread::msleep(openRetryPauseMs);
    }

    if (m_port->isOpen()) {
        if (InitCommunication())
            connectedLidarName = selectedText;
        else
            closePort();  // without remote off: the lidar did not identify itself
        emit controlsChanged();
        return;
    }
    m_op.inform(applicationTitle(),
                QStringLiteral("Lidar %1 : please make sure it is powered on").arg(selectedText));
}

void LidarConnection::CloseLidarPort()
{
    if (!m_port->isOpen())
        return;
    SetLidarRemoteMode(false);
    closePort();
    connectedLidarName.clear();
}

void LidarConnection::releaseLostPort()
{
    closePort();
    connectedLidarName.clear();
}

void LidarConnection::releaseIfFailed()
{
    if (!m_port->isOpen() || m_port->thread() != thread() || !portFailed(*m_port))
        return;
    trace(lcLidar(), QStringLiteral("Lidar %1: port lost: %2").arg(connectedLidarName, m_port->errorString()));
    releaseLostPort();
    emit controlsChanged();
}

bool LidarConnection::ConnectSelectedLidar(const QString &selectedText)
{
    if (m_port->isOpen()) {
        // A lidar that vanished while idle leaves the port open; a look without waiting
        // brings its hang-up to light.
        m_port->waitForReadyRead(0);
        if (portFailed(*m_port)) {
            trace(lcLidar(), QStringLiteral("Lidar %1: port lost: %2").arg(connectedLidarName, m_port->errorString()));
            releaseLostPort();
        }
    }
    if (m_port->isOpen() && selectedText == connectedLidarName)
        return true;
    if (m_port->isOpen())
        CloseLidarPort();
    OpenLidarPort(selectedText);
    return m_port->isOpen();
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
