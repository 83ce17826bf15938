#include <QtTest>

#include "common/operatorinterface.h"
#include "lidar/frame.h"
#include "lidar/lidarconnection.h"
#include "lidarsim.h"
#include "recordingoperator.h"
#include "simlink.h"

using namespace velomark;

namespace {
const QString kName = QStringLiteral("VZQ-20417");
}

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
        const auto model = [](const char *text) { return QStringList{"--model", text, "--firmware", "9.3"}; };
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
        QTest::newRow("version 9.03") << QStringList{"--firmware", "9.03"} << 5 << 9 << 3;
        QTest::newRow("version 10.1") << QStringList{"--firmware", "10.1"} << 5 << 10 << 1;
        QTest::newRow("version 9.0") << QStringList{"--firmware", "9.0"} << 5 << 9 << 0;
        QTest::newRow("build number not glued to minor")
            << QStringList{"--firmware", "9.2", "--build", "0815"} << 5 << 9 << 2;
        QTest::newRow("no version")
            << QStringList{"--identify-reply", QString::fromLatin1(QByteArray("BT:RX:Brasko").toHex())} << 5 << 0 << 0;
        QTest::newRow("reply after nulls")
            << QStringList{"--fault", "1E=leading-nulls:5", "--firmware", "9.4"} << 5 << 9 << 4;
    }
    void identification()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(int, type);
        QFETCH(int, major);
        QFETCH(int, minor);
        LidarSim sim(simArgs);
        QVERIFY(sim.start());
        RecordingOperator op;
        LidarConnection connection(op);
        connection.lidars.append({QStringLiteral("001122334455"), kName, sim.portPath()});
        QSignalSpy controls(&connection, &LidarConnection::controlsChanged);

        QVERIFY(connection.ConnectSelectedLidar(kName));
        QCOMPARE(op.texts(), QStringList());
        QCOMPARE(connection.connectedLidarName, kName);
        QCOMPARE(connection.lidarType, type);
        QCOMPARE(connection.firmwareMajor, major);
        QCOMPARE(connection.firmwareMinor, minor);
        QCOMPARE(controls.count(), 1);
        QCOMPARE(sim.receivedBytes(), remoteModeFrame(true) + identifyFrame());
    }

    // Each refusal has its message, closes the port and never sends remote off.
    void refusals_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("type");
        QTest::newRow("no identify reply") << QStringList{"--fault", "1E=silent"}
                                           << "InitCommunication: Lidar does not response" << 6;
        QTest::newRow("only nulls") << QStringList{"--fault", "1E=nulls"}
                                    << "InitCommunication: Invalid response(null characters) from the lidar" << 6;
        QTest::newRow("unknown model") << QStringList{"--model", "LX:Brasko"} << "Invalid lidar type detected" << 6;
        QTest::newRow("remote mode not echoed") << QStringList{"--fault", "0B=wrong-echo"}
                                                << "SetLidarRemoteMode: Invalid data received: \n" << 6;
        QTest::newRow("remote mode unanswered") << QStringList{"--fault", "0B=silent"} << "" << 6;
    }
    void refusals()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QString, message);
        QFETCH(int, type);
        LidarSim sim(simArgs);
        QVERIFY(sim.start());
        RecordingOperator op;
        LidarConnection connection(op);
        connection.lidars.append({QString(), kName, sim.portPath()});
        QSignalSpy controls(&connection, &LidarConnection::controlsChanged);

        QVERIFY(!connection.ConnectSelectedLidar(kName));
        QVERIFY(!connection.port().isOpen());
        QVERIFY(connection.connectedLidarName.isEmpty());
        QCOMPARE(connection.lidarType, type);
        QCOMPARE(controls.count(), 1);
        if (message.isEmpty()) {
            QCOMPARE(op.texts(), QStringList());
        } else {
            QCOMPARE(op.texts().size(), 1);
            QVERIFY2(op.texts().first().startsWith(message), qPrintable(op.texts().first()));
            QCOMPARE(op.messages.first().title, applicationTitle());
        }
        QTest::qWait(100);
        QVERIFY(!sim.receivedBytes().contains(remoteModeFrame(false)));
    }

    void portThatNeverOpens()
    {
        RecordingOperator op;
        LidarConnection connection(op);
        connection.lidars.append({QString(), kName, QStringLiteral("/dev/velomark-no-such-port")});
        QSignalSpy controls(&connection, &LidarConnection::controlsChanged);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!connection.ConnectSelectedLidar(kName));
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(elapsed >= 2500 && elapsed <= 6000, qPrintable(QString::number(elapsed)));
        QCOMPARE(op.texts(), QStringList{QStringLiteral("Lidar VZQ-20417 : please make sure it is powered on")});
        QCOMPARE(op.messages.first().title, applicationTitle());
        QCOMPARE(controls.count(), 0);
    }

    void entryMissing_data()
    {
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("portName");
        QTest::newRow("no entry of that name") << "VZQ-other" << "/dev/null";
        QTest::newRow("entry without port") << kName << "";
    }
    void entryMissing()
    {
        QFETCH(QString, selected);
        QFETCH(QString, portName);
        RecordingOperator op;
        LidarConnection connection(op);
        connection.lidars.append({QString(), kName, portName});
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!connection.ConnectSelectedLidar(selected));
        QVERIFY(clock.elapsed() < 1000);
        QCOMPARE(op.texts(), QStringList{QStringLiteral("Lidar %1: please make sure it is paired and powered on")
                                             .arg(selected)});
    }

    void noCurrentRowDoesNothing()
    {
        RecordingOperator op;
        LidarConnection connection(op);
        connection.lidars.append({QString(), QString(), QStringLiteral("/dev/null")});
        QVERIFY(!connection.ConnectSelectedLidar(QString()));
        QCOMPARE(op.texts(), QStringList());
    }

    void firstEntryOfDuplicateNamesIsUsed()
    {
        LidarSim sim;
        QVERIFY(sim.start());
        RecordingOperator op;
        LidarConnection connection(op);
        connection.lidars.append({QString(), kName, sim.portPath()});
        connection.lidars.append({QString(), kName, QStringLiteral("/dev/velomark-no-such-port")});
        QVERIFY(connection.ConnectSelectedLidar(kName));
        QCOMPARE(sim.receivedBytes(), remoteModeFrame(true) + identifyFrame());
        connection.CloseLidarPort();
    }

    void sameLidarTwiceConnectsOnce()
    {
        LidarSim sim;
        QVERIFY(sim.start());
        RecordingOperator op;
        LidarConnection connection(op);
        connection.lidars.append({QString(), kName, sim.portPath()});
        QVERIFY(connection.ConnectSelectedLidar(kName));
        QVERIFY(connection.ConnectSelectedLidar(kName));
        QCOMPARE(sim.receivedBytes().count(remoteModeFrame(true)), 1);
        QCOMPARE(sim.receivedBytes().count(identifyFrame()), 1);
        QVERIFY(connection.hasStoredLog());
        QVERIFY(connection.framedDiagCommands());
    }

    void anotherLidarReleasesTheFirst()
    {
        LidarSim first;
        LidarSim second({"--model", "RS232:RX:Brasko", "--firmware", "9.2"});
        QVERIFY(first.start());
        QVERIFY(second.start());
        RecordingOperator op;
        LidarConnection connection(op);
        connection.lidars.append({QString(), QStringLiteral("VZQ-A"), first.portPath()});
        connection.lidars.append({QString(), QStringLiteral("VZQ-B"), second.portPath()});

        QVERIFY(connection.ConnectSelectedLidar(QStringLiteral("VZQ-A")));
        QCOMPARE(connection.lidarType, 5);
        QVERIFY(connection.ConnectSelectedLidar(QStringLiteral("VZQ-B")));
        QCOMPARE(connection.connectedLidarName, QStringLiteral("VZQ-B"));
        QCOMPARE(connection.lidarType, 4);
        QVERIFY(!connection.framedDiagCommands());
        QCOMPARE(first.receivedBytes(), remoteModeFrame(true) + identifyFrame() + remoteModeFrame(false));
        QCOMPARE(second.receivedBytes(), remoteModeFrame(true) + identifyFrame());
        QCOMPARE(op.texts(), QStringList());

        connection.CloseLidarPort();
        QVERIFY(!connection.port().isOpen());
        QVERIFY(connection.connectedLidarName.isEmpty());
        connection.CloseLidarPort();  // closed: nothing more reaches the lidar
        QTest::qWait(100);
        QCOMPARE(second.receivedBytes(), remoteModeFrame(true) + identifyFrame() + remoteModeFrame(false));
        // The identity outlives the connection.
        QCOMPARE(connection.lidarType, 4);
    }
};

QTEST_GUILESS_MAIN(TestConnection)
#include "tst_connection.moc"
