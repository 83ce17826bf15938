#include <QtTest>

#include "clirun.h"
#include "simlink.h"
#include "testbytes.h"

class TestLidarSim : public QObject
{
    Q_OBJECT
private slots:
    // Several frames in one write are answered in turn, each against its bytes written out by
    // hand. The replies the logger's tests read back through their messages (echoes, faults,
    // the DIAG key texts) are checked there (tst_exchange, tst_diagnostics, tst_connection,
    // log/tst_retrieval).
    void replies_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply");
        const QStringList none;
        const QByteArray on = hex("020b0b03"), identify = hex("021e1e03");
        const QByteArray format = hex("020910030a03"), config = hex("0209585103");
        const QString scenario = m_dir.filePath("scenario"), storedLog = m_dir.filePath("log");
        QVERIFY(writeFileBytes(scenario, "# an older lidar\n\n--model \"RS232:RX:Brasko  \"\n--firmware 9.03\n"));
        QTest::newRow("scenario file") << QStringList{"--scenario", scenario} << identify << QByteArray("RS232:RX:Brasko   Version 9.03");
        QTest::newRow("format escaped") << QStringList{"--output-format-byte", "02"} << format << hex("0209100310020803");
        QTest::newRow("format cs escaped") << QStringList{"--output-format-byte", "1A"} << format << hex("020910031a101003");
        // A configuration write is echoed, then read back.
        QTest::newRow("configuration write escaped value") << none << hex("020a5810035103") + config
                                                           << hex("020a5810035103") + hex("02095810035203");
        QTest::newRow("configuration write escaped checksum") << none << hex("020a5842101003") + config
                                                              << hex("020a5842101003") + hex("020958421303");
        QTest::newRow("echo after zero bytes") << none << hex("0000") + on << on;
        QTest::newRow("bad checksum unanswered") << none << hex("020b0c03") << QByteArray();
        QTest::newRow("faults once, in order") << QStringList{"--fault", "0B=silent,once", "--fault", "0B=embed,once"}
                                               << on + on + on << "xx" + on + "yy" + on;

        // Framed DIAG commands exist from firmware 9.3 on; older firmware stays silent and takes
        // the key sequence and "Y" instead. The stored log goes out after the start command in
        // DIAG mode only.
        const QByteArray log = "01 12 25 24 10 30 45 41 00 41 01 F4 01 83\r\n";
        const QByteArray enter = hex("02282803"), leave = hex("02292903"), start = hex("02343403");
        const QByteArray keys = "%{<", enabled = "\r\nDIAG Mode Enabled\r\n";
        QVERIFY(writeFileBytes(storedLog, log));
        const QStringList v93{"--firmware", "9.03", "--stored-log", storedLog};
        const QStringList v92{"--firmware", "9.2", "--stored-log", storedLog};
        QTest::newRow("framed DIAG 9.03") << v93 << enter + leave << enter + leave;
        QTest::newRow("framed DIAG 9.2") << v92 << enter + leave << QByteArray();
        QTest::newRow("framed dump in DIAG") << v93 << enter + start << enter + log;
        QTest::newRow("framed dump outside DIAG") << v93 << start << QByteArray();
        QTest::newRow("framed dump on old firmware") << v92 << keys + start << enabled;
        QTest::newRow("key Y in DIAG") << v92 << keys + "Y" << enabled + log;
        QTest::newRow("key Y outside DIAG") << v92 << QByteArray("Y") << QByteArray();
        QTest::newRow("key Y on new firmware") << v93 << enter + "Y" << enter;
        QTest::newRow("no dump after erase") << v93 << hex("02313103") + enter + start << hex("02313103") + enter;
    }
    void replies()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        simlink::Bench lidar(args);
        QVERIFY2(lidar.start() && lidar.openPort(), qPrintable(lidar.sim.errorString()));
        // What the simulator sends back on the port, opened as the logger opens it, until 250 ms
        // pass without a byte.
        velomark::Transport &link = lidar.link();
        link.write(command, QStringLiteral("test"));
        link.waitForBytesWritten(3000);
        QByteArray answer;
        for (int wait = reply.isEmpty() ? 600 : 3000; link.waitForReadyRead(wait); wait = 250)
            answer += link.readAll(QStringLiteral("test"));
        QCOMPARE(answer, reply);
        QCOMPARE(lidar.sim.receivedBytes(), command);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestLidarSim)
#include "tst_lidarsim.moc"
