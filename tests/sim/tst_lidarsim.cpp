#include <QtTest>

#include "simlink.h"
#include "testbytes.h"

namespace {

// A stored log of numbered lines, so a lost or repeated slice shows.
QByteArray numberedLog(int lines)
{
    QByteArray log;
    for (int i = 0; i < lines; ++i)
        log += "01 12 25 24 10 30 45 41 00 41 01 F4 01 83 #" + QByteArray::number(i).rightJustified(4, '0') + "\r\n";
    return log;
}

// What the simulator sends back for the bytes written on the bench's port, opened as the
// logger opens it, until 250 ms pass without a byte.
QByteArray exchange(simlink::Bench &bench, const QByteArray &bytes, int firstMs = 3000)
{
    velomark::Transport &link = bench.link();
    link.purge(velomark::Purge::Both);
    link.write(bytes, QStringLiteral("test"));
    link.waitForBytesWritten(3000);
    QByteArray all;
    for (int wait = firstMs; link.waitForReadyRead(wait); wait = 250)
        all += link.readAll(QStringLiteral("test"));
    return all;
}

}  // namespace

class TestLidarSim : public QObject
{
    Q_OBJECT
private:
    // A file holding text, kept until the test ends.
    QString file(const QByteArray &text)
    {
        auto *file = new QTemporaryFile(this);
        file->open();
        file->write(text);
        file->flush();
        return file->fileName();
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("LIDAR_SIM"))
            QSKIP("LIDAR_SIM is not set");
    }

    // Several frames in one write are answered in turn; a fault bends the reply of its command.
    // Plain replies, and the faults the logger's tests read back through their messages, are
    // checked there (tst_exchange queries and sendCommand, tst_diagnostics, tst_connection).
    void replies_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply");
        const QStringList none;
        const auto option = [](const QString &name, const QString &value) { return QStringList{name, value}; };
        const QByteArray on = hex("020b0b03"), identify = hex("021e1e03");
        const QByteArray format = hex("020910030a03"), config = hex("0209585103");
        const QString scenario = file("# an older lidar\n\n--model \"RS232:RX:Brasko  \"\n--firmware 9.03\n");
        QTest::newRow("scenario file") << option("--scenario", scenario) << identify << QByteArray("RS232:RX:Brasko   Version 9.03");
        QTest::newRow("format escaped") << option("--output-format-byte", "02") << format << hex("0209100310020803");
        QTest::newRow("format cs escaped") << option("--output-format-byte", "1A") << format << hex("020910031a101003");
        // A configuration write is echoed, then read back.
        QTest::newRow("configuration write escaped value") << none << hex("020a5810035103") + config
                                                           << hex("020a5810035103") + hex("02095810035203");
        QTest::newRow("configuration write escaped checksum") << none << hex("020a5842101003") + config
                                                              << hex("020a5842101003") + hex("020958421303");
        QTest::newRow("echo after zero bytes") << none << hex("0000") + on << on;
        QTest::newRow("bad checksum unanswered") << none << hex("020b0c03") << QByteArray();
        // Framed DIAG commands exist from firmware 9.3 on; older firmware stays silent.
        const QByteArray diag = hex("0228280302292903");
        QTest::newRow("framed DIAG 9.03") << option("--firmware", "9.03") << diag << diag;
        QTest::newRow("framed DIAG 9.2") << option("--firmware", "9.2") << diag << QByteArray();
        // The key sequence toggles DIAG mode and answers with a status text.
        const QByteArray keys = "%{<%{<%{<", enabled = "\r\nDIAG Mode Enabled\r\n";
        const QByteArray disabled = "\r\nDIAG Mode Disabled\r\n";
        QTest::newRow("keys toggle") << none << keys << enabled + disabled + enabled;
        QTest::newRow("keys enable on second attempt") << option("--diag-enable-on-attempt", "2") << keys
                                                       << disabled + enabled + disabled;
        QTest::newRow("keys leave without Disabled") << QStringList{"--no-disabled-reply"} << keys
                                                     << enabled + "\r\nDIAG Mode Off\r\n" + enabled;

        const auto fault = [](const char *rule) { return QStringList{"--fault", rule}; };
        QTest::newRow("zero bytes only") << fault("0B=nulls") << on << hex("00000000");
        QTest::newRow("leading zero bytes") << fault("0B=leading-nulls:3") << on << hex("000000") + on;
        QTest::newRow("echo inside text") << fault("0B=embed") << on << "xx" + on + "yy";
        QTest::newRow("other command unaffected") << fault("1E=silent") << identify + on << on;
        QTest::newRow("key status text embedded") << fault("key=embed") << QByteArray("%{<") << "xx" + enabled + "yy";
        QTest::newRow("faults once, in order") << fault("0B=silent,once") + fault("0B=embed,once") << on + on + on
                                               << "xx" + on + "yy" + on;
    }
    void replies()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        simlink::Bench lidar(args);
        QVERIFY2(lidar.start() && lidar.openPort(), qPrintable(lidar.sim.errorString()));
        QCOMPARE(exchange(lidar, command, reply.isEmpty() ? 600 : 3000), reply);
        QCOMPARE(lidar.sim.receivedBytes(), command);
    }

    // The dump goes out after the start command in DIAG mode only, then the lidar falls silent.
    void dumpStart_data()
    {
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<QList<QByteArray>>("sequence");
        QTest::addColumn<bool>("dumps");
        const QByteArray keys = "%{<", enter = hex("02282803"), start = hex("02343403");
        QTest::newRow("framed in DIAG") << "9.3" << QList<QByteArray>{enter, start} << true;
        QTest::newRow("framed outside DIAG") << "9.3" << QList<QByteArray>{start} << false;
        QTest::newRow("framed on old firmware") << "9.2" << QList<QByteArray>{keys, start} << false;
        QTest::newRow("key Y in DIAG") << "9.2" << QList<QByteArray>{keys, "Y"} << true;
        QTest::newRow("key Y outside DIAG") << "9.2" << QList<QByteArray>{"Y"} << false;
        QTest::newRow("key Y on new firmware") << "9.3" << QList<QByteArray>{enter, "Y"} << false;
        QTest::newRow("after erase") << "9.3" << QList<QByteArray>{hex("02313103"), enter, start} << false;
    }
    void dumpStart()
    {
        QFETCH(QString, firmware);
        QFETCH(QList<QByteArray>, sequence);
        QFETCH(bool, dumps);
        const QByteArray log = numberedLog(20);
        simlink::Bench lidar({"--firmware", firmware, "--stored-log", file(log)});
        QVERIFY(lidar.start() && lidar.openPort());
        for (int i = 0; i < sequence.size() - 1; ++i)
            exchange(lidar, sequence.at(i));
        QCOMPARE(exchange(lidar, sequence.last(), dumps ? 3000 : 800), dumps ? log : QByteArray());
        QCOMPARE(lidar.sim.states().contains(QString("dump start %1 bytes").arg(log.size())), dumps);
    }
};

QTEST_GUILESS_MAIN(TestLidarSim)
#include "tst_lidarsim.moc"
