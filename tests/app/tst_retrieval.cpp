#include <QtTest>
#include <QtWidgets>

#include "delaymsgdlg.h"
#include "log/dumpreader.h"
#include "sampledump.h"
#include "simlink.h"
#include "simwindow.h"

namespace {

using namespace sampledump;

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
    // window's rows, title, files and please-wait window, and the date filter on the dump held.
    void wholeRetrieval()
    {
        SimWindow w(logged({}));
        QVERIFY2(w.start(), qPrintable(w.sim.errorString()));
        const VantrixForm &ui = w.ui();
        // A range that holds no day is refused before anything is sent.
        ui.checkBoxAll->setChecked(false);
        QVERIFY(ui.dateEditStart->isEnabled());
        ui.dateEditStart->setDate(QDate(2025, 1, 2));
        ui.dateEditEnd->setDate(QDate(2025, 1, 1));
        w.dialog.OnBtnRetrieveLogClicked();
        QCOMPARE(simlink::shown(w.op), QStringList{"A:The start date is after the end date"});
        QVERIFY(w.sim.receivedBytes().isEmpty());
        w.op.messages.clear();
        ui.checkBoxAll->setChecked(true);
        QVERIFY(!ui.dateEditStart->isEnabled() && !ui.dateEditEnd->isEnabled());
        // Rows of an earlier display are replaced, not added to.
        new QTreeWidgetItem(ui.treeWidgetLoggedData, {QStringLiteral("old row")});

        QVERIFY(w.retrieve());

        QCOMPARE(simlink::shown(w.op), QStringList());
        QCOMPARE(w.op.waitTexts, (QStringList{"Preparing lidar for data retrieval, please wait ...",
                                              "Retrieving logged data from lidar, please wait ...",
                                              "Parsing logged data, please wait ..."}));
        QCOMPARE(w.op.progressBytes, qint64(kDump.size()));
        QCOMPARE(fileBytes(QStringLiteral("logDump.txt")), kDump);
        // The rows' texts, the lidar's serial number included: the saved file below.
        QCOMPARE(w.logRows(), 3);
        QVERIFY(w.dialog.windowTitle().endsWith(QStringLiteral(" -- VZQ Sim 54321 (3 Records)")));
        QVERIFY(ui.pushButtonSaveLog->isEnabled());

        // The date filter works on the dump held.
        ui.checkBoxAll->setChecked(false);
        ui.dateEditStart->setDate(QDate(2024, 12, 25));
        ui.dateEditEnd->setDate(QDate(2024, 12, 31));
        QCOMPARE(w.logRows(), 1);
        QVERIFY(w.dialog.windowTitle().endsWith(QStringLiteral(" (1 Records)")));
        ui.checkBoxAll->setChecked(true);
        QCOMPARE(w.logRows(), 3);

        // Save proposes the lidar and the days, writes the shown rows, keeps them as the log
        // text and offers the export.
        const QString csvPath = m_dir.filePath(QStringLiteral("log.csv"));
        w.op.messages.clear();
        w.op.fileNames.enqueue(csvPath);
        w.op.answers.enqueue(false);
        w.dialog.OnBtnSaveLogClicked();
        QCOMPARE(QFileInfo(w.op.lastStartDir).fileName(), QStringLiteral("54321_2024-12-25_2025-01-01.csv"));
        QCOMPARE(fileBytes(csvPath), allRecordsCsv("54321"));
        QCOMPARE(w.dialog.logText, allRecordsCsv("54321"));
        // The save goes into the download's record; without a key of the operator's it stays
        // unsigned. (What the record then holds: log tst_downloadrecord.)
        const QStringList texts = w.op.texts();
        QCOMPARE(texts.value(1), QStringLiteral("Do you want to export the saved data to an encrypted file ?"));
        QVERIFY2(QRegularExpression("^Data was saved to file (.*)\\nThe download record VZQ_Sim_54321_\\d{8}T\\d{6}Z(-\\d+)?\\.json "
                                    "is not signed: .+$").match(texts.value(0)).captured(1) == csvPath,
                 qPrintable(texts.value(0)));
        // Nothing of the filter or the save reached the lidar, which the window keeps.
        QTest::qWait(200);
        QCOMPARE(w.sim.receivedBytes().toHex().toUpper(), kConnect + kFramedEnter + kFramedLeave);
    }

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
        SimWindow w(logged({}));
        LidarSim socket(logged({"--socket", m_dir.filePath(QStringLiteral("switch.sock"))}));
        QVERIFY(socket.start());
        simlink::BluezStandIn bluez;
        QVERIFY(bluez.start({"00:11:22:33:44:55=VZQ Blue=unix:" + socket.portPath()}));
        QVERIFY(w.start(QStringLiteral("VZQ Tty"), QStringLiteral("VZQ Blue=bluetooth:00:11:22:33:44:55")));
        for (const int row : bluetoothFirst ? QList<int>{1, 0} : QList<int>{0, 1}) {
            w.ui().listWidgetLidars->setCurrentRow(row);
            QVERIFY(w.retrieve());
            QCOMPARE(w.logRows(), 3);
        }
        QCOMPARE(simlink::shown(w.op), QStringList());
        // The first lidar was released when the second was connected; both left DIAG mode.
        for (LidarSim *sim : {&w.sim, &socket})
            QVERIFY2(sim->receivedBytes().toHex().toUpper().startsWith(kConnect + kFramedEnter + kFramedLeave),
                     sim->receivedBytes().toHex().constData());
    }

    // A lidar without a log is refused before the dump (what it sends the lidar, and an empty
    // dump: log tst_retrieval retrieveCommand): rows cleared, title as it was, nothing to save.
    void retrievalWithoutRows()
    {
        SimWindow w(logged({"--model", "MSP:Brasko"}));
        QVERIFY2(w.start(), qPrintable(w.sim.errorString()));
        new QTreeWidgetItem(w.ui().treeWidgetLoggedData, {QStringLiteral("old row")});
        const QString title = w.dialog.windowTitle();

        QVERIFY(w.retrieve());

        QCOMPARE(simlink::shown(w.op), QStringList{"A:This lidar is not capable of logging data"});
        QCOMPARE(w.logRows(), 0);
        QVERIFY(!w.ui().pushButtonSaveLog->isEnabled());
        QCOMPARE(w.dialog.windowTitle(), title);
    }

    // Erase names what is at stake: without a complete, archived download of the lidar's log
    // since the start a warning comes first (No sends nothing); after one the question says
    // what was kept, and the erase goes into its record. Loading the archived dump names its
    // lidar, whichever is selected. A download cut by a lost port is the window's smoke of
    // the core's (lidar tst_linkloss: the message once, the port released, the rows marked
    // incomplete): the operator hears it once. The incomplete title: stopDuringDump.
    void eraseAfterDownload_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<bool>("retrieve");
        QTest::addColumn<bool>("warned");
        QTest::addColumn<QStringList>("retrieved");  // what the retrieval told, as simlink::shown gives it
        QTest::newRow("no download") << QStringList() << false << true << QStringList();
        QTest::newRow("cut download") << QStringList{"--dump-baud", "3000", "--vanish-after-dump-bytes", "100"} << true << true
            << QStringList{"K:Lidar VZQ Sim 54321: connection lost during the log download; the log is incomplete"};
        QTest::newRow("complete download") << QStringList() << true << false << QStringList();
    }
    void eraseAfterDownload()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(bool, retrieve);
        QFETCH(bool, warned);
        SimWindow w(logged(simArgs));
        QVERIFY2(w.start(), qPrintable(w.sim.errorString()));
        Vantrix &dialog = w.dialog;
        if (retrieve)
            QVERIFY(w.retrieve());
        QTEST(simlink::shown(w.op), "retrieved");
        w.op.messages.clear();
        w.op.answers << !warned << false;
        dialog.OnBtnEraseLaserData();
        QVERIFY(!w.op.messages.isEmpty());
        const QString asked = w.op.messages.first().text;
        if (warned) {
            QCOMPARE(asked, QStringLiteral("The log of lidar VZQ Sim 54321 has not been downloaded completely since Velomark "
                                           "was started: erasing it loses records that exist nowhere else. Erase anyway?"));
            QVERIFY(!w.sim.receivedBytes().contains(QByteArray::fromHex("02313103")));
            return;
        }
        QVERIFY2(QRegularExpression("^Lidar VZQ Sim 54321: 3 records downloaded at \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d and "
                                    "archived.\nDo you want to erase the logged data in lidar \\?$").match(asked).hasMatch(),
                 qPrintable(asked));
        QTRY_VERIFY(w.sim.receivedBytes().contains(QByteArray::fromHex("02313103")));
        // The archived dump and its record, with the erase; loaded, it names its lidar.
        const QDir archive(qEnvironmentVariable("XDG_DATA_HOME") + "/velomark/downloads");
        const QStringList records = archive.entryList({"VZQ_Sim_54321_*.json"}, QDir::Files, QDir::Time);
        QVERIFY(!records.isEmpty());
        const QJsonObject record = QJsonDocument::fromJson(fileBytes(archive.filePath(records.first()))).object();
        QVERIFY(record.value("erased").isObject());
        dialog.form().listWidgetLidars->addItem(QStringLiteral("VZQ Other 11111"));
        dialog.form().listWidgetLidars->setCurrentRow(1);
        w.op.fileNames << archive.filePath(record.value("dump").toObject().value("file").toString());
        dialog.OnBtnLoadDataClicked();
        QCOMPARE(dialog.form().treeWidgetLoggedData->topLevelItem(3)->text(7), QStringLiteral("54321"));
        QVERIFY2(dialog.windowTitle().contains(QStringLiteral("(lidar VZQ Sim 54321)")), qPrintable(dialog.windowTitle()));
    }

    // Cancel of the please-wait window, or the close button, during a long download that the
    // lidar goes on sending after it echoed the leave command (no read may wait for a pause):
    // the dump ends as a stop request ends it and the lidar leaves DIAG mode, without a word
    // to the operator. Cancel shows the rows that arrived as incomplete; on close the lidar
    // is released too and the window goes at once. Exit ends through the same done()
    // (tst_vantrixlive shutdown).
    void stopDuringDump_data()
    {
        QTest::addColumn<bool>("close");
        QTest::newRow("Cancel") << false;
        QTest::newRow("close") << true;
    }
    void stopDuringDump()
    {
        QFETCH(bool, close);
        SimWindow w({"--firmware", "9.3", "--demo-log", "2000", "--dump-outlasts-diag"});
        QVERIFY2(w.start(), qPrintable(w.sim.errorString()));
        Vantrix &dialog = w.dialog;
        dialog.show();
        dialog.OnBtnRetrieveLogClicked();
        QVERIFY(!dialog.waitDialog()->pushButtonCancel->isHidden());
        QVERIFY(w.sim.waitForState(QStringLiteral("dump start"), 10000));
        QTRY_VERIFY_WITH_TIMEOUT(w.op.progressBytes >= 1000, 10000);
        QVERIFY(dialog.dumpThread() && dialog.dumpThread()->isRunning());

        QElapsedTimer timer;
        timer.start();
        if (close)
            dialog.close();
        else
            QTest::keyClick(dialog.waitDialog(), Qt::Key_Escape);
        QVERIFY(QTest::qWaitFor([&] { return !w.op.waitOpen && !dialog.dumpThread()->isRunning(); }, 10000));
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QCoreApplication::processEvents();

        QVERIFY2(w.op.messages.isEmpty(), qPrintable(w.op.texts().join('|')));
        QCOMPARE(w.sim.receivedBytes().toHex().toUpper(),
                 kConnect + kFramedEnter + kFramedLeave + (close ? kRelease : QByteArray()));
        QCOMPARE(dialog.isVisible(), !close);
        if (close) {
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
            QVERIFY(!dialog.connection().isOpen() && dialog.connection().connectedLidarName.isEmpty());
            return;
        }
        QVERIFY(dialog.waitDialog()->pushButtonCancel->isHidden());
        const int rows = w.logRows();
        QVERIFY(rows > 0 && rows < 2000);
        QVERIFY2(dialog.windowTitle().endsWith(QStringLiteral(" (%1 Records, incomplete)").arg(rows)),
                 qPrintable(dialog.windowTitle()));
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
        QCOMPARE(tree->topLevelItem(5)->text(7), QStringLiteral("98765"));
        QVERIFY2(dialog.windowTitle().endsWith("-- VZQ Load 98765 -- file " + QFileInfo(path).fileName() + " (6 Records)"),
                 qPrintable(dialog.windowTitle()));
        QVERIFY(dialog.form().pushButtonSaveLog->isEnabled());
        QVERIFY(op.messages.isEmpty());
    }

private:
    // The stored sample log, sent at once by 9.3 firmware, with further options of the test's.
    QStringList logged(const QStringList &args) const
    {
        return QStringList{"--firmware", "9.3", "--stored-log", m_storedLog.fileName(), "--dump-baud", "1000000"} + args;
    }

    QTemporaryDir m_dir;
    QTemporaryFile m_storedLog;
};

QTEST_MAIN(TestRetrievalWindow)
#include "tst_retrieval.moc"
