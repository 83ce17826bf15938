#include "lidar/transport/profile_bluez.h"

#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QMutexLocker>
#include <QRegularExpression>

#include <fcntl.h>
#include <unistd.h>

#include "common/trace.h"
#include "lidar/discovery/discovery_bluez.h"

namespace velomark {

namespace {

const QString kBluezService = QStringLiteral("org.bluez");
const QString kDeviceInterface = QStringLiteral("org.bluez.Device1");
const QString kManagerPath = QStringLiteral("/org/bluez");
const QString kManagerInterface = QStringLiteral("org.bluez.ProfileManager1");

QDBusMessage callBluez(const QDBusConnection &bus, const QString &path, const QString &interface,
                       const QString &method, const QVariantList &arguments, int timeoutMs)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kBluezService, path, interface, method);
    call.setArguments(arguments);
    return bus.call(call, QDBus::Block, timeoutMs);
}

bool isHang(const QString &errorName)
{
    return errorName == QLatin1String("org.freedesktop.DBus.Error.NoReply")
           || errorName == QLatin1String("org.freedesktop.DBus.Error.Timeout");
}

bool profileForgotten(const QString &errorName)
{
    return errorName == QLatin1String("org.bluez.Error.NotAvailable")
           || errorName == QLatin1String("org.bluez.Error.DoesNotExist");
}

// A lidar still waking up, or one BlueZ is busy with, or one that did not answer the page in
// time, may well connect a moment later.
bool mayPass(const QDBusMessage &reply)
{
    static const QRegularExpression pageTimeout(QStringLiteral("page.?timeout"),
                                                QRegularExpression::CaseInsensitiveOption);
    const QString name = reply.errorName();
    return name == QLatin1String("org.bluez.Error.NotReady") || name == QLatin1String("org.bluez.Error.InProgress")
           || (name == QLatin1String("org.bluez.Error.Failed") && pageTimeout.match(reply.errorMessage()).hasMatch());
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
    m_released = false;
}

int ProfileEndpoint::take(int msecs)
{
    QMutexLocker lock(&m_mutex);
    QDeadlineTimer deadline(msecs);
    while (m_fd < 0 && !deadline.hasExpired())
        m_arrived.wait(&m_mutex, deadline);
    const int fd = m_fd;
    m_fd = -1;
    m_expected.clear();
    return fd;
}

bool ProfileEndpoint::released()
{
    QMutexLocker lock(&m_mutex);
    return m_released;
}

void ProfileEndpoint::Release()
{
    trace(lcLidar(), QStringLiteral("Profile1.Release"));
    QMutexLocker lock(&m_mutex);
    m_released = true;
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
    // Only a socket the attempt has not taken yet is still ours to end; BlueZ no longer knows
    // the profile once the attempt is over.
    if (m_fd >= 0 && device.path() == m_expected) {
        ::close(m_fd);
        m_fd = -1;
    }
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
    if (m_exported)
        m_bus.unregisterObject(kObjectPath);
    m_thread.quit();
    m_thread.wait();
    delete m_endpoint;
    QDBusConnection::disconnectFromBus(m_bus.name());
}

bool BluezProfile::registerProfile(Connection *failure)
{
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
    const QDBusMessage reply = callBluez(m_bus, kManagerPath, kManagerInterface, QStringLiteral("RegisterProfile"),
                                         {QVariant::fromValue(QDBusObjectPath(kObjectPath)), kSerialPortUuid, options},
                                         kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        failure->errorName = reply.errorName();
        failure->errorText = reply.errorMessage();
        return false;
    }
    m_registered = true;
    return true;
}

void BluezProfile::unregisterProfile()
{
    if (!m_registered)
        return;
    m_registered = false;
    // BlueZ's answer is awaited, so that another program's ConnectProfile that follows finds our
    // profile gone; a registration BlueZ had dropped already is no failure.
    callBluez(m_bus, kManagerPath, kManagerInterface, QStringLiteral("UnregisterProfile"),
              {QVariant::fromValue(QDBusObjectPath(kObjectPath))}, kCallTimeoutMs);
}

QDBusMessage BluezProfile::connectProfile(const QString &devicePath)
{
    return callBluez(m_bus, devicePath, kDeviceInterface, QStringLiteral("ConnectProfile"), {kSerialPortUuid},
                     kConnectTimeoutMs);
}

BluezProfile::Connection BluezProfile::connect(const QString &address)
{
    Connection result;
    if (!m_bus.isConnected()) {
        result.errorName = m_bus.lastError().name();
        result.errorText = m_bus.lastError().message();
        return result;
    }
    const QString path = BluezSource::devicePath(m_bus, address, &result.errorName, &result.errorText);
    if (path.isEmpty())
        return result;
    m_endpoint->expect(path);
    if (!registerProfile(&result))
        return result;

    QDBusMessage reply = connectProfile(path);
    // A BlueZ that restarted since our registration knows the profile no more: one more
    // registration and one more try.
    if (reply.type() == QDBusMessage::ErrorMessage
        && (profileForgotten(reply.errorName()) || m_endpoint->released())) {
        trace(lcLidar(), QStringLiteral("ConnectProfile: %1: registering the profile again").arg(reply.errorName()));
        m_endpoint->expect(path);
        unregisterProfile();
        if (!registerProfile(&result))
            return result;
        reply = connectProfile(path);
    }
    if (reply.type() == QDBusMessage::ErrorMessage) {
        result.errorName = reply.errorName();
        result.errorText = reply.errorMessage();
        result.mayPass = mayPass(reply);
        // A socket handed over before the failure is not used.
        const int late = m_endpoint->take(0);
        if (late >= 0)
            ::close(late);
        // A BlueZ that does not answer would keep us waiting once more; leaving the bus drops
        // the registration as well.
        if (isHang(reply.errorName()))
            return result;
    } else {
        // The hand-over comes before the answer, but the endpoint's thread may not have seen it yet.
        result.fd = m_endpoint->take(kCallTimeoutMs);
        if (result.fd < 0) {
            result.errorName = QStringLiteral("org.bluez.Error.Failed");
            result.errorText = QStringLiteral("ConnectProfile succeeded but no socket was handed over");
            // Another program's profile, registered at the same moment, may have been given it.
            result.mayPass = true;
        }
    }
    unregisterProfile();
    return result;
}

}  // namespace velomark
