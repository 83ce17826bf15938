#include <QtTest>

#include "common/text.h"
#include "lidar/exchange.h"
#include "lidar/frame.h"
#include "lidar/queries.h"
#include "refusingtransport.h"
#include "simlink.h"

using namespace velomark;
using simlink::Bench;

// Frames, the exchange primitives and the parameter queries against the simulator, through
// the real serial port. Messages read "A:" (application title) or "K:" (logger title) + text.
class TestExchange : public QObject
{
    Q_OBJECT
private slots:
    // Expected bytes are written out by hand from the frame rule, never by the builder. The
    // named command frames are checked byte for byte where the lidar receives them
    // (tst_retrieval, tst_connection, tst_lidarsim answers only well-formed frames).
    void frames_data()
    {
        QTest::addColumn<QByteArray>("built");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("no parameter, checksum 0x02 escaped") << buildFrame(0x02) << QByteArray::fromHex("0202100203");
        QTest::newRow("no parameter, checksum 0x10 escaped") << buildFrame(0x10) << QByteArray::fromHex("0210101003");
        QTest::newRow("every parameter escaped, checksum plain")
            << buildFrame(0x20, QByteArray::fromHex("021003")) << QByteArray::fromHex("02201002101010033103");
        QTest::newRow("parameters cancel to checksum 0x03")
            << buildFrame(0x01, QByteArray::fromHex("0200")) << QByteArray::fromHex("0201100200100303");
        QTest::newRow("0x00 and 0xFF pass unescaped") << buildFrame(0x0A, QByteArray::fromHex("00ff")) << QByteArray::fromHex("020a00fff503");
    }
    void frames()
    {
        QFETCH(QByteArray, built);
        QFETCH(QByteArray, expected);
        QCOMPARE(built.toHex(' '), expected.toHex(' '));
    }

    void sendCommand_data()
    {
        QTest::addColumn<QString>("fault");  // "refused": no fault, the port refuses the write
        QTest::addColumn<bool>("show");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("message");  // "%hex": the reply from its first non-zero byte
        QTest::addColumn<QString>("traceLine");
        const QString invalid = "A:SetLidarRemoteMode: Invalid data received: \n%hex";
        QTest::newRow("plain echo") << "" << true << true << "" << "SetLidarRemoteMode: RX 02 0B 0B 03 ";
        QTest::newRow("after 0x00 bytes") << "0B=leading-nulls:7" << true << true << ""
                                          << "SetLidarRemoteMode: RX 00 00 00 00 00 00 00 02 0B 0B 03 ";
        QTest::newRow("inside other text") << "0B=embed" << true << true << "" << "SetLidarRemoteMode: RX 78 78 02 0B 0B 03 79 79 ";
        QTest::newRow("only 0x00 bytes") << "0B=nulls" << true << false
                                         << "A:SetLidarRemoteMode: Invalid response(null characters) from the lidar" << "";
        QTest::newRow("wrong echo") << "0B=wrong-echo" << true << false << invalid << "";
        QTest::newRow("wrong echo, quiet") << "0B=wrong-echo" << false << false << "" << "";
        QTest::newRow("short echo") << "0B=short:3" << true << false << invalid
                                    << "SetLidarRemoteMode: Not getting enough bytes: 3";
        // No reply in time is a trace line only. Only a label containing "Erase" waits 8 s for the
        // first byte (tst_diagnostics, erase without a reply); any other gives up after 3 s.
        QTest::newRow("reply after 5 s") << "0B=delay:5000" << true << false << ""
                                         << "SetLidarRemoteMode: There is no response from the laser";
        const QString refused = QStringLiteral("SetLidarRemoteModeWritePort() failed: refused");
        QTest::newRow("write refused") << "refused" << true << false << "K:" + refused << refused;
    }
    void sendCommand()
    {
        QFETCH(QString, fault);
        QFETCH(bool, show);
        QFETCH(QString, message);
        QFETCH(QString, traceLine);
        const bool refused = fault == "refused";
        Bench bench(fault.isEmpty() || refused ? QStringList() : QStringList{"--fault", fault});
        QVERIFY(bench.start() && bench.openPort());
        RefusingTransport refusing(bench.link());
        Transport &link = refused ? refusing : bench.link();
        simlink::TraceCapture traces;
        QTEST(SendCommand(link, remoteModeFrame(true), "SetLidarRemoteMode", show, bench.op), "result");
        QCOMPARE(bench.sim.receivedBytes(), refused ? QByteArray() : remoteModeFrame(true));
        message.replace("%hex", hexBytes(withoutLeadingNulls(bench.sim.sentBytes())));
        QCOMPARE(simlink::shown(bench.op), message.isEmpty() ? QStringList() : QStringList{message});
        QVERIFY2(traceLine.isEmpty() || traces.lines().contains(traceLine), qPrintable(traces.lines().join('\n')));
    }

    // Where a reply ends among the bytes read so far: a read stops there, and what follows
    // stays for the next reader. Empty expected: the reply is not complete yet.
    void replyEnds_data()
    {
        QTest::addColumn<int>("kind");  // 0 echo of remote on, 1 operation-mode frame, 2 format frame, 3 identify
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("reply");
        const QByteArray on = remoteModeFrame(true);
        const QByteArray record = QByteArray::fromHex("021504003704D201F103");
        const QByteArray mode = QByteArray::fromHex("02090510101C03");
        const QByteArray identity("BT:RX:Brasko Version 9.3");
        QTest::newRow("echo between records") << 0 << record + on + record << record + on;
        QTest::newRow("echo cut short") << 0 << on.left(3) << QByteArray();
        QTest::newRow("frame after records") << 1 << record + record.left(4) + mode + record << mode;
        QTest::newRow("frame without its ETX") << 1 << mode.left(6) << QByteArray();
        QTest::newRow("frame with an escaped ETX inside")
            << 2 << QByteArray::fromHex("020910031003101003") + record << QByteArray::fromHex("020910031003101003");
        QTest::newRow("frame of another parameter") << 1 << QByteArray::fromHex("020958124303") << QByteArray();
        QTest::newRow("identify, then a record") << 3 << identity + record << identity;
        QTest::newRow("identify with build, then a text record")
            << 3 << identity + "\n\rBuild - 0815$SPD,1" << identity + "\n\rBuild - 0815";
        QTest::newRow("record before the identify text") << 3 << record + identity + record << record + identity;
        QTest::newRow("identify: the number may go on") << 3 << identity << QByteArray();
        QTest::newRow("identify without a version") << 3 << QByteArray("BT:RX:Brasko") + record << QByteArray();
    }
    void replyEnds()
    {
        QFETCH(int, kind);
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, reply);
        const ReplyEnd ends[] = {echoEnd(remoteModeFrame(true)), replyFrameEnd(QByteArray::fromHex("020905")),
                                 replyFrameEnd(QByteArray::fromHex("02091003")), identifyTextEnd()};
        const ReplySpan span = ends[kind](bytes);
        QCOMPARE(span.end < 0 ? QByteArray() : bytes.mid(span.start, span.end - span.start), reply);
    }

    // A lidar in continuous mode sends records before, around and after every reply: each
    // exchange ends at its reply instead of waiting for a pause that never comes, and records
    // right after the version text are not read as part of its minor number. A record every
    // millisecond; every 5 ms fails on the same faults.
    void continuousLidar()
    {
        Bench bench({"--live-always", "--live-format", "1", "--live-interval", "1"});
        QElapsedTimer clock;
        clock.start();
        QVERIFY(bench.start() && bench.connection.ConnectSelectedLidar(simlink::kName));
        QCOMPARE(QList<int>({bench.connection.lidarType, bench.connection.firmwareMajor, bench.connection.firmwareMinor}),
                 QList<int>({5, 9, 3}));
        QCOMPARE(QueryLidarOperationMode(bench.connection), 1);
        QCOMPARE(QueueLidarOutputFormat(bench.connection), 3);
        // Each of the four exchanges ends at its reply; a 1 s cap each would be the worst case.
        QVERIFY2(clock.elapsed() < 3500, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(bench.op.texts(), QStringList());
    }

    // A reply ends at the first gap longer than the follow-up wait: 200 ms, or 600 ms when
    // the first chunk held fewer than 4 bytes. Bytes that come later are dropped before the
    // next command, whether the port had read them (event loop running) or not (asleep).
    void chunkedReply_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("eventLoop");
        const QByteArray identity("BT:RX:Brasko Version 9.3");
        const QByteArray on = remoteModeFrame(true);
        QTest::newRow("gaps of 120 ms: whole") << "1E=chunks:4:120" << identifyFrame() << identity << true;
        QTest::newRow("gaps of 500 ms: first chunk") << "1E=chunks:2:500" << identifyFrame() << identity.left(12) << true;
        QTest::newRow("1-byte chunks, gaps of 300 ms: whole") << "0B=chunks:4:300" << on << on << true;
        QTest::newRow("2-byte chunks, gaps of 800 ms: first chunk") << "0B=chunks:2:800" << on << on.left(2) << false;
        QTest::newRow("garbage after the reply") << "1E=late:500" << identifyFrame() << identity << false;
    }
    void chunkedReply()
    {
        QFETCH(QString, fault);
        QFETCH(QByteArray, command);
        QFETCH(bool, eventLoop);
        Bench bench({"--fault", fault});
        QVERIFY(bench.start() && bench.openPort());
        Transport &link = bench.link();
        QVERIFY(WritePort(link, command, "Test", bench.op));
        QTEST(ReadPort(link, 3000, -1, "Test"), "reply");
        if (eventLoop)
            QTest::qWait(800);
        else
            QThread::msleep(800);
        QCOMPARE(QueryLidarOperationMode(link, bench.op), 1);
        QCOMPARE(bench.op.texts(), QStringList());
    }

    // The lidar streams live records after the format query; a long interval keeps them out.
    void queries_data()
    {
        QTest::addColumn<bool>("format");  // output format, else operation mode
        QTest::addColumn<QString>("simArgs");
        QTest::addColumn<int>("lidarType");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("message");  // "%hex": the reply
        const QString opLabel = QStringLiteral("K:QueryLidartrOperationMode");
        const QString fmtLabel = QStringLiteral("K:QueueLidarrOutputFormat");
        QTest::newRow("mode 3") << false << "--operation-mode 3" << 5 << 3 << "";
        QTest::newRow("mode 4 invalid") << false << "--operation-mode 4" << 5 << 4 << "";
        QTest::newRow("mode 15 invalid, not negative") << false << "--operation-mode 15" << 5 << 4 << "";
        QTest::newRow("mode: 4-byte reply") << false << "--fault 09:05=short:4" << 5 << 4 << opLabel + ": Invalid data: \n%hex";
        QTest::newRow("mode: no reply") << false << "--fault 09:05=silent" << 5 << 5 << opLabel + ": No response from lidar";
        QTest::newRow("mode: malformed") << false << "--fault 09:05=malformed" << 5 << 5 << "";
        QTest::newRow("0xA1 type 0: signed") << true << "--output-format-byte A1" << 0 << -6 << "";
        QTest::newRow("0xA1 type 1: signed") << true << "--output-format-byte A1" << 1 << -6 << "";
        QTest::newRow("0xA1 type 4: signed") << true << "--output-format-byte A1" << 4 << -6 << "";
        QTest::newRow("0xA1 type 2: low bits") << true << "--output-format-byte A1" << 2 << 1 << "";
        QTest::newRow("0xA1 type 5: low bits") << true << "--output-format-byte A1" << 5 << 1 << "";
        QTest::newRow("0x03 escaped, type 5") << true << "--output-format-byte 03" << 5 << 3 << "";
        QTest::newRow("invalid lidar type") << true << "--output-format-byte 31" << 6 << 4 << "";
        QTest::newRow("format: 5-byte reply") << true << "--fault 09:03=short:5" << 5 << 4 << fmtLabel + ": Invalid data: \n%hex";
        QTest::newRow("format: no reply") << true << "--fault 09:03=silent" << 5 << 5 << fmtLabel + ": No response from lidar";
        QTest::newRow("format: malformed") << true << "--fault 09:03=malformed" << 5 << 4 << "";
    }
    void queries()
    {
        QFETCH(bool, format);
        QFETCH(QString, simArgs);
        QFETCH(int, lidarType);
        QFETCH(QString, message);
        Bench bench(simArgs.split(' ') + QStringList{"--live-interval", "600000"});
        QVERIFY(bench.start() && bench.connection.ConnectSelectedLidar(simlink::kName));
        bench.connection.lidarType = lidarType;
        const int before = bench.sim.sentBytes().size();
        simlink::TraceCapture traces;
        QTEST(format ? QueueLidarOutputFormat(bench.connection) : QueryLidarOperationMode(bench.connection), "result");
        const QByteArray query = format ? outputFormatQueryFrame() : operationModeQueryFrame();
        QVERIFY(bench.sim.receivedBytes().endsWith(query));
        QVERIFY(traces.lines().contains((format ? "QueueLidarrOutputFormat: TX " : "QueryLidarrOperationMode: TX ") + hexBytes(query)));
        message.replace("%hex", hexBytes(bench.sim.sentBytes().mid(before)));
        QCOMPARE(simlink::shown(bench.op), message.isEmpty() ? QStringList() : QStringList{message});
    }

    // Clearing both directions right after the write lost queries on pseudo-terminals, and
    // flushing input blind lost replies: every query of a long run must be answered.
    void repeatedFormatQueriesAllAnswered()
    {
        Bench bench({"--live-interval", "600000"});
        QVERIFY(bench.start() && bench.connection.ConnectSelectedLidar(simlink::kName));
        for (int i = 0; i < 15; ++i)
            QCOMPARE(QueueLidarOutputFormat(bench.connection), 3);
        QCOMPARE(bench.sim.receivedBytes().count(outputFormatQueryFrame()), 15);
        QCOMPARE(bench.op.texts(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestExchange)
#include "tst_exchange.moc"
