#include <QtTest>
#include <QtWidgets>

#include "delaymsgdlg.h"
#include "lidarsim.h"
#include "log/dumpreader.h"
#include "recordingoperator.h"
#include "sampledump.h"
#include "simlink.h"
#include "vantrix.h"
#include "windowtest.h"

namespace {

using namespace sampledump;

// Configuration read, flags 0x12 written with bit 2 set, keys, then the same cleared again.
const QByteArray kOlderEnter = "0209585103020A58164403257B3C59";
const QByteArray kOlderLeave = "257B3C0209585103020A58124003";

// The window with the simulated lidar as its only, selected list entry.
struct Window
{
    explicit Window(const LidarSim &sim)
    {
        qputenv("VELOMARK_LIDARS", (kLidarName + QLatin1Char('=') + sim.portPath()).toUtf8());
        dialog.EnumeratePorts();
        dialog.form().checkBoxAll->setChecked(true);
    }
    // Retrieve, then let the event loop run until the dump thread's end has been handled.
    bool retrieve()
    {
        op.waitTexts.clear();  // discovery's
        dialog.OnBtnRetrieveLogClicked();
        const bool ended = QTest::qWaitFor(
            [this] { return !op.waitOpen && !(dialog.dumpThread() && dialog.dumpThread()->isRunning()); }, 20000);
        QCoreApplication::processEvents();
        return ended;
    }
    RecordingOperator op;
    Vantrix dialog{&op};
};

}  // namespace

// Retrievals through the window against the simulated lidar: the rows, "logDump.txt", the
// title, the please-wait window with its progress, and every byte the lidar received.
class TestRetrievalWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir::setCurrent(m_dir.path()));
        QVERIFY(sampledump::writeStoredLog(m_storedLog));
    }
    void cleanup() { qunsetenv("VELOMARK_LIDARS"); QFile::remove(QStringLiteral("logDump.txt")); }

    // The frames of each firmware and the core's messages are log tst_retrieval's; here the
    // window's rows, title, files and please-wait window, and an unanswered DIAG leave told once.
    void wholeRetrieval_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QStringList>("messages");  // as simlink::shown gives them
        QTest::newRow("9.3") << QStringList{"--firmware", "9.3"} << QStringList();
        // The rows are complete; only the lidar's state is in doubt, and the operator hears it once.
        QTest::newRow("9.3, DIAG leave unanswered")
            << QStringList{"--firmware", "9.3", "--fault", "29=silent"}
            << QStringList{"K:Lidar VZQ Sim 54321 may still be in diagnostic mode: switch it off and on again"};
    }
    void wholeRetrieval()
    {
        QFETCH(QStringList, simArgs);
        LidarSim sim(simArgs + QStringList{"--stored-log", m_storedLog.fileName(), "--dump-baud", "1000000"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        Window window(sim);
        Vantrix &dialog = window.dialog;
        // A count left from an earlier display is replaced, not added to.
        dialog.setWindowTitle(dialog.windowTitle() + QStringLiteral(" (7 Records)"));
        new QTreeWidgetItem(dialog.form().treeWidgetLoggedData, {QStringLiteral("old row")});

        QVERIFY(window.retrieve());

        QTEST(simlink::shown(window.op), "messages");
        // The lidar is not released: the window keeps it for the next operation.
        QCOMPARE(sim.receivedBytes().toHex().toUpper(), kConnect + kFramedEnter + kFramedLeave);
        QCOMPARE(window.op.waitTexts, (QStringList{"Preparing lidar for data retrieval, please wait ...",
                                                   "Retrieving logged data from lidar, please wait ...",
                                                   "Parsing logged data, please wait ..."}));
        QCOMPARE(window.op.progressBytes, qint64(sampledump::kDump.size()));
        QCOMPARE(window.op.progressLines, qint64(4));
        QCOMPARE(fileBytes(QStringLiteral("logDump.txt")), sampledump::kDump);

        QTreeWidget *tree = dialog.form().treeWidgetLoggedData;
        QCOMPARE(tree->topLevelItemCount(), 3);
        QCOMPARE(tree->topLevelItem(0)->text(3) + '|' + tree->topLevelItem(2)->text(3), QStringLiteral("2024-12-25|"));
        QCOMPARE(tree->topLevelItem(0)->text(7), QStringLiteral("54321"));
        QVERIFY(dialog.windowTitle().endsWith(QStringLiteral(" -- VZQ Sim 54321 (3 Records)")));
        QVERIFY(dialog.form().pushButtonSaveLog->isEnabled());
        // The port is back on the window's thread and stays open for the next operation.
        QVERIFY(dialog.connection().transport()->deviceThread() == QThread::currentThread() && dialog.connection().isOpen());

        // Save writes the shown rows, keeps them as the log text and offers the export.
        const QString csvPath = m_dir.filePath(QStringLiteral("log.csv"));
        window.op.messages.clear();
        window.op.fileNames.enqueue(csvPath);
        window.op.answers.enqueue(false);
        dialog.OnBtnSaveLogClicked();
        QCOMPARE(fileBytes(csvPath), sampledump::allRecordsCsv("54321"));
        QCOMPARE(dialog.logText, sampledump::allRecordsCsv("54321"));
        // The archived record names the file; without a key of the operator's it stays unsigned.
        const QStringList texts = window.op.texts();
        QCOMPARE(texts.value(1), QStringLiteral("Do you want to export the saved data to an encrypted file ?"));
        const QRegularExpressionMatch saved = QRegularExpression(
            "^Data was saved to file (.*)\\nThe download record (VZQ_Sim_54321_\\d{8}T\\d{6}Z(-\\d+)?\\.json) is not signed: .+$").match(texts.value(0));
        QVERIFY2(saved.hasMatch() && saved.captured(1) == csvPath, qPrintable(texts.value(0)));
        const QJsonObject record = QJsonDocument::fromJson(fileBytes(
            qEnvironmentVariable("XDG_DATA_HOME") + "/velomark/downloads/" + saved.captured(2))).object();
        QCOMPARE(record.value("saved").toArray().first().toObject().value("file").toString(), csvPath);

    }

    // No rows: an empty dump still takes older firmware out of DIAG mode and clears bit 2
    // before the operator hears that there was nothing; a lidar without a log is refused
    // before any of it. Either way rows, title and Save stay as they were, and no dump is kept.
    // A tty lidar and a Bluetooth lidar in one window, retrieved one after the other: each dump
    // is read from the link of its own connection, never from the one of the first retrieval.
    void switchOfTransport_data()
    {
        QTest::addColumn<bool>("bluetoothFirst");
        QTest::newRow("tty, then Bluetooth") << false;
        QTest::newRow("Bluetooth, then tty") << true;
    }
    void switchOfTransport()
    {
        QFETCH(bool, bluetoothFirst);
        if (!simlink::BluezStandIn::unavailable().isEmpty())
            QSKIP(qPrintable(simlink::BluezStandIn::unavailable()));
        const QStringList simArgs{"--firmware", "9.3", "--stored-log", m_storedLog.fileName(), "--dump-baud", "1000000"};
        LidarSim tty(simArgs);
        LidarSim socket(simArgs + QStringList{"--socket", m_dir.filePath(QStringLiteral("switch.sock"))});
        QVERIFY(tty.start() && socket.start());
        simlink::BluezStandIn bluez;
        QVERIFY(bluez.start({"00:11:22:33:44:55=VZQ Blue=unix:" + socket.portPath()}));
        Window window(tty);
        qputenv("VELOMARK_LIDARS", ("VZQ Tty=" + tty.portPath() + ";VZQ Blue=bluetooth:00:11:22:33:44:55").toUtf8());
        window.dialog.EnumeratePorts();
        QListWidget *list = window.dialog.form().listWidgetLidars;
        for (const int row : bluetoothFirst ? QList<int>{1, 0} : QList<int>{0, 1}) {
            list->setCurrentRow(row);
            QVERIFY(window.retrieve());
            QCOMPARE(window.dialog.form().treeWidgetLoggedData->topLevelItemCount(), 3);
        }
        QCOMPARE(simlink::shown(window.op), QStringList());
        // The first lidar was released when the second was connected; both left DIAG mode.
        for (LidarSim *sim : {&tty, &socket})
            QVERIFY2(sim->receivedBytes().toHex().toUpper().startsWith(kConnect + kFramedEnter + kFramedLeave),
                     sim->receivedBytes().toHex().constData());
    }

    void retrievalWithoutRows_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("frames");
        QTest::newRow("silent dump") << QStringList{"--firmware", "9.2", "--fault", "Y=silent"}
                                     << "Retrieving memory data: No data found" << kConnect + kOlderEnter + kOlderLeave;
        QTest::newRow("lidar without log") << QStringList{"--model", "MSP:Brasko"}
                                           << "This lidar is not capable of logging data" << kConnect;
    }
    void retrievalWithoutRows()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QString, message);
        LidarSim sim(simArgs + QStringList{"--stored-log", m_storedLog.fileName()});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        Window window(sim);
        new QTreeWidgetItem(window.dialog.form().treeWidgetLoggedData, {QStringLiteral("old row")});
        const QString title = window.dialog.windowTitle();

        QVERIFY(window.retrieve());

        QCOMPARE(simlink::shown(window.op), QStringList{"A:" + message});
        QTEST(sim.receivedBytes().toHex().toUpper(), "frames");
        QCOMPARE(window.dialog.form().treeWidgetLoggedData->topLevelItemCount(), 0);
        QVERIFY(!window.dialog.form().pushButtonSaveLog->isEnabled());
        QCOMPARE(window.dialog.windowTitle(), title);
        QVERIFY(!QFile::exists(QStringLiteral("logDump.txt")));
    }

    // The lidar is lost part-way through its log: the rows that arrived are shown as an
    // incomplete log, the bytes are kept, the dead port is let go without a word to it, the
    // operator hears it once, and the next Retrieve tries to connect again.
    void downloadCutByLostPort()
    {
        const int sentBeforeVanishing = 3000;
        LidarSim sim({"--firmware", "9.3", "--demo-log", "300", "--vanish-after-dump-bytes",
                      QString::number(sentBeforeVanishing)});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        Window window(sim);
        Vantrix &dialog = window.dialog;

        QVERIFY(window.retrieve());

        QCOMPARE(simlink::shown(window.op),
                 QStringList{"K:Lidar VZQ Sim 54321: connection lost during the log download; "
                             "the log is incomplete"});
        QCOMPARE(sim.receivedBytes().toHex().toUpper(), kConnect + kFramedEnter);
        const QByteArray kept = fileBytes(QStringLiteral("logDump.txt"));
        // The last bytes sent may go down with the port; what arrived is kept as it came.
        QVERIFY2(!kept.isEmpty() && sim.sentBytes().right(sentBeforeVanishing).startsWith(kept),
                 qPrintable(QStringLiteral("%1 bytes kept").arg(kept.size())));
        // Every complete line of what arrived is a record of the demo log.
        const int rows = dialog.form().treeWidgetLoggedData->topLevelItemCount();
        QCOMPARE(rows, kept.count('\n'));
        QVERIFY(rows > 0 && rows < 300);
        QVERIFY2(dialog.windowTitle().endsWith(QStringLiteral(" -- VZQ Sim 54321 (%1 Records, incomplete)").arg(rows)),
                 qPrintable(dialog.windowTitle()));
        QVERIFY(dialog.form().pushButtonSaveLog->isEnabled());
        QVERIFY(!dialog.connection().isOpen());
        QVERIFY(dialog.connection().connectedLidarName.isEmpty());

        window.op.messages.clear();
        dialog.connection().lidars[0].portName = LidarSim::kGonePath;
        QVERIFY(window.retrieve());
        QCOMPARE(simlink::shown(window.op), QStringList{"A:Lidar VZQ Sim 54321 : please make sure it is powered on"});
        QVERIFY(!window.op.waitOpen);
    }

    // Cancel of the please-wait window during a long download: the dump ends as a stop request
    // ends it, the rows that arrived are shown as incomplete and the lidar leaves DIAG mode.
    void cancelDuringDump()
    {
        LidarSim sim({"--firmware", "9.3", "--demo-log", "2000", "--dump-baud", "20000"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        Window window(sim);
        Vantrix &dialog = window.dialog;
        dialog.OnBtnRetrieveLogClicked();
        QVERIFY(!dialog.waitDialog()->pushButtonCancel->isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(dialog.dumpThread() && dialog.dumpThread()->bytesReceived() > 2000, 10000);
        QTest::keyClick(dialog.waitDialog(), Qt::Key_Escape);
        QVERIFY(QTest::qWaitFor([&] { return !window.op.waitOpen && !dialog.dumpThread()->isRunning(); }, 10000));
        QCoreApplication::processEvents();

        const int rows = dialog.form().treeWidgetLoggedData->topLevelItemCount();
        QVERIFY(rows > 0 && rows < 2000);
        QVERIFY2(dialog.windowTitle().endsWith(QStringLiteral(" (%1 Records, incomplete)").arg(rows)),
                 qPrintable(dialog.windowTitle()));
        QVERIFY(sim.receivedBytes().toHex().toUpper().endsWith(kFramedLeave));
        QVERIFY(dialog.waitDialog()->pushButtonCancel->isHidden());
        QCOMPARE(simlink::shown(window.op), QStringList());
    }

    // The date filter works on the dump held, without a word to the lidar; a range that holds
    // no day is refused before anything is sent; Save proposes the lidar and the days.
    void filterOnTheDumpHeld()
    {
        LidarSim sim({"--firmware", "9.3", "--stored-log", m_storedLog.fileName(), "--dump-baud", "1000000"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        Window window(sim);
        Vantrix &dialog = window.dialog;
        const VantrixForm &ui = dialog.form();
        ui.checkBoxAll->setChecked(false);
        QVERIFY(ui.dateEditStart->isEnabled());
        ui.dateEditStart->setDate(QDate(2025, 1, 2));
        ui.dateEditEnd->setDate(QDate(2025, 1, 1));
        dialog.OnBtnRetrieveLogClicked();
        QCOMPARE(simlink::shown(window.op), QStringList{"A:The start date is after the end date"});
        QVERIFY(sim.receivedBytes().isEmpty());

        window.op.messages.clear();
        ui.checkBoxAll->setChecked(true);
        QVERIFY(!ui.dateEditStart->isEnabled() && !ui.dateEditEnd->isEnabled());
        QVERIFY(window.retrieve());
        QCOMPARE(ui.treeWidgetLoggedData->topLevelItemCount(), 3);
        const QByteArray received = sim.receivedBytes();
        ui.checkBoxAll->setChecked(false);
        ui.dateEditStart->setDate(QDate(2024, 12, 25));
        ui.dateEditEnd->setDate(QDate(2024, 12, 31));
        QCOMPARE(ui.treeWidgetLoggedData->topLevelItemCount(), 1);
        QVERIFY(dialog.windowTitle().endsWith(QStringLiteral(" (1 Records)")));
        ui.checkBoxAll->setChecked(true);
        QCOMPARE(ui.treeWidgetLoggedData->topLevelItemCount(), 3);
        QTest::qWait(200);
        QCOMPARE(sim.receivedBytes(), received);

        dialog.OnBtnSaveLogClicked();  // cancelled
        QCOMPARE(QFileInfo(window.op.lastStartDir).fileName(), QStringLiteral("54321_2024-12-25_2025-01-01.csv"));
    }

    // Erase names what is at stake: without a complete, archived download of the lidar's log
    // since the start a warning comes first (No sends nothing); after one the question says
    // what was kept, and the erase goes into its record. Loading the archived dump names its
    // lidar, whichever is selected.
    void eraseAfterDownload_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<bool>("retrieve");
        QTest::addColumn<bool>("warned");
        QTest::newRow("no download") << QStringList() << false << true;
        QTest::newRow("cut download") << QStringList{"--dump-baud", "3000", "--vanish-after-dump-bytes", "100"} << true << true;
        QTest::newRow("complete download") << QStringList{"--dump-baud", "1000000"} << true << false;
    }
    void eraseAfterDownload()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(bool, retrieve);
        QFETCH(bool, warned);
        LidarSim sim(simArgs + QStringList{"--firmware", "9.3", "--stored-log", m_storedLog.fileName()});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        Window window(sim);
        Vantrix &dialog = window.dialog;
        if (retrieve)
            QVERIFY(window.retrieve());
        window.op.messages.clear();
        window.op.answers << !warned << false;
        dialog.OnBtnEraseLaserData();
        QVERIFY(!window.op.messages.isEmpty());
        const QString asked = window.op.messages.first().text;
        if (warned) {
            QCOMPARE(asked, QStringLiteral("The log of lidar VZQ Sim 54321 has not been downloaded completely since Velomark "
                                           "was started: erasing it loses records that exist nowhere else. Erase anyway?"));
            QVERIFY(!sim.receivedBytes().contains(QByteArray::fromHex("02313103")));
            return;
        }
        QVERIFY2(QRegularExpression("^Lidar VZQ Sim 54321: 3 records downloaded at \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d and "
                                    "archived.\nDo you want to erase the logged data in lidar \\?$").match(asked).hasMatch(),
                 qPrintable(asked));
        QTRY_VERIFY(sim.receivedBytes().contains(QByteArray::fromHex("02313103")));
        // The archived dump and its record, with the erase; loaded, it names its lidar.
        const QDir archive(qEnvironmentVariable("XDG_DATA_HOME") + "/velomark/downloads");
        const QStringList records = archive.entryList({"VZQ_Sim_54321_*.json"}, QDir::Files, QDir::Time);
        QVERIFY(!records.isEmpty());
        const QJsonObject record = QJsonDocument::fromJson(fileBytes(archive.filePath(records.first()))).object();
        QCOMPARE(record.value("end").toString(), QStringLiteral("complete"));
        QVERIFY(record.value("erased").isObject());
        dialog.form().listWidgetLidars->addItem(QStringLiteral("VZQ Other 11111"));
        dialog.form().listWidgetLidars->setCurrentRow(1);
        window.op.fileNames << archive.filePath(record.value("dump").toObject().value("file").toString());
        dialog.OnBtnLoadDataClicked();
        QCOMPARE(dialog.form().treeWidgetLoggedData->topLevelItem(3)->text(7), QStringLiteral("54321"));
        QVERIFY2(dialog.windowTitle().contains(QStringLiteral("(lidar VZQ Sim 54321)")), qPrintable(dialog.windowTitle()));
    }

    // The close button during a long download: the reader stops, the lidar leaves DIAG and
    // remote mode, and the window goes at once, however much of the log is still to come.
    // Exit ends through the same done() (tst_vantrixlive shutdown).
    void shutdownDuringDump()
    {
        // The lidar goes on sending its log after it echoed the leave command: no read may wait
        // for a pause.
        LidarSim sim({"--firmware", "9.3", "--demo-log", "2000", "--dump-outlasts-diag"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        Window window(sim);
        Vantrix &dialog = window.dialog;
        dialog.show();
        dialog.OnBtnRetrieveLogClicked();
        QVERIFY(sim.waitForState(QStringLiteral("dump start"), 10000));
        // The leave command then has to find its echo among log bytes still arriving.
        QTRY_VERIFY_WITH_TIMEOUT(window.op.progressBytes >= 1000, 10000);
        QVERIFY(dialog.dumpThread() && dialog.dumpThread()->isRunning());

        QElapsedTimer timer;
        timer.start();
        dialog.close();

        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(!dialog.isVisible());
        QVERIFY(!dialog.dumpThread()->isRunning());
        QVERIFY(!dialog.connection().isOpen() && dialog.connection().connectedLidarName.isEmpty());
        QCOMPARE(sim.receivedBytes().toHex().toUpper(), kConnect + kFramedEnter + kFramedLeave + kRelease);
        const QStringList states = sim.states();
        QVERIFY2(states.filter(QRegularExpression("^(diag off|remote off)")).size() == 2
                     && states.last() == QStringLiteral("remote off"),
                 qPrintable(states.join('\n')));
        QVERIFY2(window.op.messages.isEmpty(), qPrintable(window.op.texts().join('|')));
        QVERIFY(!window.op.waitOpen);
    }

    // Loading adds rows after those shown, stamped with the selected lidar; one count in the title.
    void loadTwice()
    {
        const QString path = m_storedLog.fileName();  // holds the sample dump
        RecordingOperator op;
        Vantrix dialog(&op);
        dialog.form().listWidgetLidars->addItem(QStringLiteral("VZQ Load 98765"));
        dialog.form().listWidgetLidars->setCurrentRow(0);
        dialog.form().checkBoxAll->setChecked(true);
        op.fileNames << path << path << QString();
        dialog.OnBtnLoadDataClicked();
        dialog.OnBtnLoadDataClicked();
        dialog.OnBtnLoadDataClicked();  // cancelled

        QTreeWidget *tree = dialog.form().treeWidgetLoggedData;
        QCOMPARE(tree->topLevelItemCount(), 6);
        QCOMPARE(tree->topLevelItem(3)->text(4), QStringLiteral("10:30:45"));
        QCOMPARE(tree->topLevelItem(5)->text(7), QStringLiteral("98765"));
        QVERIFY2(dialog.windowTitle().endsWith("-- VZQ Load 98765 -- file " + QFileInfo(path).fileName() + " (6 Records)"),
                 qPrintable(dialog.windowTitle()));
        QVERIFY(dialog.form().pushButtonSaveLog->isEnabled());
        QVERIFY(op.messages.isEmpty());
    }

private:
    QTemporaryDir m_dir;
    QTemporaryFile m_storedLog;
};

QTEST_MAIN(TestRetrievalWindow)
#include "tst_retrieval.moc"
