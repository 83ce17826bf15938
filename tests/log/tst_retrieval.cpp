#include <QtTest>

#include <csignal>
#include <memory>

#include "clirun.h"
#include "lidar/lidarconnection.h"
#include "log/downloadrecord.h"
#include "lidarsim.h"
#include "log/dumpreader.h"
#include "log/retrieval.h"
#include "recordingoperator.h"
#include "sampledump.h"

using namespace velomark;

namespace {

using namespace sampledump;

// Frames and keys, as hex, in the order the lidar must receive them.
const QByteArray kKeys = "257B3C";
const QByteArray kConfigRead = "0209585103";

// Standard error without its progress lines.
QByteArray withoutProgress(const QByteArray &err)
{
    static const QRegularExpression line(QStringLiteral("^Retrieving: \\d+ bytes, \\d+ lines, \\d+ s\n"),
                                         QRegularExpression::MultilineOption);
    return QString::fromUtf8(err).remove(line).toUtf8();
}

// The bytes a lidar sent after its echo of the DIAG frame: the dump and what followed it.
QByteArray sentAfterDiagEcho(const LidarSim &sim)
{
    const QByteArray sent = sim.sentBytes();
    return sent.mid(sent.indexOf(QByteArray::fromHex("02282803")) + 4);
}

// The one download archived in dir, checked against what the lidar sent: the dump file is the
// start of the bytes after the DIAG echo. The files' names, and the record's digest of its dump
// and the file it names, are the archive's (tst_downloadrecord: verify).
void checkArchived(const QString &dir, const LidarSim &sim, const QString &end, bool diagnosticModeLeft,
                   QJsonObject *record)
{
    const QStringList files = QDir(dir).entryList(QDir::Files, QDir::Name);  // NAME_TIME.dump and .json
    QCOMPARE(files.size(), 2);
    *record = QJsonDocument::fromJson(fileBytes(QDir(dir).filePath(files.last()))).object();
    const QJsonObject &r = *record;
    QCOMPARE(r.value("program").toString(), QStringLiteral(VELOMARK_PRODUCT_NAME " " VELOMARK_PRODUCT_VERSION));
    QCOMPARE(r.value("workstation").toString(), QSysInfo::machineHostName());
    QVERIFY(!r.value("operator").toString().isEmpty());
    QCOMPARE(r.value("lidar").toObject(), (QJsonObject{{"name", kLidarName}, {"address", ""}, {"port", sim.portPath()},
                                                       {"type", 5}, {"firmware", "10.0"}}));
    const QDateTime started = QDateTime::fromString(r.value("started").toString(), Qt::ISODate);
    const QDateTime finished = QDateTime::fromString(r.value("finished").toString(), Qt::ISODate);
    QVERIFY(r.value("started").toString().endsWith('Z') && started.isValid() && started <= finished);
    QVERIFY(qAbs(finished.secsTo(QDateTime::currentDateTimeUtc())) < 60);
    QCOMPARE(r.value("timeZone").toString(), QString::fromUtf8(QTimeZone::systemTimeZoneId()));
    QCOMPARE(r.value("end").toString(), end);
    QCOMPARE(r.value("diagnosticModeLeft").toBool(), diagnosticModeLeft);
    const QJsonObject dump = r.value("dump").toObject();
    const QByteArray sent = sentAfterDiagEcho(sim).left(dump.value("bytes").toInt());
    QVERIFY(!sent.isEmpty());
    QCOMPARE(fileBytes(QDir(dir).filePath(files.first())), sent);
}

}  // namespace

class TestRetrieval : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(!qgetenv("VELOMARK_CLI").isEmpty(), "VELOMARK_CLI is not set");
        QVERIFY(sampledump::writeStoredLog(m_storedLog));
    }

    // Every retrieval ends with 5 s of silence: the table starts them all at once. Runs are
    // --quiet unless they expect progress lines. The erase command's rows are here too: without
    // --yes answering its question it never reaches the lidar.
    void retrieveAndErase_data()
    {
        QTest::addColumn<int>("run");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<QByteArray>("stderrText");  // without progress lines
        QTest::addColumn<QByteArray>("frames");      // every byte the lidar received, as hex
        QTest::addColumn<QByteArray>("dump");        // the --dump file; empty when there is none
        QTest::addColumn<bool>("progress");          // at least one progress line

        const QByteArray id = "54321";
        // The first silence of 5 s ends the dump; what the lidar sends later is not part of it.
        QTest::newRow("9.3, a pause over 5 s ends the dump")
            << start({"--firmware", "9.3", "--dump-burst", QString::number(sampledump::kFirstTwoLines), "--dump-pause", "5600"},
                     {"--port", "%port", "--name", kLidarName}) << 0
            << sampledump::kCsvHeader + sampledump::csvLine(0, id) + sampledump::csvLine(1, id) << QByteArray()
            << kConnect + kFramedEnter + kFramedLeave + kRelease << sampledump::kDump.left(sampledump::kFirstTwoLines) << false;
        // About 6 s of dump: a progress line comes after 5 s.
        QTest::newRow("10.0 in bursts 2 s apart, date range, progress")
            << start({"--firmware", "10.0", "--dump-burst", "60", "--dump-pause", "2000"},
                     {"--port", "%port", "--name", "VZQ-77", "--from", "2024-12-25", "--to", "2024-12-31"}, {"retrieve"})
            << 0 << sampledump::kCsvHeader + sampledump::csvLine(0, "ZQ-77") << QByteArray()
            << kConnect + kFramedEnter + kFramedLeave + kRelease << sampledump::kDump << true;
        QTest::newRow("silent dump still leaves DIAG mode") << start({"--firmware", "9.3", "--fault", "34=silent"}, {"--port", "%port"})
            << 0 << sampledump::kCsvHeader << QByteArray("Retrieving memory data: No data found\n")
            << kConnect + kFramedEnter + kFramedLeave + kRelease << QByteArray() << false;
        QTest::newRow("DIAG frame without echo")
            << start({"--firmware", "10.0", "--fault", "28=silent"}, {"--port", "%port"}) << 1
            << QByteArray() << QByteArray() << kConnect + "02282803" + kRelease << QByteArray() << false;
        QTest::newRow("type 2 keeps no log") << start({"--model", "MSP:Brasko"}, {"--port", "%port"}) << 1 << QByteArray()
            << QByteArray("This lidar is not capable of logging data\n") << kConnect + kRelease << QByteArray() << false;
        // --port without --name: the Lidar_Id of the listed lidar on that port.
        QTest::newRow("leaving DIAG mode not echoed")
            << start({"--firmware", "10.0", "--fault", "29=silent"}, {"--port", "%port"}) << 1
            << sampledump::allRecordsCsv(id) << restoreFailedMessage(kLidarName).toUtf8() + '\n'
            << kConnect + kFramedEnter + kFramedLeave + kRelease << sampledump::kDump << false;
        // Replies that trickle in over more than a second are read whole, and bytes the lidar
        // adds after an echo stay with that echo: the firmware and every verdict stay right.
        const QByteArray keysRetrieval = kConnect + kConfigRead + "020A58164403" + kKeys + "59" + kKeys + kConfigRead
                                         + "020A58124003" + kRelease;
        QTest::newRow("9.2, DIAG status a byte at a time over 2 s")
            << start({"--firmware", "9.2", "--fault", "key=chunks:21:100"}, {"--port", "%port", "--name", kLidarName}) << 0
            << sampledump::allRecordsCsv(id) << QByteArray() << keysRetrieval << sampledump::kDump << false;
        QTest::newRow("identify text a byte at a time over 1.4 s")
            << start({"--firmware", "9.3", "--fault", "1E=chunks:24:60"}, {"--port", "%port", "--name", kLidarName}) << 0
            << sampledump::allRecordsCsv(id) << QByteArray() << kConnect + kFramedEnter + kFramedLeave + kRelease
            << sampledump::kDump << false;
        QTest::newRow("bytes after the remote-on echo")
            << start({"--firmware", "9.3", "--fault", "0B=late:60,once"}, {"--port", "%port", "--name", kLidarName}) << 0
            << sampledump::allRecordsCsv(id) << QByteArray() << kConnect + kFramedEnter + kFramedLeave + kRelease
            << sampledump::kDump << false;
        // The flags are restored, but the lidar never said it left DIAG mode: no success.
        QTest::newRow("9.2, Disabled never seen on leaving")
            << start({"--firmware", "9.2", "--no-disabled-reply"}, {"--port", "%port", "--name", kLidarName}) << 1
            << sampledump::allRecordsCsv(id) << QByteArray("The DIAG is still enabled in laser\n") << keysRetrieval
            << sampledump::kDump << false;
        QTest::newRow("--from after --to")
            << start({}, {"--port", "%port", "--from", "2025-01-02", "--to", "2025-01-01"}) << 2 << QByteArray()
            << QByteArray("velomark-cli: --from 2025-01-02 is after --to 2025-01-01\nTry 'velomark-cli --help'.\n")
            << QByteArray() << QByteArray() << false;
        const QByteArray question = "Do you want to erase the logged data in lidar ?";
        QTest::newRow("erase --yes") << start({}, {"--port", "%port", "--yes"}, {"erase"}) << 0
            << QByteArray("Command to erase lidar data is successful\n") << question + " yes\n"
            << kConnect + "02313103" + kRelease << QByteArray() << false;
        QTest::newRow("erase without --yes") << start({}, {"--port", "%port"}, {"erase"}) << 1 << QByteArray()
            << question + " no (answer with --yes)\n" << QByteArray() << QByteArray() << false;
    }
    void retrieveAndErase()
    {
        QFETCH(int, run);
        QFETCH(int, exitCode);
        Run &r = *m_runs.at(run);
        QVERIFY(!r.sim.portPath().isEmpty());
        const CliRun result = finishCli(r.cli);
        QTEST(withoutProgress(result.err), "stderrText");
        QTEST(result.err.contains("Retrieving: "), "progress");
        QCOMPARE(result.exitCode, exitCode);
        QTEST(result.out, "csv");
        QTEST(r.sim.receivedBytes().toHex().toUpper(), "frames");
        // The raw dump is kept byte for byte, whatever the decoder made of it.
        QTEST(QFile::exists(r.dump) ? fileBytes(r.dump) : QByteArray(), "dump");
    }

    // Ctrl-C (SIGTERM shares its handler, tested with the live command) in the middle of a
    // long download: the lidar leaves DIAG and remote mode at once, exit 1.
    void interruptedRetrievalReleasesTheLidar()
    {
        // A long log at the usual pace, which the lidar goes on sending after it echoed the
        // leave command: no read may wait for a pause.
        LidarSim sim({"--firmware", "10.0", "--demo-log", "2000", "--dump-outlasts-diag"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        QProcess cli;
        const QString dumpPath = m_dir.filePath(QStringLiteral("interrupted.bin"));
        const QString archive = m_dir.filePath(QStringLiteral("interrupted-archive"));
        startCli(cli, {"retrieve", "--port", sim.portPath(), "--name", kLidarName, "--dump", dumpPath, "--archive", archive});
        QVERIFY(sim.waitForState(QStringLiteral("dump start"), 10000));
        QTest::qWait(200);
        QElapsedTimer timer;
        timer.start();
        ::kill(pid_t(cli.processId()), SIGINT);
        const CliRun run = finishCli(cli);
        QVERIFY2(timer.elapsed() < ThreadReadDataDump::kSilenceMs, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err, QByteArray("velomark-cli: interrupted: the log is incomplete\n"));
        // What arrived before the interrupt is kept: the dump as received, its whole rows.
        const QByteArray dump = fileBytes(dumpPath);
        QVERIFY(!dump.isEmpty() && sentAfterDiagEcho(sim).startsWith(dump));
        QVERIFY(run.out.startsWith(sampledump::kCsvHeader) && run.out.count('\n') > 1);
        QVERIFY(sim.receivedBytes().toHex().toUpper().endsWith(kFramedLeave + kRelease));
        QJsonObject record;
        checkArchived(archive, sim, QStringLiteral("interrupted"), true, &record);
        QCOMPARE(record.value("dump").toObject().value("bytes").toInt(), dump.size());
    }

    // The log is erased only after a whole download, archived, with the lidar out of DIAG mode;
    // the record then says when. A cut download is no result: the rows and bytes that arrived
    // are written and archived, nothing more goes to the lidar, exit 1.
    void archivedDownloads_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("end");
        QTest::addColumn<QByteArray>("frames");  // every byte the lidar received, as hex
        QTest::addColumn<QByteArray>("err");
        QTest::addColumn<QByteArray>("csv");
        QTest::newRow("whole log, erased") << QStringList() << QStringList{"--erase-after"} << 0 << "complete"
                                           << kConnect + kFramedEnter + kFramedLeave + "02313103" + kRelease
                                           << QByteArray("Command to erase lidar data is successful\n")
                                           << sampledump::allRecordsCsv("54321");
        // The first two lines come 1.5 s before the port goes; bytes still under way when it
        // goes may be lost with it.
        QTest::newRow("lidar vanishes mid-dump")
            << QStringList{"--dump-burst", QString::number(sampledump::kFirstTwoLines), "--dump-pause", "1500",
                           "--vanish-after-dump-bytes", "100"}
            << QStringList() << 1 << "connectionLost" << kConnect + kFramedEnter
            << downloadLostMessage(kLidarName).toUtf8() + '\n'
            << sampledump::kCsvHeader + sampledump::csvLine(0, "54321") + sampledump::csvLine(1, "54321");
    }
    void archivedDownloads()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QStringList, options);
        QFETCH(QString, end);
        LidarSim sim(simArgs + QStringList{"--firmware", "10.0", "--stored-log", m_storedLog.fileName(), "--dump-baud", "1000000"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        const QString archive = m_dir.filePath(QStringLiteral("archive-") + QTest::currentDataTag());
        const QString csvPath = m_dir.filePath(QStringLiteral("archive-%1.csv").arg(QTest::currentDataTag()));
        const CliRun run = runCli(QStringList{"retrieve", "--quiet", "--port", sim.portPath(), "--name", kLidarName, "--archive",
                                   archive, "--output", csvPath} + options);
        QTEST(run.exitCode, "exitCode");
        QTEST(run.err, "err");
        QTEST(fileBytes(csvPath), "csv");
        QVERIFY(run.out.isEmpty());
        QTEST(sim.receivedBytes().toHex().toUpper(), "frames");
        QJsonObject record;
        checkArchived(archive, sim, end, end == QLatin1String("complete"), &record);
        const QJsonValue erased = record.value("erased");
        QCOMPARE(erased.isObject(), run.exitCode == 0);
        if (run.exitCode != 0)
            return;
        QCOMPARE(record.value("records").toObject(), (QJsonObject{{"valid", 3}, {"rejectedLines", 1},
                                                                  {"first", "2024-12-25 10:30:45"}, {"last", QJsonValue()}}));
        QVERIFY(QDateTime::fromString(erased.toObject().value("at").toString(), Qt::ISODate)
                >= QDateTime::fromString(record.value("finished").toString(), Qt::ISODate));
        const QJsonArray saved = record.value("saved").toArray();
        QCOMPARE(saved.size(), 1);
        QCOMPARE(saved.first().toObject().value("file").toString(), QFileInfo(csvPath).absoluteFilePath());
        QCOMPARE(saved.first().toObject().value("rows").toInt(), 3);
    }

    // A stop request made right after the start is not lost when the run begins later: the
    // dump ends at once as stopped, and the lidar leaves DIAG mode. (A lost link mid-dump is the
    // lost-link table's, lidar/tst_linkloss.)
    void earlyStop()
    {
        // A lidar in DIAG mode, about to dump a demo log, on a connection of this thread.
        LidarSim sim({"--firmware", "10.0", "--demo-log", "50", "--dump-baud", "20000"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        RecordingOperator op;
        LidarConnection connection(op);
        connection.lidars.append({QString(), kLidarName, sim.portPath()});
        QCOMPARE(prepareRetrieval(connection, kLidarName, op), PrepareOutcome::Ready);
        QByteArray dump;
        QString pending;
        ThreadReadDataDump reader(dump, pending);
        reader.startDump(*connection.transport());
        QElapsedTimer timer;
        timer.start();
        reader.requestStop();
        QVERIFY(reader.wait(10000));
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(connection.transport()->deviceThread(), QThread::currentThread());
        const DownloadResult result = finishDownload(connection, reader, kLidarName, pending, op, {});
        QVERIFY(result.end == DownloadEnd::Stopped && result.diagnosticModeLeft);
        QVERIFY2(op.messages.isEmpty(), qPrintable(op.texts().join(QLatin1Char('|'))));
    }

private:
    struct Run
    {
        LidarSim sim;
        QProcess cli;
        QString dump;
        explicit Run(const QStringList &args) : sim(args) {}
    };
    std::vector<std::unique_ptr<Run>> m_runs;
    QTemporaryFile m_storedLog;
    QTemporaryDir m_dir;

    // Starts the command (a retrieval with --dump) against a simulated lidar holding the
    // sample dump, listed by discovery as kLidarName.
    int start(const QStringList &simArgs, QStringList cliArgs, const QStringList &command = {"retrieve", "--quiet"})
    {
        auto &r = *m_runs.emplace_back(std::make_unique<Run>(
            simArgs + QStringList{"--stored-log", m_storedLog.fileName(), "--dump-baud", "1000000"}));
        r.sim.start();
        r.dump = m_dir.filePath(QStringLiteral("dump%1.bin").arg(m_runs.size()));
        cliArgs.replaceInStrings(QStringLiteral("%port"), r.sim.portPath());
        if (command.first() == QLatin1String("retrieve"))
            cliArgs << QStringLiteral("--dump") << r.dump;
        startCli(r.cli, command + cliArgs,
                 {"VELOMARK_LIDARS=" + kLidarName + QLatin1Char('=') + r.sim.portPath()});
        return int(m_runs.size()) - 1;
    }
};

QTEST_MAIN(TestRetrieval)
#include "tst_retrieval.moc"
