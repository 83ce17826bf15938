#include <QScopeGuard>
#include <QtTest>

#include <ctime>

#include "live/liverecordparser.h"
#include "log/logdecoder.h"
#include "log/logrows.h"
#include "simlink.h"
#include "testbytes.h"

using namespace velomark;

namespace {

// Lines written out by hand; the checksums are the exclusive-or of the record's bytes.
const QByteArray kMetric = "01 12 25 24 10 30 45 41 00 41 01 F4 01 83";
const QByteArray kImperialGps = "03 12 25 24 10 30 45 49 16 45 12 4E 01 23 07 12 34 57 41 52 00 41 01 F4 00 C0";
const QByteArray kThreeRangeBytes = "0B 12 25 24 10 30 45 49 16 45 12 4E 01 23 07 12 34 57 41 52 00 41 00 13 88 01 A7";

// A decoded record as "date time|latitude|longitude|direction|speed|range|unit".
QString describe(const SpeedRecord &r)
{
    return QStringList{r.dateTime.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), r.latitude, r.longitude,
                       QString::number(r.direction), QString::number(r.speed), QString::number(r.range),
                       r.metric ? QStringLiteral("km/h") : QStringLiteral("mph")}.join(QLatin1Char('|'));
}

const QString kMetricRecord = QStringLiteral("2024-12-25 10:30:45|||0|65|500|km/h");
const QString kImperialGpsRecord = QStringLiteral("2024-12-25 10:30:45|N49.27418667|W123.11872333|1|65|500|mph");

}  // namespace

// How the fast token readers agree with Qt's conversions and printf's "%.8f" is fuzz_decoder's.
class TestLogDecoder : public QObject
{
    Q_OBJECT
private slots:
    void decodesLine_data()
    {
        QTest::addColumn<QByteArray>("dump");
        QTest::addColumn<QString>("expected");

        QTest::newRow("type 01") << kMetric << kMetricRecord;
        QTest::newRow("type 03, position") << kImperialGps << kImperialGpsRecord;
        QTest::newRow("type 0B, three range bytes") << kThreeRangeBytes << "2024-12-25 10:30:45|N49.27418667|W123.11872333|1|65|5000|km/h";
        QTest::newRow("no fix: status 56") << QByteArray("03 12 25 24 10 30 45 49 16 45 12 4E 01 23 07 12 34 57 56 52 00 41 01 F4 00 D7")
            << "2024-12-25 10:30:45|||1|65|500|mph";
        QTest::newRow("south and east") << QByteArray("03 12 25 24 10 30 45 49 16 45 12 53 01 23 07 12 34 45 41 52 00 41 01 F4 00 CF")
            << "2024-12-25 10:30:45|S49.27418667|E123.11872333|1|65|500|mph";

        for (int index = 7; index <= 26; ++index) {
            QList<QByteArray> tokens = kImperialGps.split(' ');
            tokens.insert(index, "80");
            QTest::addRow("filler before GPS line token %d", index) << tokens.join(' ') << kImperialGpsRecord;
        }
        QTest::newRow("80 among the date tokens shifts every field") << QByteArray("01 12 80 25 24 10 30 45 41 00 41 01 F4 F6")
            << "|||1|16640|16641|mph";
        QTest::newRow("speed byte 0x80 read as filler") << QByteArray("01 12 25 24 10 30 45 41 00 80 01 F4 01 42 C2")
            << "2024-12-25 10:30:45|||0|1|62465|mph";

        QTest::newRow("leading and trailing blanks") << "  \t" + kMetric + " \t " << kMetricRecord;
        // Date tokens are two decimal digits each; a date that does not exist is invalid.
        QTest::newRow("leap day") << QByteArray("01 02 29 24 00 00 00 41 00 41 01 F4 01 FA") << "2024-02-29 00:00:00|||0|65|500|km/h";
        QTest::newRow("hour 24") << QByteArray("01 12 25 24 24 00 00 41 00 41 01 F4 01 C2") << "|||0|65|500|km/h";
        QTest::newRow("month of one digit") << QByteArray("01 1 25 24 10 30 45 41 00 41 01 F4 01 90") << "|||0|65|500|km/h";
        QTest::newRow("latitude of 14 characters fits, with exponent")
            << QByteArray("03 12 25 24 10 30 45 49 16 1E 05 4E 01 23 07 12 34 57 41 52 00 41 01 F4 00 8C")
            << "2024-12-25 10:30:45|N26882.33333333|W123.11872333|1|65|500|mph";

        // Dropped lines: the line itself is traced first, then what was wrong with it.
        const QString gps = QStringLiteral("dropped|Invalid GPS data value");
        QTest::newRow("type in lower case") << QByteArray("0b 12 25 24 10 30 45 49 16 45 12 4E 01 23 07 12 34 57 41 52 00 41 00 13 88 01 A7") << "dropped";
        QTest::newRow("13 tokens of type 01") << QByteArray("01 12 25 24 10 30 45 41 00 41 01 F4 01") << "dropped|Invalid record data length: 13";
        QTest::newRow("wrong checksum") << QByteArray("01 12 25 24 10 30 45 41 00 41 01 F4 01 84") << "dropped|Checksum mis-match";
        QTest::newRow("checksum above FF") << QByteArray("01 12 25 24 10 30 45 41 00 41 01 F4 01 0183") << "dropped|Checksum mis-match";
        QTest::newRow("two blanks: empty speed byte") << QByteArray("01 12 25 24 10 30 45 41 00  41 01 F4 01 83") << "dropped|Invalid data value: ";
        QTest::newRow("checksum not hexadecimal") << QByteArray("01 12 25 24 10 30 45 41 00 41 01 F4 01 8G") << "dropped|Invalid data value: 8G";
        QTest::newRow("latitude degrees not decimal") << QByteArray("03 12 25 24 10 30 45 4F 16 45 12 4E 01 23 07 12 34 57 41 52 00 41 01 F4 00 C0") << gps;
        QTest::newRow("longitude above 65535 degrees") << QByteArray("03 12 25 24 10 30 45 49 16 45 12 4E 6553 6 07 12 34 57 41 52 00 41 01 F4 00 C0") << gps;
        QTest::newRow("latitude of 15 characters") << QByteArray("03 12 25 24 10 30 45 49 16 1E 06 4E 01 23 07 12 34 57 41 52 00 41 01 F4 00 8F") << gps;
        QTest::newRow("speed byte 0x80 leaves no checksum") << QByteArray("01 12 25 24 10 30 45 41 00 80 01 F4 01 42") << "dropped";
        QTest::newRow("range beyond a whole number") << QByteArray("09 12 25 24 10 30 45 41 00 41 FFFF FF FF 01 81")
            << "dropped|Invalid data value: FFFF";
    }
    void decodesLine()
    {
        QFETCH(QByteArray, dump);
        QFETCH(QString, expected);
        simlink::TraceCapture traces("velomark.log");
        QVector<SpeedRecord> records;
        DecodeLogDump(dump, records);
        if (expected.startsWith(QLatin1String("dropped"))) {
            QVERIFY(records.isEmpty());
            QCOMPARE(traces.lines().value(0), QString::fromUtf8(dump).trimmed());
            QCOMPARE((QStringList{"dropped"} + traces.lines().mid(1)).join('|'), expected);
        } else {
            QCOMPARE(records.size(), 1);
            QCOMPARE(describe(records.first()), expected);
        }
    }

    void recordCount_data()
    {
        QTest::addColumn<QByteArray>("dump");
        QTest::addColumn<int>("count");
        QTest::newRow("NUL before a line") << kMetric + "\n" + QByteArray(1, '\0') + kMetric + "\n" << 1;
        QTest::newRow("NUL inside the checksum") << kMetric.left(kMetric.size() - 1) + QByteArray(1, '\0') + "3\n" << 0;
        // A rejected line does not stop the decoding.
        QTest::newRow("blank and rejected lines between records")
            << kMetric + "\r\n\r\n01 12 25 24 10 30 45 41 00 41 01 F4 01 84\n" + kImperialGps + "\n" + kThreeRangeBytes << 3;
        QTest::newRow("non-ASCII blanks trimmed") << QByteArray("\xc2\xa0" + kMetric + "\xe2\x80\x83") << 1;
    }
    void recordCount()
    {
        QFETCH(QByteArray, dump);
        QTEST(int(decodeLogDump(dump).size()), "count");
    }

    // The lidar's clock is taken as it stands whatever this workstation's time zone: the hour
    // that zone skips in spring keeps its date and time in a log line and in a "$" live record,
    // and the date filter on that day shows them, in a zone east and one west of Greenwich. (An
    // hour a zone repeats, or midnight, is a time like any other once no zone is applied.) A
    // binary live record, which has no clock, keeps the workstation's local time.
    void lidarClockInEveryZone_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QByteArray>("line");  // a record at 02:30 on the day of the change
        QTest::newRow("Europe/Berlin, skipped hour") << QByteArray("Europe/Berlin")
                                                     << QByteArray("01 03 31 24 02 30 00 41 00 41 01 F4 01 D1");
        QTest::newRow("America/New_York, skipped hour") << QByteArray("America/New_York")
                                                        << QByteArray("01 03 10 24 02 30 00 41 00 41 01 F4 01 F0");
    }
    void lidarClockInEveryZone()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QByteArray, line);
        const QByteArray savedZone = qgetenv("TZ");
        const auto restoreZone = qScopeGuard([&savedZone] {
            savedZone.isNull() ? qunsetenv("TZ") : qputenv("TZ", savedZone);
            tzset();
        });
        qputenv("TZ", zone);
        tzset();
        const QList<QByteArray> t = line.split(' ').mid(1, 6);  // the date and time tokens
        const QVector<SpeedRecord> records = decodeLogDump(line);
        QCOMPARE(records.size(), 1);
        const QDate day(2000 + t[2].toInt(), t[0].toInt(), t[1].toInt());
        const QString expected = day.toString(Qt::ISODate) + '|' + t[3] + ':' + t[4] + ':' + t[5];
        const LogRow row = logRowTexts(records.first(), QString());
        QCOMPARE(row[LogDate] + '|' + row[LogTime], expected);
        QVERIFY(LogDateFilter::between(day, day).shows(records.first()));
        QVERIFY(!LogDateFilter::between(day.addDays(1), day.addDays(2)).shows(records.first()));
        const QByteArray moment = t[0] + t[1] + t[2] + ',' + t[3] + t[4] + t[5];
        const std::optional<SpeedRecord> text = parseLiveRecord("$SPD,1," + moment + ",,,,,V,R,40,10,1", QDateTime());
        QVERIFY(text);
        QCOMPARE(text->dateTime.toString(QStringLiteral("yyyy-MM-dd|hh:mm:ss")), expected);
        const QDateTime local(QDate(2024, 3, 9), QTime(7, 5, 3));
        const std::optional<SpeedRecord> binary = parseLiveRecord(hex("02 15 04 00 37 04 D2 01 F1 03"), local);
        QVERIFY(binary && binary->dateTime == local && binary->dateTime.timeSpec() == Qt::LocalTime);
    }
};

QTEST_APPLESS_MAIN(TestLogDecoder)
#include "tst_logdecoder.moc"
