#include <QtTest>
#include <QtWidgets>

#include <fcntl.h>
#include <unistd.h>

#include <memory>

#include "lidar/queries.h"
#include "lidarsim.h"
#include "live/livereader.h"
#include "recordingoperator.h"
#include "vantrix.h"

namespace {

const QByteArray kHeader =
    "Speed,Range,Direction,Date,Time,GPS_Latitude,GPS_Longitude,Lidar_Id,File_name,Note\n";
const QByteArray kBinaryRecord = QByteArray::fromHex("021504003704D201F103");  // 55 km/h, 123.4 m
const QByteArray kRemoteOff = QByteArray::fromHex("020c0c03");
const QString kLidar = QStringLiteral("VZQ Demo 4711");
const QString kOtherLidar = QStringLiteral("VZQ Demo 9922");
const QString kPreparing = QStringLiteral("Preparing lidar target acquisition, please wait ...");
const QString kStopping = QStringLiteral("Stopping lidar target acquisition, please wait ...");

QStringList binaryLidar(int intervalMs)
{
    return {"--output-format-byte", "31", "--live-format", "1", "--live-record",
            QString::fromLatin1(kBinaryRecord.toHex()), "--live-interval", QString::number(intervalMs)};
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// The lines of the data file below its header.
QList<QByteArray> dataLines(const QString &path)
{
    QList<QByteArray> lines = readAll(path).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (!lines.isEmpty() && lines.first() + '\n' == kHeader)
        lines.removeFirst();
    return lines;
}

// Points the descriptor that has `path` open at /dev/full: the next write fails with
// "No space left on device" exactly as on a full disk.
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

// A shown window whose lidar list holds the simulated lidar (first, selected) and another
// one, with an accepted data file.
struct LiveWindow
{
    QTemporaryDir dir;
    QString path;
    RecordingOperator op;
    std::unique_ptr<Vantrix> dialog;

    explicit LiveWindow(const LidarSim &sim, const QString &fileName = QStringLiteral("live.txt"))
    {
        path = dir.filePath(fileName);
        qputenv("VELOMARK_LIDARS", QStringLiteral("%1=%2;%3=/dev/null")
                                       .arg(kLidar, sim.portPath(), kOtherLidar).toUtf8());
        dialog = std::make_unique<Vantrix>(&op);
        dialog->EnumeratePorts();
        op.fileNames.enqueue(path);
        dialog->OnBtnBrowseClicked();
        op.waitTexts.clear();
        op.waitCloses = 0;
    }
    const VantrixForm &ui() const { return dialog->form(); }
    QTreeWidget *rows() const { return dialog->form().treeWidgetLiveData; }
    QStringList rowTexts(int row) const
    {
        QStringList texts;
        for (int column = 0; column < rows()->columnCount(); ++column)
            texts << rows()->topLevelItem(row)->text(column);
        return texts;
    }
};

// Collects trace lines of the live reader and the lidar link in the order they were written.
QStringList g_traces;
void collectTraces(QtMsgType, const QMessageLogContext &, const QString &text)
{
    g_traces << text;
}

}  // namespace

class TestVantrixLive : public QObject
{
    Q_OBJECT
private slots:
    void startShowsRowsAndStopKeepsTheLidar()
    {
        LidarSim sim(binaryLidar(300));
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        LiveWindow w(sim);
        QVERIFY(w.dialog->dataFileReady);
        w.ui().lineEditNote->setText(QStringLiteral("north, lane 2"));

        w.dialog->OnBtnStartClicked();
        QVERIFY(w.dialog->liveRunning);
        QCOMPARE(w.dialog->outputFormat, 1);
        QCOMPARE(w.dialog->liveNote, QStringLiteral("north, lane 2"));
        QCOMPARE(w.op.waitTexts, QStringList{kPreparing});
        QVERIFY(!w.op.waitOpen);
        QCOMPARE(w.ui().pushButtonStart->text(), QStringLiteral("Stop"));
        QVERIFY(w.ui().pushButtonStart->isEnabled());
        for (QWidget *idle : std::initializer_list<QWidget *>{w.ui().lineEditNote, w.ui().pushButtonDataFile,
                                                              w.ui().pushButtonRefresh, w.ui().tabDataRetrieval})
            QVERIFY(!idle->isEnabled());
        velomark::rThread *reader = w.dialog->liveReader;
        QVERIFY(reader);

        QTRY_VERIFY_WITH_TIMEOUT(w.rows()->topLevelItemCount() >= 2, 5000);
        const QStringList texts = w.rowTexts(0);
        QCOMPARE(texts.mid(0, 3), (QStringList{"55 km/h", "123.4 m", "Approaching"}));
        QCOMPARE(texts.mid(5), (QStringList{"", "", " 4711"}));
        QCOMPARE(texts[4].size(), 8);
        for (int column = 0; column < 7; ++column)
            QCOMPARE(w.rows()->topLevelItem(0)->textAlignment(column), int(Qt::AlignRight));
        QCOMPARE(w.rows()->topLevelItem(0)->textAlignment(7), int(Qt::AlignHCenter));

        w.dialog->OnBtnStartClicked();
        QVERIFY(!w.dialog->liveRunning);
        QCOMPARE(w.op.waitTexts, (QStringList{kPreparing, kStopping}));
        QVERIFY(!w.op.waitOpen);
        QCOMPARE(w.ui().pushButtonStart->text(), QStringLiteral("Start"));
        QVERIFY(w.ui().pushButtonRefresh->isEnabled());
        QVERIFY(!w.dialog->dataFile.isOpen());
        // The lidar stays connected and in remote mode, and the port answers on this thread.
        QVERIFY(w.dialog->serialPort().isOpen());
        QVERIFY(!sim.receivedBytes().contains(kRemoteOff));
        QCOMPARE(velomark::QueryLidarOperationMode(w.dialog->connection()), 1);

        // A second run reuses the reader and appends to the same file below the first.
        const int firstRunRows = w.rows()->topLevelItemCount();
        w.dialog->OnBtnStartClicked();
        QVERIFY(w.dialog->liveRunning);
        QCOMPARE(w.dialog->liveReader, reader);
        QTRY_VERIFY_WITH_TIMEOUT(w.rows()->topLevelItemCount() >= firstRunRows + 2, 5000);
        w.dialog->OnBtnStartClicked();

        const QByteArray file = readAll(w.path);
        QVERIFY(file.startsWith(kHeader));
        QCOMPARE(file.count(kHeader), 1);
        const QList<QByteArray> lines = dataLines(w.path);
        QCOMPARE(lines.size(), w.rows()->topLevelItemCount());
        const QByteArray today = QLocale::system().toString(QDate::currentDate(), QStringLiteral("yyyyMMMdd")).toUtf8();
        for (const QByteArray &line : lines) {
            QVERIFY2(line.startsWith("55,123.4,Approaching," + today + ','), line.constData());
            QVERIFY2(line.endsWith(",,, 4711,live.txt,\"north, lane 2\""), line.constData());
        }
        QVERIFY2(w.op.messages.isEmpty(), qPrintable(w.op.texts().join('|')));
    }

    // Each refused Start leaves the window ready, creates no reader and says why once.
    void startRefused_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<bool>("fileGone");
        QTest::addColumn<int>("outputFormat");
        QTest::addColumn<QString>("message");
        QTest::newRow("not in speed mode") << QStringList{"--operation-mode", "3"} << false << 0
                                           << QStringLiteral("Please set the Lidar to \"Speed Mode\"");
        QTest::newRow("bad output format") << QStringList{"--output-format-byte", "37"} << false << 7
                                           << QStringLiteral("Invalid lidar data output format: 7");
        QTest::newRow("data file cannot be opened")
            << QStringList{} << true << 3 << QStringLiteral("Open data file %1 failed with error: No such file or directory");
    }
    void startRefused()
    {
        QFETCH(QStringList, simOptions);
        QFETCH(bool, fileGone);
        QFETCH(int, outputFormat);
        QFETCH(QString, message);
        LidarSim sim(simOptions);
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        LiveWindow w(sim, QStringLiteral("shift/live.txt"));
        QVERIFY(QDir().mkpath(w.dir.filePath(QStringLiteral("shift"))));
        w.op.fileNames.enqueue(w.path);
        w.dialog->OnBtnBrowseClicked();
        if (fileGone) {
            // As after a Stop: the file is closed, and meanwhile its folder went away.
            w.dialog->dataFile.close();
            QVERIFY(QDir(w.dir.filePath(QStringLiteral("shift"))).removeRecursively());
            message = message.arg(QDir::toNativeSeparators(w.path));
        }
        w.op.messages.clear();

        w.dialog->OnBtnStartClicked();
        QVERIFY(!w.dialog->liveRunning);
        QVERIFY(!w.dialog->liveReader);
        QCOMPARE(w.dialog->outputFormat, outputFormat);
        QCOMPARE(w.op.texts(), QStringList{message});
        QCOMPARE(w.op.messages[0].title, w.dialog->messageTitle);
        QVERIFY(!w.op.waitOpen);
        QCOMPARE(w.ui().pushButtonStart->text(), QStringLiteral("Start"));
        QVERIFY(w.ui().pushButtonDataFile->isEnabled());
        QVERIFY(w.dialog->serialPort().isOpen());
        QTest::qWait(400);
        QCOMPARE(w.rows()->topLevelItemCount(), 0);
    }

    // Buffers the reader handed on just before Stop are shown and written before the file
    // closes; nothing arrives after Stop.
    void stopWritesPendingBuffers()
    {
        LidarSim sim(binaryLidar(300));
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        LiveWindow w(sim);
        w.dialog->OnBtnStartClicked();
        QTRY_VERIFY_WITH_TIMEOUT(w.rows()->topLevelItemCount() >= 1, 5000);
        const int shown = w.rows()->topLevelItemCount();
        // The event loop is held, so the reader's next buffers wait in the queue.
        QThread::msleep(1300);
        w.dialog->OnBtnStartClicked();
        QVERIFY(w.rows()->topLevelItemCount() >= shown + 3);
        QCOMPARE(dataLines(w.path).size(), w.rows()->topLevelItemCount());
        const int afterStop = w.rows()->topLevelItemCount();
        QTest::qWait(700);
        QCOMPARE(w.rows()->topLevelItemCount(), afterStop);
        QVERIFY(w.op.messages.isEmpty());
    }

    // Selecting another lidar while one measures must not relabel its measurements.
    void lidarIdFromConnectedLidar()
    {
        LidarSim sim(binaryLidar(300));
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        LiveWindow w(sim);
        w.dialog->OnBtnStartClicked();
        QTRY_VERIFY_WITH_TIMEOUT(w.rows()->topLevelItemCount() >= 1, 5000);
        w.ui().listWidgetLidars->setCurrentRow(1);
        QCOMPARE(w.ui().listWidgetLidars->currentItem()->text(), kOtherLidar);
        const int before = w.rows()->topLevelItemCount();
        QTRY_VERIFY_WITH_TIMEOUT(w.rows()->topLevelItemCount() >= before + 2, 5000);
        w.dialog->OnBtnStartClicked();
        for (int row = 0; row < w.rows()->topLevelItemCount(); ++row)
            QCOMPARE(w.rowTexts(row).last(), QStringLiteral(" 4711"));
        for (const QByteArray &line : dataLines(w.path))
            QVERIFY2(line.contains(", 4711,live.txt,"), line.constData());
    }

    // A disk that fills up during the run is told once; the rows keep coming.
    void writeFailureToldOnce()
    {
        LidarSim sim(binaryLidar(300));
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        LiveWindow w(sim);
        w.dialog->OnBtnStartClicked();
        QTRY_VERIFY_WITH_TIMEOUT(w.rows()->topLevelItemCount() >= 1, 5000);
        QVERIFY(fillDiskUnder(w.path));
        const int before = w.rows()->topLevelItemCount();
        QTRY_VERIFY_WITH_TIMEOUT(w.rows()->topLevelItemCount() >= before + 3, 5000);
        QVERIFY(w.dialog->liveRunning);
        w.dialog->OnBtnStartClicked();
        QCOMPARE(w.op.texts(), QStringList{QStringLiteral("Open data file %1 failed with error: No space left on device")
                                               .arg(QDir::toNativeSeparators(w.path))});
        QCOMPARE(w.op.messages[0].title, w.dialog->messageTitle);
        QCOMPARE(dataLines(w.path).size(), before);
    }

    // The lidar switched off mid-run: one message naming it, the window back to ready with
    // the file and the port closed, and the next Start connects afresh.
    void vanishedPortEndsRun()
    {
        auto sim = std::make_unique<LidarSim>(binaryLidar(300));
        QVERIFY2(sim->start(), qPrintable(sim->errorString()));
        LiveWindow w(*sim);
        w.dialog->OnBtnStartClicked();
        QTRY_VERIFY_WITH_TIMEOUT(w.rows()->topLevelItemCount() >= 1, 5000);
        sim->vanish();

        QTRY_VERIFY_WITH_TIMEOUT(!w.dialog->liveRunning, 5000);
        QTest::qWait(300);
        QCOMPARE(w.op.texts(), QStringList{QStringLiteral("Lidar VZQ Demo 4711: connection lost")});
        QCOMPARE(w.op.messages[0].title, w.dialog->messageTitle);
        QCOMPARE(w.ui().pushButtonStart->text(), QStringLiteral("Start"));
        QVERIFY(w.ui().pushButtonStart->isEnabled());
        QVERIFY(!w.dialog->dataFile.isOpen());
        QVERIFY(!w.dialog->serialPort().isOpen());
        QVERIFY(w.dialog->connection().connectedLidarName.isEmpty());
        QCOMPARE(dataLines(w.path).size(), w.rows()->topLevelItemCount());

        // The lidar is back (on a new port): Start connects again and measures.
        sim = std::make_unique<LidarSim>(binaryLidar(300));
        QVERIFY2(sim->start(), qPrintable(sim->errorString()));
        w.dialog->connection().lidars[0].portName = sim->portPath();
        const int before = w.rows()->topLevelItemCount();
        w.dialog->OnBtnStartClicked();
        QVERIFY(w.dialog->liveRunning);
        QTRY_VERIFY_WITH_TIMEOUT(w.rows()->topLevelItemCount() > before, 5000);
        w.dialog->OnBtnStartClicked();
        QCOMPARE(w.op.messages.size(), 1);
        QCOMPARE(dataLines(w.path).size(), w.rows()->topLevelItemCount());
    }

    // Exit during a run stops the reader before the lidar is switched out of remote mode,
    // so the echo of the remote-off frame reaches the exchange, not the reader.
    void exitDuringRunStopsReaderFirst()
    {
        LidarSim sim(binaryLidar(300));
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        LiveWindow w(sim);
        w.dialog->OnBtnStartClicked();
        QTRY_VERIFY_WITH_TIMEOUT(w.rows()->topLevelItemCount() >= 2, 5000);

        g_traces.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collectTraces);
        QLoggingCategory::setFilterRules(QStringLiteral("velomark.*.debug=true"));
        w.dialog->OnBtnExitClicked();
        qInstallMessageHandler(previous);

        const int readerEnd = g_traces.indexOf(QRegularExpression(".*Thread reading speed data stops.*"));
        const int remoteOff = g_traces.indexOf(QRegularExpression(".*SetLidarRemoteMode: TX 02 0C 0C 03.*"));
        QVERIFY2(readerEnd >= 0 && remoteOff > readerEnd, qPrintable(g_traces.join('\n')));
        QVERIFY(!w.dialog->liveRunning);
        QVERIFY(!w.dialog->serialPort().isOpen());
        QVERIFY(!w.dialog->dataFile.isOpen());
        QVERIFY(w.op.messages.isEmpty());
        // The lidar saw remote off and echoed it: the last exchange of the run.
        QStringList exchanges = sim.events().filter(QRegularExpression(" (RX|TX) "));
        QVERIFY(exchanges.size() >= 2);
        QVERIFY2(exchanges.last().endsWith(QStringLiteral("TX 02 0C 0C 03"), Qt::CaseInsensitive),
                 qPrintable(exchanges.last()));
        QVERIFY2(exchanges[exchanges.size() - 2].endsWith(QStringLiteral("RX 02 0C 0C 03"), Qt::CaseInsensitive),
                 qPrintable(exchanges[exchanges.size() - 2]));
        QCOMPARE(dataLines(w.path).size(), w.rows()->topLevelItemCount());
    }
};

QTEST_MAIN(TestVantrixLive)
#include "tst_vantrixlive.moc"
