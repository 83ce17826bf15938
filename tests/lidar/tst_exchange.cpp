#include <QtTest>

#include "common/operatorinterface.h"
#include "common/text.h"
#include "lidar/exchange.h"
#include "lidar/frame.h"
#include "lidar/queries.h"
#include "lidarsim.h"
#include "recordingoperator.h"
#include "simlink.h"

using namespace velomark;

// The exchange primitives against the simulator, through the real serial port.
class TestExchange : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!simlink::simAvailable())
            QSKIP("LIDAR_SIM is not set");
    }

    void sendCommand_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<bool>("showMessages");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("message");  // "" none; "%hex" stands for the reply's hex
        QTest::addColumn<QString>("traceLine");
        const QString label = QStringLiteral("SetLidarRemoteMode");
        QTest::newRow("plain echo") << QStringList() << true << true << "" << label + ": RX 02 0B 0B 03 ";
        QTest::newRow("echo after leading nulls") << QStringList{"--fault", "0B=leading-nulls:7"} << true
                                                  << true << "" << "";
        QTest::newRow("echo inside other text") << QStringList{"--fault", "0B=embed"} << true << true << "" << "";
        QTest::newRow("only nulls") << QStringList{"--fault", "0B=nulls"} << true << false
                                    << label + ": Invalid response(null characters) from the lidar" << "";
        QTest::newRow("only nulls, messages off") << QStringList{"--fault", "0B=nulls"} << false << false << "" << "";
        QTest::newRow("wrong echo") << QStringList{"--fault", "0B=wrong-echo"} << true << false
                                    << label + ": Invalid data received: \n%hex" << "";
        QTest::newRow("wrong echo, messages off") << QStringList{"--fault", "0B=wrong-echo"} << false << false
                                                  << "" << "";
        QTest::newRow("no reply: trace only") << QStringList{"--fault", "0B=silent"} << true << false << ""
                                              << label + ": There is no response from the laser";
        QTest::newRow("short echo") << QStringList{"--fault", "0B=short:3"} << true << false
                                    << label + ": Invalid data received: \n%hex"
                                    << label + ": Not getting enough bytes: 3";
    }
    void sendCommand()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(bool, showMessages);
        QFETCH(bool, result);
        QFETCH(QString, message);
        QFETCH(QString, traceLine);
        LidarSim sim(simArgs);
        QVERIFY(sim.start());
        QSerialPort port;
        QVERIFY(simlink::openPort(port, sim.portPath()));
        LidarChannel channel = LidarChannel::forSerialPort(port);
        RecordingOperator op;
        simlink::TraceCapture traces;

        QCOMPARE(SendCommand(channel, remoteModeFrame(true), QStringLiteral("SetLidarRemoteMode"), showMessages, op),
                 result);
        QCOMPARE(sim.receivedBytes(), remoteModeFrame(true));
        if (message.isEmpty()) {
            QCOMPARE(op.texts(), QStringList());
        } else {
            message.replace(QLatin1String("%hex"), hexBytes(withoutLeadingNulls(sim.sentBytes())));
            QCOMPARE(op.texts(), QStringList{message});
            QCOMPARE(op.messages.first().title, applicationTitle());
        }
        if (!traceLine.isEmpty())
            QVERIFY2(traces.contains(traceLine), qPrintable(traces.lines().join('\n')));
    }

    void writePortFailure_data()
    {
        QTest::addColumn<bool>("openReadOnly");
        QTest::newRow("port open for reading only") << true;
        QTest::newRow("port closed") << false;
    }
    void writePortFailure()
    {
        QFETCH(bool, openReadOnly);
        LidarSim sim;
        QVERIFY(sim.start());
        QSerialPort port;
        if (openReadOnly)
            QVERIFY(simlink::openPort(port, sim.portPath(), QIODevice::ReadOnly));
        LidarChannel channel = LidarChannel::forSerialPort(port);
        RecordingOperator op;
        simlink::TraceCapture traces;

        QVERIFY(!WritePort(channel, identifyFrame(), QStringLiteral("InitCommunication"), op));
        const QString text = QStringLiteral("InitCommunicationWritePort() failed: ") + port.errorString();
        QCOMPARE(op.texts(), QStringList{text});
        QCOMPARE(op.messages.first().title, kMessageTitle);
        QVERIFY(traces.contains(text));
        QTest::qWait(100);
        QCOMPARE(sim.receivedBytes(), QByteArray());
    }

    // Chunks with gaps shorter than the follow-up wait make one reply.
    void chunkedReplyCollectedWhole_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("command");
        QTest::newRow("identify reply, gaps of 120 ms") << "1E=chunks:4:120" << identifyFrame();
        QTest::newRow("first chunk below 4 bytes, gaps of 400 ms") << "0B=chunks:4:400" << remoteModeFrame(true);
    }
    void chunkedReplyCollectedWhole()
    {
        QFETCH(QString, fault);
        QFETCH(QByteArray, command);
        LidarSim sim({"--fault", fault});
        QVERIFY(sim.start());
        QSerialPort port;
        QVERIFY(simlink::openPort(port, sim.portPath()));
        LidarChannel channel = LidarChannel::forSerialPort(port);
        RecordingOperator op;

        QVERIFY(WritePort(channel, command, QStringLiteral("Test"), op));
        const QByteArray reply = ReadPort(channel, 3000, -1, QStringLiteral("Test"));
        QCOMPARE(reply, sim.sentBytes());
        QVERIFY(reply.size() >= command.size());
    }

    // After a first chunk of 4 or more bytes a gap over 200 ms ends the reply; the late rest
    // is dropped before the next command, so it cannot spoil that command's reply.
    void longGapEndsReply()
    {
        LidarSim sim({"--fault", "1E=chunks:2:500"});
        QVERIFY(sim.start());
        QSerialPort port;
        QVERIFY(simlink::openPort(port, sim.portPath()));
        LidarChannel channel = LidarChannel::forSerialPort(port);
        RecordingOperator op;

        QVERIFY(WritePort(channel, identifyFrame(), QStringLiteral("Test"), op));
        const QByteArray first = ReadPort(channel, 3000, -1, QStringLiteral("Test"));
        QVERIFY(first.size() >= 4);
        QTest::qWait(800);
        const QByteArray whole = sim.sentBytes();
        QVERIFY2(whole.size() > first.size(), "the simulator did not send the second chunk");
        QVERIFY(whole.startsWith(first));

        QCOMPARE(QueryLidarOperationMode(channel, op), 1);
        QCOMPARE(op.texts(), QStringList());
    }

    void lateBytesDiscardedBeforeNextCommand()
    {
        LidarSim sim({"--fault", "0B=late:500"});
        QVERIFY(sim.start());
        QSerialPort port;
        QVERIFY(simlink::openPort(port, sim.portPath()));
        LidarChannel channel = LidarChannel::forSerialPort(port);
        RecordingOperator op;
        simlink::TraceCapture traces;

        QVERIFY(SendCommand(channel, remoteModeFrame(true), QStringLiteral("SetLidarRemoteMode"), true, op));
        QVERIFY(traces.contains(QStringLiteral("SetLidarRemoteMode: RX 02 0B 0B 03 ")));
        QThread::msleep(800);  // the garbage arrives while nobody reads
        QVERIFY(sim.sentBytes().size() > remoteModeFrame(true).size());
        QCOMPARE(QueryLidarOperationMode(channel, op), 1);
        QCOMPARE(op.texts(), QStringList());
    }

    // Only a label containing "Erase" waits 8 s for the first byte.
    void replyDelayedFiveSeconds_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");
        QTest::newRow("EraseLidarData") << "EraseLidarData" << true << 4500 << 7500;
        QTest::newRow("SetLidarRemoteMode") << "SetLidarRemoteMode" << false << 2500 << 4500;
        QTest::newRow("lower-case erase") << "eraseLidarData" << false << 2500 << 4500;
    }
    void replyDelayedFiveSeconds()
    {
        QFETCH(QString, label);
        QFETCH(bool, result);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        LidarSim sim({"--fault", "31=delay:5000"});
        QVERIFY(sim.start());
        QSerialPort port;
        QVERIFY(simlink::openPort(port, sim.portPath()));
        LidarChannel channel = LidarChannel::forSerialPort(port);
        RecordingOperator op;

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(SendCommand(channel, eraseFrame(), label, true, op), result);
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(elapsed >= minMs && elapsed <= maxMs, qPrintable(QString::number(elapsed)));
        QCOMPARE(op.texts(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestExchange)
#include "tst_exchange.moc"
