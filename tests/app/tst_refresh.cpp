#include <QtTest>
#include <QtWidgets>

#include "lidarsim.h"
#include "recordingoperator.h"
#include "vantrix.h"

// Discovery as the window runs it: the list, the first row, the title, and Refresh
// releasing the connected lidar before it looks again.
class TestRefresh : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { qunsetenv("VELOMARK_LIDARS"); }

    void refreshReleasesTheLidarAndRefillsTheList()
    {
        LidarSim first, second;
        QVERIFY2(first.start() && second.start(), qPrintable(first.errorString() + second.errorString()));
        qputenv("VELOMARK_LIDARS", QStringLiteral("VZQ Alpha 00101=%1;VZQ Beta 00202=%2")
                                       .arg(first.portPath(), second.portPath()).toUtf8());
        RecordingOperator op;
        Vantrix dialog(&op);
        dialog.EnumeratePorts();
        QListWidget *list = dialog.form().listWidgetLidars;
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->currentRow(), 0);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Veltrazon Speed Velomark 1.3 Build 96 -- VZQ Alpha 00101"));
        // Discovery selects; it never connects.
        QVERIFY(!dialog.serialPort().isOpen());
        QVERIFY(first.receivedBytes().isEmpty());
        QVERIFY(dialog.ConnectSelectedLidar());
        QCOMPARE(dialog.connection().connectedLidarName, QStringLiteral("VZQ Alpha 00101"));

        // The list changes under the window: Beta alone is paired now.
        qputenv("VELOMARK_LIDARS", QStringLiteral("VZQ Beta 00202=%1").arg(second.portPath()).toUtf8());
        dialog.OnBtnRefreshClicked();
        QVERIFY(first.receivedBytes().endsWith(QByteArray::fromHex("020c0c03")));
        QVERIFY(!dialog.serialPort().isOpen());
        QVERIFY(dialog.connection().connectedLidarName.isEmpty());
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->currentItem()->text(), QStringLiteral("VZQ Beta 00202"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Veltrazon Speed Velomark 1.3 Build 96 -- VZQ Beta 00202"));
        QVERIFY(second.receivedBytes().isEmpty());
        QVERIFY2(op.messages.isEmpty(), qPrintable(op.texts().join(QLatin1Char('|'))));

        // No lidar left: an empty list, one message, and the title keeps the last lidar.
        qputenv("VELOMARK_LIDARS", "Headset=/dev/null");
        dialog.OnBtnRefreshClicked();
        QCOMPARE(list->count(), 0);
        QCOMPARE(op.texts(), QStringList{QStringLiteral("No lidar device found in this system")});
        QVERIFY(!op.waitOpen);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Veltrazon Speed Velomark 1.3 Build 96 -- VZQ Beta 00202"));
    }
};

QTEST_MAIN(TestRefresh)
#include "tst_refresh.moc"
