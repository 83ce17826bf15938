#include <QtTest>

#include <QSerialPort>

#include "lidarsim.h"

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// A client on the simulator's terminal, as the logger opens it.
class Port
{
public:
    bool open(const QString &path)
    {
        port_.setPortName(path);
        port_.setBaudRate(57600);
        return port_.open(QIODevice::ReadWrite);
    }
    void write(const QByteArray &bytes)
    {
        port_.write(bytes);
        port_.waitForBytesWritten(3000);
    }
    // Everything that arrives within firstMs, then until quietMs pass without a byte.
    QByteArray read(int firstMs = 3000, int quietMs = 250)
    {
        QByteArray reply;
        if (!port_.waitForReadyRead(firstMs))
            return port_.readAll();
        reply += port_.readAll();
        while (port_.waitForReadyRead(quietMs))
            reply += port_.readAll();
        return reply;
    }
    QByteArray exchange(const QByteArray &bytes, int firstMs = 3000, int quietMs = 250)
    {
        port_.clear();
        write(bytes);
        return read(firstMs, quietMs);
    }
    QSerialPort &serial() { return port_; }

private:
    QSerialPort port_;
};

}  // namespace

class TestLidarSim : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("LIDAR_SIM"))
            QSKIP("LIDAR_SIM is not set");
    }

    void replies_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply");
        const QStringList none;
        QTest::newRow("remote on echoed") << none << hex("020b0b03") << hex("020b0b03");
        QTest::newRow("remote off echoed") << none << hex("020c0c03") << hex("020c0c03");
        QTest::newRow("identify default")
            << none << hex("021e1e03") << QByteArray("BT:RX:Brasko Version 9.3");
        QTest::newRow("identify with build")
            << QStringList{"--model", "RS232:RX:Brasko", "--firmware", "9.2", "--build", "0815"}
            << hex("021e1e03") << QByteArray("RS232:RX:Brasko Version 9.2\n\rBuild - 0815");
        QTest::newRow("identify raw reply")
            << QStringList{"--identify-reply", "00 00 41 42"} << hex("021e1e03") << hex("00004142");
        QTest::newRow("operation mode 1 escaped")
            << none << hex("0209050c03") << hex("02090510101c03");
        QTest::newRow("operation mode 3")
            << QStringList{"--operation-mode", "3"} << hex("0209050c03") << hex("020905303c03");
        QTest::newRow("output format default")
            << none << hex("020910030a03") << hex("0209100333390" "3");
        QTest::newRow("output format value escaped")
            << QStringList{"--output-format-byte", "02"} << hex("020910030a03")
            << hex("0209100310020803");
        QTest::newRow("output format checksum escaped")
            << QStringList{"--output-format-byte", "1A"} << hex("020910030a03")
            << hex("020910031a101003");
        QTest::newRow("configuration read")
            << QStringList{"--config-flags", "0x12"} << hex("0209585103") << hex("020958124303");
        QTest::newRow("configuration value escaped")
            << QStringList{"--config-flags", "03"} << hex("0209585103") << hex("0209581003" "5203");
        QTest::newRow("echo after zero bytes and a split frame")
            << none << hex("0000020b0b03") << hex("020b0b03");
        QTest::newRow("bad checksum unanswered") << none << hex("020b0c03") << QByteArray();
    }
    void replies()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        LidarSim sim(args);
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        Port port;
        QVERIFY(port.open(sim.portPath()));
        QCOMPARE(port.exchange(command, reply.isEmpty() ? 500 : 3000), reply);
        QCOMPARE(sim.receivedBytes(), command);
    }

    void eventsRecordTheExchangeInOrder()
    {
        LidarSim sim;
        QVERIFY(sim.start());
        Port port;
        QVERIFY(port.open(sim.portPath()));
        port.exchange(hex("020b0b03"));
        port.exchange(hex("021e1e03"));
        port.exchange(hex("020c0c03"));
        QCOMPARE(sim.received(), (QList<QByteArray>{hex("020b0b03"), hex("021e1e03"), hex("020c0c03")}));
        QCOMPARE(sim.sentBytes(), hex("020b0b03") + "BT:RX:Brasko Version 9.3" + hex("020c0c03"));
        QVERIFY(sim.states().contains("remote on"));
        QVERIFY(sim.states().indexOf("remote on") < sim.states().indexOf("remote off"));
        // Every line starts with its time in milliseconds, never decreasing.
        qint64 last = 0;
        for (const QString &line : sim.events()) {
            bool ok = false;
            const qint64 ms = line.section(' ', 0, 0).toLongLong(&ok);
            QVERIFY2(ok && ms >= last, qPrintable(line));
            last = ms;
        }
    }

    void clientMayReopenThePort()
    {
        LidarSim sim;
        QVERIFY(sim.start());
        for (int round = 0; round < 2; ++round) {
            Port port;
            QVERIFY(port.open(sim.portPath()));
            QCOMPARE(port.exchange(hex("020b0b03")), hex("020b0b03"));
        }
    }

    void stopEndsTheProcessAndFreesTheTerminal()
    {
        LidarSim sim;
        QVERIFY(sim.start());
        const QString path = sim.portPath();
        QVERIFY(QFile::exists(path));
        QElapsedTimer timer;
        timer.start();
        sim.stop();
        QVERIFY(timer.elapsed() < 2500);
        QVERIFY(sim.states().contains("exit"));
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(path), 3000);
    }
};

QTEST_GUILESS_MAIN(TestLidarSim)
#include "tst_lidarsim.moc"
