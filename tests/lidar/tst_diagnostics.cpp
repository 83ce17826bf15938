#include <QtTest>

#include <QSerialPort>

#include "common/operatorinterface.h"
#include "lidar/diagnostics.h"
#include "lidar/frame.h"
#include "log/retrieval.h"
#include "refusingtransport.h"
#include "simlink.h"

using namespace velomark;
using simlink::Bench;

// The configuration flags as the lidar receives them, replies that are no configuration
// frame, and the Erase action with its long wait.
class TestDiagnostics : public QObject
{
    Q_OBJECT
private slots:
    // The flags read, written with bit 2 set before a retrieval and cleared after it. Escaping
    // in the frames written is the frame rule's (tst_exchange frames); an escaped value read
    // back is this code's.
    void configWriteFrames_data()
    {
        QTest::addColumn<QString>("flags");
        QTest::addColumn<QByteArray>("setFrame");
        QTest::addColumn<QByteArray>("clearFrame");
        QTest::newRow("0x07: cleared value 0x03 escaped") << "07" << QByteArray("020A58075503") << QByteArray("020A5810035103");
        QTest::newRow("0x10: reply value escaped") << "10" << QByteArray("020A58144603") << QByteArray("020A5810104203");
    }
    void configWriteFrames()
    {
        QFETCH(QString, flags);
        QFETCH(QByteArray, setFrame);
        QFETCH(QByteArray, clearFrame);
        Bench bench({"--config-flags", flags});
        QVERIFY2(bench.start() && bench.openPort(), qPrintable(bench.sim.errorString()));
        Transport &link = bench.link();
        const ConfigRead read = ReadConfigFlags(link, QStringLiteral("w"), QStringLiteral("r"), bench.op);
        QVERIFY(read.written && read.value.has_value());
        QCOMPARE(int(*read.value), flags.toInt(nullptr, 16));
        QVERIFY(WriteConfigFlags(link, quint8(*read.value | diag::kLogRetrievalBit), "UpdateConfigBits", bench.op));
        QVERIFY(WriteConfigFlags(link, quint8(*read.value & ~diag::kLogRetrievalBit), "Exit DIAG mode", bench.op));
        QCOMPARE(bench.sim.receivedBytes().toHex().toUpper(), QByteArray("0209585103") + setFrame + clearFrame);
        QVERIFY(bench.op.messages.isEmpty());
    }

    // A configuration read that gives no value (no flags written then), or older firmware whose
    // key sequence is not answered or never enables DIAG mode, stops the sequence: no "Y".
    void sequenceAbandoned_data()
    {
        using L = QStringList;
        QTest::addColumn<bool>("entering");
        QTest::addColumn<QString>("simArgs");
        QTest::addColumn<L>("messages");  // the last ones shown
        QTest::addColumn<int>("keySequences");
        QTest::newRow("enter: no reply") << true << "--fault 09:58=silent"
                                         << L{"A:Configuration flag: Lidar does not respond to command"} << 0;
        QTest::newRow("enter: 5 bytes") << true << "--fault 09:58=short:5" << L{"A:Configuration flag: Invalid data: \n02 09 58 12 43 "} << 0;
        QTest::newRow("enter: 6 bytes, not a configuration frame") << true << "--fault 09:58=malformed"
            << L{"A:Configuration flag: Invalid data: \n02 09 7E 12 43 03 "} << 0;
        QTest::newRow("enter: no DIAG status") << true << "--fault key=silent" << L{"A:DIAG status: No response from the lidar"} << 1;
        QTest::newRow("enter: Enabled in neither attempt") << true << "--diag-enable-on-attempt 3"
                                                           << L{"A:The log retrieval is disbled in laser"} << 2;
        // The lidar took the retrieval bit but its echo never came.
        QTest::newRow("enter: configuration write not echoed") << true << "--fault 0A=silent,once" << L() << 0;
        // Leaving a lidar that is not in DIAG mode: its status says so, and the flags come next.
        const QString stillInDiag = QStringLiteral("K:Lidar VZQ-20417 may still be in diagnostic mode: switch it off and on again");
        QTest::newRow("leave: no reply") << false << "--fault 09:58=silent"
                                         << L{"K:DisplayLoggedData: No response from lidar", stillInDiag} << 1;
        QTest::newRow("leave: 6 bytes, not a configuration frame") << false << "--fault 09:58=malformed"
            << L{"K:DisplayLoggedData: Invalid data received: \n02 09 7E 12 43 03 ", stillInDiag} << 1;
    }
    void sequenceAbandoned()
    {
        QFETCH(bool, entering);
        QFETCH(QString, simArgs);
        QFETCH(QStringList, messages);
        QFETCH(int, keySequences);
        Bench bench(QStringList{"--firmware", "9.2"} + simArgs.split(' '));
        QVERIFY2(bench.start(), qPrintable(bench.sim.errorString()));
        bench.op.showWait(QStringLiteral("wait"));
        if (entering)
            QCOMPARE(prepareRetrieval(bench.connection, simlink::kName, bench.op), PrepareOutcome::Abandoned);
        else
            QVERIFY(bench.connection.ConnectSelectedLidar(simlink::kName) && !restoreFromDiagMode(bench.connection, bench.op));
        QVERIFY(!bench.op.waitOpen);
        const QStringList shown = simlink::shown(bench.op);
        QCOMPARE(shown.mid(shown.size() - messages.size()), messages);
        const QByteArray received = bench.sim.receivedBytes();
        QVERIFY(!received.contains('Y'));
        QCOMPARE(received.count("%{<"), keySequences);
        // A retrieval that gave up after writing the retrieval bit leaves the flags as they were.
        const bool bitWritten = entering && (keySequences > 0 || simArgs.contains("0A="));
        QCOMPARE(received.contains(QByteArray::fromHex("020A58")), bitWritten);
        if (bitWritten)
            QCOMPARE(bench.sim.states().filter(QStringLiteral("config 0x")), (QStringList{"config 0x16", "config 0x12"}));
    }

    // Whatever step of an older-firmware start fails once bit 2 was written, the flags go back
    // as they were read.
    void failedWriteRestoresTheFlags_data()
    {
        QTest::addColumn<QByteArray>("refused");
        QTest::addColumn<QString>("message");
        QTest::newRow("second key") << QByteArray("{") << "K:Sending '{'WritePort() failed: refused";
        QTest::newRow("dump key") << QByteArray("Y") << "K:Sending 'Y'WritePort() failed: refused";
    }
    void failedWriteRestoresTheFlags()
    {
        QFETCH(QByteArray, refused);
        QFETCH(QString, message);
        Bench bench({"--firmware", "9.2"});
        QVERIFY(bench.start() && bench.connection.ConnectSelectedLidar(simlink::kName));
        RefusingTransport link(bench.link(), refused);
        bench.op.showWait(QStringLiteral("wait"));
        QCOMPARE(startDumpWithKeys(link, bench.op), PrepareOutcome::Abandoned);
        QVERIFY(!bench.op.waitOpen);
        QCOMPARE(simlink::shown(bench.op), QStringList{message});
        QTRY_COMPARE_WITH_TIMEOUT(bench.sim.states().filter(QStringLiteral("config 0x")),
                                  (QStringList{"config 0x16", "config 0x12"}), 2000);
        QVERIFY(!bench.sim.receivedBytes().contains('Y'));
    }

    void erase_data()
    {
        QTest::addColumn<QString>("simArgs");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QStringList>("messages");  // after the question
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("minMs");  // it takes at most 3 s more
        const QString retry = QStringLiteral("No response. Try again");
        QTest::newRow("declined") << "" << false << QStringList() << int(EraseOutcome::Declined) << 0;
        QTest::newRow("erased") << "" << true << QStringList{"Command to erase lidar data is successful"}
                                << int(EraseOutcome::Erased) << 0;
        QTest::newRow("wrong echo") << "--fault 31=wrong-echo" << true
                                    << QStringList{"EraseLidarData: Invalid data received: \n02 30 30 03 ", retry}
                                    << int(EraseOutcome::NoResponse) << 0;
        // Longer than any other command may take: the erase waits up to 8000 ms for its echo.
        QTest::newRow("no reply") << "--fault 31=silent" << true << QStringList{retry} << int(EraseOutcome::NoResponse) << 8000;
        QTest::newRow("no storage") << "--model MSP:Brasko" << true << QStringList{"The lidar has no data storage"}
                                    << int(EraseOutcome::NoStorage) << 0;
    }
    void erase()
    {
        QFETCH(QString, simArgs);
        QFETCH(bool, answer);
        QFETCH(QStringList, messages);
        QFETCH(int, minMs);
        Bench bench(simArgs.split(' ', Qt::SkipEmptyParts));
        QVERIFY2(bench.start(), qPrintable(bench.sim.errorString()));
        bench.op.answers.enqueue(answer);
        QElapsedTimer timer;
        timer.start();
        QTEST(int(eraseStoredLog(bench.connection, simlink::kName, bench.op)), "outcome");
        const qint64 elapsed = timer.elapsed();
        QVERIFY2(elapsed >= minMs && elapsed <= minMs + 3000, qPrintable(QString::number(elapsed)));
        messages.prepend(QStringLiteral("Do you want to erase the logged data in lidar ?"));
        QCOMPARE(simlink::shown(bench.op), messages.replaceInStrings(QRegularExpression("^"), "A:"));
        QCOMPARE(bench.sim.receivedBytes().contains(eraseFrame()), answer && !simArgs.contains("MSP"));
        QVERIFY(!bench.op.waitOpen);
        QCOMPARE(bench.op.waitTexts, answer ? QStringList{"Erasing logged data from lidar, please wait ..."} : QStringList());
    }
};

QTEST_MAIN(TestDiagnostics)
#include "tst_diagnostics.moc"
