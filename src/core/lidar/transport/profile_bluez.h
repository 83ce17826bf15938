#pragma once
// The serial port profile of a paired lidar reached through BlueZ itself: our org.bluez.Profile1
// object, registered with ProfileManager1 for the Serial Port Profile as a client, receives the
// connected RFCOMM socket that Device1.ConnectProfile makes. No tty, no root.
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>
#include <QVariantMap>
#include <QWaitCondition>

#include "lidar/discovery/discovery_bluez.h"

namespace velomark {

// The org.bluez.Profile1 object. It lives on a thread of its own, so BlueZ's NewConnection is
// answered while the caller of ConnectProfile blocks on the reply.
class ProfileEndpoint : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.bluez.Profile1")
public:
    // Clears what an earlier try left and names the device whose socket is awaited.
    void expect(const QString &devicePath);
    // The socket for the awaited device, waiting up to msecs for it; -1 when none came. The
    // caller owns it, and no later socket is taken.
    int take(int msecs);
    // BlueZ dropped the registration (Profile1.Release) since the last expect().
    bool released();

public slots:
    void Release();
    void NewConnection(const QDBusObjectPath &device, const QDBusUnixFileDescriptor &fd,
                       const QVariantMap &properties);
    void RequestDisconnection(const QDBusObjectPath &device);

private:
    QMutex m_mutex;
    QWaitCondition m_arrived;
    QString m_expected;
    int m_fd = -1;
    bool m_released = false;
};

// One connection attempt's registration of the profile. BlueZ hands a socket to the first
// profile registered for the UUID, whichever program registered it, so the profile is
// registered only while the attempt lasts: a socket already handed over stays connected after
// it is unregistered, since we hold our own descriptor.
class BluezProfile
{
public:
    // No call to BlueZ but ConnectProfile waits longer for its answer: discovery's limit.
    static constexpr int kCallTimeoutMs = BluezSource::kBusTimeoutMs;
    // BlueZ pages the lidar for up to 5.12 s, then runs SDP and sets up RFCOMM before it answers.
    static constexpr int kConnectTimeoutMs = 25000;
    static const QString kSerialPortUuid;
    static const QString kObjectPath;

    struct Connection
    {
        int fd = -1;            // the connected socket; -1 on failure
        QString errorName;      // BlueZ's (or D-Bus's) error name on failure
        QString errorText;
        bool mayPass = false;   // the failure may pass: another attempt in a moment may connect
    };

    // Opens a connection of its own to the system bus, which ends with the profile: the shared
    // one delivers no calls to our objects before the event loop first runs, and a command
    // line never runs it.
    BluezProfile();
    // Leaving the bus drops a registration that is left, should BlueZ not have answered.
    ~BluezProfile();
    BluezProfile(const BluezProfile &) = delete;
    BluezProfile &operator=(const BluezProfile &) = delete;

    // One attempt to connect the serial port profile of the paired device with that address
    // ("AA:BB:CC:DD:EE:FF"); the caller owns the returned socket. The profile is registered
    // for the attempt and unregistered when it ends.
    Connection connect(const QString &address);

private:
    bool registerProfile(Connection *failure);
    void unregisterProfile();
    QDBusMessage connectProfile(const QString &devicePath);

    QDBusConnection m_bus;
    QThread m_thread;
    ProfileEndpoint *m_endpoint;
    bool m_registered = false;
    bool m_exported = false;
};

}  // namespace velomark
