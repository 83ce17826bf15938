// A paired lidar reached through BlueZ's profile interface: a BlueZ stand-in on a private bus
// (mock_bluez.py) hands our Profile1 object a socket to lidar-sim. The commands give the same
// bytes and results as over a tty; BlueZ's errors, a hung BlueZ and a lidar that hangs up are
// told as for a tty.
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include "clirun.h"
#include "lidar/lidarconnection.h"
#include "lidar/transport/profile_bluez.h"
#include "lidarsim.h"
#include "log/retrieval.h"
#include "recordingoperator.h"
#include "simlink.h"

using namespace velomark;

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");
const QString kAddress = QStringLiteral("00:11:22:33:44:55");
const QString kPort = QStringLiteral("bluetooth:") + kAddress;
const QByteArray kRecord("$SPD,SN4711,101519,143015,4530.0000,N,00930.0000,E,A,R,55,12.3,1\r\n");

}  // namespace

class TestBluetooth : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!QFile::exists(kPython) || QProcess::execute(kPython, {"-c", "import dbus, gi"}) != 0)
            QSKIP("python3-dbus is not installed (make deps)");
        QVERIFY(!m_bus.address.isEmpty());
        // This process and the command lines it starts see the private bus as the system bus.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus.address.toLocal8Bit());
        qunsetenv("VELOMARK_LIDARS");
        // No RFCOMM tty at all: every lidar is reached through BlueZ.
        QVERIFY(QDir().mkpath(m_dir.filePath("sys/class/tty")));
        qputenv("VELOMARK_SYSFS_ROOT", m_dir.path().toLocal8Bit());
    }
    void cleanup()
    {
        m_mock.terminate();
        m_mock.waitForFinished(5000);
    }

    // Each command over the socket and over a tty, side by side: the same output, the same
    // bytes at the lidar. The lidar's port is released with DisconnectProfile.
    void sameAsOverATty_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<bool>("byName");  // --lidar NAME instead of --port bluetooth:...
        const QStringList live{"--live-record", kRecord.toHex(), "--live-interval", "100"};
        const QStringList logged{"--firmware", "10.0", "--demo-log", "40", "--dump-baud", "2000000"};
        QTest::newRow("identify") << QStringList() << QStringList{"identify"} << false;
        QTest::newRow("identify --lidar") << QStringList() << QStringList{"identify"} << true;
        QTest::newRow("live") << live << QStringList{"live", "--count", "3", "--output", "live.txt"} << false;
        QTest::newRow("retrieve") << logged << QStringList{"retrieve", "--quiet"} << false;
        QTest::newRow("erase") << logged << QStringList{"erase", "--yes"} << false;
    }
    void sameAsOverATty()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QStringList, command);
        QFETCH(bool, byName);
        LidarSim tty(simArgs);
        LidarSim socket(simArgs + QStringList{"--socket", m_dir.filePath("lidar.sock")});
        QVERIFY2(tty.start() && socket.start(), qPrintable(tty.errorString() + socket.errorString()));
        startMock({kAddress + '=' + simlink::kName + "=unix:" + socket.portPath()});

        const QStringList locale{"LC_ALL=C"};
        // Each in a folder of its own, where the live run writes its file.
        QProcess overTty, overBluez;
        QVERIFY(QDir(m_dir.path()).mkpath("tty") && QDir(m_dir.path()).mkpath("bluez"));
        overTty.setWorkingDirectory(m_dir.filePath("tty"));
        overBluez.setWorkingDirectory(m_dir.filePath("bluez"));
        startCli(overTty, command + QStringList{"--port", tty.portPath(), "--name", simlink::kName}, locale);
        startCli(overBluez, command + (byName ? QStringList{"--lidar", simlink::kName}
                                              : QStringList{"--port", kPort, "--name", simlink::kName}), locale);
        const CliRun expected = finishCli(overTty);
        const CliRun run = finishCli(overBluez);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err, expected.err);
        QCOMPARE(run.out, expected.out);
        QVERIFY(!run.out.isEmpty());
        QCOMPARE(socket.receivedBytes().toHex(), tty.receivedBytes().toHex());
        QTRY_VERIFY(mockLines().contains("DisconnectProfile /org/bluez/hci0/dev_00_11_22_33_44_55 "
                                         + BluezProfile::kSerialPortUuid));
        QVERIFY(socket.states().contains("disconnected"));
        QCOMPARE(mockLines().filter("RegisterProfile").first(),
                 "RegisterProfile " + BluezProfile::kObjectPath + ' ' + BluezProfile::kSerialPortUuid
                     + " AutoConnect=0,Name=Velomark lidar link,Role=client");
    }

    // BlueZ's refusals end as a tty that does not open: three attempts, then the usual message,
    // with BlueZ's error name in the trace. A BlueZ that never answers costs one call's time-out.
    void connectErrors_data()
    {
        QTest::addColumn<QString>("behaviour");
        QTest::addColumn<QString>("errorName");
        for (const char *name : {"NotReady", "Failed", "NotAvailable", "InProgress", "InvalidArguments"})
            QTest::newRow(name) << QString("error:org.bluez.Error.") + name << QString("org.bluez.Error.") + name;
        QTest::newRow("nobody listens") << "unix:" + m_dir.filePath("nothing.sock") << "org.bluez.Error.Failed";
        QTest::newRow("BlueZ hangs") << "hang" << "org.freedesktop.DBus.Error.NoReply";
    }
    void connectErrors()
    {
        QFETCH(QString, behaviour);
        QFETCH(QString, errorName);
        startMock({kAddress + '=' + simlink::kName + '=' + behaviour});
        simlink::TraceCapture traces;
        RecordingOperator op;
        QElapsedTimer timer;
        {
            LidarConnection connection(op);
            connection.openRetryPauseMs = 10;
            connection.lidars.append({"001122334455", simlink::kName, kPort});
            timer.start();
            QVERIFY(!connection.ConnectSelectedLidar(simlink::kName));
            QVERIFY(connection.openError().startsWith(errorName));
        }
        const qint64 elapsed = timer.elapsed();
        QCOMPARE(simlink::shown(op), QStringList{"A:Lidar " + simlink::kName + " : please make sure it is powered on"});
        // A BlueZ that never answers costs one call's time-out, not three.
        const int attempts = behaviour == "hang" ? 1 : 3;
        QCOMPARE(traces.lines().filter("OpenLidarPort: " + kPort + ": " + errorName).size(), attempts);
        QCOMPARE(mockLines().filter("ConnectProfile").size(), attempts);
        if (behaviour == "hang")
            QVERIFY2(elapsed >= BluezProfile::kCallTimeoutMs - 200 && elapsed < BluezProfile::kCallTimeoutMs + 2000,
                     qPrintable(QString::number(elapsed)));
    }

    // A lidar that hangs up while the connection is idle is found lost at the next action,
    // which releases the profile and connects again.
    void idleHangUp()
    {
        LidarSim socket({"--socket", m_dir.filePath("lidar.sock")});
        QVERIFY2(socket.start(), qPrintable(socket.errorString()));
        startMock({kAddress + '=' + simlink::kName + "=unix:" + socket.portPath()});
        simlink::TraceCapture traces;
        RecordingOperator op;
        LidarConnection connection(op);
        connection.openRetryPauseMs = 10;
        connection.lidars.append({"001122334455", simlink::kName, kPort});
        QVERIFY(connection.ConnectSelectedLidar(simlink::kName));
        QCOMPARE(connection.connectedLidarName, simlink::kName);
        socket.vanish();
        QVERIFY(!connection.ConnectSelectedLidar(simlink::kName));
        QVERIFY(!connection.isOpen() && connection.connectedLidarName.isEmpty());
        QVERIFY(traces.contains("Lidar " + simlink::kName + ": port lost: The lidar closed the connection"));
        QCOMPARE(simlink::shown(op), QStringList{"A:Lidar " + simlink::kName + " : please make sure it is powered on"});
        QTRY_COMPARE(mockLines().filter("DisconnectProfile").size(), 4);
    }

    // The lidar hangs up in the middle of a live run or a download, or BlueZ takes the link
    // down (RequestDisconnection): the lost-port messages of a tty, with what arrived before kept.
    void lidarHangsUp_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QStringList>("command");
        const QStringList live{"--live-record", kRecord.toHex(), "--live-interval", "200"};
        QTest::newRow("live") << live + QStringList{"--vanish-after", "1500"}
                              << QStringList{"live", "--output", m_dir.filePath("lost.txt")};
        QTest::newRow("download") << QStringList{"--firmware", "10.0", "--demo-log", "40", "--dump-burst", "200",
                                                 "--dump-pause", "300", "--vanish-after-dump-bytes", "400"}
                                  << QStringList{"retrieve", "--quiet"};
        QTest::newRow("live, BlueZ disconnects") << live << QStringList{"live", "--output", m_dir.filePath("taken.txt")};
    }
    void lidarHangsUp()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QStringList, command);
        LidarSim socket(simArgs + QStringList{"--socket", m_dir.filePath("lidar.sock")});
        QVERIFY2(socket.start(), qPrintable(socket.errorString()));
        startMock({kAddress + '=' + simlink::kName + "=unix:" + socket.portPath()});
        QProcess cli;
        startCli(cli, command + QStringList{"--port", kPort, "--name", simlink::kName}, {"LC_ALL=C"});
        if (QByteArray(QTest::currentDataTag()).contains("BlueZ")) {
            QVERIFY(socket.waitForState("live start", 10000));
            QTest::qWait(500);
            ::kill(pid_t(m_mock.processId()), SIGUSR1);
        }
        const CliRun run = finishCli(cli);
        QCOMPARE(run.exitCode, 1);
        const QList<QByteArray> lines = run.err.trimmed().split('\n');
        QCOMPARE(lines.size(), 1);
        const QString message = command.first() == "live" ? "Lidar " + simlink::kName + ": connection lost"
                                                          : downloadLostMessage(simlink::kName);
        QVERIFY2(lines.first().startsWith(message.toUtf8()), run.err.constData());
        QVERIFY(!run.out.isEmpty());
    }

private:
    void startMock(const QStringList &devices)
    {
        m_mockLines.clear();
        m_mock.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_mock.start(kPython, QStringList{qEnvironmentVariable("VELOMARK_SOURCE_DIR") + "/tests/lidar/mock_bluez.py"} + devices);
        QVERIFY(m_mock.waitForStarted(5000));
        QVERIFY2(m_mock.waitForReadyRead(10000) && m_mock.readLine().trimmed() == "ready", "the BlueZ stand-in did not start");
    }

    // What the stand-in was asked so far, one call a line.
    QStringList mockLines()
    {
        m_mock.waitForReadyRead(50);
        for (const QByteArray &line : m_mock.readAll().split('\n')) {
            if (!line.isEmpty())
                m_mockLines.append(QString::fromUtf8(line));
        }
        return m_mockLines;
    }

    simlink::PrivateBus m_bus;
    QProcess m_mock;
    QStringList m_mockLines;
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestBluetooth)
#include "tst_bluetooth.moc"
