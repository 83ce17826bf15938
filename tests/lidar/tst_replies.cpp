#include <QtTest>

#include "lidar/identification.h"
#include "lidar/queries.h"

using namespace velomark;

// The readers of the lidar's replies, byte for byte: identify text, query reply frames.
class TestReplies : public QObject
{
    Q_OBJECT
private slots:
    void modelTable_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("type");
        QTest::newRow("Orlek") << QByteArray("Orlek Version 9.3") << 0;
        QTest::newRow("BT:Orlek reads as Orlek") << QByteArray("BT:Orlek Version 9.3") << 0;
        QTest::newRow("MSP:Brasko") << QByteArray("MSP:Brasko Version 9.3") << 2;
        QTest::newRow("MSP beats RX rows") << QByteArray("BT:RX:Brasko MSP:Brasko") << 2;
        QTest::newRow("Orlek beats everything") << QByteArray("MSP:Brasko Orlek") << 0;
        QTest::newRow("RS232:RX:Brasko") << QByteArray("RS232:RX:Brasko Version 9.3") << 4;
        QTest::newRow("BT:RX:Brasko") << QByteArray("BT:RX:Brasko Version 9.3") << 5;
        QTest::newRow("SCI1:RX:Brasko") << QByteArray("SCI1:RX:Brasko Version 9.3") << 5;
        QTest::newRow("SCI2:RX:Brasko") << QByteArray("SCI2:RX:Brasko Version 9.3") << 5;
        QTest::newRow("SCI3:RX:Brasko") << QByteArray("SCI3:RX:Brasko Version 9.3") << 5;
        QTest::newRow("RS232 before BT in the table") << QByteArray("BT:RX:Brasko RS232:RX:Brasko") << 4;
        QTest::newRow("bare RX:Brasko") << QByteArray("RX:Brasko Version 9.3") << 4;
        QTest::newRow("other RX prefix") << QByteArray("USB:RX:Brasko") << 4;
        QTest::newRow("after nulls and text") << QByteArray("\0\0xx BT:RX:Brasko", 17) << 5;
        QTest::newRow("case matters") << QByteArray("bt:rx:brasko orlek") << kLidarTypeNone;
        QTest::newRow("no model") << QByteArray("Brasko Version 9.3") << kLidarTypeNone;
    }
    void modelTable()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, type);
        QCOMPARE(lidarTypeFromReply(reply), type);
    }

    void firmware_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("minor");
        QTest::newRow("9.03 drops the zero") << QByteArray("BT:RX:Brasko Version 9.03") << 9 << 3;
        QTest::newRow("10.1") << QByteArray("BT:RX:Brasko Version 10.1") << 10 << 1;
        QTest::newRow("9.0") << QByteArray("BT:RX:Brasko Version 9.0") << 9 << 0;
        QTest::newRow("no version text") << QByteArray("BT:RX:Brasko") << 0 << 0;
        QTest::newRow("Version without number") << QByteArray("BT:RX:Brasko Version") << 0 << 0;
        QTest::newRow("build number cut off") << QByteArray("BT:RX:Brasko Version 9.2\n\rBuild - 0815") << 9 << 2;
        QTest::newRow("build marker without number") << QByteArray("RX:Brasko Version 9.4\n\rBuild - ") << 9 << 4;
        QTest::newRow("any separator byte") << QByteArray("RX:Brasko Version:9.3") << 9 << 3;
        QTest::newRow("trailing blanks trimmed") << QByteArray("RX:Brasko Version 9.3 \r\n") << 9 << 3;
        QTest::newRow("text after minor gives 0") << QByteArray("RX:Brasko Version 9.3beta") << 9 << 0;
        QTest::newRow("no Version word: from index 7") << QByteArray("Orlek: 8.5") << 8 << 5;
        QTest::newRow("no point: both from the whole text") << QByteArray("RX:Brasko Version 07") << 7 << 7;
        QTest::newRow("only the first Version counts") << QByteArray("RX:Brasko Version 9.1 Version 9.9") << 9 << 0;
    }
    void firmware()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, major);
        QFETCH(int, minor);
        const FirmwareVersion version = firmwareFromReply(reply);
        QCOMPARE(version.major, major);
        QCOMPARE(version.minor, minor);
    }

    void framedDiag_data()
    {
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("minor");
        QTest::addColumn<bool>("framed");
        QTest::newRow("9.3") << 9 << 3 << true;
        QTest::newRow("9.2") << 9 << 2 << false;
        QTest::newRow("10.0") << 10 << 0 << true;
        QTest::newRow("8.9") << 8 << 9 << false;
        QTest::newRow("unknown 0.0") << 0 << 0 << false;
    }
    void framedDiag()
    {
        QFETCH(int, major);
        QFETCH(int, minor);
        QFETCH(bool, framed);
        QCOMPARE(usesFramedDiagCommands(major, minor), framed);
    }

    void operationMode_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("result");
        QTest::newRow("mode 0") << QByteArray::fromHex("020905000503") << 0;
        QTest::newRow("mode 1 escaped") << QByteArray::fromHex("02090510101503") << 1;
        QTest::newRow("mode 3") << QByteArray::fromHex("020905303503") << 3;
        QTest::newRow("mode 4 invalid") << QByteArray::fromHex("020905404503") << 4;
        QTest::newRow("0xF0 invalid, never negative") << QByteArray::fromHex("020905f0f503") << 4;
        QTest::newRow("0x80 invalid") << QByteArray::fromHex("020905808503") << 4;
        QTest::newRow("minimum length") << QByteArray::fromHex("0209052003") << 2;
        QTest::newRow("after the checksum only the last byte counts")
            << QByteArray::fromHex("020905202503aa03") << 2;
        QTest::newRow("4 bytes") << QByteArray::fromHex("02090503") << 4;
        QTest::newRow("1 byte") << QByteArray::fromHex("02") << 4;
        QTest::newRow("empty") << QByteArray() << 5;
        QTest::newRow("wrong parameter") << QByteArray::fromHex("020903101003") << 5;
        QTest::newRow("wrong start") << QByteArray::fromHex("000905101503") << 5;
        QTest::newRow("no ETX") << QByteArray::fromHex("020905101504") << 5;
    }
    void operationMode()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, result);
        QCOMPARE(operationModeFromReply(reply), result);
    }

    void outputFormat_data()
    {
        QTest::addColumn<QByteArray>("value");  // value bytes as they stand in the reply
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("result");
        const QByteArray x31 = QByteArray::fromHex("31");
        const QByteArray xA1 = QByteArray::fromHex("a1");
        const QByteArray x10 = QByteArray::fromHex("1010");
        for (int type : {2, 5}) {
            QTest::addRow("0x31 type %d low bits", type) << x31 << type << 1;
            QTest::addRow("0xA1 type %d low bits", type) << xA1 << type << 1;
            QTest::addRow("escaped 0x10 type %d", type) << x10 << type << 0;
        }
        for (int type : {0, 1, 4}) {
            QTest::addRow("0x31 type %d high bits", type) << x31 << type << 3;
            QTest::addRow("0xA1 type %d signed", type) << xA1 << type << -6;
            QTest::addRow("escaped 0x10 type %d", type) << x10 << type << 1;
        }
        QTest::newRow("type 3 invalid") << x31 << 3 << 4;
        QTest::newRow("type 6 invalid") << x31 << 6 << 4;
    }
    void outputFormat()
    {
        QFETCH(QByteArray, value);
        QFETCH(int, type);
        QFETCH(int, result);
        const QByteArray reply = QByteArray::fromHex("02091003") + value + QByteArray::fromHex("aa03");
        QCOMPARE(outputFormatFromReply(reply, type), result);
    }

    void outputFormatMalformed_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("result");
        QTest::newRow("empty") << QByteArray() << 5;
        QTest::newRow("5 bytes") << QByteArray::fromHex("0209100331") << 4;
        QTest::newRow("parameter not escaped") << QByteArray::fromHex("0209033132aa03") << 4;
        QTest::newRow("wrong parameter") << QByteArray::fromHex("020910053134aa03") << 4;
        QTest::newRow("no ETX") << QByteArray::fromHex("0209100331aa") << 4;
    }
    void outputFormatMalformed()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, result);
        QCOMPARE(outputFormatFromReply(reply, 5), result);
    }
};

QTEST_GUILESS_MAIN(TestReplies)
#include "tst_replies.moc"
