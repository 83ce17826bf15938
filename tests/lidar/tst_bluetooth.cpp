// A paired lidar reached through BlueZ's profile interface: a BlueZ stand-in on a private bus
// (mock_bluez.py) hands our Profile1 object a socket to lidar-sim. The commands give the same
// bytes and results as over a tty; BlueZ's errors, a hung or slow BlueZ, a restarted one, another
// program connecting a lidar beside us are handled as for a tty. A lidar that hangs up: the
// lost-link table (tst_linkloss) and the socket port's own test (tst_socketport hangUp).
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include "clirun.h"
#include "lidar/lidarconnection.h"
#include "lidar/transport/profile_bluez.h"
#include "lidarsim.h"
#include "recordingoperator.h"
#include "sampledump.h"
#include "simlink.h"

using namespace velomark;

namespace {

const QString kPort = QStringLiteral("bluetooth:") + simlink::kBluetoothAddress;
const QByteArray kRecord("$SPD,SN4711,101519,143015,4530.0000,N,00930.0000,E,A,R,55,12.3,1\r\n");
// The trace line of each failed attempt to open the lidar's link begins so.
const QString kFailedAttempt = "OpenLidarPort: " + kPort + ": ";

// A connection to the lidar at its Bluetooth address, with short pauses between its attempts.
struct BluetoothLink
{
    BluetoothLink()
    {
        connection.openRetryPauseMs = 10;
        connection.lidars.append({"001122334455", simlink::kName, kPort});
    }
    RecordingOperator op;
    LidarConnection connection{op};
};

}  // namespace

class TestBluetooth : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!simlink::BluezStandIn::unavailable().isEmpty())
            QSKIP(qPrintable(simlink::BluezStandIn::unavailable()));
        qunsetenv("VELOMARK_LIDARS");
        // No RFCOMM tty at all: every lidar is reached through BlueZ.
        QVERIFY(QDir().mkpath(m_dir.filePath("sys/class/tty")));
        qputenv("VELOMARK_SYSFS_ROOT", m_dir.path().toLocal8Bit());
    }
    void cleanup() { m_bluez.stop(); }

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
        QTest::newRow("identify --lidar") << QStringList() << QStringList{"identify"} << true;
        QTest::newRow("live") << live << QStringList{"live", "--count", "3", "--output", "live.txt"} << false;
        QTest::newRow("retrieve") << logged << QStringList{"retrieve", "--quiet"} << false;
    }
    void sameAsOverATty()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QStringList, command);
        QFETCH(bool, byName);
        LidarSim tty(simArgs);
        LidarSim socket(simArgs + QStringList{"--socket", m_dir.filePath("lidar.sock")});
        QVERIFY2(tty.start() && socket.start(), qPrintable(tty.errorString() + socket.errorString()));
        QVERIFY(m_bluez.start({simlink::bluezLidar("unix:" + socket.portPath())}));

        // Each in a folder of its own, where the live run writes its file.
        QProcess overTty, overBluez;
        QVERIFY(QDir(m_dir.path()).mkpath("tty") && QDir(m_dir.path()).mkpath("bluez"));
        overTty.setWorkingDirectory(m_dir.filePath("tty"));
        overBluez.setWorkingDirectory(m_dir.filePath("bluez"));
        startCli(overTty, command + QStringList{"--port", tty.portPath(), "--name", simlink::kName}, {"LC_ALL=C"});
        startCli(overBluez, command + (byName ? QStringList{"--lidar", simlink::kName}
                                              : QStringList{"--port", kPort, "--name", simlink::kName}), {"LC_ALL=C"});
        const CliRun expected = finishCli(overTty);
        const CliRun run = finishCli(overBluez);
        QCOMPARE(run.exitCode, 0);
        const QByteArray connecting = "Connecting to lidar " + simlink::kName.toUtf8() + " over Bluetooth, please wait ...\n";
        QCOMPARE(run.err.count(connecting), 1);
        QCOMPARE(QByteArray(run.err).replace(connecting, ""), expected.err);
        QCOMPARE(run.out, expected.out);
        QVERIFY(!run.out.isEmpty());
        QCOMPARE(socket.receivedBytes().toHex(), tty.receivedBytes().toHex());
        QVERIFY(socket.waitForState("disconnected", 10000));
        const QStringList calls = m_bluez.calls();
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
        QVERIFY(m_bluez.start({simlink::bluezLidar(behaviour)}));
        simlink::TraceCapture traces;
        QElapsedTimer timer;
        auto link = std::make_unique<BluetoothLink>();
        timer.start();
        QVERIFY(!link->connection.ConnectSelectedLidar(simlink::kName));
        QVERIFY(link->connection.openError().startsWith(errorName));
        const QStringList shown = simlink::shown(link->op);
        link.reset();
        const qint64 elapsed = timer.elapsed();
        QCOMPARE(shown, QStringList{"A:Lidar " + simlink::kName + " : please make sure it is powered on"});
        const QStringList failedAttempts = traces.lines().filter(kFailedAttempt);
        QCOMPARE(failedAttempts.size(), attempts);
        QCOMPARE(failedAttempts.filter(": " + errorName + ": ").size(), attempts);
        const QStringList calls = m_bluez.calls();
        QTEST(calls.filter("ConnectProfile").size(), "connectCalls");
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

    // A lidar that takes long to page, one that is not ready at first, a BlueZ that forgot our
    // profile, and a BlueZ restarted after our last link (the profile registered with the new
    // one) all end connected to the lidar.
    void connectsInTheEnd_data()
    {
        QTest::addColumn<QString>("behaviour");  // with %1 for the lidar's socket
        QTest::addColumn<bool>("restarted");
        QTest::addColumn<int>("attempts");
        QTest::addColumn<int>("connectCalls");
        QTest::addColumn<int>("registrations");
        QTest::newRow("BlueZ answers after 4 s") << "delay:4000:unix:%1" << false << 0 << 1 << 1;
        QTest::newRow("NotReady twice") << "seq:error:org.bluez.Error.NotReady,error:org.bluez.Error.NotReady,unix:%1"
                                        << false << 2 << 3 << 3;
        QTest::newRow("profile forgotten") << "seq:error:org.bluez.Error.NotAvailable,unix:%1" << false << 0 << 2 << 2;
        QTest::newRow("BlueZ restarted") << "unix:%1" << true << 0 << 1 << 1;
    }
    void connectsInTheEnd()
    {
        QFETCH(QString, behaviour);
        LidarSim socket({"--socket", m_dir.filePath("lidar.sock")});
        QVERIFY2(socket.start(), qPrintable(socket.errorString()));
        const QStringList devices{simlink::bluezLidar(behaviour.arg(socket.portPath()))};
        QVERIFY(m_bluez.start(devices));
        BluetoothLink link;
        QFETCH(bool, restarted);
        if (restarted) {
            QVERIFY2(link.connection.ConnectSelectedLidar(simlink::kName), qPrintable(link.connection.openError()));
            link.connection.CloseLidarPort();
            QVERIFY(socket.waitForState("disconnected", 10000));
            m_bluez.stop();
            QVERIFY(m_bluez.start(devices));
        }
        simlink::TraceCapture traces;
        QVERIFY2(link.connection.ConnectSelectedLidar(simlink::kName), qPrintable(link.connection.openError()));
        QCOMPARE(simlink::shown(link.op), QStringList());
        QTEST(traces.lines().filter(kFailedAttempt).size(), "attempts");
        const QStringList calls = m_bluez.calls();
        QTEST(calls.filter("ConnectProfile").size(), "connectCalls");
        QTEST(calls.filter(QRegularExpression("^RegisterProfile ")).size(), "registrations");
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
        QVERIFY(m_bluez.start({simlink::bluezLidar("unix:" + first.portPath()),
                               otherAddress + '=' + otherName + "=unix:" + second.portPath()}));
        BluetoothLink link;
        QVERIFY2(link.connection.ConnectSelectedLidar(simlink::kName), qPrintable(link.connection.openError()));

        const CliRun run = runCli({"identify", "--port", "bluetooth:" + otherAddress, "--name", otherName});
        QVERIFY2(run.exitCode == 0, run.err.constData());
        QVERIFY(second.states().contains("connected"));
        QVERIFY(link.connection.SetLidarRemoteMode(false));
        QCOMPARE(simlink::shown(link.op), QStringList());
    }

private:
    simlink::BluezStandIn m_bluez;
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestBluetooth)
#include "tst_bluetooth.moc"
