#include <QtTest>

#include <QTemporaryFile>

#include "lidarsim.h"
#include "simport.h"

namespace {

QByteArray joined(const QList<Port::Arrival> &arrivals)
{
    QByteArray all;
    for (const Port::Arrival &arrival : arrivals)
        all += arrival.bytes;
    return all;
}

// Pauses longer than minMs between arrivals.
int pauses(const QList<Port::Arrival> &arrivals, int minMs)
{
    int count = 0;
    for (int i = 1; i < arrivals.size(); ++i)
        count += arrivals.at(i).ms - arrivals.at(i - 1).ms >= minMs ? 1 : 0;
    return count;
}

// A stored log of numbered lines, so a lost or repeated slice shows.
QByteArray numberedLog(int lines)
{
    QByteArray log;
    for (int i = 0; i < lines; ++i)
        log += QByteArray("01 12 25 24 10 30 45 41 00 41 01 F4 01 83 #") + QByteArray::number(i).rightJustified(4, '0') + "\r\n";
    return log;
}

// Removes the escape bytes of a binary live record after its frame type.
QByteArray unescapedRecord(const QByteArray &record)
{
    QByteArray out = record.left(2);
    for (int i = 2; i < record.size() - 1; ++i) {
        if (record.at(i) == 0x10 && i + 1 < record.size() - 1)
            ++i;
        out.append(record.at(i));
    }
    out.append(record.right(1));
    return out;
}

}  // namespace

class TestSimStreams : public QObject
{
    Q_OBJECT
private:
    QTemporaryFile logFile_;

    QString storedLog(const QByteArray &text)
    {
        logFile_.open();
        logFile_.resize(0);
        logFile_.write(text);
        logFile_.flush();
        return logFile_.fileName();
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("LIDAR_SIM"))
            QSKIP("LIDAR_SIM is not set");
    }

    // The dump goes out after the start command in DIAG mode only, then the lidar falls silent.
    void dumpStart_data()
    {
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<QList<QByteArray>>("sequence");
        QTest::addColumn<bool>("dumps");
        const QByteArray keys = "%{<";
        QTest::newRow("framed in DIAG") << "9.3" << QList<QByteArray>{hex("02282803"), hex("02343403")} << true;
        QTest::newRow("framed outside DIAG") << "9.3" << QList<QByteArray>{hex("02343403")} << false;
        QTest::newRow("framed on old firmware") << "9.2" << QList<QByteArray>{keys, hex("02343403")} << false;
        QTest::newRow("key Y in DIAG") << "9.2" << QList<QByteArray>{keys, QByteArray("Y")} << true;
        QTest::newRow("key Y outside DIAG") << "9.2" << QList<QByteArray>{QByteArray("Y")} << false;
        QTest::newRow("key Y on new firmware") << "9.3" << QList<QByteArray>{hex("02282803"), QByteArray("Y")} << false;
    }
    void dumpStart()
    {
        QFETCH(QString, firmware);
        QFETCH(QList<QByteArray>, sequence);
        QFETCH(bool, dumps);
        const QByteArray log = numberedLog(20);
        LidarSim sim({"--firmware", firmware, "--stored-log", storedLog(log)});
        QVERIFY(sim.start());
        Port port;
        QVERIFY(port.open(sim.portPath()));
        for (int i = 0; i < sequence.size() - 1; ++i)
            port.exchange(sequence.at(i));
        QCOMPARE(port.exchange(sequence.last(), dumps ? 3000 : 800), dumps ? log : QByteArray());
        QCOMPARE(sim.states().contains("dump end"), dumps);
    }

    // Paced at the byte rate: 1200 bytes at 9600 baud take about 1.25 s.
    void dumpIsPacedAtItsBaudRate()
    {
        const QByteArray log = numberedLog(24).left(1200);
        LidarSim sim({"--dump-baud", "9600", "--stored-log", storedLog(log)});
        QVERIFY(sim.start());
        Port port;
        QVERIFY(port.open(sim.portPath()));
        port.exchange(hex("02282803"));
        port.write(hex("02343403"));
        const auto arrivals = port.arrivals(3000, 1000);
        QCOMPARE(joined(arrivals), log);
        const qint64 span = arrivals.last().ms - arrivals.first().ms;
        QVERIFY2(span >= 900 && span < 6000, qPrintable(QString::number(span)));
    }

    void dumpInBurstsWithPauses()
    {
        const QByteArray log = numberedLog(30).left(1000);
        LidarSim sim({"--dump-baud", "576000", "--dump-burst", "300", "--dump-pause", "700",
                      "--stored-log", storedLog(log)});
        QVERIFY(sim.start());
        Port port;
        QVERIFY(port.open(sim.portPath()));
        port.exchange(hex("02282803"));
        port.write(hex("02343403"));
        const auto arrivals = port.arrivals(3000, 1500);
        QCOMPARE(joined(arrivals), log);
        // Four bursts of at most 300 bytes, three pauses between them.
        QCOMPARE(pauses(arrivals, 450), 3);
    }

    void replyDuringDumpStillGoesOut()
    {
        const QByteArray log = numberedLog(20);
        LidarSim sim({"--dump-baud", "9600", "--stored-log", storedLog(log)});
        QVERIFY(sim.start());
        Port port;
        QVERIFY(port.open(sim.portPath()));
        port.exchange(hex("02282803"));
        port.write(hex("02343403"));
        QTest::qWait(300);
        port.write(hex("021e1e03"));
        const QByteArray stream = joined(port.arrivals(3000, 1000));
        QVERIFY(stream.contains("BT:RX:Brasko Version 9.3"));
        QCOMPARE(stream.size(), log.size() + 24);
    }

    void eraseEmptiesTheLog()
    {
        LidarSim sim({"--stored-log", storedLog(numberedLog(5))});
        QVERIFY(sim.start());
        Port port;
        QVERIFY(port.open(sim.portPath()));
        QCOMPARE(port.exchange(hex("02313103")), hex("02313103"));
        port.exchange(hex("02282803"));
        QCOMPARE(port.exchange(hex("02343403"), 800), QByteArray());
        QVERIFY(sim.states().contains("erase"));
        QVERIFY(sim.states().contains("dump start 0 bytes"));
    }

    void dumpFaults()
    {
        const QByteArray log = numberedLog(3);
        {
            LidarSim sim({"--fault", "34=silent", "--stored-log", storedLog(log)});
            QVERIFY(sim.start());
            Port port;
            QVERIFY(port.open(sim.portPath()));
            port.exchange(hex("02282803"));
            QCOMPARE(port.exchange(hex("02343403"), 800), QByteArray());
        }
        {
            LidarSim sim({"--fault", "34=delay:1200", "--stored-log", storedLog(log)});
            QVERIFY(sim.start());
            Port port;
            QVERIFY(port.open(sim.portPath()));
            port.exchange(hex("02282803"));
            QElapsedTimer timer;
            timer.start();
            QCOMPARE(port.exchange(hex("02343403"), 5000), log);
            QVERIFY(timer.elapsed() >= 1100);
        }
    }

    // Generated records are checked line by line against the dump format: type and length,
    // decimal digit pairs for date and time, no "80" where a filler could be read, the checksum.
    void demoLogLinesAreValidRecords()
    {
        LidarSim sim({"--demo-log", "200", "--dump-baud", "1000000"});
        QVERIFY(sim.start());
        Port port;
        QVERIFY(port.open(sim.portPath()));
        port.exchange(hex("02282803"));
        port.write(hex("02343403"));
        const QByteArray dump = joined(port.arrivals(3000, 600));
        QVERIFY(dump.endsWith("\r\n"));
        const QList<QByteArray> lines = dump.trimmed().split('\n');
        QCOMPARE(lines.size(), 200);
        const QDate today = QDate::currentDate();
        int ofToday = 0;
        QSet<QByteArray> types;
        for (const QByteArray &raw : lines) {
            const QList<QByteArray> tokens = raw.trimmed().split(' ');
            const QByteArray type = tokens.at(0);
            types.insert(type);
            const int expected = type == "01" ? 14 : type == "03" ? 26 : type == "09" ? 15 : type == "0B" ? 27 : -1;
            QCOMPARE(tokens.size(), expected);
            const QDateTime when = QDateTime::fromString("20" + tokens.at(3) + tokens.at(1) + tokens.at(2)
                                                             + tokens.at(4) + tokens.at(5) + tokens.at(6),
                                                         "yyyyMMddhhmmss");
            QVERIFY2(when.isValid(), raw.constData());
            QVERIFY(when.date() <= today && when.date() >= today.addDays(-7));
            ofToday += when.date() == today ? 1 : 0;
            int sum = 0;
            for (int i = 0; i < tokens.size() - 2; ++i) {
                QVERIFY2(i < 7 || tokens.at(i) != "80", raw.constData());
                sum ^= tokens.at(i).toInt(nullptr, 16);
            }
            sum ^= tokens.at(tokens.size() - 2) == "01" ? 1 : 0;
            QVERIFY(tokens.last() != "80");
            QCOMPARE(tokens.last().toInt(nullptr, 16), sum);
        }
        QVERIFY(ofToday > 0 && ofToday < 200);
        QCOMPARE(types.size(), 4);
    }

    // Live records start an interval after the format query, in remote mode, and stop by count.
    void liveTextRecords_data()
    {
        QTest::addColumn<bool>("gps");
        QTest::newRow("no position") << false;
        QTest::newRow("with position") << true;
    }
    void liveTextRecords()
    {
        QFETCH(bool, gps);
        QStringList args{"--live-interval", "300", "--live-count", "3"};
        if (gps)
            args << "--live-gps";
        LidarSim sim(args);
        QVERIFY(sim.start());
        Port port;
        QVERIFY(port.open(sim.portPath()));
        port.exchange(hex("020b0b03"));
        QCOMPARE(port.exchange(hex("020910030a03"), 3000, 100), hex("0209100333390" "3"));
        const auto arrivals = port.arrivals(3000, 800);
        const QList<QByteArray> records = joined(arrivals).split('\n').mid(0, 3);
        QCOMPARE(joined(arrivals).count('\n'), 3);
        QCOMPARE(pauses(arrivals, 200), 2);
        for (const QByteArray &record : records) {
            QVERIFY(record.startsWith('$'));
            QVERIFY(record.size() >= 40);
            const QList<QByteArray> fields = record.trimmed().split(',');
            QCOMPARE(fields.size(), 13);
            QCOMPARE(fields.at(8), gps ? QByteArray("A") : QByteArray("V"));
            if (gps) {
                QCOMPARE(fields.at(4).size(), 9);
                QCOMPARE(fields.at(6).size(), 10);
            }
            QVERIFY(QDateTime::fromString(fields.at(2) + fields.at(3), "MMddyyhhmmss").isValid());
        }
        QVERIFY(sim.waitForState("live stop", 1000));
    }

    void liveBinaryRecordsAreValidFrames()
    {
        LidarSim sim({"--live-format", "1", "--live-interval", "100", "--live-count", "12",
                      "--live-autostart", "--live-notify"});
        QVERIFY(sim.start());
        Port port;
        QVERIFY(port.open(sim.portPath()));
        QCOMPARE(port.exchange(hex("020b0b03"), 3000, 50), hex("020b0b03"));
        const auto arrivals = port.arrivals(3000, 500);
        QByteArray stream = joined(arrivals);
        int records = 0;
        while (!stream.isEmpty()) {
            QVERIFY(stream.startsWith(hex("02040403")));
            const int end = stream.indexOf(hex("02050503"));
            QVERIFY(end > 0);
            const QByteArray record = unescapedRecord(stream.mid(4, end - 4));
            stream.remove(0, end + 4);
            ++records;
            QCOMPARE(record.size(), record.at(1) == 0x16 ? 11 : 10);
            QVERIFY(record.at(2) & 0x04);
            quint8 sum = 0;
            for (int i = 1; i < record.size() - 2; ++i)
                sum ^= quint8(record.at(i));
            QCOMPARE(sum, quint8(record.at(record.size() - 2)));
        }
        QCOMPARE(records, 12);
    }

    // Without --live-format the records follow the output-format byte as the model reads it.
    void liveFormatFollowsTheFormatByte_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("formatByte");
        QTest::addColumn<bool>("binary");
        QTest::newRow("low bits 1") << "BT:RX:Brasko" << "31" << true;
        QTest::newRow("low bits 3") << "BT:RX:Brasko" << "13" << false;
        QTest::newRow("high bits 1") << "RS232:RX:Brasko" << "13" << true;
        QTest::newRow("high bits 3") << "RS232:RX:Brasko" << "31" << false;
    }
    void liveFormatFollowsTheFormatByte()
    {
        QFETCH(QString, model);
        QFETCH(QString, formatByte);
        QFETCH(bool, binary);
        LidarSim sim({"--model", model, "--output-format-byte", formatByte, "--live-interval", "300",
                      "--live-count", "1"});
        QVERIFY(sim.start());
        Port port;
        QVERIFY(port.open(sim.portPath()));
        port.exchange(hex("020b0b03"));
        port.exchange(hex("020910030a03"), 3000, 50);
        const QByteArray record = port.read(3000);
        QCOMPARE(record.startsWith('\x02'), binary);
        QCOMPARE(record.startsWith('$'), !binary);
    }

    void liveRecordsGivenCycle()
    {
        LidarSim sim({"--live-record", "24 41", "--live-record", "24 42", "--live-count", "3",
                      "--live-interval", "150", "--live-autostart"});
        QVERIFY(sim.start());
        Port port;
        QVERIFY(port.open(sim.portPath()));
        port.exchange(hex("020b0b03"), 3000, 50);
        QCOMPARE(joined(port.arrivals(3000, 500)), QByteArray("$A$B$A"));
    }

    void liveStops_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::newRow("remote off") << hex("020c0c03");
        QTest::newRow("DIAG entered") << hex("02282803");
    }
    void liveStops()
    {
        QFETCH(QByteArray, command);
        LidarSim sim({"--live-interval", "100", "--live-autostart"});
        QVERIFY(sim.start());
        Port port;
        QVERIFY(port.open(sim.portPath()));
        port.exchange(hex("020b0b03"), 3000, 50);
        QVERIFY(!port.read(1000, 50).isEmpty());
        port.write(command);
        QTest::qWait(200);
        port.serial().clear(QSerialPort::Input);
        port.serial().readAll();
        QCOMPARE(port.read(600), QByteArray());
        QVERIFY(sim.states().contains("live stop"));
    }

    void noLiveOutsideRemoteMode()
    {
        LidarSim sim({"--live-interval", "100"});
        QVERIFY(sim.start());
        Port port;
        QVERIFY(port.open(sim.portPath()));
        QCOMPARE(port.exchange(hex("020910030a03"), 3000, 600), hex("0209100333390" "3"));
        QVERIFY(!sim.states().contains("live start"));
    }

    // The port disappears: the terminal is gone and the client's port reports an error.
    void vanish_data()
    {
        QTest::addColumn<bool>("bySignal");
        QTest::newRow("after a time") << false;
        QTest::newRow("by signal") << true;
    }
    void vanish()
    {
        QFETCH(bool, bySignal);
        LidarSim sim(bySignal ? QStringList() : QStringList{"--vanish-after", "400"});
        QVERIFY(sim.start());
        Port port;
        QVERIFY(port.open(sim.portPath()));
        QCOMPARE(port.exchange(hex("020b0b03")), hex("020b0b03"));
        if (bySignal)
            sim.vanish();
        QVERIFY(sim.waitForState("vanish", 3000));
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(sim.portPath()), 3000);
        port.write(hex("020b0b03"));
        port.read(500);
        QVERIFY(port.serial().error() != QSerialPort::NoError || !port.serial().isOpen());
    }
};

QTEST_GUILESS_MAIN(TestSimStreams)
#include "tst_simstreams.moc"
