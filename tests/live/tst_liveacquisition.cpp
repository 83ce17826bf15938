#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

#include "lidar/lidarconnection.h"
#include "lidar/queries.h"
#include "lidarsim.h"
#include "live/liveacquisition.h"
#include "live/livedatafile.h"
#include "live/livereader.h"
#include "recordingoperator.h"

using namespace velomark;

namespace {

const QString kLidarName = QStringLiteral("VZQ Demo 4711");
const QString kPreparing = QStringLiteral("Preparing lidar target acquisition, please wait ...");
const QString kSpeedMode = QStringLiteral("Please set the Lidar to \"Speed Mode\"");
const QByteArray kBinaryRecord = QByteArray::fromHex("021504003704D201F103");

// Points the descriptor that has `path` open at /dev/full, so that the next write fails
// with "No space left on device" exactly as on a full disk.
bool fillDiskUnder(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    const int full = ::open("/dev/full", O_WRONLY);
    if (full < 0)
        return false;
    bool found = false;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &entry : fds.entryList(QDir::Files | QDir::System)) {
        if (QFile::symLinkTarget(fds.filePath(entry)) == canonical && entry.toInt() != full) {
            found = ::dup2(full, entry.toInt()) >= 0;
            break;
        }
    }
    ::close(full);
    return found;
}

}  // namespace

class TestLiveAcquisition : public QObject
{
    Q_OBJECT
private slots:
    // Start's checks, in order: each refusal has its own message, leaves the port open,
    // never asks for a reader and closes the please-wait window.
    void startChecks_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("removeFolder");  // the data file's folder is gone at Start
        QTest::addColumn<bool>("started");
        QTest::addColumn<int>("outputFormat");   // -1: the query was not reached
        QTest::addColumn<QString>("lastMessage");

        QTest::newRow("speed mode, format 3") << QStringList{} << false << true << 3 << QString();
        QTest::newRow("speed mode, format 1")
            << QStringList{"--output-format-byte", "31"} << false << true << 1 << QString();
        QTest::newRow("not in speed mode")
            << QStringList{"--operation-mode", "2"} << false << false << -1 << kSpeedMode;
        QTest::newRow("mode query unanswered")
            << QStringList{"--fault", "09:05=silent"} << false << false << -1 << kSpeedMode;
        QTest::newRow("output format 5")
            << QStringList{"--output-format-byte", "35"} << false << false << 5
            << QStringLiteral("Invalid lidar data output format: 5");
        QTest::newRow("output format 0")
            << QStringList{"--output-format-byte", "30"} << false << false << 0
            << QStringLiteral("Invalid lidar data output format: 0");
        QTest::newRow("data file cannot be opened")
            << QStringList{} << true << false << 3 << QStringLiteral("Open data file %1 failed with error: %2");
    }
    void startChecks()
    {
        QFETCH(QStringList, options);
        QFETCH(bool, removeFolder);
        QFETCH(bool, started);
        QFETCH(int, outputFormat);
        QFETCH(QString, lastMessage);

        LidarSim sim(options);
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("shift"));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + QStringLiteral("/live.txt");

        RecordingOperator op;
        LiveDataFile dataFile;
        QVERIFY(dataFile.prepare(path, op));
        if (removeFolder) {
            dataFile.close();
            QVERIFY(QDir(folder).removeRecursively());
            lastMessage = lastMessage.arg(QDir::toNativeSeparators(path), QStringLiteral("No such file or directory"));
        }

        LidarConnection connection(op);
        connection.lidars.append(LidarEntry{QString(), kLidarName, sim.portPath()});
        rThread reader;
        int readerRequests = 0;
        const LiveStartResult result = startLiveAcquisition(connection, kLidarName, dataFile, [&] {
            ++readerRequests;
            return &reader;
        });

        QCOMPARE(result.started, started);
        QCOMPARE(result.outputFormat.value_or(-1), outputFormat);
        QCOMPARE(readerRequests, started ? 1 : 0);
        QCOMPARE(reader.isRunning(), started);
        QCOMPARE(op.waitTexts, QStringList{kPreparing});
        // Success leaves the window open for the caller, which closes it once it runs.
        QCOMPARE(op.waitOpen, started);
        QVERIFY(connection.port().isOpen());
        QCOMPARE(connection.connectedLidarName, kLidarName);
        if (lastMessage.isEmpty()) {
            QVERIFY2(op.messages.isEmpty(), qPrintable(op.texts().join('|')));
        } else {
            QVERIFY(!op.messages.isEmpty());
            QCOMPARE(op.messages.last().title, QStringLiteral("Veltrazon Data Logger"));
            QCOMPARE(op.messages.last().text, lastMessage);
        }
        QCOMPARE(dataFile.isOpen(), !removeFolder);

        stopLiveReader(&reader);
        QVERIFY(!reader.isRunning());
        QCOMPARE(connection.port().thread(), QThread::currentThread());
    }

    void unknownLidarIsNotStarted()
    {
        RecordingOperator op;
        QTemporaryDir dir;
        LiveDataFile dataFile;
        QVERIFY(dataFile.prepare(dir.filePath(QStringLiteral("live.txt")), op));
        LidarConnection connection(op);
        bool readerAsked = false;
        const LiveStartResult result = startLiveAcquisition(connection, kLidarName, dataFile, [&] {
            readerAsked = true;
            return nullptr;
        });
        QVERIFY(!result.started);
        QVERIFY(!result.outputFormat);
        QVERIFY(!readerAsked);
        QVERIFY(!op.waitOpen);
        QVERIFY(!connection.port().isOpen());
    }

    // After Stop the port belongs to the event-loop thread again and the lidar answers there.
    void portWorksAfterStop()
    {
        LidarSim sim({"--output-format-byte", "31", "--live-format", "1", "--live-record",
                      QString::fromLatin1(kBinaryRecord.toHex()), "--live-interval", "300"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        QTemporaryDir dir;
        RecordingOperator op;
        LiveDataFile dataFile;
        QVERIFY(dataFile.prepare(dir.filePath(QStringLiteral("live.txt")), op));
        LidarConnection connection(op);
        connection.lidars.append(LidarEntry{QString(), kLidarName, sim.portPath()});

        rThread reader;
        QList<QByteArray> buffers;
        connect(&reader, &rThread::speed_disp, this, [&buffers](const QByteArray &b) { buffers << b; });
        for (int run = 0; run < 2; ++run) {
            buffers.clear();
            QVERIFY(startLiveAcquisition(connection, kLidarName, dataFile, [&] { return &reader; }).started);
            QTRY_VERIFY_WITH_TIMEOUT(buffers.size() >= 2, 5000);
            stopLiveReader(&reader);
            QCOMPARE(connection.port().thread(), QThread::currentThread());
            QCOMPARE(QueryLidarOperationMode(connection), 1);
        }
        QVERIFY2(op.messages.isEmpty(), qPrintable(op.texts().join('|')));
    }

    // Shutdown's limit: a silent lidar still lets the reader end within its grace.
    void shutdownEndsReaderWithinGrace()
    {
        LidarSim sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        QSerialPort port;
        port.setPortName(sim.portPath());
        QVERIFY(port.open(QIODevice::ReadWrite));
        rThread reader;
        QVERIFY(reader.startReading(&port, 3));
        QTest::qWait(200);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(stopLiveReaderForShutdown(&reader));
        QVERIFY2(timer.elapsed() < 2500, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(port.thread(), QThread::currentThread());
        QVERIFY(stopLiveReaderForShutdown(nullptr));
    }

    // A failing write is told once per run with the file's name and the system's reason; a
    // new run tells it again.
    void writeFailureToldOncePerRun()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("live.txt"));
        RecordingOperator op;
        LiveDataFile dataFile;
        QVERIFY(dataFile.prepare(path, op));
        SpeedRecord record;
        record.speed = 55;
        record.range = 1234;
        record.metric = true;

        LiveRun run(kLidarName, path, QStringLiteral("note"));
        QVERIFY(run.write(dataFile, run.dataLine(record), op));
        QVERIFY(fillDiskUnder(path));
        for (int i = 0; i < 3; ++i)
            QVERIFY(!run.write(dataFile, run.dataLine(record), op));
        const QString expected = QStringLiteral("Open data file %1 failed with error: No space left on device")
                                     .arg(QDir::toNativeSeparators(path));
        QCOMPARE(op.texts(), QStringList{expected});
        QCOMPARE(op.messages[0].title, QStringLiteral("Veltrazon Data Logger"));

        LiveRun nextRun(kLidarName, path, QString());
        QVERIFY(!nextRun.write(dataFile, nextRun.dataLine(record), op));
        QCOMPARE(op.messages.size(), 2);
    }

    void runKeepsItsLabels()
    {
        SpeedRecord record;
        record.speed = 55;
        record.range = 1234;
        record.metric = true;
        record.dateTime = QDateTime(QDate(2019, 10, 15), QTime(14, 30, 15));
        const LiveRun run(kLidarName, QStringLiteral("/data/shift,1.txt"), QStringLiteral("lane \"2\""));
        QCOMPARE(run.rowTexts(record).last(), QStringLiteral(" 4711"));
        QVERIFY(run.dataLine(record).endsWith(QStringLiteral(", 4711,\"shift,1.txt\",\"lane \"\"2\"\"\"\n")));
        QCOMPARE(liveConnectionLostMessage(kLidarName), QStringLiteral("Lidar VZQ Demo 4711: connection lost"));
    }
};

QTEST_GUILESS_MAIN(TestLiveAcquisition)
#include "tst_liveacquisition.moc"
