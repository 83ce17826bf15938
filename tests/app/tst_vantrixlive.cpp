#include <QtTest>
#include <QtWidgets>

#include <fcntl.h>
#include <unistd.h>

#include "lidar/queries.h"
#include "live/livereader.h"
#include "simlink.h"
#include "simwindow.h"

namespace {

// The simulated lidar, listed first, and another one.
const QString kLidar = QStringLiteral("VZQ Demo 4711");
const QString kOther = QStringLiteral("VZQ Demo 9922=/dev/null");
const QString kPreparing = QStringLiteral("Preparing lidar target acquisition, please wait ...");
// A binary lidar sending 55 km/h, 123.4 m every 300 ms.
const QStringList kBinaryLidar = {"--output-format-byte", "31", "--live-format", "1", "--live-record",
                                  "021504003704D201F103", "--live-interval", "300"};

// The lines of the data file below its header.
QList<QByteArray> dataLines(const QString &path)
{
    QList<QByteArray> lines = fileBytes(path).split('\n').mid(1);
    lines.removeAll(QByteArray());
    return lines;
}

// Points the descriptor that has `path` open at /dev/full: the next write fails with
// "No space left on device" exactly as on a full disk.
bool fillDiskUnder(const QString &path)
{
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::Files | QDir::System)) {
        if (QFile::symLinkTarget(fds.filePath(fd)) == QFileInfo(path).canonicalFilePath()) {
            const int full = ::open("/dev/full", O_WRONLY);
            const bool pointed = full >= 0 && ::dup2(full, fd.toInt()) >= 0;
            ::close(full);
            return pointed;
        }
    }
    return false;
}

}  // namespace

class TestVantrixLive : public QObject
{
    Q_OBJECT
private slots:
    // Start shows rows, Stop keeps the lidar, a second run appends, and a Start refused after
    // them leaves the window ready.
    void startShowsRowsAndStopKeepsTheLidar()
    {
        SimWindow w(kBinaryLidar);
        QVERIFY2(w.start(kLidar, kOther), qPrintable(w.sim.errorString()));
        QVERIFY(QDir().mkpath(w.dir.filePath(QStringLiteral("shift"))));
        w.chooseDataFile(QStringLiteral("shift/live.txt"));
        w.ui().lineEditNote->setText(QStringLiteral("north, lane 2"));

        w.dialog.OnBtnStartClicked();
        QCOMPARE(w.op.waitTexts, QStringList{kPreparing});
        QVERIFY(!w.op.waitOpen);
        QCOMPARE(w.ui().pushButtonStart->text(), QStringLiteral("Stop"));
        QVERIFY(w.ui().pushButtonStart->isEnabled());
        // While it runs only Stop and the buttons that are always there stay usable.
        for (QWidget *idleOnly : std::initializer_list<QWidget *>{w.ui().pushButtonDataFile, w.ui().lineEditNote,
                                                                  w.ui().tabDataRetrieval, w.ui().pushButtonRefresh})
            QVERIFY2(!idleOnly->isEnabled(), qPrintable(idleOnly->objectName()));
        velomark::rThread *reader = w.dialog.liveReader;
        QVERIFY(reader);

        QTRY_VERIFY_WITH_TIMEOUT(w.rows() >= 2, 5000);
        w.dialog.OnBtnStartClicked();
        QCOMPARE(w.op.waitTexts, (QStringList{kPreparing, "Stopping lidar target acquisition, please wait ..."}));
        QVERIFY(!w.op.waitOpen);
        QCOMPARE(w.ui().pushButtonStart->text(), QStringLiteral("Start"));
        QVERIFY(w.ui().pushButtonRefresh->isEnabled() && w.ui().tabDataRetrieval->isEnabled()
                && w.ui().pushButtonDataFile->isEnabled() && w.ui().lineEditNote->isEnabled());
        QVERIFY(!w.dialog.dataFile.isOpen());
        // The lidar stays connected and in remote mode, and the port answers on this thread.
        QVERIFY(w.dialog.connection().isOpen());
        QVERIFY(!w.sim.receivedBytes().contains(QByteArray::fromHex("020c0c03")));
        QCOMPARE(velomark::QueryLidarOperationMode(w.dialog.connection()), 1);

        // A second run reuses the reader and appends to the same file below the first.
        const int firstRunRows = w.rows();
        w.dialog.OnBtnStartClicked();
        QCOMPARE(w.dialog.liveReader, reader);
        // Selecting another lidar while one measures must not relabel its measurements.
        w.ui().listWidgetLidars->setCurrentRow(1);
        QTRY_VERIFY_WITH_TIMEOUT(w.rows() >= firstRunRows + 1, 5000);
        // The event loop is held, so the reader's next buffers wait in the queue: Stop must
        // still show and write them, and nothing arrives after it.
        const int shown = w.rows();
        QThread::msleep(1300);
        w.dialog.OnBtnStartClicked();
        QVERIFY(w.rows() >= shown + 3);
        const int afterStop = w.rows();
        QTest::qWait(700);
        QCOMPARE(w.rows(), afterStop);

        QVERIFY(fileBytes(w.path).startsWith(kLiveHeader) && fileBytes(w.path).count(kLiveHeader) == 1);
        const QList<QByteArray> lines = dataLines(w.path);
        QCOMPARE(lines.size(), w.rows());
        const QByteArray today = QLocale::system().toString(QDate::currentDate(), QStringLiteral("yyyyMMMdd")).toUtf8();
        for (int row = 0; row < w.rows(); ++row) {
            QCOMPARE(QStringList({w.text(row, 0), w.text(row, 1), w.text(row, 7)}).join('|'),
                     QStringLiteral("55 km/h|123.4 m| 4711"));
            QVERIFY2(lines[row].startsWith("55,123.4,Approaching," + today + ','), lines[row].constData());
            QVERIFY2(lines[row].endsWith(",,, 4711,live.txt,\"north, lane 2\""), lines[row].constData());
        }
        QVERIFY2(w.op.messages.isEmpty(), qPrintable(w.op.texts().join('|')));

        // A Start refused (here: the data file's folder went away since Stop) leaves the window
        // ready, starts no run and says why once.
        w.ui().listWidgetLidars->setCurrentRow(0);
        QVERIFY(QDir(w.dir.filePath(QStringLiteral("shift"))).removeRecursively());
        w.dialog.OnBtnStartClicked();
        QVERIFY(!w.dialog.liveRunning && !reader->isRunning());
        QCOMPARE(simlink::shown(w.op), QStringList{QStringLiteral("K:Open data file %1 failed with error: No such file or directory")
                                                       .arg(QDir::toNativeSeparators(w.path))});
        QVERIFY(!w.op.waitOpen);
        QCOMPARE(w.ui().pushButtonStart->text(), QStringLiteral("Start"));
        QVERIFY(w.ui().pushButtonDataFile->isEnabled() && w.dialog.connection().isOpen());
    }

    // A disk that fills up during the run is told once and the rows keep coming; then the
    // lidar is switched off: one message naming it, the window back to ready with the file
    // and the port closed, and the next Start connects afresh.
    void faultsDuringRun()
    {
        SimWindow w(kBinaryLidar);
        QVERIFY2(w.start(kLidar, kOther), qPrintable(w.sim.errorString()));
        w.chooseDataFile();
        w.dialog.OnBtnStartClicked();
        QTRY_VERIFY_WITH_TIMEOUT(w.rows() >= 1, 5000);
        QVERIFY(fillDiskUnder(w.path));
        const int written = w.rows();
        QTRY_VERIFY_WITH_TIMEOUT(w.rows() >= written + 3, 5000);
        QVERIFY(w.dialog.liveRunning);
        w.sim.vanish();

        QTRY_VERIFY_WITH_TIMEOUT(!w.dialog.liveRunning, 5000);
        QTest::qWait(300);
        QCOMPARE(simlink::shown(w.op), (QStringList{QStringLiteral("K:Open data file %1 failed with error: No space left on device")
                                                        .arg(QDir::toNativeSeparators(w.path)),
                                                    "K:Lidar VZQ Demo 4711: connection lost"}));
        QCOMPARE(w.ui().pushButtonStart->text(), QStringLiteral("Start"));
        QVERIFY(w.ui().pushButtonStart->isEnabled());
        QVERIFY(!w.dialog.dataFile.isOpen() && !w.dialog.connection().isOpen());
        QCOMPARE(dataLines(w.path).size(), written);

        // The lidar is back (on a new port): Start connects again, measures and writes.
        LidarSim back(kBinaryLidar);
        QVERIFY2(back.start(), qPrintable(back.errorString()));
        w.dialog.connection().lidars[0].portName = back.portPath();
        const int before = w.rows();
        w.dialog.OnBtnStartClicked();
        QTRY_VERIFY_WITH_TIMEOUT(w.rows() > before, 5000);
        w.dialog.OnBtnStartClicked();
        QCOMPARE(w.op.messages.size(), 2);
        QCOMPARE(dataLines(w.path).size(), written + w.rows() - before);
    }

    // Exit ends the program, and stops the reader before the lidar is switched out of remote
    // mode, so the remote-off echo reaches the exchange. The close button ends through the
    // same done() (tst_retrieval stopDuringDump).
    void shutdown()
    {
        SimWindow w(kBinaryLidar);
        QVERIFY2(w.start(kLidar, kOther), qPrintable(w.sim.errorString()));
        w.chooseDataFile();
        Vantrix &dialog = w.dialog;
        dialog.show();
        dialog.OnBtnStartClicked();
        QTRY_VERIFY_WITH_TIMEOUT(w.rows() >= 2, 5000);

        // Trace lines of the live reader and the lidar link in the order they were written.
        simlink::TraceCapture traces("velomark.*");
        // The program's event loop must end when the dialog goes; a time-out ends it otherwise.
        QSignalSpy lastWindow(qApp, &QGuiApplication::lastWindowClosed);
        QTimer::singleShot(0, &dialog, [&dialog] { QTest::mouseClick(dialog.form().pushButtonExit, Qt::LeftButton); });
        QTimer::singleShot(8000, &dialog, [] { qApp->exit(99); });
        const int exitCode = qApp->exec();
        QCOMPARE(exitCode, 0);

        QCOMPARE(lastWindow.count(), 1);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.liveRunning && !dialog.connection().isOpen() && !dialog.dataFile.isOpen());
        QVERIFY(w.op.messages.isEmpty());
        const QStringList lines = traces.lines();
        const int readerEnd = lines.indexOf(QRegularExpression(".*Thread reading speed data stops.*"));
        const int remoteOff = lines.indexOf(QRegularExpression(".*SetLidarRemoteMode: TX 02 0C 0C 03.*"));
        const int echo = lines.indexOf(QRegularExpression(".*SetLidarRemoteMode: RX 02 0C 0C 03.*"));
        QVERIFY2(readerEnd >= 0 && remoteOff > readerEnd && echo > remoteOff, qPrintable(lines.join('\n')));
        QCOMPARE(dataLines(w.path).size(), w.rows());
    }
};

QTEST_MAIN(TestVantrixLive)
#include "tst_vantrixlive.moc"
