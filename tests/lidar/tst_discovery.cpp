// The discovery logic over lists standing in for the system's look-ups, and the fixed list
// of VELOMARK_LIDARS.
#include <QCoreApplication>
#include <QtTest>

#include "lidar/discovery.h"
#include "recordingoperator.h"

using namespace velomark;

namespace {

const QString kTitle = QStringLiteral("Velomark");
const QString kWait = QStringLiteral("wait:Searching for lidar devices, please wait ...");
const QString kClose = QStringLiteral("close");

QString inform(const QString &text)
{
    return QStringLiteral("inform:") + kTitle + QLatin1Char(':') + text;
}

// Keeps the order of messages and please-wait steps, which the recorder alone does not.
class SequenceOperator : public RecordingOperator
{
public:
    void inform(const QString &title, const QString &text) override
    {
        events.append(QStringLiteral("inform:") + title + QLatin1Char(':') + text);
        RecordingOperator::inform(title, text);
    }
    void showWait(const QString &text) override
    {
        events.append(QStringLiteral("wait:") + text);
        RecordingOperator::showWait(text);
    }
    void closeWait() override
    {
        events.append(kClose);
        RecordingOperator::closeWait();
    }
    QStringList events;
};

// Look-ups answered from lists: "name=address" and "identifier=port".
class ListSource : public DiscoverySource
{
public:
    DeviceLookup devices() override { return deviceLookup; }
    InstanceLookup serialInstances() override
    {
        ++instanceCalls;
        return instanceLookup;
    }
    DeviceLookup deviceLookup;
    InstanceLookup instanceLookup;
    int instanceCalls = 0;
};

QStringList rows(const LidarList &lidars)
{
    QStringList out;
    for (const LidarEntry &lidar : lidars)
        out.append(lidar.name + QLatin1Char('|') + lidar.address + QLatin1Char('|') + lidar.portName);
    return out;
}

}  // namespace

class TestDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCoreApplication::setApplicationName(kTitle); }
    void logic_data();
    void logic();
    void fixedList_data();
    void fixedList();
    void fixedListGivesEveryEntryItsOwnPort();
    void environmentReplacesPlatform();
    void byName();
};

void TestDiscovery::logic_data()
{
    QTest::addColumn<int>("deviceFailure");
    QTest::addColumn<QString>("deviceText");
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QStringList>("fetchErrors");
    QTest::addColumn<int>("instanceFailure");
    QTest::addColumn<QString>("instanceText");
    QTest::addColumn<QStringList>("instances");
    QTest::addColumn<QStringList>("lidars");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<bool>("instancesAsked");

    const QString noLidar = QStringLiteral("No lidar device found in this system");
    const QString spp = QStringLiteral("{00001101-0000-1000-8000-00805f9b34fb}_VID&0001000f_PID&1200\\");

    QTest::newRow("one lidar, one port")
        << 0 << QString() << QStringList{"VZQ 4711=00A0F1B2C3D4"} << QStringList()
        << 0 << QString() << QStringList{spp + "8&2a1c&0&00A0F1B2C3D4_C00000000=COM5"}
        << QStringList{"VZQ 4711|00A0F1B2C3D4|COM5"} << QStringList{kWait, kClose} << true;
    QTest::newRow("two instances with one address: the last sets the port")
        << 0 << QString() << QStringList{"VZQ1=00A0F1B2C3D4"} << QStringList()
        << 0 << QString()
        << QStringList{"A_00A0F1B2C3D4_1=COM5", "B_000000000000=COM6", "C_00A0F1B2C3D4_2=COM7"}
        << QStringList{"VZQ1|00A0F1B2C3D4|COM7"} << QStringList{kWait, kClose} << true;
    QTest::newRow("two devices with one name are listed twice")
        << 0 << QString() << QStringList{"VZQ1=111111111111", "VZQ1=222222222222"} << QStringList()
        << 0 << QString() << QStringList{"X_222222222222=COM8", "X_111111111111=COM9"}
        << QStringList{"VZQ1|111111111111|COM9", "VZQ1|222222222222|COM8"}
        << QStringList{kWait, kClose} << true;
    QTest::newRow("list order is the devices' order")
        << 0 << QString() << QStringList{"VZQ-B=BBBBBBBBBBBB", "VZQ-A=AAAAAAAAAAAA"} << QStringList()
        << 0 << QString() << QStringList{"AAAAAAAAAAAA=COM1", "BBBBBBBBBBBB=COM2"}
        << QStringList{"VZQ-B|BBBBBBBBBBBB|COM2", "VZQ-A|AAAAAAAAAAAA|COM1"}
        << QStringList{kWait, kClose} << true;
    QTest::newRow("the mark may stand anywhere in the name")
        << 0 << QString() << QStringList{"Speed-VZQ-0815=0123456789AB"} << QStringList()
        << 0 << QString() << QStringList{"x0123456789ABy=COM3"}
        << QStringList{"Speed-VZQ-0815|0123456789AB|COM3"} << QStringList{kWait, kClose} << true;
    QTest::newRow("vzq in other cases is no lidar")
        << 0 << QString() << QStringList{"vzq 4711=00A0F1B2C3D4", "VzQ=00A0F1B2C3D5", "Phone=00A0F1B2C3D6"}
        << QStringList() << 0 << QString() << QStringList{"X_00A0F1B2C3D4=COM5"}
        << QStringList() << QStringList{kWait, kClose, inform(noLidar)} << false;
    QTest::newRow("no device at all")
        << 0 << QString() << QStringList() << QStringList() << 0 << QString() << QStringList()
        << QStringList() << QStringList{kWait, kClose, inform(noLidar)} << false;
    QTest::newRow("an identifier in lower-case hex does not match")
        << 0 << QString() << QStringList{"VZQ1=00A0F1B2C3D4"} << QStringList()
        << 0 << QString() << QStringList{"X_00a0f1b2c3d4_C0=COM5"}
        << QStringList() << QStringList{kWait, kClose, inform(noLidar)} << true;
    QTest::newRow("a lidar without port is not listed")
        << 0 << QString() << QStringList{"VZQ1=111111111111", "VZQ2=222222222222"} << QStringList()
        << 0 << QString() << QStringList{"X_222222222222=COM4"}
        << QStringList{"VZQ2|222222222222|COM4"} << QStringList{kWait, kClose} << true;
    QTest::newRow("an instance whose port cannot be read is skipped")
        << 0 << QString() << QStringList{"VZQ1=111111111111"} << QStringList()
        << 0 << QString() << QStringList{"X_111111111111_a=COM4", "X_111111111111_b="}
        << QStringList{"VZQ1|111111111111|COM4"} << QStringList{kWait, kClose} << true;
    QTest::newRow("a device without address takes no port")
        << 0 << QString() << QStringList{"VZQ1="} << QStringList()
        << 0 << QString() << QStringList{"X_111111111111=COM4"}
        << QStringList() << QStringList{kWait, kClose, inform(noLidar)} << true;
    QTest::newRow("one instance gives its port to the first matching entry only")
        << 0 << QString() << QStringList{"VZQ1=111111111111", "VZQ1b=111111111111"} << QStringList()
        << 0 << QString() << QStringList{"X_111111111111=COM4"}
        << QStringList{"VZQ1|111111111111|COM4"} << QStringList{kWait, kClose} << true;
    QTest::newRow("socket library fails")
        << int(DeviceLookup::SocketLibrary) << QStringLiteral("Not enough memory.") << QStringList()
        << QStringList() << 0 << QString() << QStringList() << QStringList()
        << QStringList{kWait, inform("WSAStartup : Not enough memory."), kClose} << false;
    QTest::newRow("no Bluetooth service")
        << int(DeviceLookup::NoService) << QStringLiteral("ignored") << QStringList() << QStringList()
        << 0 << QString() << QStringList() << QStringList()
        << QStringList{kWait, inform("No Bluetooth adapter/service found in the system"), kClose}
        << false;
    QTest::newRow("look-up does not begin")
        << int(DeviceLookup::LookupBegin) << QStringLiteral("Access denied.") << QStringList()
        << QStringList() << 0 << QString() << QStringList() << QStringList()
        << QStringList{kWait, inform("WSALookupServiceBegin : Access denied."), kClose} << false;
    QTest::newRow("fetch errors are reported and the look-up goes on")
        << 0 << QString() << QStringList{"VZQ1=111111111111"} << QStringList{"first", "second"}
        << 0 << QString() << QStringList{"X_111111111111=COM4"} << QStringList{"VZQ1|111111111111|COM4"}
        << QStringList{kWait, inform("WSALookupServiceNext : first"),
                       inform("WSALookupServiceNext : second"), kClose}
        << true;
    QTest::newRow("no Bluetooth serial ports at all")
        << 0 << QString() << QStringList{"VZQ1=111111111111"} << QStringList()
        << int(InstanceLookup::NoEnumeration) << QString() << QStringList() << QStringList()
        << QStringList{kWait, inform("No lidar Bluetooth interface found in this system"), kClose}
        << true;
    QTest::newRow("serial port enumeration unreadable")
        << 0 << QString() << QStringList{"VZQ1=111111111111"} << QStringList()
        << int(InstanceLookup::OpenFailed) << QStringLiteral("Access is denied.") << QStringList()
        << QStringList() << QStringList{kWait, inform("RegOpenKeyExW : Access is denied."), kClose}
        << true;
}

void TestDiscovery::logic()
{
    QFETCH(int, deviceFailure);
    QFETCH(QString, deviceText);
    QFETCH(QStringList, devices);
    QFETCH(QStringList, fetchErrors);
    QFETCH(int, instanceFailure);
    QFETCH(QString, instanceText);
    QFETCH(QStringList, instances);
    QFETCH(QStringList, lidars);
    QFETCH(QStringList, events);
    QFETCH(bool, instancesAsked);

    ListSource source;
    source.deviceLookup.failure = DeviceLookup::Failure(deviceFailure);
    source.deviceLookup.systemText = deviceText;
    source.deviceLookup.fetchErrors = fetchErrors;
    for (const QString &device : devices)
        source.deviceLookup.devices.append({device.section('=', 0, 0), device.section('=', 1)});
    source.instanceLookup.failure = InstanceLookup::Failure(instanceFailure);
    source.instanceLookup.systemText = instanceText;
    for (const QString &instance : instances)
        source.instanceLookup.instances.append({instance.section('=', 0, 0), instance.section('=', 1)});

    SequenceOperator op;
    const LidarList found = discoverLidars(source, op);
    QCOMPARE(rows(found), lidars);
    QCOMPARE(op.events, events);
    QCOMPARE(source.instanceCalls, instancesAsked ? 1 : 0);
    QVERIFY(!op.waitOpen);
}

void TestDiscovery::fixedList_data()
{
    QTest::addColumn<QString>("spec");
    QTest::addColumn<QStringList>("lidars");
    QTest::addColumn<QStringList>("messages");

    const QString noLidar = QStringLiteral("No lidar device found in this system");
    QTest::newRow("two lidars")
        << "VZQ1=/dev/pts/3;VZQ2=/dev/pts/4"
        << QStringList{"VZQ1|0A0000000001|/dev/pts/3", "VZQ2|0A0000000002|/dev/pts/4"} << QStringList();
    QTest::newRow("blanks and empty items")
        << " VZQ 1 = /dev/pts/3 ;; ;"
        << QStringList{"VZQ 1|0A0000000001|/dev/pts/3"} << QStringList();
    QTest::newRow("an entry without port is not listed")
        << "VZQ1;VZQ2=" << QStringList() << QStringList{noLidar};
    QTest::newRow("the name must carry the mark")
        << "Phone=/dev/pts/3;VZQ2=/dev/pts/4"
        << QStringList{"VZQ2|0A0000000002|/dev/pts/4"} << QStringList();
    QTest::newRow("one name twice")
        << "VZQ1=/dev/pts/3;VZQ1=/dev/pts/4"
        << QStringList{"VZQ1|0A0000000001|/dev/pts/3", "VZQ1|0A0000000002|/dev/pts/4"} << QStringList();
    QTest::newRow("a port may hold '='")
        << "VZQ1=/tmp/a=b" << QStringList{"VZQ1|0A0000000001|/tmp/a=b"} << QStringList();
    QTest::newRow("empty") << "" << QStringList() << QStringList{noLidar};
}

void TestDiscovery::fixedList()
{
    QFETCH(QString, spec);
    QFETCH(QStringList, lidars);
    QFETCH(QStringList, messages);

    FixedListSource source(spec);
    RecordingOperator op;
    QCOMPARE(rows(discoverLidars(source, op)), lidars);
    QCOMPARE(op.texts(), messages);
}

void TestDiscovery::fixedListGivesEveryEntryItsOwnPort()
{
    // Addresses are found inside identifiers; were one a part of another's identifier, a
    // lidar would take a neighbour's port.
    QStringList spec;
    for (int i = 0; i < 300; ++i)
        spec.append(QStringLiteral("VZQ%1=/dev/port%1").arg(i));
    FixedListSource source(spec.join(QLatin1Char(';')));
    RecordingOperator op;
    const LidarList lidars = discoverLidars(source, op);
    QCOMPARE(lidars.size(), 300);
    QSet<QString> addresses;
    for (int i = 0; i < lidars.size(); ++i) {
        QCOMPARE(lidars.at(i).portName, QStringLiteral("/dev/port%1").arg(i));
        QCOMPARE(lidars.at(i).address.size(), 12);
        addresses.insert(lidars.at(i).address);
    }
    QCOMPARE(addresses.size(), 300);
}

void TestDiscovery::environmentReplacesPlatform()
{
    qputenv("VELOMARK_LIDARS", "VZQ 9=/dev/pts/9");
    RecordingOperator op;
    const LidarList lidars = enumerateLidars(op);
    qunsetenv("VELOMARK_LIDARS");
    QCOMPARE(rows(lidars), QStringList{"VZQ 9|0A0000000001|/dev/pts/9"});
    QVERIFY(op.messages.isEmpty());
}

void TestDiscovery::byName()
{
    const LidarList lidars{{"111111111111", "VZQ1", "/dev/a"},
                           {"222222222222", "VZQ2", "/dev/b"},
                           {"333333333333", "VZQ1", "/dev/c"}};
    QCOMPARE(findLidar(lidars, "VZQ1")->portName, QStringLiteral("/dev/a"));
    QCOMPARE(findLidar(lidars, "VZQ2")->portName, QStringLiteral("/dev/b"));
    QVERIFY(!findLidar(lidars, "vzq1"));

    qputenv("VELOMARK_LIDARS", "VZQ1=/dev/a;VZQ1=/dev/c");
    RecordingOperator op;
    QCOMPARE(discoverLidarByName("VZQ1", op)->portName, QStringLiteral("/dev/a"));
    QVERIFY(op.messages.isEmpty());
    QVERIFY(!discoverLidarByName("VZQ7", op));
    QCOMPARE(op.texts(), QStringList{"Lidar VZQ7: please make sure it is paired and powered on"});
    QCOMPARE(op.messages.at(0).title, kTitle);

    // Discovery has already said why nothing was found; no second message.
    qputenv("VELOMARK_LIDARS", "");
    op.messages.clear();
    QVERIFY(!discoverLidarByName("VZQ1", op));
    QCOMPARE(op.texts(), QStringList{"No lidar device found in this system"});
    qunsetenv("VELOMARK_LIDARS");
}

QTEST_GUILESS_MAIN(TestDiscovery)
#include "tst_discovery.moc"
