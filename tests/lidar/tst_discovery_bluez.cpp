// The BlueZ look-ups against a mock org.bluez on a private bus and a sysfs tree of our own.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "lidar/discovery.h"
#include "lidar/discovery_bluez.h"
#include "recordingoperator.h"

using namespace velomark;

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");
const QString kBusName = QStringLiteral("velomark-discovery-test");

QStringList rows(const LidarList &lidars)
{
    QStringList out;
    for (const LidarEntry &lidar : lidars)
        out.append(lidar.name + QLatin1Char('|') + lidar.address + QLatin1Char('|') + lidar.portName);
    return out;
}

}  // namespace

class TestDiscoveryBluez : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void lookUp_data();
    void lookUp();
    void noBluezService();
    void hungServiceTimesOut();
    void commandLine();

private:
    void startMock();
    void mockCall(const QString &method, const QVariantList &arguments);
    void gdbus(const QStringList &arguments);
    void writeTty(const QString &name, const QByteArray &address);
    QProcessEnvironment busEnvironment() const;

    QProcess m_daemon;
    QProcess m_mock;
    QString m_address;
    QTemporaryDir m_sysfs;
};

void TestDiscoveryBluez::initTestCase()
{
    QCoreApplication::setApplicationName(QStringLiteral("Velomark"));
    if (!QFile::exists(kPython) || QProcess::execute(kPython, {"-c", "import dbusmock"}) != 0)
        QSKIP("python3-dbusmock is not installed (make deps)");
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    QVERIFY2(m_daemon.waitForStarted(5000), "dbus-daemon does not start");
    QVERIFY(m_daemon.waitForReadyRead(10000));
    m_address = QString::fromLocal8Bit(m_daemon.readLine()).trimmed();
    QVERIFY(!m_address.isEmpty());
}

void TestDiscoveryBluez::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(kBusName);
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        m_daemon.waitForFinished(5000);
    }
}

void TestDiscoveryBluez::init()
{
    QVERIFY(m_sysfs.isValid());
    QDir(m_sysfs.path()).removeRecursively();
    QVERIFY(QDir().mkpath(m_sysfs.filePath("sys/class/tty")));
}

void TestDiscoveryBluez::cleanup()
{
    if (m_mock.state() != QProcess::NotRunning) {
        m_mock.terminate();
        m_mock.waitForFinished(5000);
    }
    // The next case starts from a bus without org.bluez.
    QDBusConnection bus = QDBusConnection::connectToBus(m_address, kBusName);
    QElapsedTimer timer;
    timer.start();
    while (bus.interface()->isServiceRegistered(QStringLiteral("org.bluez")) && timer.elapsed() < 5000)
        QTest::qWait(20);
}

QProcessEnvironment TestDiscoveryBluez::busEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), m_address);
    env.remove(QStringLiteral("VELOMARK_LIDARS"));
    // Trace lines on standard error would hide what the command line itself writes there.
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    return env;
}

void TestDiscoveryBluez::startMock()
{
    m_mock.setProcessEnvironment(busEnvironment());
    m_mock.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_mock.start(kPython, {"-m", "dbusmock", "--template", "bluez5"});
    QVERIFY(m_mock.waitForStarted(5000));
    QDBusConnection bus = QDBusConnection::connectToBus(m_address, kBusName);
    QVERIFY2(bus.isConnected(), qPrintable(bus.lastError().message()));
    QElapsedTimer timer;
    timer.start();
    while (!bus.interface()->isServiceRegistered(QStringLiteral("org.bluez"))) {
        QVERIFY2(timer.elapsed() < 20000, "the mock never took the name org.bluez");
        QVERIFY(m_mock.state() == QProcess::Running);
        QTest::qWait(50);
    }
}

void TestDiscoveryBluez::mockCall(const QString &method, const QVariantList &arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.bluez"), QStringLiteral("/"), QStringLiteral("org.bluez.Mock"), method);
    call.setArguments(arguments);
    const QDBusMessage reply = QDBusConnection::connectToBus(m_address, kBusName).call(call);
    QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(method + ": " + reply.errorMessage()));
}

// For the calls whose argument types QtDBus cannot spell without registered structures.
void TestDiscoveryBluez::gdbus(const QStringList &arguments)
{
    QProcess process;
    process.setProcessEnvironment(busEnvironment());
    process.start(QStringLiteral("gdbus"), QStringList{"call", "--system"} + arguments);
    QVERIFY(process.waitForFinished(10000));
    QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
}

void TestDiscoveryBluez::writeTty(const QString &name, const QByteArray &address)
{
    const QString folder = m_sysfs.filePath("sys/class/tty/" + name);
    QVERIFY(QDir().mkpath(folder));
    if (address.isNull())
        return;
    QFile file(folder + "/address");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(address + '\n');
}

void TestDiscoveryBluez::lookUp_data()
{
    QTest::addColumn<bool>("adapter");
    // "address|name|paired"; a name of "-" makes a device that has only an Alias.
    QTest::addColumn<QStringList>("devices");
    // "rfcommN=address attribute"; "rfcommN" alone has no attribute.
    QTest::addColumn<QStringList>("ttys");
    QTest::addColumn<QStringList>("lidars");
    QTest::addColumn<QStringList>("messages");

    const QString noLidar = QStringLiteral("No lidar device found in this system");
    QTest::newRow("paired lidar with a bound port")
        << true << QStringList{"00:A0:F1:B2:C3:D4|VZQ 4711|1"}
        << QStringList{"rfcomm0=00:a0:f1:b2:c3:d4"}
        << QStringList{"VZQ 4711|00A0F1B2C3D4|/dev/rfcomm0"} << QStringList();
    QTest::newRow("unpaired lidar does not count")
        << true << QStringList{"00:A0:F1:B2:C3:D4|VZQ 4711|0", "11:22:33:44:55:66|Phone|1"}
        << QStringList{"rfcomm0=00:a0:f1:b2:c3:d4"} << QStringList() << QStringList{noLidar};
    QTest::newRow("paired and unpaired")
        << true << QStringList{"00:A0:F1:B2:C3:D4|VZQ 1|0", "00:A0:F1:B2:C3:D5|VZQ 2|1"}
        << QStringList{"rfcomm0=00:a0:f1:b2:c3:d4", "rfcomm1=00:a0:f1:b2:c3:d5"}
        << QStringList{"VZQ 2|00A0F1B2C3D5|/dev/rfcomm1"} << QStringList();
    QTest::newRow("device without Name goes by its Alias")
        << true << QStringList{"00:A0:F1:B2:C3:D4|-|1"} << QStringList{"rfcomm3=00:a0:f1:b2:c3:d4"}
        << QStringList{"VZQ alias|00A0F1B2C3D4|/dev/rfcomm3"} << QStringList();
    QTest::newRow("ports in numeric order, the last bound one wins")
        << true << QStringList{"00:A0:F1:B2:C3:D4|VZQ 1|1"}
        << QStringList{"rfcomm10=00:a0:f1:b2:c3:d4", "rfcomm9=00:A0:F1:B2:C3:D4", "rfcomm2"}
        << QStringList{"VZQ 1|00A0F1B2C3D4|/dev/rfcomm10"} << QStringList();
    QTest::newRow("lidar without port")
        << true << QStringList{"00:A0:F1:B2:C3:D4|VZQ 1|1"}
        << QStringList{"rfcomm0=11:22:33:44:55:66", "rfcomm1=garbage", "ttyS0=00:a0:f1:b2:c3:d4"}
        << QStringList() << QStringList{noLidar};
    QTest::newRow("no RFCOMM tty at all")
        << true << QStringList{"00:A0:F1:B2:C3:D4|VZQ 1|1"} << QStringList{"ttyS0"}
        << QStringList() << QStringList{"No lidar Bluetooth interface found in this system"};
    QTest::newRow("no adapter")
        << false << QStringList() << QStringList{"rfcomm0=00:a0:f1:b2:c3:d4"}
        << QStringList() << QStringList{"No Bluetooth adapter/service found in the system"};
}

void TestDiscoveryBluez::lookUp()
{
    QFETCH(bool, adapter);
    QFETCH(QStringList, devices);
    QFETCH(QStringList, ttys);
    QFETCH(QStringList, lidars);
    QFETCH(QStringList, messages);

    startMock();
    if (adapter)
        mockCall("AddAdapter", {"hci0", "velomark-host"});
    for (const QString &device : devices) {
        const QStringList fields = device.split('|');
        const QString address = fields.at(0);
        if (fields.at(1) == "-") {
            const QString path = "/org/bluez/hci0/dev_" + QString(address).replace(':', '_');
            gdbus({"--dest", "org.bluez", "--object-path", "/", "--method",
                   "org.freedesktop.DBus.Mock.AddObject", path, "org.bluez.Device1",
                   QStringLiteral("{'Address': <'%1'>, 'Alias': <'VZQ alias'>, 'Paired': <%2>}")
                       .arg(address, fields.at(2) == "1" ? "true" : "false"),
                   "@a(ssss) []"});
            continue;
        }
        mockCall("AddDevice", {"hci0", address, fields.at(1)});
        if (fields.at(2) == "1")
            mockCall("PairDevice", {"hci0", address, 0x1f00});
    }
    for (const QString &tty : ttys) {
        const int equals = tty.indexOf('=');
        writeTty(tty.left(equals), equals < 0 ? QByteArray() : tty.mid(equals + 1).toLatin1());
    }

    BluezSource source(QDBusConnection::connectToBus(m_address, kBusName), m_sysfs.path(), "/dev");
    RecordingOperator op;
    QCOMPARE(rows(discoverLidars(source, op)), lidars);
    QCOMPARE(op.texts(), messages);
    for (const RecordedMessage &message : qAsConst(op.messages))
        QCOMPARE(message.title, QStringLiteral("Velomark"));
}

void TestDiscoveryBluez::noBluezService()
{
    writeTty("rfcomm0", "00:a0:f1:b2:c3:d4");
    BluezSource source(QDBusConnection::connectToBus(m_address, kBusName), m_sysfs.path(), "/dev");
    RecordingOperator op;
    QVERIFY(discoverLidars(source, op).isEmpty());
    QCOMPARE(op.texts(), QStringList{"No Bluetooth adapter/service found in the system"});

    // A bus that cannot be reached reads the same.
    BluezSource nowhere(QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "velomark-nowhere"),
                        m_sysfs.path(), "/dev");
    op.messages.clear();
    QVERIFY(discoverLidars(nowhere, op).isEmpty());
    QCOMPARE(op.texts(), QStringList{"No Bluetooth adapter/service found in the system"});
    QDBusConnection::disconnectFromBus("velomark-nowhere");
}

void TestDiscoveryBluez::hungServiceTimesOut()
{
    // A service that owns the name but never answers.
    m_mock.setProcessEnvironment(busEnvironment());
    m_mock.start(kPython, {"-c",
                           "import dbus, sys, time\n"
                           "bus = dbus.bus.BusConnection(sys.argv[1])\n"
                           "bus.request_name('org.bluez')\n"
                           "print('ready', flush=True)\n"
                           "time.sleep(120)\n",
                           m_address});
    QVERIFY(m_mock.waitForReadyRead(20000));

    BluezSource source(QDBusConnection::connectToBus(m_address, kBusName), m_sysfs.path(), "/dev");
    RecordingOperator op;
    QElapsedTimer timer;
    timer.start();
    QVERIFY(discoverLidars(source, op).isEmpty());
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed >= BluezSource::kBusTimeoutMs - 200, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < BluezSource::kBusTimeoutMs + 5000, qPrintable(QString::number(elapsed)));
    QCOMPARE(op.texts(), QStringList{"No Bluetooth adapter/service found in the system"});
}

void TestDiscoveryBluez::commandLine()
{
    const QString cli = qEnvironmentVariable("VELOMARK_CLI");
    if (cli.isEmpty())
        QSKIP("VELOMARK_CLI is not set");
    startMock();
    mockCall("AddAdapter", {"hci0", "velomark-host"});
    mockCall("AddDevice", {"hci0", "00:A0:F1:B2:C3:D4", "VZQ 4711"});
    mockCall("PairDevice", {"hci0", "00:A0:F1:B2:C3:D4", 0x1f00});
    writeTty("rfcomm0", "00:a0:f1:b2:c3:d4");

    QProcessEnvironment env = busEnvironment();
    env.insert("VELOMARK_SYSFS_ROOT", m_sysfs.path());
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(cli, {"lidars"});
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.readAllStandardError(), QByteArray());
    QCOMPARE(process.readAllStandardOutput(), QByteArray("VZQ 4711\t00A0F1B2C3D4\t/dev/rfcomm0\n"));
    QCOMPARE(process.exitCode(), 0);

    // Without a bound port nothing is listed: the message goes to standard error, status 1.
    QVERIFY(QDir(m_sysfs.filePath("sys/class/tty/rfcomm0")).removeRecursively());
    writeTty("rfcomm1", "11:22:33:44:55:66");
    process.start(cli, {"lidars"});
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.readAllStandardOutput(), QByteArray());
    QCOMPARE(process.readAllStandardError(), QByteArray("No lidar device found in this system\n"));
    QCOMPARE(process.exitCode(), 1);
}

QTEST_GUILESS_MAIN(TestDiscoveryBluez)
#include "tst_discovery_bluez.moc"
