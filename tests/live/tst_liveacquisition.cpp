#include <QtTest>

#include "lidar/lidarconnection.h"
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
};

QTEST_GUILESS_MAIN(TestLiveAcquisition)
#include "tst_liveacquisition.moc"
