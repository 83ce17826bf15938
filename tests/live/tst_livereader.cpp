#include <QtTest>

#include <QSerialPort>

#include <memory>

#include "lidarsim.h"
#include "live/livereader.h"

using namespace velomark;

namespace {

const QByteArray kBinaryRecord = QByteArray::fromHex("021504003704D201F103");
const QByteArray kFirstNotification = QByteArray::fromHex("02040403");
const QByteArray kSecondNotification = QByteArray::fromHex("02050503");
const QByteArray kRemoteOn = QByteArray::fromHex("020B0B03");
const QByteArray kIdentify = QByteArray::fromHex("021E1E03");
// A "$" text record of exactly 40 bytes, and one of 39.
const QByteArray kTextRecord40("$SPD,1,101519,143015,,,,,V,R,55,12.3,1\r\n");
const QByteArray kTextRecord39("$SPD,1,101519,143015,,,,,V,R,5,12.3,1\r\n");

QString hexArg(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

std::unique_ptr<QSerialPort> openPort(const LidarSim &sim)
{
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(sim.portPath());
    port->setBaudRate(57600);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    if (!port->open(QIODevice::ReadWrite))
        return nullptr;
    return port;
}

// Switches the simulated lidar to remote mode, which lets it stream live records, and
// throws away everything it said so far.
bool enterRemoteMode(QSerialPort &port, LidarSim &sim)
{
    port.write(kRemoteOn);
    if (!port.waitForBytesWritten(3000) || !sim.waitForState(QStringLiteral("remote on"), 3000))
        return false;
    QTest::qWait(100);
    port.readAll();
    return true;
}

}  // namespace

class TestLiveReader : public QObject
{
    Q_OBJECT
private:
    QList<QByteArray> m_buffers;
    QStringList m_losses;

    void watch(rThread &reader)
    {
        m_buffers.clear();
        m_losses.clear();
        // Queued to this thread, as the window receives them.
        connect(&reader, &rThread::speed_disp, this, [this](const QByteArray &buffer) { m_buffers << buffer; });
        connect(&reader, &rThread::portLost, this, [this](const QString &error) { m_losses << error; });
    }

    static bool stopReader(rThread &reader)
    {
        reader.requestStop();
        return reader.wait(5000);
    }

private slots:
    void buffersHandedOn_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("outputFormat");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QByteArray>("dropped");  // sent by the lidar, never handed on

        QTest::newRow("notification frames at both ends stripped")
            << QStringList{"--live-format", "1", "--live-notify", "--live-record", hexArg(kBinaryRecord)}
            << 1 << kBinaryRecord << QByteArray();
        const QByteArray inside = kBinaryRecord + kFirstNotification + kBinaryRecord;
        QTest::newRow("notification frame inside kept")
            << QStringList{"--live-format", "1", "--live-notify", "--live-record", hexArg(inside)}
            << 1 << inside << QByteArray();
        QTest::newRow("format 1: 9 bytes dropped, 10 handed on")
            << QStringList{"--live-format", "1", "--live-record", hexArg(kBinaryRecord.left(9)),
                           "--live-record", hexArg(kBinaryRecord)}
            << 1 << kBinaryRecord << kBinaryRecord.left(9);
        QTest::newRow("format 1: notification frames do not count")
            << QStringList{"--live-format", "1", "--live-record",
                           hexArg(kFirstNotification + kBinaryRecord.left(9) + kSecondNotification),
                           "--live-record", hexArg(kBinaryRecord)}
            << 1 << kBinaryRecord << kFirstNotification + kBinaryRecord.left(9) + kSecondNotification;
        QTest::newRow("format 3: 39 bytes dropped, 40 handed on")
            << QStringList{"--live-format", "3", "--live-record", hexArg(kTextRecord39),
                           "--live-record", hexArg(kTextRecord40)}
            << 3 << kTextRecord40 << kTextRecord39;
    }
    void buffersHandedOn()
    {
        QFETCH(QStringList, options);
        QFETCH(int, outputFormat);
        QFETCH(QByteArray, expected);
        QFETCH(QByteArray, dropped);
        QCOMPARE(kTextRecord40.size(), 40);
        QCOMPARE(kTextRecord39.size(), 39);

        LidarSim sim(options + QStringList{"--live-autostart", "--live-interval", "250"});
        QVERIFY(sim.start());
        auto port = openPort(sim);
        QVERIFY(port);
        QVERIFY(enterRemoteMode(*port, sim));

        rThread reader;
        watch(reader);
        QVERIFY(reader.startReading(port.get(), outputFormat));
        QTRY_VERIFY_WITH_TIMEOUT(m_buffers.size() >= 3, 10000);
        QVERIFY(stopReader(reader));
        QCoreApplication::processEvents();

        for (const QByteArray &buffer : qAsConst(m_buffers))
            QCOMPARE(buffer.toHex(' '), expected.toHex(' '));
        if (!dropped.isEmpty())
            QVERIFY(sim.sent().contains(dropped));
        QVERIFY(m_losses.isEmpty());
    }

    void recordsCloseTogether_data()
    {
        QTest::addColumn<int>("intervalMs");
        QTest::addColumn<QList<int>>("recordsPerBuffer");
        QTest::newRow("10 ms apart: one buffer") << 10 << QList<int>{2};
        QTest::newRow("300 ms apart: two buffers") << 300 << QList<int>{1, 1};
    }
    void recordsCloseTogether()
    {
        QFETCH(int, intervalMs);
        LidarSim sim({"--live-format", "1", "--live-record", hexArg(kBinaryRecord), "--live-autostart",
                      "--live-count", "2", "--live-interval", QString::number(intervalMs)});
        QVERIFY(sim.start());
        auto port = openPort(sim);
        QVERIFY(port);

        rThread reader;
        watch(reader);
        // Streaming begins one interval after remote mode; the reader must already run then.
        // The echo of the remote-on frame may join the first buffer; only records are counted.
        port->write(kRemoteOn);
        QVERIFY(port->waitForBytesWritten(3000));
        QVERIFY(reader.startReading(port.get(), 1));
        QVERIFY(sim.waitForState(QStringLiteral("live stop"), 5000));
        QTest::qWait(500);
        QVERIFY(stopReader(reader));
        QCoreApplication::processEvents();

        QList<int> recordsPerBuffer;
        for (const QByteArray &buffer : qAsConst(m_buffers))
            if (buffer.contains(kBinaryRecord))
                recordsPerBuffer << buffer.count(kBinaryRecord);
        QTEST(recordsPerBuffer, "recordsPerBuffer");
        QVERIFY(m_buffers.last().endsWith(kBinaryRecord));
    }

    void stopWhileSilent_data()
    {
        QTest::addColumn<int>("runningMs");
        QTest::newRow("stop before the run began") << 0;
        QTest::newRow("stop while waiting") << 300;
        QTest::newRow("stop after several waits") << 2300;
    }
    void stopWhileSilent()
    {
        QFETCH(int, runningMs);
        LidarSim sim;
        QVERIFY(sim.start());
        auto port = openPort(sim);
        QVERIFY(port);

        rThread reader;
        watch(reader);
        QVERIFY(reader.startReading(port.get(), 1));
        if (runningMs > 0)
            QTest::qWait(runningMs);
        QElapsedTimer stopping;
        stopping.start();
        reader.requestStop();
        QVERIFY(reader.wait(5000));
        // One wait of 1000 ms at most, with a wide margin for a loaded machine.
        QVERIFY2(stopping.elapsed() < 2500, qPrintable(QString::number(stopping.elapsed())));

        // The port is back on this thread and answers as before.
        QCOMPARE(port->thread(), QThread::currentThread());
        QVERIFY(port->isOpen());
        port->write(kIdentify);
        QVERIFY(port->waitForBytesWritten(3000));
        QVERIFY(port->waitForReadyRead(3000));
        QVERIFY(!port->readAll().isEmpty());
        QVERIFY(sim.receivedBytes().contains(kIdentify));
        QVERIFY(m_buffers.isEmpty());
        QVERIFY(m_losses.isEmpty());
    }

    void restartedAfterStop()
    {
        LidarSim sim({"--live-format", "1", "--live-record", hexArg(kBinaryRecord), "--live-autostart",
                      "--live-interval", "200"});
        QVERIFY(sim.start());
        auto port = openPort(sim);
        QVERIFY(port);
        QVERIFY(enterRemoteMode(*port, sim));

        rThread reader;
        watch(reader);
        for (int run = 0; run < 2; ++run) {
            m_buffers.clear();
            QVERIFY(reader.startReading(port.get(), 1));
            QTRY_VERIFY_WITH_TIMEOUT(!m_buffers.isEmpty(), 5000);
            QVERIFY(stopReader(reader));
            QCOMPARE(port->thread(), QThread::currentThread());
        }
    }

    void portVanishes()
    {
        LidarSim sim({"--live-format", "1", "--live-record", hexArg(kBinaryRecord), "--live-autostart",
                      "--live-interval", "200"});
        QVERIFY(sim.start());
        auto port = openPort(sim);
        QVERIFY(port);
        QVERIFY(enterRemoteMode(*port, sim));

        rThread reader;
        watch(reader);
        QVERIFY(reader.startReading(port.get(), 1));
        QTRY_VERIFY_WITH_TIMEOUT(!m_buffers.isEmpty(), 5000);
        sim.vanish();

        // The reader ends by itself, without a stop request, and says so once.
        QVERIFY(reader.wait(5000));
        QTRY_COMPARE_WITH_TIMEOUT(m_losses.size(), 1, 3000);
        QTest::qWait(200);
        QCOMPARE(m_losses.size(), 1);
        QCOMPARE(port->thread(), QThread::currentThread());
        port->close();
    }

    void refusesPortItCannotOwn()
    {
        rThread reader;
        QSerialPort closed;
        QVERIFY(!reader.startReading(&closed, 1));
        QVERIFY(!reader.startReading(nullptr, 1));
        QVERIFY(!reader.isRunning());
    }
};

QTEST_GUILESS_MAIN(TestLiveReader)
#include "tst_livereader.moc"
