#include "lidar/transport/profile_bluez.h"

#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QMutexLocker>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/trace.h"
#include "lidar/discovery/discovery_bluez.h"

namespace velomark {

namespace {

const QString kBluezService = QStringLiteral("org.bluez");
const QString kDeviceInterface = QStringLiteral("org.bluez.Device1");
const QString kNoReply = QStringLiteral("org.freedesktop.DBus.Error.NoReply");
const QString kTimeout = QStringLiteral("org.freedesktop.DBus.Error.Timeout");

// One call to BlueZ that waits at most kCallTimeoutMs for its answer.
QDBusMessage callBluez(const QDBusConnection &bus, const QString &path, const QString &interface,
                       const QString &method, const QVariantList &arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kBluezService, path, interface, method);
    call.setArguments(arguments);
    return bus.call(call, QDBus::Block, BluezProfile::kCallTimeoutMs);
}

// Tells BlueZ something without waiting for its answer.
void sendToBluez(const QDBusConnection &bus, const QString &path, const QString &interface,
                 const QString &method, const QVariantList &arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kBluezService, path, interface, method);
    call.setArguments(arguments);
    call.setAutoStartService(false);
    bus.send(call);
}

bool isHang(const QString &errorName)
{
    return errorName == kNoReply || errorName == kTimeout;
}

}  // namespace

const QString BluezProfile::kSerialPortUuid = QStringLiteral("00001101-0000-1000-8000-00805f9b34fb");
const QString BluezProfile::kObjectPath = QStringLiteral("/org/velomark/serial_port");

void ProfileEndpoint::expect(const QString &devicePath)
{
    QMutexLocker lock(&m_mutex);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_expected = devicePath;
}

int ProfileEndpoint::take(int msecs)
{
    QMutexLocker lock(&m_mutex);
    QDeadlineTimer deadline(msecs);
    while (m_fd < 0 && !deadline.hasExpired())
        m_arrived.wait(&m_mutex, deadline);
    const int fd = m_fd;
    if (fd >= 0) {
        if (m_held >= 0)
            ::close(m_held);
        m_held = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        m_heldDevice = m_expected;
    }
    m_fd = -1;
    m_expected.clear();
    return fd;
}

void ProfileEndpoint::forget()
{
    QMutexLocker lock(&m_mutex);
    if (m_held >= 0)
        ::close(m_held);
    m_held = -1;
    m_heldDevice.clear();
}

void ProfileEndpoint::Release()
{
    trace(lcLidar(), QStringLiteral("Profile1.Release"));
}

void ProfileEndpoint::NewConnection(const QDBusObjectPath &device, const QDBusUnixFileDescriptor &fd,
                                    const QVariantMap &properties)
{
    Q_UNUSED(properties)
    trace(lcLidar(), QStringLiteral("Profile1.NewConnection: %1").arg(device.path()));
    QMutexLocker lock(&m_mutex);
    // A socket nobody waits for any more (an attempt that gave up) is refused; the descriptor
    // object closes it.
    if (!fd.isValid() || device.path() != m_expected || m_fd >= 0) {
        sendErrorReply(QStringLiteral("org.bluez.Error.Rejected"),
                       QStringLiteral("no connection to %1 is awaited").arg(device.path()));
        return;
    }
    // The descriptor object closes its own copy.
    m_fd = ::fcntl(fd.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    m_arrived.wakeAll();
}

void ProfileEndpoint::RequestDisconnection(const QDBusObjectPath &device)
{
    trace(lcLidar(), QStringLiteral("Profile1.RequestDisconnection: %1").arg(device.path()));
    QMutexLocker lock(&m_mutex);
    if (m_held < 0 || device.path() != m_heldDevice)
        return;
    // The reader of the socket sees its end, as when the lidar hangs up, and the port is lost.
    ::shutdown(m_held, SHUT_RDWR);
    ::close(m_held);
    m_held = -1;
    m_heldDevice.clear();
}

BluezProfile::BluezProfile()
    : m_bus(QDBusConnection::connectToBus(QDBusConnection::SystemBus,
                                          QStringLiteral("velomark-profile-%1").arg(quintptr(this)))),
      m_endpoint(new ProfileEndpoint)
{
    m_endpoint->moveToThread(&m_thread);
    m_thread.setObjectName(QStringLiteral("Profile1"));
    m_thread.start();
}

BluezProfile::~BluezProfile()
{
    if (m_registered)
        sendToBluez(m_bus, QStringLiteral("/org/bluez"), QStringLiteral("org.bluez.ProfileManager1"),
                    QStringLiteral("UnregisterProfile"), {QVariant::fromValue(QDBusObjectPath(kObjectPath))});
    if (m_exported)
        m_bus.unregisterObject(kObjectPath);
    m_thread.quit();
    m_thread.wait();
    m_endpoint->forget();
    delete m_endpoint;
    QDBusConnection::disconnectFromBus(m_bus.name());
}

bool BluezProfile::registerProfile(Connection *failure)
{
    if (m_registered)
        return true;
    if (!m_exported) {
        m_exported = m_bus.registerObject(kObjectPath, m_endpoint, QDBusConnection::ExportAllSlots);
        if (!m_exported) {
            failure->errorName = m_bus.lastError().name();
            failure->errorText = QStringLiteral("cannot export %1: %2").arg(kObjectPath, m_bus.lastError().message());
            return false;
        }
    }
    const QVariantMap options{
        {QStringLiteral("Name"), QStringLiteral("Velomark lidar link")},
        {QStringLiteral("Role"), QStringLiteral("client")},
        {QStringLiteral("AutoConnect"), false},
    };
    const QDBusMessage reply = callBluez(
        m_bus, QStringLiteral("/org/bluez"), QStringLiteral("org.bluez.ProfileManager1"),
        QStringLiteral("RegisterProfile"),
        {QVariant::fromValue(QDBusObjectPath(kObjectPath)), kSerialPortUuid, options});
    // A profile left registered on this connection serves as well.
    if (reply.type() == QDBusMessage::ErrorMessage
        && reply.errorName() != QLatin1String("org.bluez.Error.AlreadyExists")) {
        failure->errorName = reply.errorName();
        failure->errorText = reply.errorMessage();
        failure->hung = isHang(reply.errorName());
        return false;
    }
    m_registered = true;
    return true;
}

BluezProfile::Connection BluezProfile::connect(const QString &address)
{
    Connection result;
    if (!m_bus.isConnected()) {
        result.errorName = m_bus.lastError().name();
        result.errorText = m_bus.lastError().message();
        return result;
    }
    const QDeadlineTimer started(kCallTimeoutMs);
    const QString path = BluezSource::devicePath(m_bus, address, &result.errorName, &result.errorText);
    result.devicePath = path;
    if (path.isEmpty()) {
        result.hung = isHang(result.errorName);
        return result;
    }
    if (!registerProfile(&result))
        return result;

    m_endpoint->expect(path);
    const QDBusMessage reply = callBluez(m_bus, path, kDeviceInterface, QStringLiteral("ConnectProfile"),
                                         {kSerialPortUuid});
    if (reply.type() == QDBusMessage::ErrorMessage) {
        result.errorName = reply.errorName();
        result.errorText = reply.errorMessage();
        result.hung = isHang(reply.errorName());
        // A socket handed over before the failure is not used.
        const int late = m_endpoint->take(0);
        if (late >= 0)
            ::close(late);
        return result;
    }
    // BlueZ hands the socket over before it answers; a moment's grace for a late hand-over.
    result.fd = m_endpoint->take(int(qBound<qint64>(200, started.remainingTime(), kCallTimeoutMs)));
    if (result.fd < 0) {
        result.errorName = QStringLiteral("org.bluez.Error.Failed");
        result.errorText = QStringLiteral("ConnectProfile succeeded but no socket was handed over");
    }
    return result;
}

void BluezProfile::disconnect(const QString &devicePath)
{
    m_endpoint->forget();
    if (!devicePath.isEmpty())
        sendToBluez(m_bus, devicePath, kDeviceInterface, QStringLiteral("DisconnectProfile"), {kSerialPortUuid});
}

}  // namespace velomark
