#include <QtTest>

#include <csignal>

#include "clirun.h"
#include "lidarsim.h"
#include "testbytes.h"

namespace {

// Two "$" text records with their own date: one with a position, one without a speed.
const QByteArray kPositionRecord("$SPD,SN4711,101519,143015,4530.0000,N,00930.0000,E,A,R,55,12.3,1\r\n");
const QByteArray kNoSpeedRecord("$SPD,SN4711,101519,143016,,,,,V,A,,0012.3,1,,,\r\n");
const QByteArray kRemoteOff = QByteArray::fromHex("020c0c03");

// The month of the date column follows the locale.
const QStringList kLocale{"LC_ALL=C"};

}  // namespace

class TestCliLive : public QObject
{
    Q_OBJECT
private slots:
    // A run from start to end. The data file byte for byte: quoted note and file name, the
    // Lidar_Id of --name, of the lidar listed on that port, or none (never the port path).
    // --count, --seconds and SIGTERM (SIGINT shares its handler, tested with retrieve) end it
    // cleanly: every printed line is in the file, the lidar leaves remote mode, exit status 0.
    // A port that vanishes ends the run with one message and exit status 1. Each line on disk
    // before the next is written, and appending to an existing file: tst_liverow prepare.
    void run_data()
    {
        QTest::addColumn<QStringList>("options");  // besides --port, --output and --note
        QTest::addColumn<QString>("listedName");   // listed by discovery on the sim's port
        QTest::addColumn<int>("signal");           // sent after three lines; -1: the port vanishes
        QTest::addColumn<QByteArray>("lidarId");
        QTest::addColumn<QByteArray>("err");
        const QStringList count{"--count", "3"}, name{"--name", "VZQ Demo 4711"};
        QTest::newRow("--name, --count") << name + count << QString() << 0 << QByteArray(" 4711") << QByteArray();
        QTest::newRow("--port of a listed lidar") << count << QStringLiteral("VZQ Field 0815") << 0 << QByteArray(" 0815")
                                                  << QByteArray();
        QTest::newRow("--port of no listed lidar") << count << QString() << 0 << QByteArray()
            << QByteArray("no lidar name given: Lidar_Id left empty (use --name)\n");
        QTest::newRow("--seconds") << name + QStringList{"--seconds", "3"} << QString() << 0 << QByteArray(" 4711")
                                   << QByteArray();
        QTest::newRow("SIGTERM") << name << QString() << int(SIGTERM) << QByteArray(" 4711") << QByteArray();
        QTest::newRow("vanished port") << name << QString() << -1 << QByteArray(" 4711")
                                       << QByteArray("Lidar VZQ Demo 4711: connection lost\n");
    }
    void run()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, listedName);
        QFETCH(int, signal);
        QFETCH(QByteArray, lidarId);
        LidarSim sim(QStringList{"--live-record", hexArg(kPositionRecord), "--live-record", hexArg(kNoSpeedRecord),
                                 "--live-interval", "250"}
                     << (signal < 0 ? QStringList{"--vanish-after", "2500"} : QStringList()));
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("live,1.txt"));

        // The list never comes from the system's look-up.
        const QString listed = listedName.isEmpty() ? QStringLiteral("VZQ Other=/dev/null") : listedName + '=' + sim.portPath();
        QProcess cli;
        startCli(cli, QStringList{"live", "--output", path, "--note", "north, lane \"2\"", "--port", sim.portPath()} + options,
                 kLocale + QStringList{"VELOMARK_LIDARS=" + listed});
        QByteArray printed;
        QTRY_VERIFY_WITH_TIMEOUT((printed += cli.readAllStandardOutput()).count('\n') >= 3, 15000);
        if (signal > 0)
            ::kill(pid_t(cli.processId()), signal);
        QVERIFY(cli.waitForFinished(10000));
        printed += cli.readAllStandardOutput();
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), signal < 0 ? 1 : 0);
        QTEST(cli.readAllStandardError(), "err");

        // The lidar repeats its two records.
        const QByteArray end = lidarId + ",\"live,1.txt\",\"north, lane \"\"2\"\"\"\n";
        const QByteArray twoLines = "55,12.3,Receding,2019Oct15,14:30:15,N45.50000000,E9.50000000," + end
            + ",12.3,Approaching,2019Oct15,14:30:16,,," + end;
        QCOMPARE(printed, twoLines.repeated(printed.count('\n')).left(printed.size()));
        QVERIFY(!options.contains(QStringLiteral("--count")) || printed.count('\n') == 3);
        QCOMPARE(fileBytes(path), kLiveHeader + printed);
        // The lidar was released from remote mode.
        QVERIFY(signal < 0 || sim.receivedBytes().endsWith(kRemoteOff));
    }

    // Every command that connects adds the system's reason to "please make sure it is powered on"
    // (identify: tst_connection).
    void openFailureTellsTheReason_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("live") << QStringList{"live", "--output", "%dir/live.txt"};
        QTest::newRow("retrieve") << QStringList{"retrieve"};
        QTest::newRow("erase") << QStringList{"erase", "--yes"};
    }
    void openFailureTellsTheReason()
    {
        QFETCH(QStringList, args);
        QTemporaryDir dir;
        args.replaceInStrings(QStringLiteral("%dir"), dir.path());
        const CliRun run = runCli(args + QStringList{"--port", dir.filePath(QStringLiteral("gone")), "--name", "VZQ 1"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(('\n' + run.err).endsWith("\nLidar VZQ 1 : please make sure it is powered on\nNo such file or directory\n"),
                 run.err.constData());
    }

    // Usage errors (exit 2) create no file and never reach the lidar. A refused lidar or data
    // file (exit 1) is said and leaves the file as it was; a lidar that was put into remote mode
    // is released again, a refused file never reaches the lidar at all.
    void refusals_data()
    {
        QTest::addColumn<QStringList>("args");  // %port and %file stand for the sim's port and the data file
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<QByteArray>("fileBefore");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const QStringList both{"--port", "%port", "--output", "%file"};
        QTest::newRow("output format 5") << both << QStringList{"--output-format-byte", "35"} << QByteArray() << 1
                                         << QStringLiteral("Invalid lidar data output format: 5");
        QTest::newRow("not a data file") << both << QStringList{} << QByteArray("a,b,c\n") << 1
                                         << QStringLiteral("The selected file is not a Veltrazon Speed Lidar Data File");
        QTest::newRow("no output") << QStringList{"--port", "%port"} << QStringList{} << QByteArray() << 2 << QString();
        QTest::newRow("no lidar") << QStringList{"--output", "%file"} << QStringList{} << QByteArray() << 2 << QString();
    }
    void refusals()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, simOptions);
        QFETCH(QByteArray, fileBefore);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        LidarSim sim(simOptions);
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("live.txt"));
        if (!fileBefore.isEmpty())
            QVERIFY(writeFileBytes(path, fileBefore));

        args.replaceInStrings(QStringLiteral("%port"), sim.portPath()).replaceInStrings(QStringLiteral("%file"), path);
        const CliRun run = runCli(QStringList{"live"} + args, kLocale);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.out, QByteArray());
        if (exitCode == 2) {
            QVERIFY(!QFile::exists(path) && sim.receivedBytes().isEmpty());
            return;
        }
        QVERIFY2(run.err.split('\n').contains(message.toUtf8()), qPrintable(message));
        QCOMPARE(fileBytes(path), fileBefore.isEmpty() ? kLiveHeader : fileBefore);
        QVERIFY(fileBefore.isEmpty() ? sim.receivedBytes().endsWith(kRemoteOff) : sim.receivedBytes().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCliLive)
#include "tst_clilive.moc"
