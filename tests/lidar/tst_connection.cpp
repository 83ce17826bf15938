#include <QtTest>

#include "clirun.h"
#include "common/operatorinterface.h"
#include "lidar/frame.h"
#include "simlink.h"

using namespace velomark;
using simlink::Bench;
using simlink::kName;

// Opening, identifying, switching and releasing a lidar against the simulator, in the core
// and through velomark-cli identify.
class TestConnection : public QObject
{
    Q_OBJECT
private slots:
    // Each refusal has its message, closes the port and never sends remote off.
    void identification_data()
    {
        QTest::addColumn<QString>("simArgs");  // the simulator's model is BT:RX:Brasko unless given
        QTest::addColumn<QList<int>>("identity");  // type, firmware major, minor; empty: refused
        QTest::addColumn<QString>("message");      // the beginning of the one message
        QTest::newRow("BT:Orlek gives 0") << "--model BT:Orlek" << QList<int>{0, 9, 3} << "";
        QTest::newRow("MSP:Brasko beats RX rows") << "--model BT:RX:Brasko/MSP:Brasko" << QList<int>{2, 9, 3} << "";
        QTest::newRow("SCI1:RX:Brasko") << "--model SCI1:RX:Brasko" << QList<int>{5, 9, 3} << "";
        QTest::newRow("SCI2:RX:Brasko") << "--model SCI2:RX:Brasko" << QList<int>{5, 9, 3} << "";
        QTest::newRow("SCI3:RX:Brasko") << "--model SCI3:RX:Brasko" << QList<int>{5, 9, 3} << "";
        QTest::newRow("bare RX:Brasko") << "--model RX:Brasko" << QList<int>{4, 9, 3} << "";
        QTest::newRow("9.03") << "--firmware 9.03" << QList<int>{5, 9, 3} << "";
        QTest::newRow("10.1") << "--firmware 10.1" << QList<int>{5, 10, 1} << "";
        QTest::newRow("text after the minor digits") << "--firmware 9.3beta" << QList<int>{5, 9, 0} << "";
        QTest::newRow("build number cut off") << "--firmware 9.2 --build 0815" << QList<int>{5, 9, 2} << "";
        QTest::newRow("no version") << "--identify-reply " + QString(QByteArray("BT:RX:Brasko").toHex()) << QList<int>{5, 0, 0} << "";
        QTest::newRow("after 0x00 bytes") << "--fault 1E=leading-nulls:5" << QList<int>{5, 9, 3} << "";
        // Records around the reply: tst_exchange continuousLidar.
        QTest::newRow("no identify reply") << "--fault 1E=silent" << QList<int>() << "InitCommunication: Lidar does not response";
        QTest::newRow("only 0x00 bytes") << "--fault 1E=nulls" << QList<int>()
                                         << "InitCommunication: Invalid response(null characters) from the lidar";
        QTest::newRow("unknown model") << "--model LX:Brasko" << QList<int>() << "Invalid lidar type detected";
        QTest::newRow("remote on not echoed") << "--fault 0B=wrong-echo" << QList<int>()
                                              << "SetLidarRemoteMode: Invalid data received: \n";
    }
    void identification()
    {
        QFETCH(QString, simArgs);
        QFETCH(QList<int>, identity);
        QFETCH(QString, message);
        Bench bench(simArgs.split(' '));
        QVERIFY(bench.start());
        LidarConnection &connection = bench.connection;
        QSignalSpy controls(&connection, &LidarConnection::controlsChanged);
        const bool identified = !identity.isEmpty();
        QCOMPARE(connection.ConnectSelectedLidar(kName), identified);
        QCOMPARE(connection.isOpen(), identified);
        QCOMPARE(connection.connectedLidarName, identified ? kName : QString());
        QCOMPARE(controls.count(), 1);
        const QStringList shown = simlink::shown(bench.op);
        QCOMPARE(shown.size(), message.isEmpty() ? 0 : 1);
        QVERIFY2(message.isEmpty() || shown.first().startsWith("A:" + message), qPrintable(shown.join('\n')));
        if (identified) {
            QCOMPARE(QList<int>({connection.lidarType, connection.firmwareMajor, connection.firmwareMinor}), identity);
            QTRY_COMPARE_WITH_TIMEOUT(bench.sim.receivedBytes(), remoteModeFrame(true) + identifyFrame(), 2000);
        }
        QVERIFY(!bench.sim.receivedBytes().contains(remoteModeFrame(false)));
    }

    // A port that never opens costs three attempts with 1 s pauses; a text without entry
    // (or an entry without port) is refused at once.
    void portNotOpened_data()
    {
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("portName");
        QTest::addColumn<QString>("message");  // with retries, 2.5 to 6 s; without, at most 1 s
        const QString paired = QStringLiteral("A:Lidar %1: please make sure it is paired and powered on");
        QTest::newRow("port does not exist") << kName << "/dev/velomark-no-such-port"
                                             << "A:Lidar VZQ-20417 : please make sure it is powered on";
        QTest::newRow("no entry of that name") << "VZQ-other" << "/dev/null" << paired.arg("VZQ-other");
        QTest::newRow("entry without port") << kName << "" << paired.arg(kName);
        QTest::newRow("no current row") << "" << "/dev/null" << "";
    }
    void portNotOpened()
    {
        QFETCH(QString, selected);
        QFETCH(QString, portName);
        QFETCH(QString, message);
        RecordingOperator op;
        LidarConnection connection(op);
        connection.lidars.append({QString(), selected.isEmpty() ? QString() : kName, portName});
        QSignalSpy controls(&connection, &LidarConnection::controlsChanged);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!connection.ConnectSelectedLidar(selected));
        const bool retries = portName.contains("no-such");
        QVERIFY2(clock.elapsed() >= (retries ? 2500 : 0) && clock.elapsed() <= (retries ? 6000 : 1000),
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(simlink::shown(op), message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(controls.count(), 0);
    }

    // The same lidar twice connects once (of two entries with its name the first counts);
    // another lidar releases the first before it is taken under remote control; closing
    // releases it too, once (a lidar that vanished first: tst_linkloss, idle rows).
    void switchingLidars()
    {
        Bench first;
        LidarSim second({"--model", "RS232:RX:Brasko", "--firmware", "9.2"});
        QVERIFY(first.start() && second.start());
        LidarConnection &connection = first.connection;
        connection.lidars << LidarEntry{QString(), kName, "/dev/velomark-no-such-port"}
                          << LidarEntry{QString(), QStringLiteral("VZQ-B"), second.portPath()};
        const QByteArray on = remoteModeFrame(true) + identifyFrame();
        QVERIFY(connection.ConnectSelectedLidar(kName) && connection.ConnectSelectedLidar(kName));
        QCOMPARE(first.sim.receivedBytes(), on);
        simlink::TraceCapture traces;
        QVERIFY(connection.ConnectSelectedLidar(QStringLiteral("VZQ-B")));
        QCOMPARE(traces.lines().filter("SetLidarRemoteMode: TX"),
                 QStringList({"SetLidarRemoteMode: TX 02 0C 0C 03 ", "SetLidarRemoteMode: TX 02 0B 0B 03 "}));
        QCOMPARE(first.sim.receivedBytes(), on + remoteModeFrame(false));
        QCOMPARE(second.receivedBytes(), on);
        QCOMPARE(connection.connectedLidarName, QStringLiteral("VZQ-B"));
        QVERIFY(connection.lidarType == 4 && !connection.framedDiagCommands());

        connection.CloseLidarPort();
        connection.CloseLidarPort();  // closed: nothing more reaches the lidar
        QVERIFY(!connection.isOpen() && connection.connectedLidarName.isEmpty());
        QTest::qWait(100);
        QCOMPARE(second.receivedBytes(), on + remoteModeFrame(false));
    }

    // A lidar that vanished while idle leaves its port open but failed: the next action lets it
    // go and opens again, instead of talking to a dead port. Without an event loop nothing has
    // noticed the hang-up before; with one, the connection lets the port go by itself.
    void idleLidarVanished_data()
    {
        QTest::addColumn<bool>("eventLoop");
        QTest::newRow("noticed by the next action") << false;
        QTest::newRow("noticed while idle") << true;
    }
    void idleLidarVanished()
    {
        QFETCH(bool, eventLoop);
        Bench bench;
        QVERIFY(bench.start() && bench.connection.ConnectSelectedLidar(kName));
        QSignalSpy controls(&bench.connection, &LidarConnection::controlsChanged);
        bench.sim.vanish();
        QVERIFY(bench.sim.waitForState("vanish", 3000));
        bench.connection.lidars.first().portName = LidarSim::kGonePath;
        if (eventLoop) {
            QTRY_VERIFY_WITH_TIMEOUT(!bench.connection.isOpen(), 3000);
            QCOMPARE(controls.count(), 1);
            QVERIFY(bench.connection.connectedLidarName.isEmpty());
        }
        QVERIFY(!bench.connection.ConnectSelectedLidar(kName));
        QCOMPARE(simlink::shown(bench.op), QStringList{"A:Lidar VZQ-20417 : please make sure it is powered on"});
    }

    // velomark-cli identify: standard output, standard error, exit status and what the lidar got.
    // VELOMARK_LIDARS lists "VZQ Alpha" without a lidar and "VZQ Beta" on the simulator.
    void commandLine_data()
    {
        QTest::addColumn<QString>("simArgs");
        QTest::addColumn<QString>("cliArgs");  // separated by '|'; "%port": the simulator's port
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");  // for status 2, its beginning
        QTest::addColumn<QByteArray>("received");
        const QByteArray identified = remoteModeFrame(true) + identifyFrame();
        const QByteArray released = identified + remoteModeFrame(false), none;
        const QString found = "type 5\nfirmware 9.3\n";
        QTest::newRow("identified and released") << "--firmware 9.03" << "--port|%port" << 0 << found << "" << released;
        QTest::newRow("refused, not released") << "--model LX:Brasko" << "--port|%port" << 1 << ""
                                               << "Invalid lidar type detected\n" << identified;
        QTest::newRow("port does not exist") << "" << "--port|/dev/velomark-none" << 1 << ""
            << "Lidar /dev/velomark-none : please make sure it is powered on\nNo such file or directory\n" << none;
        QTest::newRow("found by name, first match") << "" << "--lidar|VZQ Beta" << 0 << found << "" << released;
        QTest::newRow("name not listed") << "" << "--lidar|VZQ Gamma" << 1 << ""
            << "Lidar VZQ Gamma: please make sure it is paired and powered on\n" << none;
        QTest::newRow("no port given") << "" << "" << 2 << "" << "velomark-cli: " << none;
        QTest::newRow("--lidar with --port") << "" << "--port|/dev/null|--lidar|VZQ Beta" << 2 << "" << "velomark-cli: " << none;
    }
    void commandLine()
    {
        QFETCH(QString, simArgs);
        QFETCH(QString, cliArgs);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        LidarSim sim(simArgs.split(' ', Qt::SkipEmptyParts));
        QVERIFY(sim.start());
        QStringList args = cliArgs.split('|', Qt::SkipEmptyParts).replaceInStrings("%port", sim.portPath());
        const CliRun run = runCli(QStringList{"identify"} + args,
                                  {"VELOMARK_LIDARS=VZQ Alpha=/dev/velomark-none;VZQ Beta=" + sim.portPath() + ";VZQ Beta=/dev/null",
                                   "QT_LOGGING_RULES="});
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(QString::fromUtf8(run.out), out);
        const QString errText = QString::fromUtf8(run.err);
        QVERIFY2(exitCode == 2 ? errText.startsWith(err) : errText == err, qPrintable(errText));
        QTest::qWait(100);
        QTEST(sim.receivedBytes(), "received");
    }
};

QTEST_GUILESS_MAIN(TestConnection)
#include "tst_connection.moc"
