#include <QtTest>

#include <csignal>

#include "lidar/lidarconnection.h"
#include "lidarsim.h"
#include "log/dumpreader.h"
#include "log/retrieval.h"
#include "recordingoperator.h"
#include "sampledump.h"

using namespace velomark;

namespace {

const QString kLidarName = QStringLiteral("VZQ Sim 54321");

// Frames and keys, as hex, in the order the lidar must receive them.
const QByteArray kConnect = "020B0B03021E1E03";
const QByteArray kRelease = "020C0C03";
const QByteArray kFramedEnter = "0228280302343403";
const QByteArray kFramedLeave = "02292903";
const QByteArray kKeys = "257B3C";
const QByteArray kConfigRead = "0209585103";

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

QProcess *startCli(const QStringList &args, const QString &lidars = QString())
{
    auto *process = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!lidars.isEmpty())
        env.insert(QStringLiteral("VELOMARK_LIDARS"), lidars);
    process->setProcessEnvironment(env);
    process->start(QString::fromLocal8Bit(qgetenv("VELOMARK_CLI")), args);
    return process;
}

Run finish(QProcess *process)
{
    Run run;
    if (process->waitForFinished(30000)) {
        run.exitCode = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -2;
        run.out = process->readAllStandardOutput();
        run.err = process->readAllStandardError();
    }
    delete process;
    return run;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

}  // namespace

// Whole retrievals through the command line, and the dump thread's own rules, against the
// simulated lidar.
class TestRetrieval : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("LIDAR_SIM"))
            QSKIP("LIDAR_SIM is not set");
        QVERIFY2(!qgetenv("VELOMARK_CLI").isEmpty(), "VELOMARK_CLI is not set");
        QVERIFY(sampledump::writeStoredLog(m_storedLog));
        QVERIFY(m_dir.isValid());
    }

    void retrieveCommand_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QStringList>("cliArgs");  // %port, %dir replaced
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<QByteArray>("stderrText");
        QTest::addColumn<QByteArray>("frames");  // every byte the lidar received, as hex

        const QByteArray id = "54321";
        QTest::newRow("9.2 by discovery, Enabled on the second key attempt")
            << QStringList{"--firmware", "9.2", "--diag-enable-on-attempt", "2"}
            << QStringList{"--lidar", kLidarName} << 0 << sampledump::allRecordsCsv(id) << QByteArray()
            << kConnect + kConfigRead + "020A58164403" + kKeys + kKeys + "59" + kKeys + kConfigRead
                   + "020A58124003" + kRelease;
        QTest::newRow("9.3 into a file")
            << QStringList{"--firmware", "9.3"}
            << QStringList{"--port", "%port", "--name", kLidarName, "--output", "%dir/log.csv"} << 0
            << sampledump::allRecordsCsv(id) << QByteArray()
            << kConnect + kFramedEnter + kFramedLeave + kRelease;
        QTest::newRow("10.0 in bursts 2 s apart, date range")
            << QStringList{"--firmware", "10.0", "--dump-burst", "60", "--dump-pause", "2000"}
            << QStringList{"--port", "%port", "--name", "VZQ-77", "--from", "2024-12-25", "--to", "2024-12-31"}
            << 0 << sampledump::kCsvHeader + sampledump::csvLine(0, "ZQ-77") << QByteArray()
            << kConnect + kFramedEnter + kFramedLeave + kRelease;
        QTest::newRow("silent dump still leaves DIAG mode")
            << QStringList{"--firmware", "9.3", "--fault", "34=silent"}
            << QStringList{"--port", "%port"} << 0 << sampledump::kCsvHeader
            << QByteArray("Retrieving memory data: No data found\n")
            << kConnect + kFramedEnter + kFramedLeave + kRelease;
        QTest::newRow("DIAG frame without echo")
            << QStringList{"--firmware", "10.0", "--fault", "28=silent"} << QStringList{"--port", "%port"} << 1
            << QByteArray() << QByteArray() << kConnect + "02282803" + kRelease;
        QTest::newRow("type 2 keeps no log")
            << QStringList{"--model", "MSP:Brasko"} << QStringList{"--port", "%port"} << 1 << QByteArray()
            << QByteArray("This lidar is not capable of logging data\n") << kConnect + kRelease;
    }
    void retrieveCommand()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QStringList, cliArgs);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, csv);
        QFETCH(QByteArray, stderrText);
        QFETCH(QByteArray, frames);
        LidarSim sim(simArgs + QStringList{"--stored-log", m_storedLog.fileName(), "--dump-baud", "1000000"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        const QString dumpPath = m_dir.filePath(QStringLiteral("dump.bin"));
        QFile::remove(dumpPath);
        cliArgs.replaceInStrings(QStringLiteral("%port"), sim.portPath());
        cliArgs.replaceInStrings(QStringLiteral("%dir"), m_dir.path());

        const Run run = finish(startCli(QStringList{"retrieve", "--dump", dumpPath} + cliArgs,
                                        kLidarName + QLatin1Char('=') + sim.portPath()));
        QCOMPARE(run.err, stderrText);
        QCOMPARE(run.exitCode, exitCode);
        const int output = cliArgs.indexOf(QStringLiteral("--output"));
        if (output >= 0) {
            QVERIFY(run.out.isEmpty());
            QCOMPARE(readFile(cliArgs.at(output + 1)), csv);
        } else {
            QCOMPARE(run.out, csv);
        }
        QCOMPARE(sim.receivedBytes().toHex().toUpper(), frames);
        if (exitCode == 0) {
            // The raw dump is kept byte for byte, whatever the decoder made of it.
            QCOMPARE(readFile(dumpPath), simArgs.contains("34=silent") ? QByteArray() : sampledump::kDump);
        }
    }

    void interruptedRetrievalReleasesTheLidar_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGTERM") << int(SIGTERM);
    }
    void interruptedRetrievalReleasesTheLidar()
    {
        QFETCH(int, signalNumber);
        // About a second of dump: still running when the signal comes. The lidar goes on
        // sending after the stop, so the echo of the leave command comes at its end.
        LidarSim sim({"--firmware", "10.0", "--demo-log", "50", "--dump-baud", "20000"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        QProcess *process = startCli({"retrieve", "--port", sim.portPath()});
        QVERIFY(sim.waitForState(QStringLiteral("dump start"), 10000));
        QTest::qWait(200);
        QElapsedTimer timer;
        timer.start();
        ::kill(pid_t(process->processId()), signalNumber);
        const Run run = finish(process);
        QVERIFY2(timer.elapsed() < ThreadReadDataDump::kSilenceMs, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err, QByteArray("velomark-cli: retrieval interrupted\n"));
        QVERIFY(run.out.isEmpty());
        QVERIFY(sim.receivedBytes().toHex().toUpper().endsWith(kFramedLeave + kRelease));
        QCOMPARE(sim.states().last(), QStringLiteral("remote off"));
    }

    void eraseCommand_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<bool>("erased");
        QTest::newRow("with --yes") << QStringList{"--yes"} << 0
                                    << QByteArray("Command to erase lidar data is successful\n") << true;
        QTest::newRow("without --yes") << QStringList() << 1 << QByteArray() << false;
    }
    void eraseCommand()
    {
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, out);
        QFETCH(bool, erased);
        LidarSim sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        const Run run = finish(startCli(QStringList{"erase", "--port", sim.portPath()} + options));
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.out, out);
        QVERIFY(run.err.startsWith("Do you want to erase the logged data in lidar ?"));
        QCOMPARE(sim.states().contains(QStringLiteral("erase")), erased);
    }

    // A stop request made right after the start is not lost when the run begins later.
    void earlyStopRequestEndsTheDump()
    {
        LidarSim sim({"--firmware", "10.0", "--demo-log", "50", "--dump-baud", "20000"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        RecordingOperator op;
        LidarConnection connection(op);
        connection.lidars.append({QString(), kLidarName, sim.portPath()});
        QCOMPARE(prepareRetrieval(connection, kLidarName, op), PrepareOutcome::Ready);

        QByteArray dump("old");
        QString pending;
        ThreadReadDataDump reader(connection.port(), dump, pending);
        QElapsedTimer timer;
        timer.start();
        reader.startDump();
        reader.requestStop();
        QVERIFY(reader.wait(3000));
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(connection.port().thread(), QThread::currentThread());
        QVERIFY(pending.isEmpty());
        QVERIFY(restoreFromDiagMode(connection, op));
        QVERIFY2(op.messages.isEmpty(), qPrintable(op.texts().join(QLatin1Char('|'))));
    }

    // A port that disappears in the middle of a dump ends it at once, with what had arrived.
    void vanishedPortEndsTheDump()
    {
        LidarSim sim({"--firmware", "10.0", "--demo-log", "50", "--dump-baud", "3000"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        RecordingOperator op;
        LidarConnection connection(op);
        connection.lidars.append({QString(), kLidarName, sim.portPath()});
        QCOMPARE(prepareRetrieval(connection, kLidarName, op), PrepareOutcome::Ready);

        QByteArray dump;
        QString pending;
        ThreadReadDataDump reader(connection.port(), dump, pending);
        reader.startDump();
        QTRY_VERIFY(reader.bytesReceived() > 0);
        QElapsedTimer timer;
        timer.start();
        sim.vanish();
        QVERIFY(reader.wait(10000));
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(!dump.isEmpty());
        QVERIFY(pending.isEmpty());
        QCOMPARE(connection.port().thread(), QThread::currentThread());
    }

    // The first silence of 5 s ends the dump; what the lidar sends later is not part of it.
    void pauseOverFiveSecondsEndsTheDump()
    {
        LidarSim sim({"--firmware", "10.0", "--stored-log", m_storedLog.fileName(), "--dump-baud", "1000000",
                      "--dump-burst", QString::number(sampledump::kFirstTwoLines), "--dump-pause", "5600"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        RecordingOperator op;
        LidarConnection connection(op);
        connection.lidars.append({QString(), kLidarName, sim.portPath()});
        QCOMPARE(prepareRetrieval(connection, kLidarName, op), PrepareOutcome::Ready);

        QByteArray dump;
        QString pending;
        ThreadReadDataDump reader(connection.port(), dump, pending);
        QSignalSpy progress(&reader, &ThreadReadDataDump::progress);
        QElapsedTimer timer;
        timer.start();
        reader.startDump();
        QVERIFY(reader.wait(10000));
        const qint64 elapsed = timer.elapsed();
        QVERIFY2(elapsed >= ThreadReadDataDump::kSilenceMs && elapsed < 5600, qPrintable(QString::number(elapsed)));
        QCOMPARE(dump, sampledump::kDump.left(sampledump::kFirstTwoLines));
        QVERIFY(pending.isEmpty());
        QCOMPARE(reader.bytesReceived(), qint64(sampledump::kFirstTwoLines));
        QCOMPARE(reader.linesReceived(), qint64(2));
        QTRY_VERIFY(!progress.isEmpty());
        QCOMPARE(progress.last().at(0).toLongLong(), qint64(sampledump::kFirstTwoLines));
        QCOMPARE(progress.last().at(1).toLongLong(), qint64(2));
        QCOMPARE(connection.port().thread(), QThread::currentThread());
        QVERIFY(restoreFromDiagMode(connection, op));
    }

private:
    QTemporaryFile m_storedLog;
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestRetrieval)
#include "tst_retrieval.moc"
