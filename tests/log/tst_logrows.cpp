#include <QtTest>

#include "clirun.h"
#include "commalocale.h"
#include "golden.h"
#include "log/logdecoder.h"
#include "log/logfiles.h"
#include "log/logrows.h"
#include "recordingoperator.h"
#include "sampledump.h"

using namespace velomark;

namespace {

SpeedRecord record(int speed, int range, bool metric, const QDateTime &when = {}, int direction = 0,
                   const QString &latitude = {}, const QString &longitude = {})
{
    return SpeedRecord{latitude, longitude, when, direction, speed, range, 0, metric};
}

QDateTime at(const char *text)
{
    return QDateTime::fromString(QString::fromLatin1(text), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

const QDateTime kChristmas = at("2024-12-25 10:30:45");

const QByteArray kDump = sampledump::kDump;
const QByteArray kDumpCsv = sampledump::allRecordsCsv("12345");

}  // namespace

Q_DECLARE_METATYPE(LogDateFilter)

class TestLogRows : public QObject
{
    Q_OBJECT
private slots:
    // The log list's columns (joined with '|') and the CSV line written for them, in
    // tests/data/log_rows.txt: metric, imperial, half a metre, an invalid date without position
    // (adjacent empty fields), a position, a lidar id with a comma.
    void rowAndCsv()
    {
        const struct { SpeedRecord record; const char *lidarId; } cases[] = {
            {record(65, 500, true, kChristmas), "12345"}, {record(65, 500, false, kChristmas, 1), "12345"},
            {record(65, 5, true, kChristmas), ""}, {record(65, 500, true), "12345"},
            {record(65, 5, false, kChristmas, 1, "N49.27418667", "W123.11872333"), "12345"}, {record(65, 500, true), "1,345"}};
        QByteArray table;
        for (const auto &c : cases) {
            const QStringList texts = logRowTexts(c.record, QString::fromLatin1(c.lidarId));
            // The command line writes the same line straight from the record.
            QByteArray direct;
            appendLogCsvLines({c.record}, LogDateFilter::all(), QString::fromLatin1(c.lidarId), &direct);
            QCOMPARE(QString::fromUtf8(direct), logCsvLine(texts));
            table += texts.join('|').toUtf8() + '\n' + direct;
        }
        QCOMPARE(table, golden(QStringLiteral("log_rows.txt"), table));
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
        QTest::newRow("start after end, on the start") << LogDateFilter::between(end, start) << at("2024-12-25 12:00:00") << false;
    }
    void dateFilter()
    {
        QFETCH(LogDateFilter, filter);
        QFETCH(QDateTime, when);
        QFETCH(bool, shown);
        QCOMPARE(filter.shows(record(65, 500, true, when)), shown);
        QCOMPARE(logRows({record(65, 500, true, when)}, filter, QString()).size(), shown ? 1 : 0);
    }

    void titleSuffix_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("result");
        QTest::newRow("words are no count") << "Velomark (old Records)" << 2 << "Velomark (old Records) (2 Records)";
        QTest::newRow("only the title") << " (7 Records)" << 1 << " (1 Records)";
    }
    void titleSuffix()
    {
        QFETCH(QString, title);
        QFETCH(int, count);
        QFETCH(QString, result);
        QCOMPARE(titleWithRecordCount(title, count), result);
        // A count already there is replaced, not added to.
        QCOMPARE(titleWithRecordCount(titleWithRecordCount(title, count + 5), count), result);
    }

    // Every byte as received, a NUL, lone carriage returns and bytes that are no UTF-8 too.
    // (Writing over a file and a failed write: saving, through the same writer.)
    void logDumpKeepsEveryByte()
    {
        const QString path = m_dir.filePath(QStringLiteral("raw.txt"));
        const QByteArray bytes = kDump + QByteArray("\0tail\r\r\n\xff", 9);
        QVERIFY(writeLogDump(bytes, path).ok);
        QCOMPARE(fileBytes(path), bytes);
    }

    // The first rows of the sample dump saved: with none nothing is asked and the log text
    // buffer stays; otherwise the buffer holds their CSV whatever comes of the save, the choice
    // starts at the live data file, a file is written over, and a failed save reports and
    // leaves nothing behind.
    void saving_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("file");     // the name chosen; empty: cancelled
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("message");  // %1: the file; a trailing '*': the error's text
        QTest::newRow("no rows") << 0 << "log.txt" << int(LogSaveOutcome::NoRows) << "Cannot find any logged data to save";
        QTest::newRow("cancelled") << 3 << "" << int(LogSaveOutcome::Cancelled) << "";
        QTest::newRow("over an older file") << 1 << "log.txt" << int(LogSaveOutcome::Saved) << "Data was saved to file %1";
        QTest::newRow("folder not there") << 3 << "no-such-dir/log.txt" << int(LogSaveOutcome::Failed)
                                          << "Open data file %1 failed with error: *";
    }
    void saving()
    {
        QFETCH(int, rows);
        QFETCH(QString, file);
        QFETCH(int, outcome);
        QFETCH(QString, message);
        const QVector<LogRow> shown = logRows(decodeLogDump(kDump), LogDateFilter::all(), QStringLiteral("12345")).mid(0, rows);
        const QString path = m_dir.filePath(file);
        QVERIFY(writeFileBytes(m_dir.filePath(QStringLiteral("log.txt")), "an older file"));
        RecordingOperator op;
        if (!file.isEmpty())
            op.fileNames.enqueue(path);
        QByteArray buffer = "earlier text";
        QCOMPARE(int(saveLogRows(shown, QStringLiteral("/data/live.csv"), op, &buffer)), outcome);
        QCOMPARE(buffer, rows == 0 ? QByteArray("earlier text") : logCsvText(shown));
        QCOMPARE(op.lastStartDir, rows == 0 ? QString() : QStringLiteral("/data/live.csv"));
        const QString expected = message.arg(path), text = op.texts().join(QLatin1Char('|'));
        QVERIFY2(message.endsWith('*') ? text.startsWith(expected.chopped(1)) && text.size() >= expected.size() : text == expected,
                 qPrintable(text));
        if (outcome == int(LogSaveOutcome::Saved))
            QCOMPARE(fileBytes(path), logCsvText(shown));
        if (outcome == int(LogSaveOutcome::Failed))
            QVERIFY(!QFile::exists(path));
    }

    // The proposal names the lidar and the days of the rows, earliest first, whatever their order.
    void proposedFileName()
    {
        QCOMPARE(proposedLogFileName(logRows(decodeLogDump(kDump), LogDateFilter::all(), QStringLiteral("12345"))),
                 QStringLiteral("12345_2024-12-25_2025-01-01.csv"));
        QCOMPARE(proposedLogFileName({{"55", "", "", "2025-01-02", "", "", "", "A/B"}, {"55", "", "", "2024-12-31", "", "", "", ""}}),
                 QStringLiteral("A_B_2024-12-31_2025-01-02.csv"));
        QCOMPARE(proposedLogFileName({}), QStringLiteral("log.csv"));
    }

    // A dump file loads into the log CSV; a live data file, an absent file add no row.
    void loadDataFiles()
    {
        const QString livePath = m_dir.filePath(QStringLiteral("live.csv"));
        QVERIFY(writeFileBytes(livePath, "Speed,Range,Direction,Date,Time,GPS_Latitude,GPS_Longitude,Lidar_Id,File_name,Note\n"
                                         "65,50.0,Approaching,12/25/2024,10:30:45,,,12345,live.csv,north lane\n"));
        QCOMPARE(logCsvText(logRows(loadDataFile(m_dump).value(), LogDateFilter::all(), lidarIdOf("VZQ-12345"))), kDumpCsv);
        QCOMPARE(loadDataFile(livePath).value().size(), 0);
        QCOMPARE(loadDataFile(m_dir.filePath(QStringLiteral("absent.txt"))).value().size(), 0);
        QVERIFY(!loadDataFile(QString()).has_value());
    }

    // The command line's decode.
    void initTestCase()
    {
        QVERIFY2(!qgetenv("VELOMARK_CLI").isEmpty(), "VELOMARK_CLI is not set");
        QVERIFY(m_dir.isValid());
        m_dump = m_dir.filePath(QStringLiteral("logDump.txt"));
        QVERIFY(writeLogDump(kDump, m_dump).ok);
    }

    // FILE stands for the dump; no CSV: a usage error, exit status 2 with a message. An
    // inverted date range is the retrieve command's row (tst_retrieval): one parser for both.
    void printsCsv_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<QStringList>("env");
        QTest::addColumn<QByteArray>("dump");
        QTest::newRow("all records, no lidar") << QStringList{"FILE"} << sampledump::allRecordsCsv("") << QStringList() << QByteArray();
        // The trace goes to standard error, never into the CSV.
        QTest::newRow("date range, lidar id, trace")
            << QStringList{"--lidar-id", "VZQ-LIDAR-12345", "--from", "2024-12-25", "--to", "2024-12-31", "--trace", "FILE"}
            << sampledump::kCsvHeader + sampledump::csvLine(0, "12345") << QStringList() << QByteArray();
        // In a locale with a decimal comma the range and the position keep their decimal points;
        // in a zone that skips 02:00 to 03:00 that day the lidar's clock is written as it stands
        // (the decoder's own zone table: tst_logdecoder).
        QTest::newRow("Berlin, decimal comma, day of the clock change")
            << QStringList{"FILE"}
            << sampledump::kCsvHeader + "65,mph,50.0,ft,Receding,2024-03-31,02:45:00,N49.00000000,W123.11872333,\n"
            << QStringList{"TZ=Europe/Berlin", QStringLiteral("LC_ALL=") + kCommaLocale, "LOCPATH"}
            << QByteArray("03 03 31 24 02 45 00 49 00 00 00003 4E 01 23 07 12 34 57 41 52 00 41 01 F4 00 A5\n");
        for (const QStringList &args : {QStringList{"/nonexistent/logDump.txt"}, QStringList{"--from", "2024-12-25", "FILE"},
                                        QStringList{"--from", "2024-13-01", "--to", "2024-12-31", "FILE"}})
            QTest::addRow("usage: %s", qPrintable(args.join(' '))) << args << QByteArray() << QStringList() << QByteArray();
    }
    void printsCsv()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, csv);
        QFETCH(QStringList, env);
        QFETCH(QByteArray, dump);
        QString path = m_dump;
        QTemporaryDir locales;
        if (env.removeAll(QStringLiteral("LOCPATH")) > 0) {
            if (!locales.isValid() || !makeCommaLocale(locales.path()))
                QSKIP("localedef could not make a locale with a decimal comma");
            env << QStringLiteral("LOCPATH=") + locales.path();
            path = locales.filePath(QStringLiteral("logDump.txt"));
            QVERIFY(writeLogDump(dump, path).ok);
        }
        const CliRun run = runCli(QStringList{"decode"} + args.replaceInStrings(QStringLiteral("FILE"), path), env);
        QCOMPARE(run.exitCode, csv.isEmpty() ? 2 : 0);
        QCOMPARE(run.out, csv);
        QCOMPARE(run.err.contains("01 13 25 24 10 30 45 41 00 41 01 F4 01 82"), args.contains("--trace"));
        QVERIFY(!csv.isEmpty() || !run.err.isEmpty());
    }

private:
    QTemporaryDir m_dir;
    QString m_dump;
};

QTEST_GUILESS_MAIN(TestLogRows)
#include "tst_logrows.moc"
