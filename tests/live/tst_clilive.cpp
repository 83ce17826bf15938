#include <QtTest>

#include <csignal>

#include "lidarsim.h"

namespace {

const QByteArray kHeader =
    "Speed,Range,Direction,Date,Time,GPS_Latitude,GPS_Longitude,Lidar_Id,File_name,Note\n";
// Two "$" text records with their own date: one with a position, one without a speed.
const QByteArray kPositionRecord("$SPD,SN4711,101519,143015,4530.0000,N,00930.0000,E,A,R,55,12.3,1\r\n");
const QByteArray kNoSpeedRecord("$SPD,SN4711,101519,143016,,,,,V,A,,0012.3,1,,,\r\n");
const QByteArray kRemoteOff = QByteArray::fromHex("020c0c03");

QString hexArg(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

QStringList textRecordOptions(int intervalMs)
{
    return {"--live-record", hexArg(kPositionRecord), "--live-record", hexArg(kNoSpeedRecord),
            "--live-interval", QString::number(intervalMs)};
}

// velomark-cli with a fixed locale (the month of the date column follows it).
void startCli(QProcess &cli, const QStringList &args, const QString &lidarsSpec = QString())
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    if (!lidarsSpec.isEmpty())
        env.insert(QStringLiteral("VELOMARK_LIDARS"), lidarsSpec);
    cli.setProcessEnvironment(env);
    cli.start(qEnvironmentVariable("VELOMARK_CLI"), args);
}

// Collects standard output until `lines` whole lines have arrived.
bool waitForLines(QProcess &cli, QByteArray &printed, int lines, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (printed.count('\n') < lines && timer.elapsed() < timeoutMs) {
        cli.waitForReadyRead(100);
        printed += cli.readAllStandardOutput();
        if (cli.state() == QProcess::NotRunning && cli.bytesAvailable() == 0)
            break;
    }
    return printed.count('\n') >= lines;
}

}  // namespace

class TestCliLive : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(!qEnvironmentVariableIsEmpty("VELOMARK_CLI"));
        QVERIFY(!qEnvironmentVariableIsEmpty("LIDAR_SIM"));
        QVERIFY(kPositionRecord.size() >= 40);
        QVERIFY(kNoSpeedRecord.size() >= 40);
    }

    // The data file byte for byte: quoted note and file name, an existing file appended to
    // without a second header, the Lidar_Id of --name or of the discovered lidar.
    void dataFileAfterRun_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<bool>("byDiscovery");
        const QByteArray older = "12,3.4,Approaching,2019Oct14,09:00:00,,,00001,old.txt,\n";
        QTest::newRow("new file, --port and --name") << QByteArray() << false;
        QTest::newRow("existing file appended, no second header") << kHeader + older << false;
        QTest::newRow("new file, --lidar") << QByteArray() << true;
    }
    void dataFileAfterRun()
    {
        QFETCH(QByteArray, before);
        QFETCH(bool, byDiscovery);
        LidarSim sim(textRecordOptions(300));
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("live,1.txt"));
        if (!before.isEmpty())
            writeAll(path, before);

        QStringList args{"live", "--output", path, "--note", "north, lane \"2\"", "--count", "3"};
        args << (byDiscovery ? QStringList{"--lidar", "VZQ Demo 4711"}
                             : QStringList{"--port", sim.portPath(), "--name", "VZQ Demo 4711"});
        QProcess cli;
        startCli(cli, args, QStringLiteral("VZQ Demo 4711=%1").arg(sim.portPath()));
        QVERIFY(cli.waitForFinished(20000));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.readAllStandardError(), QByteArray());
        QCOMPARE(cli.exitCode(), 0);

        const QByteArray lines =
            "55,12.3,Receding,2019Oct15,14:30:15,N45.50000000,E9.50000000, 4711,\"live,1.txt\","
            "\"north, lane \"\"2\"\"\"\n"
            ",12.3,Approaching,2019Oct15,14:30:16,,, 4711,\"live,1.txt\",\"north, lane \"\"2\"\"\"\n"
            "55,12.3,Receding,2019Oct15,14:30:15,N45.50000000,E9.50000000, 4711,\"live,1.txt\","
            "\"north, lane \"\"2\"\"\"\n";
        QCOMPARE(cli.readAllStandardOutput(), lines);
        QCOMPARE(readAll(path), (before.isEmpty() ? kHeader : before) + lines);
        // The lidar was released from remote mode.
        QVERIFY(sim.receivedBytes().endsWith(kRemoteOff));
    }

    void refusals_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<QByteArray>("fileBefore");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("lidarTouched");
        QTest::newRow("not in speed mode")
            << QStringList{"--operation-mode", "2"} << QByteArray()
            << QStringLiteral("Please set the Lidar to \"Speed Mode\"") << true;
        QTest::newRow("output format 5")
            << QStringList{"--output-format-byte", "35"} << QByteArray()
            << QStringLiteral("Invalid lidar data output format: 5") << true;
        QTest::newRow("not a data file")
            << QStringList{} << QByteArray("a,b,c\n")
            << QStringLiteral("The selected file is not a Veltrazon Speed Lidar Data File") << false;
    }
    void refusals()
    {
        QFETCH(QStringList, simOptions);
        QFETCH(QByteArray, fileBefore);
        QFETCH(QString, message);
        QFETCH(bool, lidarTouched);
        LidarSim sim(simOptions);
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("live.txt"));
        if (!fileBefore.isEmpty())
            writeAll(path, fileBefore);

        QProcess cli;
        startCli(cli, {"live", "--port", sim.portPath(), "--output", path});
        QVERIFY(cli.waitForFinished(20000));
        QCOMPARE(cli.exitCode(), 1);
        QVERIFY2(cli.readAllStandardError().split('\n').contains(message.toUtf8()), qPrintable(message));
        QCOMPARE(cli.readAllStandardOutput(), QByteArray());
        QCOMPARE(readAll(path), fileBefore.isEmpty() ? kHeader : fileBefore);
        // A lidar that was put into remote mode is released again; a refused file never
        // reaches the lidar at all.
        if (lidarTouched)
            QVERIFY(sim.receivedBytes().endsWith(kRemoteOff));
        else
            QVERIFY(sim.receivedBytes().isEmpty());
    }

    void usage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no output") << QStringList{"live", "--port", "/dev/null"};
        QTest::newRow("no lidar") << QStringList{"live", "--output", "x.txt"};
        QTest::newRow("port and lidar") << QStringList{"live", "--port", "/dev/null", "--lidar", "A", "--output", "x"};
        QTest::newRow("count not a number") << QStringList{"live", "--port", "/dev/null", "--output", "x", "--count", "n"};
        QTest::newRow("seconds zero") << QStringList{"live", "--port", "/dev/null", "--output", "x", "--seconds", "0"};
    }
    void usage()
    {
        QFETCH(QStringList, args);
        QTemporaryDir dir;
        QProcess cli;
        cli.setWorkingDirectory(dir.path());
        startCli(cli, args);
        QVERIFY(cli.waitForFinished(10000));
        QCOMPARE(cli.exitCode(), 2);
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("x"))));
    }

    // SIGINT, SIGTERM and --seconds end the run cleanly: every printed line is in the file,
    // the lidar leaves remote mode, exit status 0.
    void endsCleanly_data()
    {
        QTest::addColumn<int>("signal");  // 0: --seconds ends it
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("--seconds") << 0;
    }
    void endsCleanly()
    {
        QFETCH(int, signal);
        LidarSim sim(textRecordOptions(300));
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("live.txt"));
        QStringList args{"live", "--port", sim.portPath(), "--output", path};
        if (signal == 0)
            args << "--seconds" << "3";

        QProcess cli;
        startCli(cli, args);
        QByteArray printed;
        QVERIFY(waitForLines(cli, printed, 2, 15000));
        if (signal != 0)
            ::kill(pid_t(cli.processId()), signal);
        QVERIFY(cli.waitForFinished(10000));
        printed += cli.readAllStandardOutput();
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 0);
        QCOMPARE(readAll(path), kHeader + printed);
        QVERIFY(sim.receivedBytes().endsWith(kRemoteOff));
    }

    // A line that was printed had been flushed to the file: killing the process loses none.
    void printedLinesSurviveKill()
    {
        LidarSim sim(textRecordOptions(250));
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("live.txt"));
        QProcess cli;
        startCli(cli, {"live", "--port", sim.portPath(), "--output", path});
        QByteArray printed;
        QVERIFY(waitForLines(cli, printed, 4, 15000));
        cli.kill();
        QVERIFY(cli.waitForFinished(5000));
        printed += cli.readAllStandardOutput();
        const QByteArray inFile = readAll(path);
        QVERIFY(inFile.startsWith(kHeader));
        for (const QByteArray &line : printed.split('\n')) {
            if (!line.isEmpty())
                QVERIFY2(inFile.contains(line + '\n'), line.constData());
        }
    }

    void vanishedPortEndsRun()
    {
        LidarSim sim(textRecordOptions(300) << "--vanish-after" << "2500");
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("live.txt"));
        QProcess cli;
        startCli(cli, {"live", "--port", sim.portPath(), "--name", "VZQ Demo 4711", "--output", path});
        QElapsedTimer timer;
        timer.start();
        QVERIFY(cli.waitForFinished(15000));
        QCOMPARE(cli.exitCode(), 1);
        const QList<QByteArray> messages = cli.readAllStandardError().trimmed().split('\n');
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].startsWith("Lidar VZQ Demo 4711: connection lost"), messages[0].constData());
        const QByteArray printed = cli.readAllStandardOutput();
        QVERIFY(!printed.isEmpty());
        QCOMPARE(readAll(path), kHeader + printed);
    }
};

QTEST_GUILESS_MAIN(TestCliLive)
#include "tst_clilive.moc"
