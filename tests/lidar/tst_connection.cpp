#include <QtTest>

#include "common/operatorinterface.h"
#include "lidar/frame.h"
#include "simlink.h"

using namespace velomark;
using simlink::Bench;
using simlink::kName;

// Opening, identifying, switching and releasing a lidar against the simulator.
class TestConnection : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!simlink::simAvailable())
            QSKIP("LIDAR_SIM is not set");
    }

    void identification_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("minor");
        const auto model = [](const char *text) { return QStringList{"--model", text}; };
        const auto firmware = [](const char *text) { return QStringList{"--firmware", text}; };
        QTest::newRow("Orlek") << model("Orlek") << 0 << 9 << 3;
        QTest::newRow("BT:Orlek gives 0") << model("BT:Orlek") << 0 << 9 << 3;
        QTest::newRow("MSP:Brasko") << model("MSP:Brasko") << 2 << 9 << 3;
        QTest::newRow("MSP:Brasko beats RX rows") << model("BT:RX:Brasko/MSP:Brasko") << 2 << 9 << 3;
        QTest::newRow("RS232:RX:Brasko") << model("RS232:RX:Brasko") << 4 << 9 << 3;
        QTest::newRow("BT:RX:Brasko") << model("BT:RX:Brasko") << 5 << 9 << 3;
        QTest::newRow("SCI1:RX:Brasko") << model("SCI1:RX:Brasko") << 5 << 9 << 3;
        QTest::newRow("SCI2:RX:Brasko") << model("SCI2:RX:Brasko") << 5 << 9 << 3;
        QTest::newRow("SCI3:RX:Brasko") << model("SCI3:RX:Brasko") << 5 << 9 << 3;
        QTest::newRow("bare RX:Brasko") << model("RX:Brasko") << 4 << 9 << 3;
        QTest::newRow("9.03") << firmware("9.03") << 5 << 9 << 3;
        QTest::newRow("10.1") << firmware("10.1") << 5 << 10 << 1;
        QTest::newRow("9.0") << firmware("9.0") << 5 << 9 << 0;
        QTest::newRow("text after the minor digits") << firmware("9.3beta") << 5 << 9 << 0;
        QTest::newRow("build number cut off") << firmware("9.2") + QStringList{"--build", "0815"} << 5 << 9 << 2;
        QTest::newRow("no version") << QStringList{"--identify-reply", QByteArray("BT:RX:Brasko").toHex()} << 5 << 0 << 0;
        QTest::newRow("after 0x00 bytes") << QStringList{"--fault", "1E=leading-nulls:5"} << 5 << 9 << 3;
    }
    void identification()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(int, type);
        QFETCH(int, major);
        QFETCH(int, minor);
        Bench bench(simArgs);
        QVERIFY(bench.start());
        LidarConnection &connection = bench.connection;
        QSignalSpy controls(&connection, &LidarConnection::controlsChanged);

        QVERIFY(connection.ConnectSelectedLidar(kName));
        QCOMPARE(bench.op.texts(), QStringList());
        QCOMPARE(connection.connectedLidarName, kName);
        QCOMPARE(QList<int>({connection.lidarType, connection.firmwareMajor, connection.firmwareMinor}),
                 QList<int>({type, major, minor}));
        QCOMPARE(controls.count(), 1);
        QCOMPARE(bench.sim.receivedBytes(), remoteModeFrame(true) + identifyFrame());
    }

    // Each refusal has its message, closes the port and never sends remote off.
    void refusals_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QString>("message");
        QTest::newRow("no identify reply") << QStringList{"--fault", "1E=silent"}
                                           << "InitCommunication: Lidar does not response";
        QTest::newRow("only 0x00 bytes") << QStringList{"--fault", "1E=nulls"}
                                         << "InitCommunication: Invalid response(null characters) from the lidar";
        QTest::newRow("unknown model") << QStringList{"--model", "LX:Brasko"} << "Invalid lidar type detected";
        QTest::newRow("remote on not echoed") << QStringList{"--fault", "0B=wrong-echo"}
                                              << "SetLidarRemoteMode: Invalid data received: \n";
        QTest::newRow("remote on unanswered") << QStringList{"--fault", "0B=silent"} << "";
    }
    void refusals()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QString, message);
        Bench bench(simArgs);
        QVERIFY(bench.start());
        LidarConnection &connection = bench.connection;
        QSignalSpy controls(&connection, &LidarConnection::controlsChanged);

        QVERIFY(!connection.ConnectSelectedLidar(kName));
        QVERIFY(!connection.port().isOpen());
        QVERIFY(connection.connectedLidarName.isEmpty());
        QCOMPARE(controls.count(), 1);
        QCOMPARE(bench.op.texts().size(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty()) {
            QVERIFY2(bench.op.texts().first().startsWith(message), qPrintable(bench.op.texts().first()));
            QCOMPARE(bench.op.messages.first().title, applicationTitle());
        }
        if (message.startsWith("Invalid lidar type"))
            QCOMPARE(connection.lidarType, 6);
        QTest::qWait(100);
        QVERIFY(!bench.sim.receivedBytes().contains(remoteModeFrame(false)));
    }

    // A port that never opens costs three attempts with 1 s pauses; a text without entry
    // (or an entry without port) is refused at once.
    void portNotOpened_data()
    {
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("portName");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");
        QTest::addColumn<QString>("message");
        const QString paired = QStringLiteral("Lidar %1: please make sure it is paired and powered on");
        QTest::newRow("port does not exist") << kName << "/dev/velomark-no-such-port" << 2500 << 6000
                                             << "Lidar VZQ-20417 : please make sure it is powered on";
        QTest::newRow("no entry of that name") << "VZQ-other" << "/dev/null" << 0 << 1000 << paired.arg("VZQ-other");
        QTest::newRow("entry without port") << kName << "" << 0 << 1000 << paired.arg(kName);
        QTest::newRow("no current row") << "" << "/dev/null" << 0 << 1000 << "";
    }
    void portNotOpened()
    {
        QFETCH(QString, selected);
        QFETCH(QString, portName);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        QFETCH(QString, message);
        RecordingOperator op;
        LidarConnection connection(op);
        connection.lidars.append({QString(), selected.isEmpty() ? QString() : kName, portName});
        QSignalSpy controls(&connection, &LidarConnection::controlsChanged);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!connection.ConnectSelectedLidar(selected));
        QVERIFY2(clock.elapsed() >= minMs && clock.elapsed() <= maxMs, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(op.texts(), message.isEmpty() ? QStringList() : QStringList{message});
        if (!message.isEmpty())
            QCOMPARE(op.messages.first().title, applicationTitle());
        QCOMPARE(controls.count(), 0);
    }

    void sameLidarTwiceConnectsOnce()
    {
        Bench bench;
        QVERIFY(bench.start());
        // Of two entries with the same name the first one counts.
        bench.connection.lidars.append({QString(), kName, QStringLiteral("/dev/velomark-no-such-port")});
        QVERIFY(bench.connection.ConnectSelectedLidar(kName));
        QVERIFY(bench.connection.ConnectSelectedLidar(kName));
        QCOMPARE(bench.sim.receivedBytes(), remoteModeFrame(true) + identifyFrame());
        QVERIFY(bench.connection.hasStoredLog() && bench.connection.framedDiagCommands());
    }

    void anotherLidarReleasesTheFirst()
    {
        Bench first;
        LidarSim second({"--model", "RS232:RX:Brasko", "--firmware", "9.2"});
        QVERIFY(first.start() && second.start());
        LidarConnection &connection = first.connection;
        connection.lidars.append({QString(), QStringLiteral("VZQ-B"), second.portPath()});
        const QByteArray on = remoteModeFrame(true) + identifyFrame();

        QVERIFY(connection.ConnectSelectedLidar(kName));
        simlink::TraceCapture traces;
        QVERIFY(connection.ConnectSelectedLidar(QStringLiteral("VZQ-B")));
        // The first lidar is released before the second is taken under remote control.
        QCOMPARE(traces.lines().filter("SetLidarRemoteMode: TX"),
                 QStringList({"SetLidarRemoteMode: TX 02 0C 0C 03 ", "SetLidarRemoteMode: TX 02 0B 0B 03 "}));
        QCOMPARE(first.sim.receivedBytes(), on + remoteModeFrame(false));
        QCOMPARE(second.receivedBytes(), on);
        QCOMPARE(connection.connectedLidarName, QStringLiteral("VZQ-B"));
        QCOMPARE(connection.lidarType, 4);
        QVERIFY(!connection.framedDiagCommands());
        QCOMPARE(first.op.texts(), QStringList());

        connection.CloseLidarPort();
        connection.CloseLidarPort();  // closed: nothing more reaches the lidar
        QVERIFY(!connection.port().isOpen() && connection.connectedLidarName.isEmpty());
        QTest::qWait(100);
        QCOMPARE(second.receivedBytes(), on + remoteModeFrame(false));
        QCOMPARE(connection.lidarType, 4);  // the identity outlives the connection
    }

    // A lidar whose port has disappeared is released without a message or a long wait.
    void vanishedPortIsReleased()
    {
        Bench bench;
        QVERIFY(bench.start());
        QVERIFY(bench.connection.ConnectSelectedLidar(kName));
        bench.sim.vanish();
        QTest::qWait(300);
        QElapsedTimer clock;
        clock.start();
        bench.connection.CloseLidarPort();
        QVERIFY(clock.elapsed() < 5000);
        QVERIFY(!bench.connection.port().isOpen() && bench.connection.connectedLidarName.isEmpty());
        QCOMPARE(bench.op.texts(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestConnection)
#include "tst_connection.moc"
