#include <QtTest>

#include "live/livereader.h"
#include "live/liverecordparser.h"
#include "testbytes.h"

using namespace velomark;

namespace {

const QDateTime kNow(QDate(2024, 3, 9), QTime(7, 5, 3));

// "speed range A|R statusBits unit", after "yyMMdd-hhmmss|latitude|longitude|" unless the
// record has the time of reading and no position (as a binary record has); or "ignored".
QString describe(const std::optional<SpeedRecord> &r)
{
    if (!r)
        return QStringLiteral("ignored");
    const QString measured = QStringLiteral("%1 %2 %3 %4 %5").arg(r->speed).arg(r->range).arg(r->direction ? 'R' : 'A')
        .arg(r->statusBits).arg(r->metric ? QStringLiteral("km/h") : QStringLiteral("mph"));
    if (r->dateTime == kNow && r->latitude.isEmpty() && r->longitude.isEmpty())
        return measured;
    return QStringList{r->dateTime.toString(QStringLiteral("yyMMdd-hhmmss")), r->latitude, r->longitude, measured}.join('|');
}

}  // namespace

class TestLiveRecordParser : public QObject
{
    Q_OBJECT
private slots:
    // Binary records, then "$" text records with their own clock and position. A binary speed
    // of 0 or 32767 and range of 0 or 65535 are no measurement: fuzz_live checks every record
    // the parser accepts against those bounds. The lidar's clock in every time zone:
    // log.logdecoder lidarClockInEveryZone.
    void record_data()
    {
        QTest::addColumn<QByteArray>("buffer");
        QTest::addColumn<QString>("record");
        QTest::newRow("approaching 55 km/h 123.4 m") << hex("02 15 04 00 37 04 D2 01 F1 03") << "55 1234 A 0 km/h";
        QTest::newRow("status 0x14 receding") << hex("02 15 14 00 37 04 D2 01 E1 03") << "55 1234 R 0 km/h";
        QTest::newRow("status bits carried") << hex("02 15 07 00 37 04 D2 01 F2 03") << "55 1234 A 3 km/h";
        QTest::newRow("status bit 2 clear ignored") << hex("02 15 11 00 37 04 D2 01 E4 03") << "ignored";
        QTest::newRow("speed 16 sent as 00 10 10") << hex("02 15 04 00 10 10 04 D2 01 D6 03") << "16 1234 A 0 km/h";
        QTest::newRow("escaped checksum") << hex("02 15 04 00 37 04 D2 E0 10 10 03") << "55 1234 A 0 km/h";
        QTest::newRow("frame type 0x10 is not an escape") << hex("02 10 04 00 37 04 D2 01 F4 03") << "55 1234 A 0 km/h";
        QTest::newRow("frame type 0x16 three-byte range") << hex("02 16 04 00 37 01 E2 40 01 87 03") << "55 123456 A 0 km/h";
        QTest::newRow("frame type 0x16 third byte in checksum") << hex("02 16 04 00 37 01 E2 40 01 C7 03") << "ignored";
        QTest::newRow("unit 0 is mph and feet") << hex("02 15 04 00 37 04 D2 00 F0 03") << "55 1234 A 0 mph";
        QTest::newRow("highest speed kept") << hex("02 15 04 FF FF 04 D2 01 C6 03") << "65535 1234 A 0 km/h";
        QTest::newRow("wrong checksum") << hex("02 15 04 00 37 04 D2 01 F0 03") << "ignored";
        QTest::newRow("cut before checksum") << hex("02 15 04 00 37 04 D2 01") << "ignored";
        QTest::newRow("cut after escape before checksum") << hex("02 15 04 00 37 04 D2 01 10") << "ignored";
        QTest::newRow("second record not read") << hex("02 15 04 00 37 04 D2 01 F1 03 02 15 14 00 37 04 D2 01 E1 03")
                                                << "55 1234 A 0 km/h";
        const QString missing = QString::number(SpeedRecord::kMissing);
        QTest::newRow("position with A") << QByteArray("$SPD,1,101519,143015,4530.0000,N,07330.5000,W,A,R,055,0123.4,1\r\n")
                                         << "191015-143015|N45.50000000|W73.50833333|55 1234 R 0 km/h";
        QTest::newRow("position without A") << QByteArray("$SPD,1,101519,143015,4530.0000,N,07330.5000,W,V,R,055,0123.4,1")
                                            << "191015-143015|||55 1234 R 0 km/h";
        QTest::newRow("southern and eastern, leading zero minutes")
            << QByteArray("$SPD,1,101519,143015,0905.1234,S,00200.0000,E,A,X,7,5,1") << "191015-143015|S9.08539000|E2.00000000|7 50 A 0 km/h";
        QTest::newRow("hemisphere missing") << QByteArray("$SPD,1,101519,143015,4530.0000,,07330.5000,W,A,R,055,0123.4,1")
                                            << "191015-143015||W73.50833333|55 1234 R 0 km/h";
        QTest::newRow("latitude of wrong length") << QByteArray("$SPD,1,101519,143015,453.0000,N,07330.5000,W,A,R,055,0123.4,1")
                                                  << "191015-143015||W73.50833333|55 1234 R 0 km/h";
        QTest::newRow("position digits not numbers") << QByteArray("$SPD,1,101519,143015,xx30.0000,N,07330.5000,W,A,R,055,0123.4,1")
                                                     << "191015-143015|N0.50000000|W73.50833333|55 1234 R 0 km/h";
        QTest::newRow("empty speed and range") << QByteArray("$SPD,1,101519,143015,,,,,V,A,,,0")
                                               << "191015-143015|||" + missing + ' ' + missing + " A 0 mph";
        QTest::newRow("speed not a number counts 0") << QByteArray("$SPD,1,101519,143015,,,,,V,,abc,12.34,") << "191015-143015|||0 123 A 0 mph";
        QTest::newRow("range beyond any number counts 0") << QByteArray("$SPD,1,101519,143015,,,,,V,R,40,1e400,1") << "191015-143015|||40 0 R 0 km/h";
        QTest::newRow("invalid date") << QByteArray("$SPD,1,133219,143015,,,,,V,R,40,10,1") << "|||40 100 R 0 km/h";
        QTest::newRow("time with a zone letter") << QByteArray("$SPD,1,101519,143015N,,,,,V,R,40,10,1") << "|||40 100 R 0 km/h";
        QTest::newRow("direction other than R approaching") << QByteArray("$SPD,1,101519,143015,,,,,V,r,40,10,2") << "191015-143015|||40 100 A 0 mph";
        QTest::newRow("twelve fields ignored") << QByteArray("$SPD,1,101519,143015,,,,,V,R,40,10") << "ignored";
        QTest::newRow("other first byte ignored") << QByteArray(" $SPD,1,101519,143015,,,,,V,R,40,10,1") << "ignored";
        QTest::newRow("empty buffer ignored") << QByteArray() << "ignored";
    }
    void record()
    {
        QFETCH(QByteArray, buffer);
        QTEST(describe(parseLiveRecord(buffer, kNow)), "record");
    }

    void notificationFramesStripped_data()
    {
        QTest::addColumn<QByteArray>("buffer");
        QTest::addColumn<QByteArray>("stripped");
        const QByteArray record = hex("02 15 04 00 37 04 D2 01 F1 03"), first = hex("02 04 04 03"), second = hex("02 05 05 03");
        QTest::newRow("inside kept, ends stripped") << first + record + second + record + first << record + second + record;
        QTest::newRow("partial frame at start kept") << hex("02 04 04") + record << hex("02 04 04") + record;
        QTest::newRow("other control frame kept") << hex("02 0B 0B 03") + record << hex("02 0B 0B 03") + record;
    }
    void notificationFramesStripped()
    {
        QFETCH(QByteArray, buffer);
        QTEST(stripNotificationFrames(buffer), "stripped");
    }
};

QTEST_APPLESS_MAIN(TestLiveRecordParser)
#include "tst_liverecordparser.moc"
