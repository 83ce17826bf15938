#include <QtTest>
#include <QtWidgets>


#include "delaymsgdlg.h"
#include "lidarsim.h"
#include "messageboxoperator.h"
#include "recordingoperator.h"
#include "vantrix.h"

namespace {

const QString kHeader =
    QStringLiteral("Speed,Range,Direction,Date,Time,GPS_Latitude,GPS_Longitude,Lidar_Id,File_name,Note\n");

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void addRows(QTreeWidget *tree, int count)
{
    for (int i = 0; i < count; ++i)
        new QTreeWidgetItem(tree, {QString::number(i)});
}

}  // namespace

class TestVantrix : public QObject
{
    Q_OBJECT
private slots:
    void form_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("parentName");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");

        const QString dialog = QStringLiteral("VantrixClass");
        const QString log = QStringLiteral("tabDataRetrieval");
        const QString live = QStringLiteral("tabVantrix");
        QTest::newRow("tabWidgetData") << "tabWidgetData" << "QTabWidget" << dialog << "" << true;
        QTest::newRow("treeWidgetLoggedData") << "treeWidgetLoggedData" << "QTreeWidget" << log << "" << true;
        QTest::newRow("checkBoxAll") << "checkBoxAll" << "QCheckBox" << log << "Retrieve All Records" << true;
        QTest::newRow("labelStartDate") << "labelStartDate" << "QLabel" << log << "Start Date" << true;
        QTest::newRow("dateEditStart") << "dateEditStart" << "QDateEdit" << log << "" << true;
        QTest::newRow("labelEndDate") << "labelEndDate" << "QLabel" << log << "End Date" << true;
        QTest::newRow("dateEditEnd") << "dateEditEnd" << "QDateEdit" << log << "" << true;
        QTest::newRow("pushButtonEraseLaserData") << "pushButtonEraseLaserData" << "QPushButton" << log
                                                  << "Delete Laser Data" << true;
        QTest::newRow("pushButtonSaveLog") << "pushButtonSaveLog" << "QPushButton" << log << "Save ..." << false;
        QTest::newRow("pushButtonRetrieveLog") << "pushButtonRetrieveLog" << "QPushButton" << log << "Retrieve"
                                               << true;
        QTest::newRow("treeWidgetLiveData") << "treeWidgetLiveData" << "QTreeWidget" << live << "" << true;
        QTest::newRow("labelNote") << "labelNote" << "QLabel" << live << "Free Note" << true;
        QTest::newRow("lineEditNote") << "lineEditNote" << "QLineEdit" << live << "" << true;
        QTest::newRow("labelDataFile") << "labelDataFile" << "QLabel" << live << "Data File" << true;
        QTest::newRow("lineEditDataFile") << "lineEditDataFile" << "QLineEdit" << live << "" << true;
        QTest::newRow("pushButtonDataFile") << "pushButtonDataFile" << "QPushButton" << live << " Data File ..."
                                            << true;
        QTest::newRow("pushButtonStart") << "pushButtonStart" << "QPushButton" << live << "Start" << false;
        QTest::newRow("labelLaser") << "labelLaser" << "QLabel" << dialog << "Lidar Selection" << true;
        QTest::newRow("listWidgetLidars") << "listWidgetLidars" << "QListWidget" << dialog << "" << true;
        QTest::newRow("pushButtonRefresh") << "pushButtonRefresh" << "QPushButton" << dialog << "Refresh Lidars"
                                           << true;
        QTest::newRow("pushButtonClear") << "pushButtonClear" << "QPushButton" << dialog << "Clear Display" << true;
        QTest::newRow("pushButtonLoadData") << "pushButtonLoadData" << "QPushButton" << dialog
                                            << "Load Data File ..." << true;
        QTest::newRow("pushButtonExit") << "pushButtonExit" << "QPushButton" << dialog << "Exit" << true;
    }
    void form()
    {
        QFETCH(QString, name);
        QFETCH(QString, className);
        QFETCH(QString, parentName);
        QFETCH(QString, text);
        QFETCH(bool, enabled);

        RecordingOperator op;
        Vantrix dialog(&op);
        auto *widget = dialog.findChild<QWidget *>(name);
        QVERIFY2(widget, qPrintable(name));
        QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
        QCOMPARE(widget->parentWidget()->objectName(), parentName);
        // A date edit's text is its date, checked elsewhere.
        if (widget->metaObject()->indexOfProperty("text") >= 0 && !qobject_cast<QAbstractSpinBox *>(widget))
            QCOMPARE(widget->property("text").toString(), text);
        QCOMPARE(widget->isEnabled(), enabled);
    }

    void formProperties()
    {
        RecordingOperator op;
        Vantrix dialog(&op);
        const VantrixForm &ui = dialog.form();
        QCOMPARE(dialog.objectName(), QStringLiteral("VantrixClass"));
        QCOMPARE(dialog.size(), QSize(1000, 672));
        QCOMPARE(dialog.minimumSize(), QSize(800, 600));
        QCOMPARE(ui.tabWidgetData->currentIndex(), 0);
        QCOMPARE(ui.tabWidgetData->widget(0), ui.tabDataRetrieval);
        QCOMPARE(ui.tabWidgetData->tabText(0), QStringLiteral("Laser Data Log"));
        QCOMPARE(ui.tabWidgetData->widget(1), ui.tabVantrix);
        QCOMPARE(ui.tabWidgetData->tabText(1), QStringLiteral("Laser Live Data"));
        QVERIFY(ui.lineEditDataFile->isReadOnly());
        QCOMPARE(ui.labelNote->buddy(), ui.lineEditNote);
        QCOMPARE(ui.labelDataFile->buddy(), ui.lineEditDataFile);
        QCOMPARE(ui.listWidgetLidars->font().pointSize(), 16);
        QCOMPARE(ui.labelLaser->font().pointSize(), 12);
        for (QPushButton *button : {ui.pushButtonRefresh, ui.pushButtonClear, ui.pushButtonLoadData,
                                    ui.pushButtonExit}) {
            QCOMPARE(button->font().pointSize(), 14);
            QCOMPARE(button->iconSize(), QSize(32, 32));
            QCOMPARE(button->minimumHeight(), 48);
        }
        QVERIFY(ui.dateEditStart->calendarPopup());
        QCOMPARE(ui.dateEditStart->date(), QDate::currentDate());
        QCOMPARE(ui.dateEditEnd->date(), QDate::currentDate());
        QVERIFY(!ui.treeWidgetLiveData->isSortingEnabled());
        QCOMPARE(ui.listWidgetLidars->styleSheet(),
                 QStringLiteral("QListWidget::item:hover {background-color:lightGray;}"));
    }

    void versionAndTitle()
    {
        RecordingOperator op;
        Vantrix dialog(&op);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Velomark 1.3 Build 96"));
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Velomark"));
        QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("1.3 Build 96"));
        QCOMPARE(QCoreApplication::organizationName(), QStringLiteral("Veltrazon Technology"));
        QCOMPARE(dialog.messageTitle, QStringLiteral("Veltrazon Data Logger"));
        QCOMPARE(dialog.liveCsvHeader, kHeader);
        QCOMPARE(dialog.connection().lidarType, 6);
        QCOMPARE(dialog.connection().firmwareMajor, -1);
        QCOMPARE(dialog.connection().firmwareMinor, -1);
    }

    void headers()
    {
        RecordingOperator op;
        Vantrix dialog(&op);
        const QStringList live = {"   Speed   ", "   Range   ", "   Moving Direction ", "   LidarDate   ",
                                  "   Lidar Time   ", " GPS Latitude ", " GPS Longitude ",
                                  "   Lidar Serial Number"};
        QStringList logged = live;
        logged[3] = "   Lidar Date   ";
        const QPair<QTreeWidget *, QStringList> trees[] = {{dialog.form().treeWidgetLiveData, live},
                                                           {dialog.form().treeWidgetLoggedData, logged}};
        for (const auto &tree : trees) {
            QCOMPARE(tree.first->columnCount(), 8);
            for (int column = 0; column < 8; ++column) {
                QCOMPARE(tree.first->headerItem()->text(column), tree.second[column]);
                QCOMPARE(tree.first->header()->sectionResizeMode(column), QHeaderView::ResizeToContents);
            }
        }
    }

    void tabOrder()
    {
        RecordingOperator op;
        Vantrix dialog(&op);
        const QStringList expected = {
            "listWidgetLidars",   "pushButtonRefresh",        "pushButtonClear",   "pushButtonLoadData",
            "pushButtonExit",     "dateEditStart",            "dateEditEnd",       "pushButtonEraseLaserData",
            "pushButtonSaveLog",  "pushButtonRetrieveLog",    "checkBoxAll",       "lineEditDataFile",
            "pushButtonDataFile", "pushButtonStart",          "tabWidgetData",     "treeWidgetLoggedData",
            "treeWidgetLiveData", "lineEditNote"};
        // Inner widgets (a date edit's line edit, a view's viewport) sit in the chain too.
        QStringList order;
        QWidget *widget = dialog.form().listWidgetLidars;
        do {
            if (expected.contains(widget->objectName()) && !order.contains(widget->objectName()))
                order.append(widget->objectName());
            widget = widget->nextInFocusChain();
        } while (widget != dialog.form().listWidgetLidars);
        QCOMPARE(order, expected);
    }

    void icons_data()
    {
        QTest::addColumn<QString>("path");
        for (const char *name : {"vantrix.ico", "Trash.ico", "SaveDump.ico", "Document spreadsheet.ico",
                                 "select.ico", "Restart.ico", "Refresh.ico", "Clean.ico", "LoadTable.ico",
                                 "Close.ico"})
            QTest::newRow(name) << QStringLiteral(":/Vantrix/Icons/") + QLatin1String(name);
    }
    void icons()
    {
        QFETCH(QString, path);
        RecordingOperator op;
        Vantrix dialog(&op);  // registers the resources
        QIcon icon(path);
        const QList<QSize> sizes = icon.availableSizes();
        for (const QSize size : {QSize(16, 16), QSize(32, 32), QSize(48, 48)})
            QVERIFY2(sizes.contains(size), qPrintable(path));
    }

    void pleaseWaitForm()
    {
        RecordingOperator op;
        Vantrix dialog(&op);
        delayMsgDlg *wait = dialog.waitDialog();
        QVERIFY(wait);
        QCOMPARE(wait->parentWidget(), &dialog);
        QCOMPARE(wait->objectName(), QStringLiteral("delayMsg"));
        QVERIFY(wait->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(wait->isModal());
        QCOMPARE(wait->windowModality(), Qt::ApplicationModal);
        QCOMPARE(wait->size(), QSize(394, 82));
        QCOMPARE(wait->minimumSize(), QSize(373, 82));
        QCOMPARE(wait->windowTitle(), QStringLiteral("Veltrazon Velomark"));
        QVERIFY(!wait->windowIcon().isNull());
        QCOMPARE(wait->labelLink->maximumWidth(), 64);
        QVERIFY(wait->labelLink->text().isEmpty());
        QVERIFY(!wait->labelLink->pixmap(Qt::ReturnByValue).isNull());
        QCOMPARE(wait->labelMsg->text(), QStringLiteral("Initializing Data Collector, please wait ..."));
        QCOMPARE(wait->labelMsg->font().pointSize(), 11);
        QCOMPARE(wait->labelMsg->textInteractionFlags(), Qt::NoTextInteraction);
        QVERIFY(!wait->isVisible());
    }

    // The window's own operator drives the please-wait window through its whole protocol.
    void pleaseWaitProtocol()
    {
        RecordingOperator op;
        Vantrix dialog(&op);
        dialog.show();
        MessageBoxOperator boxes(&dialog, dialog.waitDialog());
        boxes.showWait(QStringLiteral("Searching for lidar devices, please wait ..."));
        QVERIFY(dialog.waitDialog()->isVisible());
        QCOMPARE(dialog.waitDialog()->labelMsg->text(), QStringLiteral("Searching for lidar devices, please wait ..."));
        boxes.setWaitText(QStringLiteral("Parsing logged data, please wait ..."));
        QCOMPARE(dialog.waitDialog()->labelMsg->text(), QStringLiteral("Parsing logged data, please wait ..."));
        boxes.closeWait();
        QVERIFY(!dialog.waitDialog()->isVisible());
        QCOMPARE(dialog.waitDialog()->result(), int(QDialog::Accepted));
        boxes.closeWait();  // harmless when already closed
    }

    void escapeIsSwallowed()
    {
        RecordingOperator op;
        Vantrix dialog(&op);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(dialog.isVisible());

        dialog.waitDialog()->open();
        QTest::keyClick(dialog.waitDialog(), Qt::Key_Escape);
        QVERIFY(dialog.waitDialog()->isVisible());
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(dialog.isVisible());
        dialog.waitDialog()->done(QDialog::Accepted);
    }

    void enablingRule_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("ready");
        QTest::addColumn<int>("loggedRows");
        for (bool running : {false, true})
            for (bool ready : {false, true})
                for (int rows : {0, 2})
                    QTest::addRow("running=%d ready=%d rows=%d", running, ready, rows) << running << ready << rows;
    }
    void enablingRule()
    {
        QFETCH(bool, running);
        QFETCH(bool, ready);
        QFETCH(int, loggedRows);
        RecordingOperator op;
        Vantrix dialog(&op);
        const VantrixForm &ui = dialog.form();
        dialog.liveRunning = running;
        dialog.dataFileReady = ready;
        addRows(ui.treeWidgetLoggedData, loggedRows);
        dialog.UpdateControls();

        QCOMPARE(ui.pushButtonStart->text(), running ? QStringLiteral("Stop") : QStringLiteral("Start"));
        QCOMPARE(ui.pushButtonStart->isEnabled(), ready);
        for (QWidget *idleOnly : std::initializer_list<QWidget *>{ui.pushButtonDataFile, ui.lineEditNote,
                                                                  ui.tabDataRetrieval, ui.pushButtonRefresh,
                                                                  ui.pushButtonRetrieveLog})
            QCOMPARE(idleOnly->isEnabled(), !running);
        QCOMPARE(ui.pushButtonSaveLog->isEnabled(), loggedRows > 0 && !running);
        QCOMPARE(ui.pushButtonSaveLog->isEnabledTo(ui.tabDataRetrieval), loggedRows > 0);
        // Exit and Clear stay usable whatever runs.
        QVERIFY(ui.pushButtonExit->isEnabled());
        QVERIFY(ui.pushButtonClear->isEnabled());
    }

    void secondShowStartsNoDiscovery()
    {
        RecordingOperator op;
        Vantrix dialog(&op);
        QSignalSpy discoveries(&dialog, &Vantrix::enumeratePortsStarted);
        QElapsedTimer clock;
        clock.start();
        dialog.show();
        QTRY_COMPARE_WITH_TIMEOUT(discoveries.count(), 1, 3000);
        QVERIFY2(clock.elapsed() >= 250, "discovery must wait for the window to settle");

        dialog.showMinimized();
        dialog.hide();
        dialog.showNormal();
        QTest::qWait(700);
        QCOMPARE(discoveries.count(), 1);
    }

    void clear_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<int>("loggedRows");
        QTest::addColumn<int>("liveRows");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QString>("title");  // empty: no question
        QTest::addColumn<QString>("question");
        QTest::addColumn<int>("loggedAfter");
        QTest::addColumn<int>("liveAfter");

        const QString logQ = QStringLiteral("Do you want to clear the logged data ?");
        const QString liveQ = QStringLiteral("Do you want to clear the display content ?");
        QTest::newRow("log tab, Yes") << 0 << 3 << 2 << true << "Velomark" << logQ << 0 << 2;
        QTest::newRow("log tab, No") << 0 << 3 << 2 << false << "Velomark" << logQ << 3 << 2;
        QTest::newRow("log tab empty asks nothing") << 0 << 0 << 2 << true << "" << "" << 0 << 2;
        QTest::newRow("live tab, Yes") << 1 << 3 << 2 << true << "Veltrazon Data Logger" << liveQ << 3 << 0;
        QTest::newRow("live tab, No") << 1 << 3 << 2 << false << "Veltrazon Data Logger" << liveQ << 3 << 2;
        QTest::newRow("live tab empty asks nothing") << 1 << 3 << 0 << true << "" << "" << 3 << 0;
    }
    void clear()
    {
        QFETCH(int, tab);
        QFETCH(int, loggedRows);
        QFETCH(int, liveRows);
        QFETCH(bool, answer);
        QFETCH(QString, title);
        QFETCH(QString, question);
        QFETCH(int, loggedAfter);
        QFETCH(int, liveAfter);

        RecordingOperator op;
        op.answers.enqueue(answer);
        Vantrix dialog(&op);
        const VantrixForm &ui = dialog.form();
        addRows(ui.treeWidgetLoggedData, loggedRows);
        addRows(ui.treeWidgetLiveData, liveRows);
        ui.tabWidgetData->setCurrentIndex(tab);
        QTest::mouseClick(ui.pushButtonClear, Qt::LeftButton);

        if (title.isEmpty()) {
            QVERIFY(op.messages.isEmpty());
        } else {
            QCOMPARE(op.messages.size(), 1);
            QCOMPARE(op.messages[0].kind, RecordedMessage::Question);
            QCOMPARE(op.messages[0].title, title);
            QCOMPARE(op.messages[0].text, question);
        }
        QCOMPARE(ui.treeWidgetLoggedData->topLevelItemCount(), loggedAfter);
        QCOMPARE(ui.treeWidgetLiveData->topLevelItemCount(), liveAfter);
    }

    void browse_data()
    {
        QTest::addColumn<QByteArray>("before");  // "absent" for no file
        QTest::addColumn<bool>("ready");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QString>("message");

        const QByteArray header = kHeader.toUtf8();
        const QByteArray lines = "55,123.4,Approaching,2019Oct15,10:11:12,,,00042,old.txt,\n";
        QTest::newRow("new file gets exactly the header") << QByteArray("absent") << true << header << QString();
        QTest::newRow("existing data file kept as it is")
            << header + lines << true << header + lines << QString();
        QTest::newRow("file without header refused")
            << QByteArray("some notes\n") << false << QByteArray("some notes\n")
            << QStringLiteral("The selected file is not a Veltrazon Speed Lidar Data File");
    }
    void browse()
    {
        QFETCH(QByteArray, before);
        QFETCH(bool, ready);
        QFETCH(QByteArray, after);
        QFETCH(QString, message);

        QTemporaryDir dir;
        const QString path = QDir::toNativeSeparators(dir.filePath(QStringLiteral("data.txt")));
        if (before != "absent") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(before);
        }
        RecordingOperator op;
        op.fileNames.enqueue(path);
        Vantrix dialog(&op);
        QTest::mouseClick(dialog.form().pushButtonDataFile, Qt::LeftButton);

        QCOMPARE(op.lastStartDir, QString());
        QCOMPARE(dialog.dataFilePath, path);
        QCOMPARE(dialog.form().lineEditDataFile->text(), path);
        QCOMPARE(dialog.dataFileReady, ready);
        QCOMPARE(dialog.dataFile.isOpen(), ready);
        QCOMPARE(dialog.form().pushButtonStart->isEnabled(), ready);
        QCOMPARE(readAll(path), after);
        QCOMPARE(op.texts(), message.isEmpty() ? QStringList() : QStringList{message});
        if (!message.isEmpty())
            QCOMPARE(op.messages[0].title, QStringLiteral("Veltrazon Data Logger"));
    }

    void browseUnwritablePath()
    {
        const QString path = QStringLiteral("/nonexistent-velomark/data.txt");
        RecordingOperator op;
        op.fileNames.enqueue(path);
        Vantrix dialog(&op);
        dialog.OnBtnBrowseClicked();
        QVERIFY(!dialog.dataFileReady);
        QVERIFY(!dialog.form().pushButtonStart->isEnabled());
        QCOMPARE(op.messages.size(), 1);
        QCOMPARE(op.messages[0].title, QStringLiteral("Veltrazon Data Logger"));
        QVERIFY2(op.messages[0].text.startsWith(QStringLiteral("Open data file %1 failed with error: ").arg(path)),
                 qPrintable(op.messages[0].text));
    }

    // A cancelled dialog leaves the chosen file in use, its name shown and its path kept.
    void browseCancelChangesNothing()
    {
        QTemporaryDir dir;
        const QString path = QDir::toNativeSeparators(dir.filePath(QStringLiteral("kept.txt")));
        RecordingOperator op;
        op.fileNames.enqueue(path);
        Vantrix dialog(&op);
        dialog.OnBtnBrowseClicked();
        QVERIFY(dialog.dataFileReady);

        dialog.OnBtnBrowseClicked();  // the queue is empty: cancelled
        QCOMPARE(op.lastStartDir, QDir::toNativeSeparators(dir.path()));
        QCOMPARE(dialog.dataFilePath, path);
        QCOMPARE(dialog.form().lineEditDataFile->text(), path);
        QVERIFY(dialog.dataFileReady);
        QVERIFY(dialog.dataFile.isOpen());
        QVERIFY(dialog.form().pushButtonStart->isEnabled());
        QVERIFY(op.messages.isEmpty());
    }

    void lidarSelectionTitle()
    {
        RecordingOperator op;
        Vantrix dialog(&op);
        dialog.form().listWidgetLidars->addItems({"LR-B 00417", "LR-B 00933"});
        dialog.form().listWidgetLidars->setCurrentRow(1);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Veltrazon Speed Velomark 1.3 Build 96 -- LR-B 00933"));
        dialog.form().listWidgetLidars->clear();  // current row becomes -1
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Veltrazon Speed Velomark 1.3 Build 96 -- LR-B 00933"));
        QVERIFY(!dialog.serialPort().isOpen());
    }

    void pendingMessageShownOnce()
    {
        RecordingOperator op;
        Vantrix dialog(&op);
        dialog.msgDisplay();
        QVERIFY(op.messages.isEmpty());
        dialog.pendingMessage = QStringLiteral("Retrieval ended early");
        QVERIFY(QMetaObject::invokeMethod(&dialog, "msgDisplay"));
        dialog.msgDisplay();
        QCOMPARE(op.messages.size(), 1);
        QCOMPARE(op.messages[0].kind, RecordedMessage::Information);
        QCOMPARE(op.messages[0].title, QStringLiteral("Velomark"));
        QCOMPARE(op.messages[0].text, QStringLiteral("Retrieval ended early"));
        QVERIFY(dialog.pendingMessage.isEmpty());
    }

    // Exit and the window's close button both stop the acquisition and release the port.
    void shutdown_data()
    {
        QTest::addColumn<bool>("throughExit");
        QTest::newRow("Exit") << true;
        QTest::newRow("close button") << false;
    }
    void shutdown()
    {
        QFETCH(bool, throughExit);
        QTemporaryDir dir;
        LidarSim sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));

        RecordingOperator op;
        op.fileNames.enqueue(dir.filePath(QStringLiteral("live.txt")));
        Vantrix dialog(&op);
        dialog.show();
        dialog.OnBtnBrowseClicked();
        dialog.serialPort().setPortName(sim.portPath());
        QVERIFY2(dialog.serialPort().open(QIODevice::ReadWrite), qPrintable(dialog.serialPort().errorString()));
        dialog.connection().connectedLidarName = QStringLiteral("LR-B 00417");
        dialog.liveRunning = true;

        // The program's event loop must end when the dialog goes; a time-out ends it otherwise.
        QSignalSpy lastWindow(qApp, &QGuiApplication::lastWindowClosed);
        QTimer::singleShot(0, &dialog, [&dialog, throughExit] {
            if (throughExit)
                QTest::mouseClick(dialog.form().pushButtonExit, Qt::LeftButton);
            else
                dialog.close();
        });
        QTimer timeOut;
        timeOut.setSingleShot(true);
        connect(&timeOut, &QTimer::timeout, qApp, [] { qApp->exit(99); });
        timeOut.start(8000);
        QCOMPARE(qApp->exec(), 0);
        timeOut.stop();

        QVERIFY(!dialog.isVisible());
        QCOMPARE(lastWindow.count(), 1);
        QCOMPARE(dialog.result(), int(throughExit ? QDialog::Accepted : QDialog::Rejected));
        QVERIFY(!dialog.liveRunning);
        QVERIFY(!dialog.dataFile.isOpen());
        QVERIFY(!dialog.serialPort().isOpen());
        QVERIFY(dialog.connection().connectedLidarName.isEmpty());
        // The lidar was released from remote mode before its port closed.
        QVERIFY(sim.receivedBytes().contains(QByteArray::fromHex("020c0c03")));
        QVERIFY(op.messages.isEmpty());
    }
};

QTEST_MAIN(TestVantrix)
#include "tst_vantrix.moc"
