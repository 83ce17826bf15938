#include <QtTest>

#include "live/liverecordparser.h"

using namespace velomark;

namespace {

const QDateTime kNow(QDate(2024, 3, 9), QTime(7, 5, 3));

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

}  // namespace

class TestLiveRecordParser : public QObject
{
    Q_OBJECT
private slots:
    void binaryRecord_data()
    {
        QTest::addColumn<QByteArray>("buffer");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("range");
        QTest::addColumn<int>("direction");
        QTest::addColumn<int>("statusBits");
        QTest::addColumn<bool>("metric");

        QTest::newRow("approaching 55 km/h 123.4 m") << hex("02 15 04 00 37 04 D2 01 F1 03") << true << 55 << 1234 << 0 << 0 << true;
        QTest::newRow("status 0x14 receding") << hex("02 15 14 00 37 04 D2 01 E1 03") << true << 55 << 1234 << 1 << 0 << true;
        QTest::newRow("status bits carried") << hex("02 15 07 00 37 04 D2 01 F2 03") << true << 55 << 1234 << 0 << 3 << true;
        QTest::newRow("status bit 2 clear ignored") << hex("02 15 11 00 37 04 D2 01 E4 03") << false << 0 << 0 << 0 << 0 << false;
        QTest::newRow("speed 16 sent as 00 10 10") << hex("02 15 04 00 10 10 04 D2 01 D6 03") << true << 16 << 1234 << 0 << 0 << true;
        QTest::newRow("escaped status byte") << hex("02 15 10 14 00 37 04 D2 01 E1 03") << true << 55 << 1234 << 1 << 0 << true;
        QTest::newRow("escaped checksum") << hex("02 15 04 00 37 04 D2 E0 10 10 03") << true << 55 << 1234 << 0 << 0 << true;
        QTest::newRow("frame type 0x10 is not an escape") << hex("02 10 04 00 37 04 D2 01 F4 03") << true << 55 << 1234 << 0 << 0 << true;
        QTest::newRow("frame type 0x16 three-byte range") << hex("02 16 04 00 37 01 E2 40 01 87 03") << true << 55 << 123456 << 0 << 0 << true;
        QTest::newRow("frame type 0x16 third byte in checksum") << hex("02 16 04 00 37 01 E2 40 01 C7 03") << false << 0 << 0 << 0 << 0 << false;
        QTest::newRow("frame type 0x16 range 65535 ignored") << hex("02 16 04 00 37 00 FF FF 01 24 03") << false << 0 << 0 << 0 << 0 << false;
        QTest::newRow("unit 0 is mph and feet") << hex("02 15 04 00 37 04 D2 00 F0 03") << true << 55 << 1234 << 0 << 0 << false;
        QTest::newRow("highest speed kept") << hex("02 15 04 FF FF 04 D2 01 C6 03") << true << 65535 << 1234 << 0 << 0 << true;
        QTest::newRow("wrong checksum") << hex("02 15 04 00 37 04 D2 01 F0 03") << false << 0 << 0 << 0 << 0 << false;
        QTest::newRow("cut before checksum") << hex("02 15 04 00 37 04 D2 01") << false << 0 << 0 << 0 << 0 << false;
        QTest::newRow("cut after escape before checksum") << hex("02 15 04 00 37 04 D2 01 10") << false << 0 << 0 << 0 << 0 << false;
        QTest::newRow("cut inside speed") << hex("02 15 04 00") << false << 0 << 0 << 0 << 0 << false;
        QTest::newRow("frame start only") << hex("02") << false << 0 << 0 << 0 << 0 << false;
        QTest::newRow("speed 0 ignored") << hex("02 15 04 00 00 04 D2 01 C6 03") << false << 0 << 0 << 0 << 0 << false;
        QTest::newRow("speed 32767 ignored") << hex("02 15 04 7F FF 04 D2 01 46 03") << false << 0 << 0 << 0 << 0 << false;
        QTest::newRow("range 0 ignored") << hex("02 15 04 00 37 00 00 01 27 03") << false << 0 << 0 << 0 << 0 << false;
        QTest::newRow("range 65535 ignored") << hex("02 15 04 00 37 FF FF 01 27 03") << false << 0 << 0 << 0 << 0 << false;
        QTest::newRow("second record not read") << hex("02 15 04 00 37 04 D2 01 F1 03 02 15 14 00 37 04 D2 01 E1 03") << true << 55 << 1234 << 0 << 0 << true;
    }
    void binaryRecord()
    {
        QFETCH(QByteArray, buffer);
        QFETCH(bool, accepted);
        const std::optional<SpeedRecord> record = parseLiveRecord(buffer, kNow);
        QCOMPARE(record.has_value(), accepted);
        if (!accepted)
            return;
        QTEST(record->speed, "speed");
        QTEST(record->range, "range");
        QTEST(record->direction, "direction");
        QTEST(record->statusBits, "statusBits");
        QTEST(record->metric, "metric");
        // A binary record has no clock or position of its own.
        QCOMPARE(record->dateTime, kNow);
        QVERIFY(record->latitude.isEmpty());
        QVERIFY(record->longitude.isEmpty());
    }

    void textRecord_data()
    {
        QTest::addColumn<QByteArray>("buffer");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QDateTime>("dateTime");
        QTest::addColumn<QString>("latitude");
        QTest::addColumn<QString>("longitude");
        QTest::addColumn<int>("direction");
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("range");
        QTest::addColumn<bool>("metric");

        const QDateTime taken(QDate(2019, 10, 15), QTime(14, 30, 15));
        const QDateTime none;
        QTest::newRow("position with A")
            << QByteArray("$SPD,1,101519,143015,4530.0000,N,07330.5000,W,A,R,055,0123.4,1\r\n") << true
            << taken << "N45.50000000" << "W73.50833333" << 1 << 55 << 1234 << true;
        QTest::newRow("position without A")
            << QByteArray("$SPD,1,101519,143015,4530.0000,N,07330.5000,W,V,R,055,0123.4,1") << true
            << taken << "" << "" << 1 << 55 << 1234 << true;
        QTest::newRow("southern and eastern, leading zero minutes")
            << QByteArray("$SPD,1,101519,143015,0905.1234,S,00200.0000,E,A,X,7,5,1") << true
            << taken << "S9.08539000" << "E2.00000000" << 0 << 7 << 50 << true;
        QTest::newRow("hemisphere missing")
            << QByteArray("$SPD,1,101519,143015,4530.0000,,07330.5000,W,A,R,055,0123.4,1") << true
            << taken << "" << "W73.50833333" << 1 << 55 << 1234 << true;
        QTest::newRow("latitude of wrong length")
            << QByteArray("$SPD,1,101519,143015,453.0000,N,07330.5000,W,A,R,055,0123.4,1") << true
            << taken << "" << "W73.50833333" << 1 << 55 << 1234 << true;
        QTest::newRow("position digits not numbers")
            << QByteArray("$SPD,1,101519,143015,xx30.0000,N,07330.5000,W,A,R,055,0123.4,1") << true
            << taken << "N0.50000000" << "W73.50833333" << 1 << 55 << 1234 << true;
        QTest::newRow("empty speed and range")
            << QByteArray("$SPD,1,101519,143015,,,,,V,A,,,0") << true
            << taken << "" << "" << 0 << int(SpeedRecord::kMissing) << int(SpeedRecord::kMissing) << false;
        QTest::newRow("speed not a number counts 0")
            << QByteArray("$SPD,1,101519,143015,,,,,V,,abc,12.34,") << true
            << taken << "" << "" << 0 << 0 << 123 << false;
        QTest::newRow("range beyond any number counts 0")
            << QByteArray("$SPD,1,101519,143015,,,,,V,R,40,1e400,1") << true
            << taken << "" << "" << 1 << 40 << 0 << true;
        QTest::newRow("range beyond the integers counts 0")
            << QByteArray("$SPD,1,101519,143015,,,,,V,R,40,99999999999,1") << true
            << taken << "" << "" << 1 << 40 << 0 << true;
        QTest::newRow("invalid date")
            << QByteArray("$SPD,1,133219,143015,,,,,V,R,40,10,1") << true
            << none << "" << "" << 1 << 40 << 100 << true;
        QTest::newRow("empty time")
            << QByteArray("$SPD,1,101519,,,,,,V,R,40,10,1") << true
            << none << "" << "" << 1 << 40 << 100 << true;
        QTest::newRow("direction other than R approaching")
            << QByteArray("$SPD,1,101519,143015,,,,,V,r,40,10,2") << true
            << taken << "" << "" << 0 << 40 << 100 << false;
        QTest::newRow("extra fields ignored")
            << QByteArray("$SPD,1,101519,143015,,,,,V,R,40,10,1,extra,more") << true
            << taken << "" << "" << 1 << 40 << 100 << true;
        QTest::newRow("twelve fields ignored")
            << QByteArray("$SPD,1,101519,143015,,,,,V,R,40,10") << false
            << none << "" << "" << 0 << 0 << 0 << false;
        QTest::newRow("other first byte ignored")
            << QByteArray(" $SPD,1,101519,143015,,,,,V,R,40,10,1") << false
            << none << "" << "" << 0 << 0 << 0 << false;
        QTest::newRow("empty buffer ignored") << QByteArray() << false
            << none << "" << "" << 0 << 0 << 0 << false;
    }
    void textRecord()
    {
        QFETCH(QByteArray, buffer);
        QFETCH(bool, accepted);
        const std::optional<SpeedRecord> record = parseLiveRecord(buffer, kNow);
        QCOMPARE(record.has_value(), accepted);
        if (!accepted)
            return;
        QTEST(record->dateTime, "dateTime");
        QTEST(record->latitude, "latitude");
        QTEST(record->longitude, "longitude");
        QTEST(record->direction, "direction");
        QTEST(record->speed, "speed");
        QTEST(record->range, "range");
        QTEST(record->metric, "metric");
        QCOMPARE(record->statusBits, 0);
    }

    // Whatever the lidar sends, the parser must neither crash nor read past the buffer
    // (run under the address sanitizer); every prefix of a valid frame is tried.
    void prefixesOfValidRecords()
    {
        const QList<QByteArray> records = {
            hex("02 16 10 14 00 10 10 01 E2 40 E0 10 10 03"),
            QByteArray("$SPD,1,101519,143015,4530.0000,N,07330.5000,W,A,R,055,0123.4,1"),
        };
        for (const QByteArray &record : records)
            for (int length = 0; length <= record.size(); ++length)
                parseLiveRecord(record.left(length), kNow);
    }
};

QTEST_APPLESS_MAIN(TestLiveRecordParser)
#include "tst_liverecordparser.moc"
