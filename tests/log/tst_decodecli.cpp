#include <QtTest>

#include "log/logfiles.h"
#include "log/logrows.h"
#include "recordingoperator.h"

using namespace velomark;

namespace {

const QByteArray kDump =
    "01 12 25 24 10 30 45 41 00 41 01 F4 01 83\n"
    "01 01 01 25 00 00 00 41 00 41 01 F4 01 D0\n"
    "01 13 25 24 10 30 45 41 00 41 01 F4 01 82\n";

const QByteArray kHeader =
    "Speed,Speed_Unit,Range,Range_Unit,Direction,Date,Time,GPS_Latitude,GPS_Longitude,Lidar_Id\n";

struct Run
{
    int exitCode;
    QByteArray out;
    QByteArray err;
};

Run runCli(const QStringList &args)
{
    QProcess process;
    process.start(QString::fromLocal8Bit(qgetenv("VELOMARK_CLI")), args);
    if (!process.waitForFinished(30000))
        return {-1, {}, "did not finish"};
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

}  // namespace

class TestDecodeCli : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(!qgetenv("VELOMARK_CLI").isEmpty(), "VELOMARK_CLI is not set");
        QVERIFY(m_dir.isValid());
        m_dump = m_dir.filePath(QStringLiteral("logDump.txt"));
        QVERIFY(writeLogDump(kDump, m_dump).ok);
    }

    void printsCsv_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("csv");
        QTest::newRow("all records, no lidar") << QStringList()
            << kHeader + "65,km/h,50.0,m,Approaching,2024-12-25,10:30:45,,,\n"
                         "65,km/h,50.0,m,Approaching,2025-01-01,00:00:00,,,\n"
                         "65,km/h,50.0,m,Approaching,,,,,\n";
        QTest::newRow("date range and lidar id")
            << QStringList{"--lidar-id", "VZQ-LIDAR-12345", "--from", "2024-12-25", "--to", "2024-12-31"}
            << kHeader + "65,km/h,50.0,m,Approaching,2024-12-25,10:30:45,,,12345\n";
        QTest::newRow("lidar id that needs quotes") << QStringList{"--lidar-id", "a,b"}
            << kHeader + "65,km/h,50.0,m,Approaching,2024-12-25,10:30:45,,,\"a,b\"\n"
                         "65,km/h,50.0,m,Approaching,2025-01-01,00:00:00,,,\"a,b\"\n"
                         "65,km/h,50.0,m,Approaching,,,,,\"a,b\"\n";
        QTest::newRow("start after end") << QStringList{"--from", "2025-01-01", "--to", "2024-12-25"} << kHeader;
    }
    void printsCsv()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, csv);
        const Run run = runCli(QStringList{"decode"} + options + QStringList{m_dump});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, csv);
        QCOMPARE(run.err, QByteArray());
    }

    // The command line prints what Save writes for the same rows.
    void sameBytesAsSave()
    {
        RecordingOperator op;
        const QString saved = m_dir.filePath(QStringLiteral("saved.txt"));
        op.fileNames.enqueue(saved);
        QByteArray buffer;
        const QVector<LogRow> rows = logRows(loadDataFile(m_dump).value(), LogDateFilter::all(), lidarIdOf("VZQ-12345"));
        QCOMPARE(saveLogRows(rows, QString(), op, &buffer), LogSaveOutcome::Saved);
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(runCli({"decode", "--lidar-id", "VZQ-12345", m_dump}).out, file.readAll());
    }

    void traceGoesToStandardError()
    {
        const Run run = runCli({"decode", "--trace", m_dump});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.err.contains("01 13 25 24 10 30 45 41 00 41 01 F4 01 82"), run.err.constData());
        QVERIFY(run.out.startsWith(kHeader));
    }

    void badUsage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no file") << QStringList{"decode"};
        QTest::newRow("two files") << QStringList{"decode", "a", "b"};
        QTest::newRow("missing file") << QStringList{"decode", "/nonexistent/logDump.txt"};
        QTest::newRow("from without to") << QStringList{"decode", "--from", "2024-12-25", "FILE"};
        QTest::newRow("bad date") << QStringList{"decode", "--from", "2024-13-01", "--to", "2024-12-31", "FILE"};
        QTest::newRow("unknown option") << QStringList{"decode", "--fast", "FILE"};
    }
    void badUsage()
    {
        QFETCH(QStringList, args);
        args.replaceInStrings(QStringLiteral("FILE"), m_dump);
        const Run run = runCli(args);
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(run.out, QByteArray());
        QVERIFY(!run.err.isEmpty());
    }

private:
    QTemporaryDir m_dir;
    QString m_dump;
};

QTEST_GUILESS_MAIN(TestDecodeCli)
#include "tst_decodecli.moc"
