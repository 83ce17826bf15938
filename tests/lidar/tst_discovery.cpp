// The discovery logic over lists standing in for the system's look-ups, the fixed list of
// VELOMARK_LIDARS, and the BlueZ look-ups against the BlueZ stand-in with a sysfs tree of our own.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QTemporaryDir>
#include <QtTest>

#include "lidar/discovery/discovery.h"
#include "lidar/discovery/discovery_bluez.h"
#include "clirun.h"
#include "recordingoperator.h"
#include "simlink.h"

using namespace velomark;

namespace {

const QString kNoService = QStringLiteral("No Bluetooth adapter/service found in the system");

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
        qunsetenv("VELOMARK_LIDARS");
    }

    void logic_data()
    {
        using L = QStringList;
        QTest::addColumn<L>("devices");
        QTest::addColumn<L>("instances");
        QTest::addColumn<L>("lidars");
        QTest::addColumn<L>("events");  // "title: text", after "+" when shown once the wait closed
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
        QFETCH(QStringList, events);
        ListSource source(devices, instances);
        RecordingOperator op;
        QTEST(rows(discoverLidars(source, op)), "lidars");
        QStringList shown;
        for (const RecordedMessage &m : op.messages)
            shown << (m.whileWaiting ? "" : "+") + m.title + ": " + m.text;
        QCOMPARE(shown, events);
        QCOMPARE(op.waitTexts, QStringList{"Searching for lidar devices, please wait ..."});
        QVERIFY(!op.waitOpen);
    }

    void fixedList_data()
    {
        QTest::addColumn<QString>("entries");
        QTest::addColumn<QStringList>("lidars");
        QTest::newRow("blanks and empty items") << " VZQ 1 = /dev/pts/3 ;; ;" << QStringList{"VZQ 1|0A0000000001|/dev/pts/3"};
        QTest::newRow("an entry without port is not listed") << "VZQ1;VZQ2=" << QStringList();
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
        // mock_bluez.py's arguments; "none": no org.bluez on the bus, "unreachable": no bus at all
        QTest::addColumn<L>("standIn");
        QTest::addColumn<L>("ttys");  // "rfcommN=address attribute"; "rfcommN": none
        QTest::addColumn<L>("lidars");
        QTest::addColumn<QString>("message");
        const QString noLidar = QStringLiteral("No lidar device found in this system");
        const QString lidar = QStringLiteral("00:A0:F1:B2:C3:D4=VZQ 4711=hang=nospp");
        const L none, port0{"rfcomm0=00:a0:f1:b2:c3:d4"};
        QTest::newRow("unpaired lidar and paired phone")
            << L{lidar + ",unpaired", "11:22:33:44:55:66=Phone=hang=nospp"} << port0 << none << noLidar;
        QTest::newRow("device without Name goes by its Alias") << L{"00:A0:F1:B2:C3:D4=alias:VZQ alias=hang=nospp"}
            << L{"rfcomm3=00:a0:f1:b2:c3:d4"} << L{"VZQ alias|00A0F1B2C3D4|/dev/rfcomm3"} << "";
        QTest::newRow("ports in numeric order, the last bound one wins") << L{lidar}
            << L{"rfcomm10=00:a0:f1:b2:c3:d4", "rfcomm9=00:A0:F1:B2:C3:D4", "rfcomm2"}
            << L{"VZQ 4711|00A0F1B2C3D4|/dev/rfcomm10"} << "";
        QTest::newRow("lidar without port") << L{lidar}
            << L{"rfcomm0=11:22:33:44:55:66", "rfcomm1=garbage", "ttyS0=00:a0:f1:b2:c3:d4"} << none << noLidar;
        QTest::newRow("no RFCOMM tty at all, no serial port profile") << L{lidar} << L{"ttyS0"} << none
            << "No lidar Bluetooth interface found in this system";
        for (const char *standIn : {"--no-adapter", "none", "unreachable", "--hang"})
            QTest::newRow(standIn) << L{standIn} << port0 << none << kNoService;
    }
    void bluezLookUp()
    {
        QFETCH(QStringList, standIn);
        QFETCH(QStringList, lidars);
        QFETCH(QString, message);
        if (!simlink::BluezStandIn::unavailable().isEmpty())
            QSKIP(qPrintable(simlink::BluezStandIn::unavailable()));
        QVERIFY(!simlink::BluezStandIn::busAddress().isEmpty());
        simlink::BluezStandIn bluez;
        if (standIn.first() != "none" && standIn.first() != "unreachable")
            QVERIFY(bluez.start(standIn));
        QTemporaryDir sysfs;
        QFETCH(QStringList, ttys);
        for (const QString &tty : ttys) {
            const QString folder = sysfs.filePath("sys/class/tty/" + tty.section('=', 0, 0));
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(!tty.contains('=') || writeFileBytes(folder + "/address", tty.section('=', 1).toLatin1() + '\n'));
        }

        const QDBusConnection connection = standIn.first() == "unreachable"
            ? QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "velomark-nowhere") : QDBusConnection::systemBus();
        BluezSource source(connection, sysfs.path(), "/dev");
        RecordingOperator op;
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(rows(discoverLidars(source, op)), lidars);
        // A hung bus costs the call's time-out, never more.
        const qint64 elapsed = timer.elapsed();
        QVERIFY2(standIn.first() != "--hang" || elapsed >= BluezSource::kBusTimeoutMs - 200, qPrintable(QString::number(elapsed)));
        QVERIFY2(elapsed < BluezSource::kBusTimeoutMs + 5000, qPrintable(QString::number(elapsed)));
        QCOMPARE(op.texts(), message.isEmpty() ? QStringList() : QStringList{message});

        // velomark-cli lidars: one line per lidar, or the message on standard error and status 1;
        // without trace lines there.
        const CliRun run = runCli({"lidars"}, {"VELOMARK_SYSFS_ROOT=" + sysfs.path(), "QT_LOGGING_RULES="});
        QCOMPARE(QString(run.out), lidars.isEmpty() ? QString() : lidars.join('\n').replace('|', '\t') + '\n');
        QCOMPARE(QString(run.err), message.isEmpty() ? QString() : message + '\n');
        QCOMPARE(run.exitCode, lidars.isEmpty() ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestDiscovery)
#include "tst_discovery.moc"
