// A paired lidar reached through BlueZ's profile interface: a BlueZ stand-in on a private bus
// (mock_bluez.py) hands our Profile1 object a socket to lidar-sim. The commands give the same
// bytes and results as over a tty; BlueZ's errors, a hung or slow BlueZ, a restarted one, another
// program connecting a lidar beside us and a lidar that hangs up are handled as for a tty.
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "clirun.h"
#include "lidar/lidarconnection.h"
#include "lidar/transport/profile_bluez.h"
#include "lidarsim.h"
#include "log/retrieval.h"
#include "recordingoperator.h"
#include "sampledump.h"
#include "simlink.h"

using namespace velomark;

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");
const QString kAddress = QStringLiteral("00:11:22:33:44:55");
const QString kPort = QStringLiteral("bluetooth:") + kAddress;
const QByteArray kRecord("$SPD,SN4711,101519,143015,4530.0000,N,00930.0000,E,A,R,55,12.3,1\r\n");

QByteArray connectingLine(const QString &lidarName)
{
    return QStringLiteral("Connecting to lidar %1 over Bluetooth, please wait ...\n").arg(lidarName).toUtf8();
}

// The trace line of each failed attempt to open the lidar's link.
QStringList failedAttempts(const simlink::TraceCapture &traces)
{
    return traces.lines().filter("OpenLidarPort: " + kPort + ": ");
}

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
        stopMock();
    }

    // Each command over the socket and over a tty, side by side: the same output, the same
    // bytes at the lidar, and the please-wait line once. The profile is registered only while
    // the link is made; the lidar's link ends with the program.
    void sameAsOverATty_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<bool>("byName");  // --lidar NAME instead of --port bluetooth:...
        const QStringList live{"--live-record", kRecord.toHex(), "--live-interval", "100"};
        // A fixed log: a generated one follows the clock, and the two lidars start at different moments.
        static QTemporaryFile storedLog;
        QVERIFY(storedLog.isOpen() || sampledump::writeStoredLog(storedLog));
        const QStringList logged{"--firmware", "10.0", "--stored-log", storedLog.fileName(), "--dump-baud", "2000000"};
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
        QCOMPARE(run.err.count(connectingLine(simlink::kName)), 1);
        QCOMPARE(QByteArray(run.err).replace(connectingLine(simlink::kName), ""), expected.err);
        QCOMPARE(run.out, expected.out);
        QVERIFY(!run.out.isEmpty());
        QCOMPARE(socket.receivedBytes().toHex(), tty.receivedBytes().toHex());
        QVERIFY(socket.waitForState("disconnected", 10000));
        const QStringList calls = mockLines();
        QCOMPARE(calls.filter(QRegularExpression("^RegisterProfile ")),
                 QStringList{"RegisterProfile " + BluezProfile::kObjectPath + ' ' + BluezProfile::kSerialPortUuid
                             + " AutoConnect=0,Name=Velomark lidar link,Role=client"});
        QCOMPARE(calls.filter(QRegularExpression("^UnregisterProfile ")).size(), 1);
    }

    // BlueZ's refusals end as a tty that does not open, with BlueZ's error name in the trace.
    // A lidar that is not ready, busy or did not answer the page gets three attempts; a refusal
    // that would only repeat gets one, and one saying BlueZ forgot our profile gets one more
    // registration and try within it. A BlueZ that never answers costs one ConnectProfile time-out.
    void connectErrors_data()
    {
        QTest::addColumn<QString>("behaviour");
        QTest::addColumn<QString>("errorName");
        QTest::addColumn<int>("attempts");
        QTest::addColumn<int>("connectCalls");
        const QString failed = QStringLiteral("org.bluez.Error.Failed");
        for (const QString name : {"NotReady", "InProgress"})
            QTest::newRow(qPrintable(name)) << "error:org.bluez.Error." + name << "org.bluez.Error." + name << 3 << 3;
        for (const char *text : {"Page Timeout", "br-connection-page-timeout"})
            QTest::newRow(text) << "error:" + failed + ':' + text << failed << 3 << 3;
        QTest::newRow("nobody listens") << "unix:" + m_dir.filePath("nothing.sock") << failed << 1 << 1;
        QTest::newRow("InvalidArguments") << "error:org.bluez.Error.InvalidArguments"
                                          << "org.bluez.Error.InvalidArguments" << 1 << 1;
        QTest::newRow("NotAvailable") << "error:org.bluez.Error.NotAvailable" << "org.bluez.Error.NotAvailable"
                                      << 1 << 2;
        QTest::newRow("BlueZ hangs") << "hang" << "org.freedesktop.DBus.Error.NoReply" << 1 << 1;
    }
    void connectErrors()
    {
        QFETCH(QString, behaviour);
        QFETCH(QString, errorName);
        QFETCH(int, attempts);
        QFETCH(int, connectCalls);
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
        QCOMPARE(failedAttempts(traces).size(), attempts);
        QCOMPARE(failedAttempts(traces).filter(": " + errorName + ": ").size(), attempts);
        const QStringList calls = mockLines();
        QCOMPARE(calls.filter("ConnectProfile").size(), connectCalls);
        if (behaviour == "hang") {
            // Qt's coarse timers may end the wait up to 5 % early.
            const qint64 limit = BluezProfile::kConnectTimeoutMs;
            QVERIFY2(elapsed >= limit * 9 / 10 && elapsed < 2 * limit, qPrintable(QString::number(elapsed)));
        } else {
            // Every attempt's registration ended with it.
            QCOMPARE(calls.filter(QRegularExpression("^UnregisterProfile ")).size(),
                     calls.filter(QRegularExpression("^RegisterProfile ")).size());
        }
    }

    // A lidar that takes long to page, one that is not ready at first, and a BlueZ that forgot
    // our profile all end connected to the lidar.
    void connectsInTheEnd_data()
    {
        QTest::addColumn<QString>("behaviour");  // with %1 for the lidar's socket
        QTest::addColumn<int>("attempts");
        QTest::addColumn<int>("connectCalls");
        QTest::addColumn<int>("registrations");
        QTest::newRow("BlueZ answers after 4 s") << "delay:4000:unix:%1" << 0 << 1 << 1;
        QTest::newRow("NotReady twice") << "seq:error:org.bluez.Error.NotReady,error:org.bluez.Error.NotReady,unix:%1"
                                        << 2 << 3 << 3;
        QTest::newRow("profile forgotten") << "seq:error:org.bluez.Error.NotAvailable,unix:%1" << 0 << 2 << 2;
    }
    void connectsInTheEnd()
    {
        QFETCH(QString, behaviour);
        QFETCH(int, attempts);
        QFETCH(int, connectCalls);
        QFETCH(int, registrations);
        LidarSim socket({"--socket", m_dir.filePath("lidar.sock")});
        QVERIFY2(socket.start(), qPrintable(socket.errorString()));
        startMock({kAddress + '=' + simlink::kName + '=' + behaviour.arg(socket.portPath())});
        simlink::TraceCapture traces;
        RecordingOperator op;
        LidarConnection connection(op);
        connection.openRetryPauseMs = 10;
        connection.lidars.append({"001122334455", simlink::kName, kPort});
        QVERIFY2(connection.ConnectSelectedLidar(simlink::kName), qPrintable(connection.openError()));
        QCOMPARE(simlink::shown(op), QStringList());
        QCOMPARE(failedAttempts(traces).size(), attempts);
        const QStringList calls = mockLines();
        QCOMPARE(calls.filter("ConnectProfile").size(), connectCalls);
        QCOMPARE(calls.filter(QRegularExpression("^RegisterProfile ")).size(), registrations);
    }

    // BlueZ restarted while the program runs: the next connection registers the profile with
    // the new one.
    void restartedBluez()
    {
        LidarSim socket({"--socket", m_dir.filePath("lidar.sock")});
        QVERIFY2(socket.start(), qPrintable(socket.errorString()));
        const QStringList devices{kAddress + '=' + simlink::kName + "=unix:" + socket.portPath()};
        startMock(devices);
        RecordingOperator op;
        LidarConnection connection(op);
        connection.openRetryPauseMs = 10;
        connection.lidars.append({"001122334455", simlink::kName, kPort});
        QVERIFY2(connection.ConnectSelectedLidar(simlink::kName), qPrintable(connection.openError()));
        connection.CloseLidarPort();
        QVERIFY(socket.waitForState("disconnected", 10000));

        stopMock();
        startMock(devices);
        QVERIFY2(connection.ConnectSelectedLidar(simlink::kName), qPrintable(connection.openError()));
        QCOMPARE(simlink::shown(op), QStringList());
    }

    // While this program holds a link to one lidar, another program (the command line)
    // connects a second lidar through the same BlueZ, and the first link still works after.
    void twoProgramsAtOnce()
    {
        const QString otherAddress = QStringLiteral("00:11:22:33:44:66");
        const QString otherName = QStringLiteral("VZQ-20418");
        LidarSim first({"--socket", m_dir.filePath("first.sock")});
        LidarSim second({"--socket", m_dir.filePath("second.sock")});
        QVERIFY2(first.start() && second.start(), qPrintable(first.errorString() + second.errorString()));
        startMock({kAddress + '=' + simlink::kName + "=unix:" + first.portPath(),
                   otherAddress + '=' + otherName + "=unix:" + second.portPath()});
        RecordingOperator op;
        LidarConnection connection(op);
        connection.openRetryPauseMs = 10;
        connection.lidars.append({"001122334455", simlink::kName, kPort});
        QVERIFY2(connection.ConnectSelectedLidar(simlink::kName), qPrintable(connection.openError()));

        const CliRun run = runCli({"identify", "--port", "bluetooth:" + otherAddress, "--name", otherName});
        QVERIFY2(run.exitCode == 0, run.err.constData());
        QVERIFY(second.states().contains("connected"));
        QVERIFY(connection.SetLidarRemoteMode(false));
        QCOMPARE(simlink::shown(op), QStringList());
    }

    // A lidar that hangs up while the connection is idle is found lost at the next action,
    // which tries to connect again.
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
        QCOMPARE(mockLines().filter("ConnectProfile").size(), 2);
    }

    // The lidar hangs up in the middle of a live run or a download: the lost-port messages of a
    // tty, after the please-wait line, with what arrived before kept.
    void lidarHangsUp_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QStringList>("command");
        QTest::newRow("live") << QStringList{"--live-record", kRecord.toHex(), "--live-interval", "200"}
                              << QStringList{"live", "--output", m_dir.filePath("lost.txt")};
        QTest::newRow("download") << QStringList{"--firmware", "10.0", "--demo-log", "40", "--dump-burst", "200",
                                                 "--dump-pause", "300", "--vanish-after-dump-bytes", "400"}
                                  << QStringList{"retrieve", "--quiet"};
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
        // The live run is cut once a record is on its way, however long the link took to make.
        if (command.first() == "live") {
            QTRY_VERIFY_WITH_TIMEOUT(socket.sentBytes().contains(kRecord), 20000);
            socket.vanish();
        }
        const CliRun run = finishCli(cli);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.startsWith(connectingLine(simlink::kName)), run.err.constData());
        const QList<QByteArray> lines = run.err.mid(connectingLine(simlink::kName).size()).trimmed().split('\n');
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
        QVERIFY2(m_mock.waitForReadyRead(20000) && m_mock.readLine().trimmed() == "ready", "the BlueZ stand-in did not start");
    }
    void stopMock()
    {
        m_mock.terminate();
        m_mock.waitForFinished(5000);
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
