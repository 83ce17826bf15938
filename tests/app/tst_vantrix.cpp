#include <QtTest>
#include <QtWidgets>

#include "delaymsgdlg.h"
#include "golden.h"
#include "log/logrows.h"
#include "messageboxoperator.h"
#include "simlink.h"
#include "simwindow.h"
#include "speedchart.h"

namespace {

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
    void cleanup() { qunsetenv("VELOMARK_LIDARS"); }

    // Every named widget: class, parent, text (a tree's is its header, blanks included; a date
    // edit's is its date, checked below) and enabled state; then the focus chain. Golden file:
    // tests/data/vantrix_form.txt.
    void form()
    {
        RecordingOperator op;
        Vantrix dialog(&op);
        QByteArray table;
        QStringList names;  // of the form's widgets; a tab bar's scroll buttons are Qt's own
        for (QWidget *widget : dialog.findChildren<QWidget *>()) {
            const QString name = widget->objectName();
            if (name.isEmpty() || name.startsWith(QLatin1String("qt_")) || qobject_cast<QTabBar *>(widget->parentWidget()))
                continue;
            names << name;
            QString text;
            if (auto *tree = qobject_cast<QTreeWidget *>(widget))
                for (int column = 0; column < tree->columnCount(); ++column)
                    text += (column ? "," : "") + tree->headerItem()->text(column);
            else if (!qobject_cast<QAbstractSpinBox *>(widget))
                text = widget->property("text").toString();
            table += QStringList({name, widget->metaObject()->className(), widget->parentWidget()->objectName(), text,
                                  widget->isEnabled() ? "on" : "off"}).join('|').toUtf8() + '\n';
        }
        // Inner widgets (a date edit's line edit, a view's viewport) sit in the chain too.
        table += "focus chain:";
        QWidget *widget = dialog.form().listWidgetLidars;
        do {
            if (widget->focusPolicy() & Qt::TabFocus && names.contains(widget->objectName()))
                table += ' ' + widget->objectName().toUtf8();
            widget = widget->nextInFocusChain();
        } while (widget != dialog.form().listWidgetLidars);
        QCOMPARE(table + '\n', golden(QStringLiteral("vantrix_form.txt"), table + '\n'));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Velomark 1.3 Build 96"));
        // 1000x672 where the screen has room for it (with a frame), never below what the layout needs.
        const QSize room = dialog.screen()->availableGeometry().size() - QSize(16, 40);
        QCOMPARE(dialog.size(), QSize(1000, 672).boundedTo(room).expandedTo(dialog.minimumSizeHint()));
        const VantrixForm &ui = dialog.form();
        QCOMPARE(ui.tabWidgetData->tabText(0) + '|' + ui.tabWidgetData->tabText(1),
                 QStringLiteral("Laser Data Log|Laser Live Data"));
        QVERIFY(ui.lineEditDataFile->isReadOnly() && ui.dateEditStart->calendarPopup()
                && !ui.treeWidgetLiveData->isSortingEnabled());
        QVERIFY(ui.dateEditStart->date() == QDate::currentDate() && ui.dateEditEnd->date() == QDate::currentDate());
        for (const char *name : {"vantrix.ico", "Trash.ico", "SaveDump.ico", "Document spreadsheet.ico", "select.ico",
                                 "Restart.ico", "Refresh.ico", "Clean.ico", "LoadTable.ico", "Close.ico"})
            QVERIFY2(QIcon(QStringLiteral(":/Vantrix/Icons/") + name).availableSizes().contains(QSize(48, 48)), name);
    }

    // The form of the please-wait window, the window's own operator driving it, and Escape
    // swallowed by both dialogs. The window's questions have no default button: Enter leaves
    // "erase the log?" open and Escape answers No.
    void pleaseWaitAndQuestions()
    {
        RecordingOperator op;
        Vantrix dialog(&op);
        delayMsgDlg *wait = dialog.waitDialog();  // its name, label and parent: the form's golden file
        QCOMPARE(wait->windowTitle(), QStringLiteral("Veltrazon Velomark"));
        QVERIFY((wait->windowFlags() & Qt::FramelessWindowHint) && wait->windowModality() == Qt::ApplicationModal);
        QVERIFY(!wait->labelLink->pixmap(Qt::ReturnByValue).isNull() && !wait->isVisible());

        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(dialog.isVisible());
        MessageBoxOperator boxes(&dialog, wait);
        boxes.showWait(QStringLiteral("Searching for lidar devices, please wait ..."));
        QCOMPARE(wait->labelMsg->text(), QStringLiteral("Searching for lidar devices, please wait ..."));
        QTest::keyClick(wait, Qt::Key_Escape);
        QVERIFY(wait->isVisible());
        boxes.setWaitText(QStringLiteral("Parsing logged data, please wait ..."));
        QCOMPARE(wait->labelMsg->text(), QStringLiteral("Parsing logged data, please wait ..."));
        boxes.closeWait();
        QVERIFY(!wait->isVisible());

        const QString title = QStringLiteral("Velomark");
        const QString text = QStringLiteral("Do you want to erase the logged data in lidar ?");

        QString shown;  // the box's title, text and buttons as it came up
        bool openAfterEnter = false;
        QTimer answer;
        answer.setInterval(20);
        connect(&answer, &QTimer::timeout, &dialog, [&] {
            QPointer<QMessageBox> box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            answer.stop();
            shown = box->windowTitle() + '|' + box->text() + '|' + QString::number(box->standardButtons());
            QTest::keyClick(box, Qt::Key_Return);
            if (box && box->isVisible())
                QTest::keyClick(box, Qt::Key_Enter);
            openAfterEnter = box && box->isVisible();
            if (openAfterEnter)
                QTest::keyClick(box, Qt::Key_Escape);
        });
        answer.start();
        // Should no box come up or none close, the test ends instead of waiting for ever.
        QTimer::singleShot(10000, &dialog, [] {
            if (QWidget *modal = QApplication::activeModalWidget())
                modal->close();
        });
        const bool yes = boxes.ask(title, text);

        QCOMPARE(shown, title + '|' + text + '|' + QString::number(QMessageBox::Yes | QMessageBox::No));
        QVERIFY(openAfterEnter);
        QVERIFY(!yes);
    }

    void clear_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<int>("rows");  // on that tab; the other tab holds two
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QStringList>("question");  // as simlink::shown gives it; empty: none asked
        QTest::addColumn<int>("rowsAfter");
        const QStringList logQ = {"A:Do you want to clear the logged data ?"};
        const QStringList liveQ = {"K:Do you want to clear the display content ?"};
        // Each tab's branch is taken with Yes; No and an empty list once, on one tab each.
        QTest::newRow("log tab, Yes") << 0 << 3 << true << logQ << 0;
        QTest::newRow("log tab, No") << 0 << 3 << false << logQ << 3;
        QTest::newRow("live tab, Yes") << 1 << 3 << true << liveQ << 0;
        QTest::newRow("live tab empty asks nothing") << 1 << 0 << true << QStringList() << 0;
    }
    void clear()
    {
        QFETCH(int, tab);
        QFETCH(int, rows);
        QFETCH(bool, answer);
        RecordingOperator op;
        op.answers.enqueue(answer);
        Vantrix dialog(&op);
        QTreeWidget *const trees[] = {dialog.form().treeWidgetLoggedData, dialog.form().treeWidgetLiveData};
        addRows(trees[tab], rows);
        addRows(trees[1 - tab], 2);
        dialog.form().tabWidgetData->setCurrentIndex(tab);
        dialog.UpdateControls();
        const QString title = dialog.windowTitle();
        dialog.setWindowTitle(velomark::titleWithRecordCount(title, trees[0]->topLevelItemCount()));
        const QString countedTitle = dialog.windowTitle();
        QTest::mouseClick(dialog.form().pushButtonClear, Qt::LeftButton);

        QTEST(simlink::shown(op), "question");
        QTEST(trees[tab]->topLevelItemCount(), "rowsAfter");
        QCOMPARE(trees[1 - tab]->topLevelItemCount(), 2);
        // A cleared log list has nothing to save and no count in the title.
        const bool logEmpty = trees[0]->topLevelItemCount() == 0;
        QCOMPARE(dialog.form().pushButtonSaveLog->isEnabled(), !logEmpty);
        QCOMPARE(dialog.windowTitle(), tab == 0 && rows > 0 && logEmpty ? title : countedTitle);
    }

    // Every button, label, check box and date shows its whole text, the tabs included, and no
    // two widgets overlap, even at the minimum size (the initial size is no smaller).
    void textsFit()
    {
        RecordingOperator op;
        Vantrix dialog(&op);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTabWidget *tabs = dialog.form().tabWidgetData;
        QVERIFY(tabs->tabBar()->width() >= tabs->tabBar()->sizeHint().width());
        // Every column of both lists is as wide as its header text; the lists scroll to the rest.
        for (QTreeWidget *list : {dialog.form().treeWidgetLoggedData, dialog.form().treeWidgetLiveData}) {
            tabs->setCurrentWidget(list->parentWidget());
            QCoreApplication::processEvents();
            QHeaderView *header = list->header();
            for (int column = 0; column < header->count(); ++column)
                QVERIFY2(header->sectionSize(column) >= header->sectionSizeHint(column),
                         qPrintable(list->objectName() + QString::number(column)));
            QCOMPARE(list->horizontalScrollBar()->maximum() > 0, header->length() > list->viewport()->width());
        }
        dialog.resize(dialog.minimumSize());
        for (int tab = 0; tab < tabs->count(); ++tab) {
            tabs->setCurrentIndex(tab);
            QCoreApplication::processEvents();
            for (QWidget *widget : dialog.findChildren<QWidget *>()) {
                if (!widget->isVisibleTo(&dialog) || widget->objectName().startsWith(QLatin1String("qt_")))
                    continue;
                const QString where = widget->objectName() + QLatin1Char(' ') + widget->metaObject()->className();
                if (qobject_cast<QAbstractButton *>(widget) || qobject_cast<QLabel *>(widget)
                    || qobject_cast<QDateEdit *>(widget) || qobject_cast<QSpinBox *>(widget)) {
                    const QSize need = widget->sizeHint();
                    QVERIFY2(widget->width() >= need.width() && widget->height() >= widget->minimumSizeHint().height(),
                             qPrintable(QStringLiteral("%1: %2x%3 for %4x%5").arg(where).arg(widget->width())
                                            .arg(widget->height()).arg(need.width()).arg(need.height())));
                }
                for (QWidget *sibling : widget->parentWidget()->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
                    if (sibling != widget && sibling->isVisibleTo(&dialog) && !sibling->isWindow() && !widget->isWindow()
                        && !sibling->objectName().startsWith(QLatin1String("qt_")))
                        QVERIFY2(!widget->geometry().intersects(sibling->geometry()),
                                 qPrintable(where + QStringLiteral(" overlaps ") + sibling->objectName()));
                }
            }
        }
    }

    // Discovery runs once the window has settled after its first show, never on a later one;
    // Enter starts nothing the focused field does not own: no discovery, no message. The
    // focus stays where the operator left it.
    void discoveryOnceAndEnterStartsNothing()
    {
        qputenv("VELOMARK_LIDARS", "VZQ Frame=/dev/null");
        RecordingOperator op;
        Vantrix dialog(&op);
        dialog.form().checkBoxAll->setChecked(false);
        QSignalSpy discoveries(&dialog, &Vantrix::enumeratePortsStarted);
        QElapsedTimer clock;
        clock.start();
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QTRY_COMPARE_WITH_TIMEOUT(discoveries.count(), 1, 3000);
        QVERIFY2(clock.elapsed() >= 250, "discovery must wait for the window to settle");
        const VantrixForm &ui = dialog.form();
        for (QWidget *field : QList<QWidget *>{ui.dateEditStart, ui.dateEditEnd, ui.lineEditNote, ui.lineEditDataFile,
                                               ui.speedChart->limitBox()}) {
            ui.tabWidgetData->setCurrentWidget(field == ui.dateEditStart || field == ui.dateEditEnd ? ui.tabDataRetrieval
                                               : field == ui.speedChart->limitBox()                ? ui.speedChart
                                                                                                    : ui.tabVantrix);
            field->setFocus();
            QTest::keyClick(field, Qt::Key_Return);
            QTest::keyClick(field, Qt::Key_Enter);
            QCOMPARE(QApplication::focusWidget(), field);
        }
        dialog.showMinimized();
        dialog.hide();
        dialog.showNormal();
        QTest::qWait(700);
        QCOMPARE(discoveries.count(), 1);
        QCOMPARE(op.texts(), QStringList());
    }

    // Acceptance of a data file is the core's (live tst_liverow); here the window's use of it,
    // accepted and refused. A file that cannot be opened: tst_vantrixlive, at the end of
    // startShowsRowsAndStopKeepsTheLidar.
    void browse_data()
    {
        QTest::addColumn<QByteArray>("before");  // empty: no file
        QTest::addColumn<bool>("ready");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QStringList>("messages");  // as simlink::shown gives them
        QTest::newRow("new file gets exactly the header") << QByteArray() << true << kLiveHeader << QStringList();
        QTest::newRow("file without header refused") << QByteArray("some notes\n") << false << QByteArray("some notes\n")
            << QStringList{"K:The selected file is not a Veltrazon Speed Lidar Data File"};
    }
    void browse()
    {
        QFETCH(QByteArray, before);
        QFETCH(bool, ready);
        QTemporaryDir dir;
        const QString path = QDir::toNativeSeparators(dir.filePath(QStringLiteral("data.txt")));
        if (!before.isEmpty())
            QVERIFY(writeFileBytes(path, before));
        RecordingOperator op;
        op.fileNames.enqueue(path);
        Vantrix dialog(&op);
        QTest::mouseClick(dialog.form().pushButtonDataFile, Qt::LeftButton);

        QCOMPARE(op.lastStartDir, QString());
        QCOMPARE(dialog.form().lineEditDataFile->text(), path);
        QCOMPARE(dialog.dataFile.isOpen(), ready);
        QCOMPARE(dialog.form().pushButtonStart->isEnabled(), ready);
        QTEST(fileBytes(path), "after");
        QTEST(simlink::shown(op), "messages");

        // A cancelled second dialog changes nothing; it starts in the folder of the file.
        dialog.OnBtnBrowseClicked();
        QCOMPARE(op.lastStartDir, QFileInfo(path).path());
        QCOMPARE(dialog.form().lineEditDataFile->text(), path);
        QCOMPARE(dialog.dataFile.isOpen(), ready);
        QTEST(simlink::shown(op), "messages");
    }

    // Discovery selects the first row and never connects; Refresh releases the connected
    // lidar before it looks again.
    void refreshReleasesTheLidarAndRefillsTheList()
    {
        LidarSim second;
        QVERIFY2(second.start(), qPrintable(second.errorString()));
        SimWindow w;
        QVERIFY2(w.start(QStringLiteral("VZQ Alpha 00101"), "VZQ Beta 00202=" + second.portPath()),
                 qPrintable(w.sim.errorString()));
        Vantrix &dialog = w.dialog;
        QListWidget *list = dialog.form().listWidgetLidars;
        QCOMPARE(list->count(), 2);
        // The title follows the selection: the first row.
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Veltrazon Speed Velomark 1.3 Build 96 -- VZQ Alpha 00101"));
        // Discovery selects; it never connects.
        QVERIFY(!dialog.connection().isOpen() && w.sim.receivedBytes().isEmpty());
        QVERIFY(dialog.ConnectSelectedLidar());

        // The list changes under the window: Beta alone is paired now.
        qputenv("VELOMARK_LIDARS", QStringLiteral("VZQ Beta 00202=%1").arg(second.portPath()).toUtf8());
        dialog.OnBtnRefreshClicked();
        QVERIFY(w.sim.receivedBytes().endsWith(QByteArray::fromHex("020c0c03")));
        QVERIFY(!dialog.connection().isOpen() && dialog.connection().connectedLidarName.isEmpty());
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->currentItem()->text(), QStringLiteral("VZQ Beta 00202"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Veltrazon Speed Velomark 1.3 Build 96 -- VZQ Beta 00202"));

        // No lidar left: an empty list, and the title keeps the last lidar (the message:
        // lidar tst_discovery).
        qputenv("VELOMARK_LIDARS", "Headset=/dev/null");
        dialog.OnBtnRefreshClicked();
        QCOMPARE(list->count(), 0);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Veltrazon Speed Velomark 1.3 Build 96 -- VZQ Beta 00202"));
    }
};

QTEST_MAIN(TestVantrix)
#include "tst_vantrix.moc"
