#include <QtTest>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "log/dumptokens.h"
#include "log/logdecoder.h"
#include "tracecapture.h"

using namespace velomark;

namespace {

// Lines written out by hand; the checksums are the exclusive-or of the record's bytes.
const QByteArray kMetric = "01 12 25 24 10 30 45 41 00 41 01 F4 01 83";
const QByteArray kImperialGps = "03 12 25 24 10 30 45 49 16 45 12 4E 01 23 07 12 34 57 41 52 00 41 01 F4 00 C0";
const QByteArray kThreeRangeBytes = "0B 12 25 24 10 30 45 49 16 45 12 4E 01 23 07 12 34 57 41 52 00 41 00 13 88 01 A7";

struct Expected
{
    QString dateTime;  // "yyyy-MM-dd hh:mm:ss" or "invalid"
    QString latitude;
    QString longitude;
    int direction;
    int speed;
    int range;
    bool metric;
};

const Expected kMetricRecord{"2024-12-25 10:30:45", "", "", 0, 65, 500, true};
const Expected kImperialGpsRecord{"2024-12-25 10:30:45", "N49.27418667", "W123.11872333", 1, 65, 500, false};

QByteArray withFillerBefore(const QByteArray &line, int index)
{
    QList<QByteArray> tokens = line.split(' ');
    tokens.insert(index, "80");
    return tokens.join(' ');
}

// The traces that report a fault: everything but the echo of each line.
QStringList faultTraces(const QStringList &traces, const QByteArray &dump)
{
    QStringList echoes;
    for (const QByteArray &line : dump.split('\n'))
        echoes.append(QString::fromUtf8(line).trimmed());
    QStringList faults;
    for (const QString &trace : traces) {
        if (!echoes.contains(trace))
            faults.append(trace);
    }
    return faults;
}

}  // namespace

Q_DECLARE_METATYPE(Expected)

class TestLogDecoder : public QObject
{
    Q_OBJECT
private slots:
    void decodesLine_data()
    {
        QTest::addColumn<QByteArray>("dump");
        QTest::addColumn<Expected>("expected");

        QTest::newRow("type 01") << kMetric << kMetricRecord;
        QTest::newRow("type 03, position") << kImperialGps << kImperialGpsRecord;
        QTest::newRow("type 0B, three range bytes") << kThreeRangeBytes
            << Expected{"2024-12-25 10:30:45", "N49.27418667", "W123.11872333", 1, 65, 5000, true};
        QTest::newRow("type 09") << QByteArray("09 12 25 24 10 30 45 41 00 41 00 13 88 01 E5")
            << Expected{"2024-12-25 10:30:45", "", "", 0, 65, 5000, true};
        QTest::newRow("no fix: status 56") << QByteArray("03 12 25 24 10 30 45 49 16 45 12 4E 01 23 07 12 34 57 56 52 00 41 01 F4 00 D7")
            << Expected{"2024-12-25 10:30:45", "", "", 1, 65, 500, false};
        QTest::newRow("south and east") << QByteArray("03 12 25 24 10 30 45 49 16 45 12 53 01 23 07 12 34 45 41 52 00 41 01 F4 00 CF")
            << Expected{"2024-12-25 10:30:45", "S49.27418667", "E123.11872333", 1, 65, 500, false};
        QTest::newRow("range 5 tenths") << QByteArray("01 12 25 24 10 30 45 52 00 41 00 05 01 60")
            << Expected{"2024-12-25 10:30:45", "", "", 1, 65, 5, true};

        for (int index = 7; index <= 13; ++index)
            QTest::addRow("filler before token %d", index) << withFillerBefore(kMetric, index) << kMetricRecord;
        for (int index = 7; index <= 26; ++index)
            QTest::addRow("filler before GPS line token %d", index) << withFillerBefore(kImperialGps, index) << kImperialGpsRecord;
        QTest::newRow("filler before every field")
            << QByteArray("01 12 25 24 10 30 45 80 41 80 00 80 41 80 01 80 F4 80 01 80 83") << kMetricRecord;
        QTest::newRow("80 among the date tokens shifts every field")
            << QByteArray("01 12 80 25 24 10 30 45 41 00 41 01 F4 F6")
            << Expected{"invalid", "", "", 1, 0x4100, 0x4101, false};
        QTest::newRow("speed byte 0x80 read as filler")
            << QByteArray("01 12 25 24 10 30 45 41 00 80 01 F4 01 42 C2")
            << Expected{"2024-12-25 10:30:45", "", "", 0, 1, 0xF401, false};

        QTest::newRow("CRLF") << kMetric + "\r\n" << kMetricRecord;
        QTest::newRow("leading and trailing blanks") << "  \t" + kMetric + " \t " << kMetricRecord;
        QTest::newRow("lower-case digits") << QByteArray("01 12 25 24 10 30 45 41 00 41 01 f4 01 83") << kMetricRecord;
        QTest::newRow("tokens after the checksum") << kMetric + " 99 ZZ" << kMetricRecord;
        QTest::newRow("month 13: invalid date, record kept")
            << QByteArray("01 13 25 24 10 30 45 41 00 41 01 F4 01 82")
            << Expected{"invalid", "", "", 0, 65, 500, true};
        QTest::newRow("65535 degrees of longitude")
            << QByteArray("03 12 25 24 10 30 45 49 16 45 12 4E 6553 5 07 12 34 45 41 52 00 41 01 F4 00 A6")
            << Expected{"2024-12-25 10:30:45", "N49.27418667", "E65535.11872333", 1, 65, 500, false};
        QTest::newRow("latitude of 14 characters fits, with exponent")
            << QByteArray("03 12 25 24 10 30 45 49 16 1E 05 4E 01 23 07 12 34 57 41 52 00 41 01 F4 00 8C")
            << Expected{"2024-12-25 10:30:45", "N26882.33333333", "W123.11872333", 1, 65, 500, false};
        QTest::newRow("longitude of 14 characters fits")
            << QByteArray("03 12 25 24 10 30 45 49 16 45 12 4E 01 23 07 1E 05 57 41 52 00 41 01 F4 00 FD")
            << Expected{"2024-12-25 10:30:45", "N49.27418667", "W11956.33333333", 1, 65, 500, false};
    }
    void decodesLine()
    {
        QFETCH(QByteArray, dump);
        QFETCH(Expected, expected);
        QVector<SpeedRecord> records;
        DecodeLogDump(dump, records);
        QCOMPARE(records.size(), 1);
        const SpeedRecord &r = records.first();
        QCOMPARE(r.dateTime.isValid() ? r.dateTime.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                                      : QStringLiteral("invalid"),
                 expected.dateTime);
        QCOMPARE(r.latitude, expected.latitude);
        QCOMPARE(r.longitude, expected.longitude);
        QCOMPARE(r.direction, expected.direction);
        QCOMPARE(r.speed, expected.speed);
        QCOMPARE(r.range, expected.range);
        QCOMPARE(r.metric, expected.metric);
        QCOMPARE(r.statusBits, 0);
        if (r.dateTime.isValid())
            QCOMPARE(r.dateTime.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), expected.dateTime);
    }

    void dropsLine_data()
    {
        QTest::addColumn<QByteArray>("dump");
        QTest::addColumn<QStringList>("faults");

        QTest::newRow("type in lower case") << QByteArray("0b 12 25 24 10 30 45 49 16 45 12 4E 01 23 07 12 34 57 41 52 00 41 00 13 88 01 A7") << QStringList();
        QTest::newRow("unknown type") << QByteArray("02 12 25 24 10 30 45 41 00 41 01 F4 01 83") << QStringList();
        QTest::newRow("live data file header") << QByteArray("Speed,Range,Direction,Date,Time,GPS_Latitude,GPS_Longitude,Lidar_Id,File_name,Note") << QStringList();
        QTest::newRow("13 tokens of type 01") << QByteArray("01 12 25 24 10 30 45 41 00 41 01 F4 01")
            << QStringList{"Invalid record data length: 13"};
        QTest::newRow("25 tokens of type 03") << kImperialGps.left(kImperialGps.size() - 3)
            << QStringList{"Invalid record data length: 25"};
        QTest::newRow("wrong checksum") << QByteArray("01 12 25 24 10 30 45 41 00 41 01 F4 01 84")
            << QStringList{"Checksum mis-match"};
        QTest::newRow("checksum above FF") << QByteArray("01 12 25 24 10 30 45 41 00 41 01 F4 01 0183")
            << QStringList{"Checksum mis-match"};
        QTest::newRow("two blanks: empty speed byte") << QByteArray("01 12 25 24 10 30 45 41 00  41 01 F4 01 83")
            << QStringList{"Invalid data value: "};
        QTest::newRow("checksum not hexadecimal") << QByteArray("01 12 25 24 10 30 45 41 00 41 01 F4 01 8G")
            << QStringList{"Invalid data value: 8G"};
        QTest::newRow("GPS token not hexadecimal") << QByteArray("03 12 25 24 10 30 45 49 G6 45 12 4E 01 23 07 12 34 57 41 52 00 41 01 F4 00 C0")
            << QStringList{"Invalid data value: G6"};
        QTest::newRow("latitude degrees not decimal") << QByteArray("03 12 25 24 10 30 45 4F 16 45 12 4E 01 23 07 12 34 57 41 52 00 41 01 F4 00 C0")
            << QStringList{"Invalid GPS data value"};
        QTest::newRow("latitude minutes not decimal") << QByteArray("03 12 25 24 10 30 45 49 16 1A 12 4E 01 23 07 12 34 57 41 52 00 41 01 F4 00 C0")
            << QStringList{"Invalid GPS data value: 03"};
        QTest::newRow("longitude above 65535 degrees") << QByteArray("03 12 25 24 10 30 45 49 16 45 12 4E 6553 6 07 12 34 57 41 52 00 41 01 F4 00 C0")
            << QStringList{"Invalid GPS data value"};
        QTest::newRow("latitude minutes with exponent: too long for its field")
            << QByteArray("03 12 25 24 10 30 45 49 16 12 E9 4E 01 23 07 12 34 57 41 52 00 41 01 F4 00 6C")
            << QStringList{"Invalid GPS data value"};
        QTest::newRow("latitude of 15 characters")
            << QByteArray("03 12 25 24 10 30 45 49 16 1E 06 4E 01 23 07 12 34 57 41 52 00 41 01 F4 00 8F")
            << QStringList{"Invalid GPS data value"};
        QTest::newRow("longitude of 15 characters")
            << QByteArray("03 12 25 24 10 30 45 49 16 45 12 4E 01 23 07 1E 06 57 41 52 00 41 01 F4 00 FE")
            << QStringList{"Invalid GPS data value"};
        QTest::newRow("speed byte 0x80 leaves no checksum") << QByteArray("01 12 25 24 10 30 45 41 00 80 01 F4 01 42")
            << QStringList();
        QTest::newRow("filler pushes the checksum past the end") << QByteArray("01 12 25 24 10 30 45 41 00 41 01 F4 80 01")
            << QStringList();
        QTest::newRow("range beyond a whole number") << QByteArray("09 12 25 24 10 30 45 41 00 41 FFFF FF FF 01 81")
            << QStringList{"Invalid data value: FFFF"};
    }
    void dropsLine()
    {
        QFETCH(QByteArray, dump);
        QFETCH(QStringList, faults);
        TraceCapture traces;
        QVector<SpeedRecord> records;
        DecodeLogDump(dump, records);
        QVERIFY(records.isEmpty());
        QCOMPARE(traces.lines.value(0), QString::fromUtf8(dump).trimmed());
        QCOMPARE(faultTraces(traces.lines, dump), faults);
    }

    void wholeDump()
    {
        // Rejected lines do not stop the decoding; every line is traced, empty ones too.
        const QByteArray dump = kMetric + "\r\n\r\n" + "01 12 25 24 10 30 45 41 00 41 01 F4 01 84\n"
                                + kImperialGps + "\n" + kThreeRangeBytes;
        TraceCapture traces;
        QVector<SpeedRecord> records;
        DecodeLogDump(dump, records);
        QCOMPARE(records.size(), 3);
        QCOMPARE(records[0].range, 500);
        QCOMPARE(records[1].latitude, QStringLiteral("N49.27418667"));
        QCOMPARE(records[2].range, 5000);
        QCOMPARE(traces.lines.size(), 6);
        QCOMPARE(traces.lines[1], QString());
        QCOMPARE(traces.lines[3], QStringLiteral("Checksum mis-match"));
    }

    void appendsToCallersSequence()
    {
        QVector<SpeedRecord> records(1);
        DecodeLogDump(kMetric, records);
        DecodeLogDump(kMetric, records);
        QCOMPARE(records.size(), 3);
        QCOMPARE(records[1].speed, 65);
    }

    void nulByteEndsDump_data()
    {
        QTest::addColumn<QByteArray>("dump");
        QTest::addColumn<int>("count");
        QTest::newRow("before a line") << kMetric + "\n" + QByteArray(1, '\0') + kMetric + "\n" << 1;
        QTest::newRow("inside the checksum") << kMetric.left(kMetric.size() - 1) + QByteArray(1, '\0') + "3\n" << 0;
        QTest::newRow("first byte") << QByteArray(1, '\0') + kMetric << 0;
        QTest::newRow("none") << kMetric + "\n" + kMetric << 2;
    }
    void nulByteEndsDump()
    {
        QFETCH(QByteArray, dump);
        QFETCH(int, count);
        QCOMPARE(decodeLogDump(dump).size(), count);
    }

    void emptyAndForeignDumps()
    {
        QVERIFY(decodeLogDump(QByteArray()).isEmpty());
        QVERIFY(decodeLogDump("\n\n\r\n").isEmpty());
        QVERIFY(decodeLogDump("\xff\xfe 01 12\n\xc3\xa9").isEmpty());
        // Non-ASCII white space around a line is trimmed like any other.
        QCOMPARE(decodeLogDump("\xc2\xa0" + kMetric + "\xe2\x80\x83").size(), 1);
    }

    // Odd token shapes read exactly as Qt's own number conversions read them.
    void tokenReadingsAgreeWithQt_data()
    {
        QTest::addColumn<QByteArray>("token");
        for (const char *token : {"41", "f4", "0", "FFFF", "10000", "00041", "", "+41", "-1", "0x41",
                                  "0X", "4 1", "41\t", "\t41", "G1", "\xd9\xa4", "1e3", "12.5"})
            QTest::newRow(token) << QByteArray(token);
    }
    void tokenReadingsAgreeWithQt()
    {
        QFETCH(QByteArray, token);
        const DumpToken view{token.constData(), token.size()};
        const QString text = QString::fromUtf8(token);
        bool qtOk = false;
        quint16 value = 0;
        const quint16 qtHex = text.toUShort(&qtOk, 16);
        QCOMPARE(readHex16(view, &value), qtOk);
        if (qtOk)
            QCOMPARE(value, qtHex);
        const quint16 qtDecimal = text.toUShort(&qtOk);
        QCOMPARE(readDecimal16(view, DumpToken{}, &value), qtOk);
        if (qtOk)
            QCOMPARE(value, qtDecimal);
    }

    void minutesAgreeWithTextConversion()
    {
        std::srand(7);
        for (int i = 0; i < 20000; ++i) {
            const QByteArray whole = QByteArray::number(std::rand() % 100000).rightJustified(std::rand() % 3 + 1, '0');
            const QByteArray high = QByteArray::number(std::rand() % 100).rightJustified(2, '0');
            const QByteArray low = QByteArray::number(std::rand() % 10000).rightJustified(std::rand() % 3 + 2, '0');
            double value = 0;
            QVERIFY(readMinutes({whole.constData(), whole.size()}, {high.constData(), high.size()},
                                {low.constData(), low.size()}, &value));
            bool ok = false;
            const double expected = QString::fromLatin1(whole + '.' + high + low).toDouble(&ok);
            QVERIFY(ok);
            QCOMPARE(value, expected);  // bit for bit, not fuzzy
            QVERIFY(memcmp(&value, &expected, sizeof value) == 0);
        }
    }

    // Positions print as printf's "%.8f" prints them, also next to and on exact halves.
    void degreesAgreeWithPrintf()
    {
        std::srand(11);
        QVector<double> values{0, 1, 0.001953125, 0.000000005, 0.000000015, 49.27418667, 99999.999999995,
                               99999.99999999, 123.11872333333333, 65535 + 0.5e-8, 1e5, 1e6, 268382.33333333,
                               1e300, 0x1p-1074};
        for (int i = 0; i < 200000; ++i) {
            const double whole = std::rand() % 70000;
            values.append(whole + (std::rand() % 100000000) / 1e8 + (std::rand() % 3) * 0.5e-8);
            values.append(whole + (std::rand() % 6000000) / 1e4 / 60);
            values.append(whole + std::rand() / double(RAND_MAX));
        }
        for (double value : values) {
            char expected[400];
            const int expectedLength = std::snprintf(expected, sizeof expected, "%.8f", value);
            char text[14];
            const int length = formatDegrees(value, text, int(sizeof text));
            QCOMPARE(length, expectedLength);
            if (length <= int(sizeof text))
                QCOMPARE(QByteArray(text, length), QByteArray(expected, expectedLength));
        }
    }

    // Local times read through the per-day offset are the instants and wall times Qt's own
    // local reading gives, on ordinary days and on the days summer time begins and ends.
    void localTimesAgreeWithQt()
    {
        const QByteArray savedZone = qgetenv("TZ");
        for (const char *zone : {"Europe/Berlin", "America/Sao_Paulo", "Australia/Lord_Howe", "UTC"}) {
            qputenv("TZ", zone);
            tzset();
            LocalTimeReader reader;
            for (const QDate &date : {QDate(2024, 3, 31), QDate(2024, 10, 27), QDate(2024, 7, 1),
                                      QDate(2018, 11, 4), QDate(2019, 2, 16), QDate(2024, 4, 7), QDate(2024, 10, 6)}) {
                for (int minute = 0; minute < 24 * 60; minute += 15) {
                    const QTime time(minute / 60, minute % 60, 7);
                    const QDateTime expected(date, time);
                    const QDateTime read = reader.read(date, time);
                    QCOMPARE(read.isValid(), expected.isValid());
                    if (!expected.isValid())
                        continue;
                    QVERIFY2(read == expected, qPrintable(QString::fromLatin1(zone) + ' ' + expected.toString()));
                    QCOMPARE(read.date(), expected.date());
                    QCOMPARE(read.time(), expected.time());
                }
            }
        }
        if (savedZone.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", savedZone);
        tzset();
    }

    // Date and time read as the text "20yyMMddhhmmss" in local time, also across the
    // switches of summer time.
    void dateTimeAgreesWithTextReading_data()
    {
        QTest::addColumn<QByteArray>("dateTokens");
        QTest::newRow("ordinary") << QByteArray("12 25 24 10 30 45");
        QTest::newRow("leap day") << QByteArray("02 29 24 00 00 00");
        QTest::newRow("no leap day") << QByteArray("02 29 23 00 00 00");
        QTest::newRow("hour 24") << QByteArray("12 25 24 24 00 00");
        QTest::newRow("second 60") << QByteArray("12 25 24 10 30 60");
        QTest::newRow("summer time gap") << QByteArray("03 31 24 02 30 00");
        QTest::newRow("summer time end") << QByteArray("10 27 24 02 30 00");
        QTest::newRow("hex letters") << QByteArray("1A 25 24 10 30 45");
        QTest::newRow("three digits") << QByteArray("012 25 24 10 30 45");
        QTest::newRow("one digit") << QByteArray("1 25 24 10 30 45");
    }
    void dateTimeAgreesWithTextReading()
    {
        QFETCH(QByteArray, dateTokens);
        const QByteArray savedZone = qgetenv("TZ");
        qputenv("TZ", "Europe/Berlin");
        tzset();
        const QList<QByteArray> t = dateTokens.split(' ');
        quint8 sum = 0x01 ^ 0x41 ^ 0x00 ^ 0x41 ^ 0x01 ^ 0xF4 ^ 1;
        for (const QByteArray &token : t) {
            bool ok = false;
            const uint value = token.toUInt(&ok, 16);
            if (ok)
                sum ^= quint8(value);
        }
        const QByteArray line = "01 " + dateTokens + " 41 00 41 01 F4 01 " + QByteArray::number(sum, 16);
        const QVector<SpeedRecord> decoded = decodeLogDump(line);
        const QDateTime expected = QDateTime::fromString(
            QString::fromLatin1("20" + t[2] + t[0] + t[1] + t[3] + t[4] + t[5]), QStringLiteral("yyyyMMddhhmmss"));
        // In the hour repeated when summer time ends either reading is right; what the log
        // list shows (local date and time) must agree.
        const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss");
        const QString expectedText = expected.isValid() ? expected.toString(format) : QStringLiteral("invalid");
        const QString decodedText = decoded.value(0).dateTime.isValid() ? decoded[0].dateTime.toString(format)
                                                                        : QStringLiteral("invalid");
        if (savedZone.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", savedZone);
        tzset();
        QCOMPARE(decoded.size(), 1);
        QCOMPARE(decoded[0].dateTime.isValid(), expected.isValid());
        QCOMPARE(decodedText, expectedText);
    }
};

QTEST_APPLESS_MAIN(TestLogDecoder)
#include "tst_logdecoder.moc"
