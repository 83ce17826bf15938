#include <QtTest>

#include "log/logdecoder.h"
#include "log/logfiles.h"
#include "log/logrows.h"
#include "recordingoperator.h"

using namespace velomark;

namespace {

SpeedRecord record(int speed, int range, bool metric, const QDateTime &when = {},
                   int direction = 0, const QString &latitude = {}, const QString &longitude = {})
{
    SpeedRecord r;
    r.speed = speed;
    r.range = range;
    r.metric = metric;
    r.dateTime = when;
    r.direction = direction;
    r.latitude = latitude;
    r.longitude = longitude;
    return r;
}

QDateTime at(const char *text)
{
    return QDateTime::fromString(QString::fromLatin1(text), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

const QDateTime kChristmas = at("2024-12-25 10:30:45");

// Three records of the dump lines used throughout: metric without a position, imperial and
// metric with one.
const QByteArray kDump =
    "01 12 25 24 10 30 45 41 00 41 01 F4 01 83\r\n"
    "03 12 25 24 10 30 45 49 16 45 12 4E 01 23 07 12 34 57 41 52 00 41 01 F4 00 C0\r\n"
    "not a record\r\n"
    "0B 12 25 24 10 30 45 49 16 45 12 4E 01 23 07 12 34 57 41 52 00 41 00 13 88 01 A7\r\n";

const QByteArray kDumpCsv =
    "Speed,Speed_Unit,Range,Range_Unit,Direction,Date,Time,GPS_Latitude,GPS_Longitude,Lidar_Id\n"
    "65,km/h,50.0,m,Approaching,2024-12-25,10:30:45,,,12345\n"
    "65,mph,50.0,ft,Receding,2024-12-25,10:30:45,N49.27418667,W123.11872333,12345\n"
    "65,km/h,500.0,m,Receding,2024-12-25,10:30:45,N49.27418667,W123.11872333,12345\n";

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

}  // namespace

Q_DECLARE_METATYPE(SpeedRecord)
Q_DECLARE_METATYPE(LogDateFilter)

class TestLogRows : public QObject
{
    Q_OBJECT
private slots:
    void rowTexts_data()
    {
        QTest::addColumn<SpeedRecord>("record");
        QTest::addColumn<QString>("lidarId");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("metric") << record(65, 500, true, kChristmas) << "12345"
            << QStringList{"65 km/h", "50.0 m", "Approaching", "2024-12-25", "10:30:45", "", "", "12345"};
        QTest::newRow("imperial") << record(65, 500, false, kChristmas, 1) << "12345"
            << QStringList{"65 mph", "50.0 ft", "Receding", "2024-12-25", "10:30:45", "", "", "12345"};
        QTest::newRow("half a metre") << record(65, 5, true, kChristmas) << ""
            << QStringList{"65 km/h", "0.5 m", "Approaching", "2024-12-25", "10:30:45", "", "", ""};
        QTest::newRow("zero range") << record(0, 0, true, at("2025-01-02 03:04:05")) << "A"
            << QStringList{"0 km/h", "0.0 m", "Approaching", "2025-01-02", "03:04:05", "", "", "A"};
        QTest::newRow("long range") << record(250, 12349, false, kChristmas) << "1"
            << QStringList{"250 mph", "1234.9 ft", "Approaching", "2024-12-25", "10:30:45", "", "", "1"};
        QTest::newRow("invalid date") << record(65, 500, true) << "12345"
            << QStringList{"65 km/h", "50.0 m", "Approaching", "", "", "", "", "12345"};
        QTest::newRow("position") << record(65, 500, true, kChristmas, 1, "N49.27418667", "W123.11872333") << "12345"
            << QStringList{"65 km/h", "50.0 m", "Receding", "2024-12-25", "10:30:45", "N49.27418667", "W123.11872333", "12345"};
    }
    void rowTexts()
    {
        QFETCH(SpeedRecord, record);
        QFETCH(QString, lidarId);
        QFETCH(QStringList, texts);
        QCOMPARE(logRowTexts(record, lidarId), texts);
    }

    void columnsAndLidarId()
    {
        for (int column = LogSpeed; column < LogLidarId; ++column)
            QCOMPARE(logColumnAlignment(column), Qt::Alignment(Qt::AlignRight));
        QCOMPARE(logColumnAlignment(LogLidarId), Qt::Alignment(Qt::AlignHCenter));
        QCOMPARE(lidarIdOf(QStringLiteral("VZQ-LIDAR-12345")), QStringLiteral("12345"));
        QCOMPARE(lidarIdOf(QStringLiteral("AB12")), QStringLiteral("AB12"));
        QCOMPARE(lidarIdOf(QString()), QString());
    }

    void dateFilter_data()
    {
        QTest::addColumn<LogDateFilter>("filter");
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<bool>("shown");
        const QDate start(2024, 12, 20), end(2024, 12, 25);
        const LogDateFilter range = LogDateFilter::between(start, end);
        QTest::newRow("last second of the end date") << range << at("2024-12-25 23:59:59") << true;
        QTest::newRow("first second after the end date") << range << at("2024-12-26 00:00:00") << false;
        QTest::newRow("first second of the start date") << range << at("2024-12-20 00:00:00") << true;
        QTest::newRow("last second before the start date") << range << at("2024-12-19 23:59:59") << false;
        QTest::newRow("invalid date, filter on") << range << QDateTime() << false;
        QTest::newRow("invalid date, all records") << LogDateFilter::all() << QDateTime() << true;
        QTest::newRow("any date, all records") << LogDateFilter::all() << at("1999-01-01 00:00:00") << true;
        QTest::newRow("start after end") << LogDateFilter::between(end, start) << at("2024-12-22 12:00:00") << false;
        QTest::newRow("start after end, on the start") << LogDateFilter::between(end, start) << at("2024-12-25 12:00:00") << false;
        QTest::newRow("one day") << LogDateFilter::between(end, end) << at("2024-12-25 12:00:00") << true;
    }
    void dateFilter()
    {
        QFETCH(LogDateFilter, filter);
        QFETCH(QDateTime, when);
        QFETCH(bool, shown);
        QCOMPARE(filter.shows(record(65, 500, true, when)), shown);
        QCOMPARE(logRows({record(65, 500, true, when)}, filter, QString()).size(), shown ? 1 : 0);
    }

    void rowsKeepRecordOrder()
    {
        const QVector<SpeedRecord> records{record(1, 10, true, kChristmas), record(2, 20, true, at("2024-12-26 00:00:00")),
                                           record(3, 30, true, kChristmas)};
        const QVector<LogRow> rows = logRows(records, LogDateFilter::between(QDate(2024, 12, 25), QDate(2024, 12, 25)),
                                             QStringLiteral("12345"));
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].first(), QStringLiteral("1 km/h"));
        QCOMPARE(rows[1].first(), QStringLiteral("3 km/h"));
    }

    void titleSuffix_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("result");
        QTest::newRow("first count") << "Velomark - VZQ12345" << 3 << "Velomark - VZQ12345 (3 Records)";
        QTest::newRow("count replaced") << "Velomark - VZQ12345 (3 Records)" << 6 << "Velomark - VZQ12345 (6 Records)";
        QTest::newRow("zero records") << "Velomark" << 0 << "Velomark (0 Records)";
        QTest::newRow("bracket of the name kept") << "Velomark - LIDAR (Records)" << 2 << "Velomark - LIDAR (Records) (2 Records)";
        QTest::newRow("words are no count") << "Velomark (old Records)" << 2 << "Velomark (old Records) (2 Records)";
        QTest::newRow("only the title") << " (7 Records)" << 1 << " (1 Records)";
        QTest::newRow("large count") << "V (99999 Records)" << 100000 << "V (100000 Records)";
    }
    void titleSuffix()
    {
        QFETCH(QString, title);
        QFETCH(int, count);
        QFETCH(QString, result);
        QCOMPARE(titleWithRecordCount(title, count), result);
        QCOMPARE(titleWithRecordCount(titleWithRecordCount(title, count), count), result);
    }

    void csvLine_data()
    {
        QTest::addColumn<QStringList>("row");
        QTest::addColumn<QString>("line");
        QTest::newRow("example without a position")
            << QStringList{"65 km/h", "50.0 m", "Approaching", "2024-12-25", "10:30:45", "", "", "12345"}
            << "65,km/h,50.0,m,Approaching,2024-12-25,10:30:45,,,12345\n";
        QTest::newRow("imperial with a position")
            << QStringList{"65 mph", "0.5 ft", "Receding", "2024-12-25", "10:30:45", "N49.27418667", "W123.11872333", "12345"}
            << "65,mph,0.5,ft,Receding,2024-12-25,10:30:45,N49.27418667,W123.11872333,12345\n";
        QTest::newRow("no date, no lidar")
            << QStringList{"65 km/h", "50.0 m", "Approaching", "", "", "", "", ""}
            << "65,km/h,50.0,m,Approaching,,,,,\n";
        QTest::newRow("lidar id with a comma") << QStringList{"65 km/h", "50.0 m", "Approaching", "", "", "", "", "1,345"}
            << "65,km/h,50.0,m,Approaching,,,,,\"1,345\"\n";
        QTest::newRow("lidar id with a quote") << QStringList{"65 km/h", "50.0 m", "Approaching", "", "", "", "", "a\"b"}
            << "65,km/h,50.0,m,Approaching,,,,,\"a\"\"b\"\n";
        QTest::newRow("lidar id with a line feed") << QStringList{"65 km/h", "50.0 m", "Approaching", "", "", "", "", "a\nb"}
            << "65,km/h,50.0,m,Approaching,,,,,\"a\nb\"\n";
        QTest::newRow("speed text without unit") << QStringList{"65", "50.0  m", "Approaching", "", "", "", "", ""}
            << "65,,50.0,,Approaching,,,,,\n";
    }
    void csvLine()
    {
        QFETCH(QStringList, row);
        QFETCH(QString, line);
        QCOMPARE(logCsvLine(row), line);
    }

    void csvFromDump()
    {
        const QVector<LogRow> rows = logRows(decodeLogDump(kDump), LogDateFilter::all(), lidarIdOf("VZQ-12345"));
        QCOMPARE(logCsvText(rows), kDumpCsv);
        QCOMPARE(logCsvText({}), QByteArray(kLogCsvHeader));
    }

    void logDumpKeepsEveryByte()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("logDump.txt"));
        const QByteArray bytes = kDump + QByteArray("\0tail\r\r\n\xff", 9);
        QVERIFY(writeLogDump(bytes, path).ok);
        QCOMPARE(fileBytes(path), bytes);
        QVERIFY(writeLogDump("01\n", path).ok);
        QCOMPARE(fileBytes(path), QByteArray("01\n"));
        const FileWriteResult failed = writeLogDump(bytes, dir.filePath(QStringLiteral("missing/logDump.txt")));
        QVERIFY(!failed.ok);
        QVERIFY(!failed.errorString.isEmpty());
    }

    void saveWithoutRows()
    {
        RecordingOperator op;
        op.fileNames.enqueue(QStringLiteral("/tmp/never-written.csv"));
        QByteArray buffer = "earlier text";
        QCOMPARE(saveLogRows({}, QString(), op, &buffer), LogSaveOutcome::NoRows);
        QCOMPARE(buffer, QByteArray("earlier text"));
        QCOMPARE(op.texts(), QStringList{"Cannot find any logged data to save"});
        QCOMPARE(op.messages[0].title, applicationTitle());
        QCOMPARE(op.fileNames.size(), 1);
    }

    void cancelledSaveKeepsBuffer()
    {
        RecordingOperator op;
        QByteArray buffer = "earlier text";
        const QVector<LogRow> rows = logRows(decodeLogDump(kDump), LogDateFilter::all(), QStringLiteral("12345"));
        QCOMPARE(saveLogRows(rows, QStringLiteral("/data/live.csv"), op, &buffer), LogSaveOutcome::Cancelled);
        QCOMPARE(buffer, kDumpCsv);
        QVERIFY(op.messages.isEmpty());
        QCOMPARE(op.lastStartDir, QStringLiteral("/data/live.csv"));
    }

    void saveTwiceReplaces()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("log.txt"));
        const QVector<LogRow> rows = logRows(decodeLogDump(kDump), LogDateFilter::all(), QStringLiteral("12345"));
        RecordingOperator op;
        QByteArray buffer;
        op.fileNames.enqueue(path);
        QCOMPARE(saveLogRows(rows, QString(), op, &buffer), LogSaveOutcome::Saved);
        QCOMPARE(fileBytes(path), kDumpCsv);
        op.fileNames.enqueue(path);
        QCOMPARE(saveLogRows(rows.mid(0, 1), QString(), op, &buffer), LogSaveOutcome::Saved);
        const QByteArray oneRow = "Speed,Speed_Unit,Range,Range_Unit,Direction,Date,Time,GPS_Latitude,GPS_Longitude,Lidar_Id\n"
                                  "65,km/h,50.0,m,Approaching,2024-12-25,10:30:45,,,12345\n";
        QCOMPARE(fileBytes(path), oneRow);
        QCOMPARE(buffer, oneRow);
        QCOMPARE(op.texts(), QStringList({"Data was saved to file " + path, "Data was saved to file " + path}));
    }

    void failedSaveReportsAndKeepsOldFile()
    {
        QTemporaryDir dir;
        const QString blocked = dir.filePath(QStringLiteral("no-such-dir/log.txt"));
        RecordingOperator op;
        QByteArray buffer;
        op.fileNames.enqueue(blocked);
        const QVector<LogRow> rows = logRows(decodeLogDump(kDump), LogDateFilter::all(), QString());
        QCOMPARE(saveLogRows(rows, QString(), op, &buffer), LogSaveOutcome::Failed);
        QCOMPARE(op.messages.size(), 1);
        QVERIFY2(op.messages[0].text.startsWith("Open data file " + blocked + " failed with error: "),
                 qPrintable(op.messages[0].text));
        QVERIFY(op.messages[0].text.size() > QString("Open data file " + blocked + " failed with error: ").size());
        QVERIFY(!QFile::exists(blocked));
        QCOMPARE(buffer.left(6), QByteArray("Speed,"));
    }

    void loadDataFiles()
    {
        QTemporaryDir dir;
        const QString dumpPath = dir.filePath(QStringLiteral("logDump.txt"));
        QVERIFY(writeLogDump(kDump, dumpPath).ok);
        const QString livePath = dir.filePath(QStringLiteral("live.csv"));
        QVERIFY(writeLogDump("Speed,Range,Direction,Date,Time,GPS_Latitude,GPS_Longitude,Lidar_Id,File_name,Note\n"
                             "65,50.0,Approaching,12/25/2024,10:30:45,,,12345,live.csv,north lane\n",
                             livePath).ok);

        QVERIFY(!loadDataFile(QString()).has_value());
        QCOMPARE(loadDataFile(livePath).value().size(), 0);
        QCOMPARE(loadDataFile(dir.filePath(QStringLiteral("absent.txt"))).value().size(), 0);

        // Loading twice shows the records twice, after the rows already there.
        QVector<LogRow> shown;
        for (int i = 0; i < 2; ++i)
            shown += logRows(loadDataFile(dumpPath).value(), LogDateFilter::all(), QStringLiteral("12345"));
        QCOMPARE(shown.size(), 6);
        QCOMPARE(logCsvText(shown), kDumpCsv + kDumpCsv.mid(int(qstrlen(kLogCsvHeader))));
    }

    void loadStartsInProgramDirectory()
    {
        RecordingOperator op;
        QCOMPARE(chooseDataFileToLoad(op), QString());
        QCOMPARE(op.lastStartDir, QCoreApplication::applicationDirPath());
        op.fileNames.enqueue(QStringLiteral("/tmp/logDump.txt"));
        QCOMPARE(chooseDataFileToLoad(op), QDir::toNativeSeparators(QStringLiteral("/tmp/logDump.txt")));
    }

};

QTEST_GUILESS_MAIN(TestLogRows)
#include "tst_logrows.moc"
