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
    // Clears what an earlier attempt left and names the device whose socket is awaited.
    void expect(const QString &devicePath);
    // The socket for the awaited device, waiting up to msecs for it; -1 when none came. The
    // endpoint keeps a copy, so that BlueZ's RequestDisconnection can end the connection under
    // whichever thread reads it.
    int take(int msecs);
    // Lets go of the copy of the socket handed over last.
    void forget();

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
    QString m_heldDevice;
    int m_held = -1;
};

class BluezProfile
{
public:
    // No call to BlueZ waits longer for its answer: discovery's limit.
    static constexpr int kCallTimeoutMs = BluezSource::kBusTimeoutMs;
    static const QString kSerialPortUuid;
    static const QString kObjectPath;

    struct Connection
    {
        int fd = -1;         // the connected socket; -1 on failure
        QString devicePath;  // BlueZ's object of the device, for disconnect()
        QString errorName;   // BlueZ's (or D-Bus's) error name on failure
        QString errorText;
        bool hung = false;   // BlueZ gave no answer in time: another attempt would hang too
    };

    // Opens a connection of its own to the system bus, which ends with the profile: the shared
    // one delivers no calls to our objects before the event loop first runs, and a command
    // line never runs it.
    BluezProfile();
    ~BluezProfile();  // unregisters the profile without waiting
    BluezProfile(const BluezProfile &) = delete;
    BluezProfile &operator=(const BluezProfile &) = delete;

    // Connects the serial port profile of the paired device with that address
    // ("AA:BB:CC:DD:EE:FF"); the caller owns the returned socket.
    Connection connect(const QString &address);
    // Asks BlueZ to release the profile connection of the device, without waiting for its
    // answer.
    void disconnect(const QString &devicePath);

private:
    bool registerProfile(Connection *failure);

    QDBusConnection m_bus;
    QThread m_thread;
    ProfileEndpoint *m_endpoint;
    bool m_registered = false;
    bool m_exported = false;
};

}  // namespace velomark
