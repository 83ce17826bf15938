#include <QtTest>

#include "simlink.h"
#include "testbytes.h"

using namespace velomark;

namespace {

const QByteArray kBinaryRecord = QByteArray::fromHex("021504003704D201F103");
const QByteArray kFirstNotification = QByteArray::fromHex("02040403");
const QByteArray kSecondNotification = QByteArray::fromHex("02050503");
// "$" text records of 40 and 39 bytes.
const QByteArray kTextRecord40("$SPD,1,101519,143015,,,,,V,R,55,12.3,1\r\n");
const QByteArray kTextRecord39("$SPD,1,101519,143015,,,,,V,R,5,12.3,1\r\n");

// A binary record of the given speed (40 to 44: no byte of it needs an escape).
QByteArray binaryRecord(int speed)
{
    return QByteArray::fromHex("02150400") + char(speed) + QByteArray::fromHex("04D201") + char(0xC6 ^ speed) + '\x03';
}

}  // namespace

class TestLiveReader : public QObject
{
    Q_OBJECT
private:
    QList<QByteArray> m_buffers;
    QStringList m_losses;

    // The reader's buffers and losses are queued to this thread, as the window receives them.
    void collect(rThread &reader)
    {
        m_buffers.clear();
        m_losses.clear();
        connect(&reader, &rThread::speed_disp, this, [this](const QByteArray &buffer) { m_buffers << buffer; });
        connect(&reader, &rThread::portLost, this, [this](const QString &error) { m_losses << error; });
    }

private slots:
    // What the reader hands on, through the port, however closely records follow: a buffer per
    // record, in order, none lost or merged, from the first (which may come in with the format
    // reply) to the last; a record too short is dropped. Where a buffer may end:
    // completeRecordLength; notification frames stripped and not counted in the length:
    // tst_liverecordparser and fuzz_live.
    void recordsHandedOn_data()
    {
        QTest::addColumn<QStringList>("options");          // lidar-sim's
        QTest::addColumn<QList<QByteArray>>("buffers");    // handed on in turn, cycling
        QTest::addColumn<int>("count");                    // buffers handed on in all
        QTest::addColumn<QByteArray>("dropped");           // sent by the lidar, never handed on
        const auto stream = [](int format, int intervalMs, int sent, const QList<QByteArray> &records) {
            QStringList options{"--live-format", QString::number(format), "--output-format-byte", QString::number(30 + format),
                                "--live-interval", QString::number(intervalMs), "--live-count", QString::number(sent)};
            for (const QByteArray &record : records)
                options << "--live-record" << hexArg(record);
            return options;
        };
        QList<QByteArray> binary;
        for (int speed = 40; speed < 45; ++speed)
            binary << binaryRecord(speed);
        QTest::newRow("300 ms apart") << stream(1, 300, 4, binary) << binary << 4 << QByteArray();
        QTest::newRow("1 ms apart") << stream(1, 1, 300, binary) << binary << 300 << QByteArray();
        QTest::newRow("format 3: 39 bytes dropped, 40 handed on")
            << stream(3, 250, 4, {kTextRecord39, kTextRecord40}) << QList<QByteArray>{kTextRecord40} << 2 << kTextRecord39;
    }
    void recordsHandedOn()
    {
        QFETCH(QStringList, options);
        QFETCH(QList<QByteArray>, buffers);
        QFETCH(int, count);
        QFETCH(QByteArray, dropped);
        simlink::LiveBench bench(options);
        QVERIFY2(bench.prepare(), qPrintable(bench.sim.errorString()));
        collect(bench.reader);
        QVERIFY(bench.start().started);
        QVERIFY(bench.sim.waitForState(QStringLiteral("live stop"), 10000));
        QTRY_COMPARE_WITH_TIMEOUT(m_buffers.size(), count, 5000);
        stopLiveReader(&bench.reader);
        QCoreApplication::processEvents();
        QCOMPARE(m_buffers.size(), count);
        for (int i = 0; i < count; ++i)
            QCOMPARE(m_buffers.at(i).toHex(' '), buffers.at(i % buffers.size()).toHex(' '));
        QVERIFY(dropped.isEmpty() || bench.sim.sent().contains(dropped));
        QVERIFY(m_losses.isEmpty());
        QCOMPARE(bench.op.texts(), QStringList());
    }

    // Where a buffer may end: after a complete record, never inside one.
    void completeRecordLength_data()
    {
        QTest::addColumn<QByteArray>("pending");
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("length");
        QTest::newRow("a record and the start of the next") << kBinaryRecord + kBinaryRecord.left(3) << 1 << 10;
        QTest::newRow("a record cut short") << kBinaryRecord.left(9) << 1 << 0;
        QTest::newRow("notification frames first") << kFirstNotification + kSecondNotification + kBinaryRecord << 1 << 18;
        QTest::newRow("escaped ETX inside") << QByteArray::fromHex("02150400101004100301F003") << 1 << 12;
        QTest::newRow("frame type 0x03 is not an end") << QByteArray::fromHex("0203040037") + kBinaryRecord << 1 << 15;
        QTest::newRow("text record") << kTextRecord40 + "$SPD" << 3 << 40;
        QTest::newRow("text without its line end") << kTextRecord40.left(39) << 3 << 0;
        QTest::newRow("ETX means nothing in text") << QByteArray::fromHex("0215040037") + "\r\n" << 3 << 7;
    }
    void completeRecordLength()
    {
        QFETCH(QByteArray, pending);
        QFETCH(int, format);
        QTEST(completeLiveRecordLength(pending, format), "length");
    }

    // A stop ends the run within one wait and hands the port back to this thread, and the same
    // reader then runs again (the lidar answering over the port afterwards: tst_vantrixlive). A
    // port that vanishes during a run: tst_linkloss (core), tst_vantrixlive faultsDuringRun.
    void stop_data()
    {
        QTest::addColumn<int>("runningMs");
        QTest::addColumn<bool>("streaming");
        QTest::newRow("stop before the run began") << 0 << false;
        QTest::newRow("stop while the lidar never pauses") << 1500 << true;
    }
    void stop()
    {
        QFETCH(int, runningMs);
        QFETCH(bool, streaming);
        simlink::Bench bench(streaming ? QStringList{"--live-always", "--live-format", "1", "--live-interval", "1"} : QStringList());
        QVERIFY2(bench.start() && bench.openPort(), qPrintable(bench.sim.errorString()));
        rThread reader;
        collect(reader);
        for (int run = 0; run < 2; ++run) {
            m_buffers.clear();
            QVERIFY(reader.startReading(&bench.link(), 1));
            QTest::qWait(runningMs);
            QElapsedTimer stopping;
            stopping.start();
            reader.requestStop();
            // One wait of 1000 ms at most, with a wide margin for a loaded machine.
            QVERIFY(reader.wait(5000));
            QVERIFY2(stopping.elapsed() < 2500, qPrintable(QString::number(stopping.elapsed())));
            QCOMPARE(bench.link().deviceThread(), QThread::currentThread());
            QCoreApplication::processEvents();
            QCOMPARE(m_buffers.isEmpty(), !streaming);
        }
        QVERIFY(m_losses.isEmpty());
    }

    // Start's checks, in order: each refusal has its own message, leaves the port open,
    // never asks for a reader and closes the please-wait window.
    void startChecks_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("outputFormat");  // -1: the query was not reached
        QTest::addColumn<QString>("message");   // none: started
        const QString speedMode = QStringLiteral("Please set the Lidar to \"Speed Mode\"");
        QTest::newRow("speed mode, format 3") << QStringList{} << 3 << QString();
        QTest::newRow("not in speed mode") << QStringList{"--operation-mode", "2"} << -1 << speedMode;
        QTest::newRow("output format 5") << QStringList{"--output-format-byte", "35"} << 5 << "Invalid lidar data output format: 5";
    }
    void startChecks()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, message);
        const bool started = message.isEmpty();
        simlink::LiveBench bench(options);
        QVERIFY2(bench.prepare(), qPrintable(bench.sim.errorString()));
        const LiveStartResult result = bench.start();
        QCOMPARE(result.started, started);
        QTEST(result.outputFormat.value_or(-1), "outputFormat");
        QCOMPARE(bench.readerRequests, started ? 1 : 0);
        QCOMPARE(bench.reader.isRunning(), started);
        QCOMPARE(bench.op.waitTexts, QStringList{"Preparing lidar target acquisition, please wait ..."});
        // Success leaves the window open for the caller, which closes it once it runs.
        QCOMPARE(bench.op.waitOpen, started);
        QVERIFY(bench.connection.isOpen());
        QCOMPARE(bench.connection.connectedLidarName, simlink::kName);
        QCOMPARE(bench.op.messages.isEmpty() ? QString() : bench.op.messages.last().text, message);
        if (!started)
            QCOMPARE(bench.op.messages.last().title, QStringLiteral("Veltrazon Data Logger"));
        QVERIFY(bench.dataFile.isOpen());
        stopLiveReader(&bench.reader);
    }

    void unknownLidarIsNotStarted()
    {
        simlink::LiveBench bench;  // its lidar is never listed
        QVERIFY(bench.dataFile.prepare(bench.dir.filePath(QStringLiteral("live.txt")), bench.op));
        const LiveStartResult result = bench.start();
        QVERIFY(!result.started && !result.outputFormat && bench.readerRequests == 0 && !bench.op.waitOpen
                && !bench.connection.isOpen());
    }
};

QTEST_GUILESS_MAIN(TestLiveReader)
#include "tst_livereader.moc"
