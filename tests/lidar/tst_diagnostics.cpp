#include <QtTest>

#include "common/operatorinterface.h"
#include "lidar/diagnostics.h"
#include "lidar/frame.h"
#include "log/retrieval.h"
#include "simlink.h"

using namespace velomark;
using simlink::Bench;

// The configuration flags as the lidar receives them, replies that are no configuration
// frame, and the Erase action with its long wait.
class TestDiagnostics : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!simlink::simAvailable())
            QSKIP("LIDAR_SIM is not set");
    }

    void configWriteFrames_data()
    {
        QTest::addColumn<QString>("flags");
        QTest::addColumn<QByteArray>("setFrame");    // bit 2 set, before a retrieval
        QTest::addColumn<QByteArray>("clearFrame");  // bit 2 cleared, after it
        QTest::newRow("0x12") << "12" << QByteArray("020A58164403") << QByteArray("020A58124003");
        QTest::newRow("0x54: cleared checksum 0x02 escaped") << "54" << QByteArray("020A58540603")
                                                           << QByteArray("020A5850100203");
        QTest::newRow("0x51: cleared checksum 0x03 escaped") << "51" << QByteArray("020A58550703")
                                                           << QByteArray("020A5851100303");
        QTest::newRow("0x07: cleared value 0x03 escaped") << "07" << QByteArray("020A58075503")
                                                        << QByteArray("020A5810035103");
        QTest::newRow("0x06: cleared value 0x02 escaped") << "06" << QByteArray("020A58065403")
                                                        << QByteArray("020A5810025003");
        QTest::newRow("0x42: cleared checksum 0x10 escaped") << "42" << QByteArray("020A58461403")
                                                           << QByteArray("020A5842101003");
        QTest::newRow("0x10: reply value escaped") << "10" << QByteArray("020A58144603")
                                                 << QByteArray("020A5810104203");
        QTest::newRow("0x03: reply value escaped") << "03" << QByteArray("020A58075503")
                                                 << QByteArray("020A5810035103");
    }
    void configWriteFrames()
    {
        QFETCH(QString, flags);
        QFETCH(QByteArray, setFrame);
        QFETCH(QByteArray, clearFrame);
        Bench bench({"--config-flags", flags});
        QVERIFY2(bench.start(), qPrintable(bench.sim.errorString()));
        QVERIFY(bench.openPort());
        LidarChannel channel = bench.channel();

        const ConfigRead read = ReadConfigFlags(channel, QStringLiteral("w"), QStringLiteral("r"), bench.op);
        QVERIFY(read.written);
        QVERIFY(read.value.has_value());
        QCOMPARE(int(*read.value), flags.toInt(nullptr, 16));
        QVERIFY(WriteConfigFlags(channel, quint8(*read.value | diag::kLogRetrievalBit), QStringLiteral("UpdateConfigBits"), bench.op));
        QVERIFY(WriteConfigFlags(channel, quint8(*read.value & ~diag::kLogRetrievalBit), QStringLiteral("Exit DIAG mode"), bench.op));

        QCOMPARE(bench.sim.receivedBytes().toHex().toUpper(),
                 QByteArray("0209585103") + setFrame.toUpper() + clearFrame.toUpper());
        QVERIFY(bench.op.messages.isEmpty());
    }

    // A configuration read that gives no value stops the sequence: nothing is written back.
    void configReplyWithoutValue_data()
    {
        QTest::addColumn<bool>("entering");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("message");
        const QString app = applicationTitle();
        QTest::newRow("enter: no reply") << true << "09:58=silent" << app
                                         << "Configuration flag: Lidar does not respond to command";
        QTest::newRow("enter: 5 bytes") << true << "09:58=short:5" << app
                                        << "Configuration flag: Invalid data: \n02 09 58 12 43 ";
        QTest::newRow("enter: 6 bytes, not a configuration frame")
            << true << "09:58=malformed" << app << "Configuration flag: Invalid data: \n02 09 7E 12 43 03 ";
        QTest::newRow("leave: no reply") << false << "09:58=silent" << kMessageTitle
                                         << "DisplayLoggedData: No response from lidar";
        QTest::newRow("leave: 6 bytes, not a configuration frame")
            << false << "09:58=malformed" << kMessageTitle
            << "DisplayLoggedData: Invalid data received: \n02 09 7E 12 43 03 ";
    }
    void configReplyWithoutValue()
    {
        QFETCH(bool, entering);
        QFETCH(QString, fault);
        QFETCH(QString, title);
        QFETCH(QString, message);
        // Leaving a lidar that is not in DIAG mode: its status says so, and the flags come next.
        Bench bench({"--firmware", "9.2", "--fault", fault});
        QVERIFY2(bench.start(), qPrintable(bench.sim.errorString()));
        QVERIFY(bench.connection.ConnectSelectedLidar(simlink::kName));
        bench.op.showWait(QStringLiteral("wait"));

        if (entering)
            QCOMPARE(prepareRetrieval(bench.connection, simlink::kName, bench.op), PrepareOutcome::Abandoned);
        else
            QVERIFY(!restoreFromDiagMode(bench.connection, bench.op));

        QVERIFY(!bench.op.waitOpen);
        QVERIFY(!bench.op.messages.isEmpty());
        const RecordedMessage last = bench.op.messages.last();
        QCOMPARE(last.title, title);
        QCOMPARE(last.text, message);
        QVERIFY(!bench.sim.receivedBytes().contains(QByteArray::fromHex("020A58")));
        QVERIFY(!bench.sim.receivedBytes().contains("Y"));
    }

    // Older firmware gives up when the key sequence is not answered or never enables DIAG mode;
    // "Y" is never sent then.
    void keySequenceAbandons_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("keySequences");
        QTest::newRow("no DIAG status") << QStringList{"--fault", "key=silent"}
                                        << "DIAG status: No response from the lidar" << 1;
        QTest::newRow("Enabled in neither attempt") << QStringList{"--diag-enable-on-attempt", "3"}
                                                    << "The log retrieval is disbled in laser" << 2;
    }
    void keySequenceAbandons()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QString, message);
        QFETCH(int, keySequences);
        Bench bench(QStringList{"--firmware", "9.2"} + simArgs);
        QVERIFY2(bench.start(), qPrintable(bench.sim.errorString()));
        bench.op.showWait(QStringLiteral("wait"));
        QCOMPARE(prepareRetrieval(bench.connection, simlink::kName, bench.op), PrepareOutcome::Abandoned);
        QCOMPARE(bench.op.texts(), QStringList{message});
        QCOMPARE(bench.op.messages.first().title, applicationTitle());
        QVERIFY(!bench.op.waitOpen);
        const QByteArray received = bench.sim.receivedBytes();
        QCOMPARE(received.count("%{<"), keySequences);
        QVERIFY(!received.contains('Y'));
    }

    void erase_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QStringList>("messages");  // after the question
        QTest::addColumn<bool>("erased");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");
        const QString ok = QStringLiteral("Command to erase lidar data is successful");
        const QString retry = QStringLiteral("No response. Try again");
        QTest::newRow("declined") << QStringList() << false << QStringList() << false << 0 << 2000;
        QTest::newRow("erased") << QStringList() << true << QStringList{ok} << true << 0 << 3000;
        // Longer than any other command may take: the erase waits up to 8000 ms for its echo.
        QTest::newRow("echo after 3.5 s") << QStringList{"--fault", "31=delay:3500"} << true << QStringList{ok}
                                        << true << 3500 << 6500;
        QTest::newRow("wrong echo") << QStringList{"--fault", "31=wrong-echo"} << true
                                    << QStringList{"EraseLidarData: Invalid data received: \n02 30 30 03 ", retry}
                                    << true << 0 << 3000;
        QTest::newRow("no reply") << QStringList{"--fault", "31=silent"} << true << QStringList{retry} << true
                                  << 8000 << 11000;
        QTest::newRow("no storage") << QStringList{"--model", "MSP:Brasko"} << true
                                    << QStringList{"The lidar has no data storage"} << false << 0 << 3000;
    }
    void erase()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(bool, answer);
        QFETCH(QStringList, messages);
        QFETCH(bool, erased);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        Bench bench(simArgs);
        QVERIFY2(bench.start(), qPrintable(bench.sim.errorString()));
        bench.op.answers.enqueue(answer);

        QElapsedTimer timer;
        timer.start();
        const EraseOutcome outcome = eraseStoredLog(bench.connection, simlink::kName, bench.op);
        const qint64 elapsed = timer.elapsed();

        QStringList expected{QStringLiteral("Do you want to erase the logged data in lidar ?")};
        expected += messages;
        QCOMPARE(bench.op.texts(), expected);
        QCOMPARE(bench.op.messages.first().kind, RecordedMessage::Question);
        for (const RecordedMessage &message : qAsConst(bench.op.messages))
            QCOMPARE(message.title, applicationTitle());
        QCOMPARE(bench.sim.receivedBytes().contains(eraseFrame()), erased);
        QVERIFY(!bench.op.waitOpen);
        QCOMPARE(bench.op.waitTexts, answer ? QStringList{"Erasing logged data from lidar, please wait ..."}
                                            : QStringList());
        QVERIFY2(elapsed >= minMs && elapsed <= maxMs, qPrintable(QString::number(elapsed)));
        if (!answer)
            QCOMPARE(outcome, EraseOutcome::Declined);
        else if (messages.last() == QLatin1String("Command to erase lidar data is successful"))
            QCOMPARE(outcome, EraseOutcome::Erased);
    }
};

QTEST_MAIN(TestDiagnostics)
#include "tst_diagnostics.moc"
