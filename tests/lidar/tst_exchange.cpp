#include <QtTest>

#include "common/operatorinterface.h"
#include "common/text.h"
#include "lidar/exchange.h"
#include "lidar/frame.h"
#include "lidar/queries.h"
#include "simlink.h"

using namespace velomark;
using simlink::Bench;

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
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("show");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("message");  // "%hex": the reply from its first non-zero byte
        QTest::addColumn<QString>("traceLine");
        const QString label = QStringLiteral("SetLidarRemoteMode");
        const QString invalid = label + ": Invalid data received: \n%hex";
        QTest::newRow("plain echo") << "" << true << true << "" << label + ": RX 02 0B 0B 03 ";
        QTest::newRow("after 0x00 bytes") << "0B=leading-nulls:7" << true << true << "" << "";
        QTest::newRow("inside other text") << "0B=embed" << true << true << "" << "";
        QTest::newRow("only 0x00 bytes") << "0B=nulls" << true << false
                                         << label + ": Invalid response(null characters) from the lidar" << "";
        QTest::newRow("only 0x00 bytes, quiet") << "0B=nulls" << false << false << "" << "";
        QTest::newRow("wrong echo") << "0B=wrong-echo" << true << false << invalid << "";
        QTest::newRow("wrong echo, quiet") << "0B=wrong-echo" << false << false << "" << "";
        QTest::newRow("short echo") << "0B=short:3" << true << false << invalid
                                    << label + ": Not getting enough bytes: 3";
        QTest::newRow("no reply: trace only") << "0B=silent" << true << false << ""
                                              << label + ": There is no response from the laser";
    }
    void sendCommand()
    {
        QFETCH(QString, fault);
        QFETCH(bool, show);
        QFETCH(bool, result);
        QFETCH(QString, message);
        QFETCH(QString, traceLine);
        Bench bench(fault.isEmpty() ? QStringList() : QStringList{"--fault", fault});
        QVERIFY(bench.start() && bench.openPort());
        LidarChannel channel = bench.channel();
        simlink::TraceCapture traces;

        QCOMPARE(SendCommand(channel, remoteModeFrame(true), "SetLidarRemoteMode", show, bench.op), result);
        QCOMPARE(bench.sim.receivedBytes(), remoteModeFrame(true));
        message.replace("%hex", hexBytes(withoutLeadingNulls(bench.sim.sentBytes())));
        QCOMPARE(bench.op.texts(), message.isEmpty() ? QStringList() : QStringList{message});
        if (!message.isEmpty())
            QCOMPARE(bench.op.messages.first().title, applicationTitle());
        if (!traceLine.isEmpty())
            QVERIFY2(traces.contains(traceLine), qPrintable(traces.lines().join('\n')));
    }

    void writePortFailure_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("port open for reading only") << true;
        QTest::newRow("port closed") << false;
    }
    void writePortFailure()
    {
        QFETCH(bool, readOnly);
        Bench bench;
        QVERIFY(bench.start());
        QVERIFY(!readOnly || bench.openPort(QIODevice::ReadOnly));
        LidarChannel channel = bench.channel();
        simlink::TraceCapture traces;

        QVERIFY(!WritePort(channel, identifyFrame(), "InitCommunication", bench.op));
        const QString text = "InitCommunicationWritePort() failed: " + bench.connection.port().errorString();
        QCOMPARE(bench.op.texts(), QStringList{text});
        QCOMPARE(bench.op.messages.first().title, kMessageTitle);
        QVERIFY(traces.contains(text));
        QTest::qWait(100);
        QCOMPARE(bench.sim.receivedBytes(), QByteArray());
    }

    // A reply ends at the first gap longer than the follow-up wait: 200 ms, or 600 ms when
    // the first chunk held fewer than 4 bytes.
    void chunkedReply_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply");
        const QByteArray identity("BT:RX:Brasko Version 9.3");
        const QByteArray on = remoteModeFrame(true);
        QTest::newRow("gaps of 120 ms: whole") << "1E=chunks:4:120" << identifyFrame() << identity;
        QTest::newRow("gaps of 500 ms: first chunk") << "1E=chunks:2:500" << identifyFrame() << identity.left(12);
        QTest::newRow("1-byte chunks, gaps of 400 ms: whole") << "0B=chunks:4:400" << on << on;
        QTest::newRow("1-byte chunks, gaps of 800 ms: first byte") << "0B=chunks:4:800" << on << on.left(1);
    }
    void chunkedReply()
    {
        QFETCH(QString, fault);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        Bench bench({"--fault", fault});
        QVERIFY(bench.start() && bench.openPort());
        LidarChannel channel = bench.channel();
        QVERIFY(WritePort(channel, command, "Test", bench.op));
        QCOMPARE(ReadPort(channel, 3000, -1, "Test"), reply);
    }

    // Bytes that come after a reply has ended are dropped before the next command, whether
    // the port had read them (event loop running) or not (thread asleep).
    void lateBytesDroppedBeforeNextCommand_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("eventLoop");
        QTest::newRow("rest of a cut reply") << "1E=chunks:2:500" << true;
        QTest::newRow("garbage after the reply") << "1E=late:500" << false;
    }
    void lateBytesDroppedBeforeNextCommand()
    {
        QFETCH(QString, fault);
        QFETCH(bool, eventLoop);
        Bench bench({"--fault", fault});
        QVERIFY(bench.start() && bench.openPort());
        LidarChannel channel = bench.channel();
        QVERIFY(WritePort(channel, identifyFrame(), "Test", bench.op));
        const QByteArray first = ReadPort(channel, 3000, -1, "Test");
        if (eventLoop)
            QTest::qWait(800);
        else
            QThread::msleep(800);
        QVERIFY(bench.sim.sentBytes().size() > first.size());

        QCOMPARE(QueryLidarOperationMode(channel, bench.op), 1);
        QCOMPARE(bench.op.texts(), QStringList());
    }

    // Only a label containing "Erase" waits 8 s for the first byte; the others wait 3 s.
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
        Bench bench({"--fault", "31=delay:5000"});
        QVERIFY(bench.start() && bench.openPort());
        LidarChannel channel = bench.channel();
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(SendCommand(channel, eraseFrame(), label, true, bench.op), result);
        QVERIFY2(clock.elapsed() >= minMs && clock.elapsed() <= maxMs, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(bench.op.texts(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestExchange)
#include "tst_exchange.moc"
