// The discovery logic over lists standing in for the system's look-ups, the fixed list of
// VELOMARK_LIDARS, and the BlueZ look-ups against a mock org.bluez on a private bus with a
// sysfs tree of our own.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "lidar/discovery/discovery.h"
#include "lidar/discovery/discovery_bluez.h"
#include "recordingoperator.h"
#include "simlink.h"

using namespace velomark;

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");
const QString kBusName = QStringLiteral("velomark-discovery-test");
const QString kNoService = QStringLiteral("No Bluetooth adapter/service found in the system");

// Marks the messages shown after the please-wait window closed with "+".
class SequenceOperator : public RecordingOperator
{
public:
    void inform(const QString &title, const QString &text) override
    {
        events.append((waitOpen ? "" : "+") + title + ": " + text);
        RecordingOperator::inform(title, text);
    }
    QStringList events;
};

// Look-ups answered from lists: "name=address[=direct port]" and "identifier=port"; "!N:text" is
// failure N with the system's text, "?text" a fetch error the device look-up went on after.
class ListSource : public DiscoverySource
{
public:
    ListSource(const QStringList &devices, const QStringList &instances)
    {
        for (const QString &d : devices) {
            if (d.startsWith('!'))
                deviceLookup = {DeviceLookup::Failure(d.mid(1, 1).toInt()), d.mid(3), {}, {}};
            else if (d.startsWith('?'))
                deviceLookup.fetchErrors.append(d.mid(1));
            else
                deviceLookup.devices.append({d.section('=', 0, 0), d.section('=', 1, 1), d.section('=', 2)});
        }
        for (const QString &i : instances) {
            if (i.startsWith('!'))
                instanceLookup = {InstanceLookup::Failure(i.mid(1, 1).toInt()), i.mid(3), {}};
            else
                instanceLookup.instances.append({i.section('=', 0, 0), i.section('=', 1)});
        }
    }
    DeviceLookup devices() override { return deviceLookup; }
    InstanceLookup serialInstances() override { return instanceLookup; }
    DeviceLookup deviceLookup;
    InstanceLookup instanceLookup;
};

QStringList rows(const LidarList &lidars)
{
    QStringList out;
    for (const LidarEntry &lidar : lidars)
        out.append(lidar.name + '|' + lidar.address + '|' + lidar.portName);
    return out;
}

}  // namespace

class TestDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationName(QStringLiteral("Velomark"));
        if (QFile::exists(kPython) && QProcess::execute(kPython, {"-c", "import dbusmock"}) == 0) {
            m_bus = std::make_unique<simlink::PrivateBus>();
            QVERIFY(!m_bus->address.isEmpty());
        }
    }
    void cleanupTestCase() { QDBusConnection::disconnectFromBus(kBusName); }
    void init()
    {
        if (!m_bus && QByteArray(QTest::currentTestFunction()).startsWith("bluez"))
            QSKIP("python3-dbusmock is not installed (make deps)");
        QDir(m_sysfs.path()).removeRecursively();
        QVERIFY(QDir().mkpath(m_sysfs.filePath("sys/class/tty")));
    }
    void cleanup()
    {
        if (m_mock.state() == QProcess::NotRunning)
            return;
        m_mock.terminate();
        m_mock.waitForFinished(5000);
        // The next case starts from a bus without org.bluez.
        QTRY_VERIFY_WITH_TIMEOUT(!bus().interface()->isServiceRegistered("org.bluez"), 5000);
    }

    void logic_data()
    {
        using L = QStringList;
        QTest::addColumn<L>("devices");
        QTest::addColumn<L>("instances");
        QTest::addColumn<L>("lidars");
        QTest::addColumn<L>("events");
        const L none, noLidar{"+Velomark: No lidar device found in this system"};
        const QString spp = "{00001101-0000-1000-8000-00805f9b34fb}_VID&0001000f_PID&1200\\8&2a1c&0&";
        const QString bt1 = "bluetooth:11:11:11:11:11:11";
        QTest::newRow("two instances with one address: the last sets the port") << L{"VZQ 4711=00A0F1B2C3D4"}
            << L{spp + "00A0F1B2C3D4_C00000000=COM5", "B_000000000000=COM6", "C_00A0F1B2C3D4_2=COM7"}
            << L{"VZQ 4711|00A0F1B2C3D4|COM7"} << none;
        QTest::newRow("two devices with one name, listed twice in the devices' order")
            << L{"VZQ1=111111111111", "VZQ1=222222222222"} << L{"X_222222222222=COM8", "X_111111111111=COM9"}
            << L{"VZQ1|111111111111|COM9", "VZQ1|222222222222|COM8"} << none;
        QTest::newRow("vzq in other cases is no lidar") << L{"vzq 4711=00A0F1B2C3D4", "VzQ=00A0F1B2C3D5", "Phone=00A0F1B2C3D6"}
            << L{"X_00A0F1B2C3D4=COM5"} << none << noLidar;
        QTest::newRow("an identifier in lower-case hex does not match") << L{"VZQ1=00A0F1B2C3D4"}
            << L{"X_00a0f1b2c3d4_C0=COM5"} << none << noLidar;
        QTest::newRow("a lidar without port is not listed") << L{"VZQ1=111111111111", "VZQ2=222222222222"}
            << L{"X_222222222222=COM4"} << L{"VZQ2|222222222222|COM4"} << none;
        QTest::newRow("a device without address takes no port") << L{"VZQ1="} << L{"X_111111111111=COM4"} << none << noLidar;
        QTest::newRow("socket library fails") << L{"!1:Not enough memory."} << none << none
                                              << L{"Velomark: WSAStartup : Not enough memory."};
        QTest::newRow("no Bluetooth service") << L{"!2:ignored"} << none << none << L{"Velomark: " + kNoService};
        QTest::newRow("look-up does not begin") << L{"!3:Access denied."} << none << none
                                                << L{"Velomark: WSALookupServiceBegin : Access denied."};
        QTest::newRow("fetch errors are reported and the look-up goes on") << L{"VZQ1=111111111111", "?first", "?second"}
            << L{"X_111111111111=COM4"} << L{"VZQ1|111111111111|COM4"}
            << L{"Velomark: WSALookupServiceNext : first", "Velomark: WSALookupServiceNext : second"};
        QTest::newRow("no Bluetooth serial ports at all") << L{"VZQ1=111111111111"} << L{"!1:"} << none
                                                          << L{"Velomark: No lidar Bluetooth interface found in this system"};
        QTest::newRow("a lidar without instance takes its direct port, a bound one keeps its port")
            << L{"VZQ1=111111111111=" + bt1, "VZQ2=222222222222=bluetooth:22:22:22:22:22:22"} << L{"X_222222222222=/dev/rfcomm0"}
            << L{"VZQ1|111111111111|" + bt1, "VZQ2|222222222222|/dev/rfcomm0"} << none;
        QTest::newRow("no serial ports at all, but a direct port") << L{"VZQ1=111111111111=" + bt1} << L{"!1:"}
                                                                   << L{"VZQ1|111111111111|" + bt1} << none;
        QTest::newRow("serial port enumeration unreadable") << L{"VZQ1=111111111111"} << L{"!2:Access is denied."} << none
                                                            << L{"Velomark: RegOpenKeyExW : Access is denied."};
    }
    void logic()
    {
        QFETCH(QStringList, devices);
        QFETCH(QStringList, instances);
        QFETCH(QStringList, lidars);
        QFETCH(QStringList, events);
        ListSource source(devices, instances);
        SequenceOperator op;
        QCOMPARE(rows(discoverLidars(source, op)), lidars);
        QCOMPARE(op.events, events);
        QCOMPARE(op.waitTexts, QStringList{"Searching for lidar devices, please wait ..."});
        QVERIFY(!op.waitOpen);
    }

    void fixedList_data()
    {
        QTest::addColumn<QString>("entries");
        QTest::addColumn<QStringList>("lidars");
        const QStringList none;
        QTest::newRow("two lidars") << "VZQ1=/dev/pts/3;VZQ2=/dev/pts/4"
                                    << QStringList{"VZQ1|0A0000000001|/dev/pts/3", "VZQ2|0A0000000002|/dev/pts/4"};
        QTest::newRow("blanks and empty items") << " VZQ 1 = /dev/pts/3 ;; ;" << QStringList{"VZQ 1|0A0000000001|/dev/pts/3"};
        QTest::newRow("an entry without port is not listed") << "VZQ1;VZQ2=" << none;
        QTest::newRow("the name must carry the mark") << "Phone=/dev/pts/3;VZQ2=/dev/pts/4"
                                                      << QStringList{"VZQ2|0A0000000002|/dev/pts/4"};
        // Addresses are found inside identifiers: none may take a neighbour's port.
        QStringList entries, lidars;
        for (int i = 0; i < 300; ++i) {
            entries << QStringLiteral("VZQ%1=/dev/port%1").arg(i);
            lidars << QStringLiteral("VZQ%1|%2|/dev/port%1").arg(i).arg(FixedListSource::addressFor(i));
        }
        QTest::newRow("300 entries") << entries.join(';') << lidars;
    }
    void fixedList()
    {
        QFETCH(QString, entries);
        QFETCH(QStringList, lidars);
        FixedListSource source(entries);
        RecordingOperator op;
        QCOMPARE(rows(discoverLidars(source, op)), lidars);
        QCOMPARE(op.texts(), lidars.isEmpty() ? QStringList{"No lidar device found in this system"} : QStringList());
    }

    // By name (velomark-cli --lidar): when discovery has already said why nothing was found,
    // no second message.
    void byNameWithoutLidars()
    {
        qputenv("VELOMARK_LIDARS", "");
        RecordingOperator op;
        QVERIFY(!discoverLidarByName("VZQ1", op));
        QCOMPARE(op.texts(), QStringList{"No lidar device found in this system"});
        qunsetenv("VELOMARK_LIDARS");
    }

    void bluezLookUp_data()
    {
        using L = QStringList;
        QTest::addColumn<QString>("service");  // "none", "unreachable", "hung", "mock", "adapter"
        // "address|name|paired[|spp]"; name "-": only an Alias; spp: it offers the serial port profile
        QTest::addColumn<L>("devices");
        QTest::addColumn<L>("ttys");  // "rfcommN=address attribute"; "rfcommN": none
        QTest::addColumn<L>("lidars");
        QTest::addColumn<QString>("message");
        const QString noLidar = QStringLiteral("No lidar device found in this system");
        const L none, port0{"rfcomm0=00:a0:f1:b2:c3:d4"}, lidar{"00:A0:F1:B2:C3:D4|VZQ 4711|1"};
        const L lidarSpp{"00:A0:F1:B2:C3:D4|VZQ 4711|1|spp"};
        QTest::newRow("paired lidar with a bound port") << "adapter" << lidar << port0
                                                        << L{"VZQ 4711|00A0F1B2C3D4|/dev/rfcomm0"} << "";
        QTest::newRow("unpaired lidar and paired phone") << "adapter"
            << L{"00:A0:F1:B2:C3:D4|VZQ 4711|0", "11:22:33:44:55:66|Phone|1"} << port0 << none << noLidar;
        QTest::newRow("device without Name goes by its Alias") << "adapter" << L{"00:A0:F1:B2:C3:D4|-|1"}
            << L{"rfcomm3=00:a0:f1:b2:c3:d4"} << L{"VZQ alias|00A0F1B2C3D4|/dev/rfcomm3"} << "";
        QTest::newRow("ports in numeric order, the last bound one wins") << "adapter" << lidar
            << L{"rfcomm10=00:a0:f1:b2:c3:d4", "rfcomm9=00:A0:F1:B2:C3:D4", "rfcomm2"}
            << L{"VZQ 4711|00A0F1B2C3D4|/dev/rfcomm10"} << "";
        QTest::newRow("lidar without port") << "adapter" << lidar
            << L{"rfcomm0=11:22:33:44:55:66", "rfcomm1=garbage", "ttyS0=00:a0:f1:b2:c3:d4"} << none << noLidar;
        QTest::newRow("lidar offering the serial port without a tty is reached through BlueZ") << "adapter" << lidarSpp
            << L{"ttyS0"} << L{"VZQ 4711|00A0F1B2C3D4|bluetooth:00:A0:F1:B2:C3:D4"} << "";
        QTest::newRow("lidar offering the serial port with a bound tty uses the tty") << "adapter" << lidarSpp << port0
            << L{"VZQ 4711|00A0F1B2C3D4|/dev/rfcomm0"} << "";
        QTest::newRow("no RFCOMM tty at all, no serial port profile") << "adapter" << lidar << L{"ttyS0"} << none
            << "No lidar Bluetooth interface found in this system";
        for (const char *service : {"mock", "none", "unreachable", "hung"})  // no adapter, no org.bluez, no bus
            QTest::newRow(service) << service << none << port0 << none << kNoService;
    }
    void bluezLookUp()
    {
        QFETCH(QString, service);
        QFETCH(QStringList, devices);
        QFETCH(QStringList, ttys);
        QFETCH(QStringList, lidars);
        QFETCH(QString, message);
        if (service == "mock" || service == "adapter")
            startMock();
        if (service == "hung") {
            m_mock.setProcessEnvironment(busEnvironment());
            m_mock.start(kPython, {"-c", "import dbus, sys, time\nbus = dbus.bus.BusConnection(sys.argv[1])\n"
                                         "bus.request_name('org.bluez')\nprint('ready', flush=True)\ntime.sleep(120)\n",
                                   m_bus->address});
            QVERIFY(m_mock.waitForReadyRead(20000));
        }
        if (service == "adapter")
            mockCall("/", "org.bluez.Mock.AddAdapter", {"hci0", "velomark-host"});
        for (const QString &device : devices) {
            const QStringList fields = device.split('|');
            const QString path = "/org/bluez/hci0/dev_" + QString(fields.at(0)).replace(':', '_');
            if (fields.at(1) == "-") {
                // QtDBus cannot spell AddObject's argument types without registered structures.
                QProcess gdbus;
                gdbus.setProcessEnvironment(busEnvironment());
                gdbus.start("gdbus", {"call", "--system", "--dest", "org.bluez", "--object-path", "/", "--method",
                                      "org.freedesktop.DBus.Mock.AddObject", path, "org.bluez.Device1",
                                      QStringLiteral("{'Address': <'%1'>, 'Alias': <'VZQ alias'>, 'Paired': <true>}")
                                          .arg(fields.at(0)),
                                      "@a(ssss) []"});
                QVERIFY(gdbus.waitForFinished(10000) && gdbus.exitCode() == 0);
                continue;
            }
            mockCall("/", "org.bluez.Mock.AddDevice", {"hci0", fields.at(0), fields.at(1)});
            if (fields.at(2) == "1")
                mockCall("/", "org.bluez.Mock.PairDevice", {"hci0", fields.at(0), 0x1f00});
            if (fields.value(3) == "spp")
                mockCall(path, "org.freedesktop.DBus.Mock.UpdateProperties",
                         {"org.bluez.Device1", QVariantMap{{"UUIDs", QStringList{"00001101-0000-1000-8000-00805f9b34fb"}}}});
        }
        for (const QString &tty : ttys)
            writeTty(tty.section('=', 0, 0), tty.contains('=') ? tty.section('=', 1).toLatin1() : QByteArray());

        const QDBusConnection connection = service == "unreachable"
            ? QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "velomark-nowhere") : bus();
        BluezSource source(connection, m_sysfs.path(), "/dev");
        RecordingOperator op;
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(rows(discoverLidars(source, op)), lidars);
        // A hung bus costs the call's time-out, never more.
        const qint64 elapsed = timer.elapsed();
        QVERIFY2(service != "hung" || elapsed >= BluezSource::kBusTimeoutMs - 200, qPrintable(QString::number(elapsed)));
        QVERIFY2(elapsed < BluezSource::kBusTimeoutMs + 5000, qPrintable(QString::number(elapsed)));
        QCOMPARE(op.texts(), message.isEmpty() ? QStringList() : QStringList{message});
        if (!message.isEmpty())
            QCOMPARE(op.messages.first().title, QStringLiteral("Velomark"));

        // velomark-cli lidars: one line per lidar, or the message on standard error and status 1.
        QProcessEnvironment env = busEnvironment();
        env.insert("VELOMARK_SYSFS_ROOT", m_sysfs.path());
        QProcess cli;
        cli.setProcessEnvironment(env);
        cli.start(qEnvironmentVariable("VELOMARK_CLI"), {"lidars"});
        QVERIFY(cli.waitForFinished(20000));
        QCOMPARE(QString(cli.readAllStandardOutput()), lidars.isEmpty() ? QString() : lidars.join('\n').replace('|', '\t') + '\n');
        QCOMPARE(QString(cli.readAllStandardError()), message.isEmpty() ? QString() : message + '\n');
        QCOMPARE(cli.exitCode(), lidars.isEmpty() ? 1 : 0);
    }

private:
    QDBusConnection bus() const { return QDBusConnection::connectToBus(m_bus->address, kBusName); }

    QProcessEnvironment busEnvironment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SYSTEM_BUS_ADDRESS", m_bus->address);
        env.remove("VELOMARK_LIDARS");
        // Trace lines on standard error would hide what the command line itself writes there.
        env.remove("QT_LOGGING_RULES");
        return env;
    }

    void startMock()
    {
        m_mock.setProcessEnvironment(busEnvironment());
        m_mock.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_mock.start(kPython, {"-m", "dbusmock", "--template", "bluez5"});
        QVERIFY(m_mock.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(bus().interface()->isServiceRegistered("org.bluez"), 20000);
    }

    // method: interface and member, "org.bluez.Mock.AddDevice"
    void mockCall(const QString &path, const QString &method, const QVariantList &arguments)
    {
        QDBusMessage call = QDBusMessage::createMethodCall("org.bluez", path, method.section('.', 0, -2),
                                                           method.section('.', -1));
        call.setArguments(arguments);
        const QDBusMessage reply = bus().call(call);
        QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(method + ": " + reply.errorMessage()));
    }

    void writeTty(const QString &name, const QByteArray &address)
    {
        const QString folder = m_sysfs.filePath("sys/class/tty/" + name);
        QVERIFY(QDir().mkpath(folder));
        QFile file(folder + "/address");
        QVERIFY(address.isNull() || (file.open(QIODevice::WriteOnly) && file.write(address + '\n') > 0));
    }

    std::unique_ptr<simlink::PrivateBus> m_bus;
    QProcess m_mock;
    QTemporaryDir m_sysfs;
};

QTEST_GUILESS_MAIN(TestDiscovery)
#include "tst_discovery.moc"
