// A lidar that vanishes while the link is idle, during a live run and during a dump, over a
// tty and over a Bluetooth socket. The sequences that follow each end (the same for the window
// and the command line) release the link, tell the operator once (nothing when idle) and send
// the lidar nothing more.
#include <QTemporaryDir>
#include <QtTest>

#include "log/dumpreader.h"
#include "log/retrieval.h"
#include "simlink.h"

using namespace velomark;

class TestLinkLoss : public QObject
{
    Q_OBJECT
private slots:
    void vanished_data()
    {
        QTest::addColumn<QString>("phase");
        QTest::addColumn<bool>("bluetooth");
        for (const char *phase : {"idle", "live", "dump"}) {
            QTest::newRow(qPrintable(QStringLiteral("%1, tty").arg(phase))) << phase << false;
            QTest::newRow(qPrintable(QStringLiteral("%1, Bluetooth").arg(phase))) << phase << true;
        }
    }
    void vanished()
    {
        QFETCH(QString, phase);
        QFETCH(bool, bluetooth);
        if (bluetooth && !simlink::BluezStandIn::unavailable().isEmpty())
            QSKIP(qPrintable(simlink::BluezStandIn::unavailable()));
        QTemporaryDir dir;
        QStringList simArgs{"--firmware", "10.0", "--demo-log", "300", "--dump-baud", "20000", "--live-interval", "100"};
        if (bluetooth)
            simArgs << "--socket" << dir.filePath(QStringLiteral("lidar.sock"));
        simlink::LiveBench bench(simArgs);
        QVERIFY2(bench.prepare(), qPrintable(bench.sim.errorString()));
        simlink::BluezStandIn bluez;
        if (bluetooth) {
            QVERIFY(bluez.start({simlink::bluezLidar("unix:" + bench.sim.portPath())}));
            bench.connection.lidars.first().portName = bluetoothPortName(QStringLiteral("001122334455"));
        }
        QVERIFY(bench.connection.ConnectSelectedLidar(simlink::kName));

        QString told;
        if (phase == "idle") {
            bench.sim.vanish();
            QTest::qWait(200);
            // Refresh, Exit and shutdown release the link this way.
            bench.connection.CloseLidarPort();
        } else if (phase == "live") {
            QObject receiver;
            int buffers = 0;
            connect(&bench.reader, &rThread::speed_disp, &receiver, [&buffers] { ++buffers; }, Qt::QueuedConnection);
            QVERIFY(bench.start().started);
            bench.op.closeWait();
            QTRY_VERIFY_WITH_TIMEOUT(buffers >= 2, 5000);
            bench.sim.vanish();
            QTRY_VERIFY_WITH_TIMEOUT(bench.reader.isFinished(), 5000);
            QVERIFY(endLiveRun(bench.connection, &bench.reader, &receiver, bench.dataFile, simlink::kName, bench.op));
            QVERIFY(!bench.dataFile.isOpen());
            told = liveConnectionLostMessage(simlink::kName);
        } else {
            QCOMPARE(prepareRetrieval(bench.connection, simlink::kName, bench.op), PrepareOutcome::Ready);
            // Every byte of the dump passes the traced read of the link.
            simlink::TraceCapture wire("velomark.wire");
            QByteArray dump;
            QString pending;
            ThreadReadDataDump reader(dump, pending);
            reader.startDump(*bench.connection.transport());
            QTRY_VERIFY_WITH_TIMEOUT(reader.bytesReceived() > 0, 5000);
            bench.sim.vanish();
            QVERIFY(reader.wait(ThreadReadDataDump::kSilenceMs));
            bool shownIncomplete = false;
            const DownloadResult result = finishDownload(bench.connection, reader, simlink::kName, pending, bench.op,
                                                         [&](bool incomplete) { shownIncomplete = incomplete; });
            QCOMPARE(result.end, DownloadEnd::ConnectionLost);
            QVERIFY(shownIncomplete && !result.diagnosticModeLeft && !dump.isEmpty());
            QByteArray traced;
            for (const QString &line : wire.lines().filter(QStringLiteral("ThreadReadDataDump: RX ")))
                traced += QByteArray::fromHex(line.mid(line.indexOf(QLatin1String("RX ")) + 3).toLatin1());
            QCOMPARE(traced, dump);
            told = downloadLostMessage(simlink::kName);
        }
        QCOMPARE(bench.op.texts(), told.isEmpty() ? QStringList() : QStringList{told});
        QVERIFY(!bench.connection.isOpen() && bench.connection.connectedLidarName.isEmpty());
        // Nobody was left to hear a remote-off or DIAG leave frame.
        QVERIFY(!bench.sim.receivedBytes().endsWith(QByteArray::fromHex("020C0C03")));
        QVERIFY(!bench.sim.receivedBytes().contains(QByteArray::fromHex("02292903")));
    }
};

QTEST_GUILESS_MAIN(TestLinkLoss)
#include "tst_linkloss.moc"
