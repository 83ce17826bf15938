#include <QtTest>

#include "lidar/frame.h"

using namespace velomark;

// Expected bytes are written out by hand from the lidar's frame rule, never produced by the
// builder under test.
class TestFrame : public QObject
{
    Q_OBJECT
private slots:
    void frames_data()
    {
        QTest::addColumn<QByteArray>("built");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("remote on") << remoteModeFrame(true) << QByteArray::fromHex("020b0b03");
        QTest::newRow("remote off") << remoteModeFrame(false) << QByteArray::fromHex("020c0c03");
        QTest::newRow("identify") << identifyFrame() << QByteArray::fromHex("021e1e03");
        QTest::newRow("operation mode query") << operationModeQueryFrame() << QByteArray::fromHex("0209050c03");
        QTest::newRow("output format query, escaped parameter")
            << outputFormatQueryFrame() << QByteArray::fromHex("020910030a03");
        QTest::newRow("erase") << eraseFrame() << QByteArray::fromHex("02313103");
        QTest::newRow("diag enter") << diagModeFrame(true) << QByteArray::fromHex("02282803");
        QTest::newRow("diag leave") << diagModeFrame(false) << QByteArray::fromHex("02292903");
        QTest::newRow("dump start") << dumpStartFrame() << QByteArray::fromHex("02343403");
        QTest::newRow("config read") << configReadFrame() << QByteArray::fromHex("0209585103");
        QTest::newRow("config set 0x12|4") << configWriteFrame(0x16) << QByteArray::fromHex("020a58164403");
        QTest::newRow("config set 0x54") << configWriteFrame(0x54) << QByteArray::fromHex("020a58540603");
        QTest::newRow("config set 0x55") << configWriteFrame(0x55) << QByteArray::fromHex("020a58550703");
        QTest::newRow("config value 0x03 escaped") << configWriteFrame(0x03) << QByteArray::fromHex("020a5810035103");
        QTest::newRow("config value 0x02 escaped") << configWriteFrame(0x02) << QByteArray::fromHex("020a5810025003");
        QTest::newRow("config checksum 0x10 escaped") << configWriteFrame(0x42) << QByteArray::fromHex("020a5842101003");
        QTest::newRow("no parameter, checksum 0x02 escaped") << buildFrame(0x02) << QByteArray::fromHex("0202100203");
        QTest::newRow("no parameter, checksum 0x10 escaped") << buildFrame(0x10) << QByteArray::fromHex("0210101003");
        QTest::newRow("every parameter escaped, checksum plain")
            << buildFrame(0x20, QByteArray::fromHex("021003")) << QByteArray::fromHex("02201002101010033103");
        QTest::newRow("parameters cancel to checksum 0x03")
            << buildFrame(0x01, QByteArray::fromHex("0200")) << QByteArray::fromHex("0201100200100303");
        QTest::newRow("0x00 and 0xFF pass unescaped")
            << buildFrame(0x0A, QByteArray::fromHex("00ff")) << QByteArray::fromHex("020a00fff503");
    }
    void frames()
    {
        QFETCH(QByteArray, built);
        QFETCH(QByteArray, expected);
        QCOMPARE(built.toHex(' '), expected.toHex(' '));
    }
};

QTEST_GUILESS_MAIN(TestFrame)
#include "tst_frame.moc"
