#include <QtTest>

#include <QSerialPort>

#include "lidarsim.h"
#include "live/livebuffer.h"
#include "live/liverecordparser.h"

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

struct Arrival { qint64 ms; QByteArray bytes; };

QByteArray joined(const QList<Arrival> &arrivals)
{
    QByteArray all;
    for (const Arrival &arrival : arrivals)
        all += arrival.bytes;
    return all;
}

// Pauses longer than minMs between arrivals.
int pauses(const QList<Arrival> &arrivals, int minMs)
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
        log += "01 12 25 24 10 30 45 41 00 41 01 F4 01 83 #" + QByteArray::number(i).rightJustified(4, '0') + "\r\n";
    return log;
}

// The simulator and a client on its terminal, opened as the logger opens it.
struct Lidar
{
    LidarSim sim;
    QSerialPort port;

    explicit Lidar(const QStringList &args = {}) : sim(args) {}
    bool start()
    {
        if (!sim.start())
            return false;
        port.setPortName(sim.portPath());
        port.setBaudRate(57600);
        return port.open(QIODevice::ReadWrite);
    }
    void write(const QByteArray &bytes)
    {
        port.write(bytes);
        port.waitForBytesWritten(3000);
    }
    // Chunks as they arrive, each with its time since the call, until quietMs pass without a byte.
    QList<Arrival> arrivals(int firstMs, int quietMs)
    {
        QList<Arrival> result;
        QElapsedTimer timer;
        timer.start();
        for (int wait = firstMs; port.waitForReadyRead(wait); wait = quietMs)
            result.append({timer.elapsed(), port.readAll()});
        return result;
    }
    QByteArray exchange(const QByteArray &bytes, int firstMs = 3000, int quietMs = 250)
    {
        port.clear();
        write(bytes);
        return joined(arrivals(firstMs, quietMs));
    }
};

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
        Lidar lidar(args);
        QVERIFY2(lidar.start(), qPrintable(lidar.sim.errorString()));
        QCOMPARE(lidar.exchange(command, reply.isEmpty() ? 600 : 3000), reply);
        QCOMPARE(lidar.sim.receivedBytes(), command);
    }

    // Timed replies, measured with wide margins from the command to the last byte: late bytes after
    // a reply, and dumps paced at their baud rate (1200 bytes at 9600 baud take about 1.25 s) or
    // sent in bursts of 300 bytes with pauses. Delayed and chunked replies are read back by the
    // logger in tst_exchange (replyDelayedFiveSeconds, chunkedReply); a vanishing lidar is lost by
    // the logger in tst_connection, tst_clilive and tst_retrieval.
    void timing_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("quietMs");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("pauses");  // of 450 ms or more
        const QByteArray on = hex("020b0b03"), enter = hex("02282803"), log = numberedLog(24);
        QTest::newRow("late") << QStringList{"--fault", "0B=late:700"} << on << on + "\x55\xAA late" << 1000 << 650 << 1;
        QTest::newRow("dump at baud rate") << QStringList{"--dump-baud", "9600", "--stored-log", file(log)}
                                           << enter + hex("02343403") << enter + log << 1000 << 900 << -1;
        QTest::newRow("dump in bursts") << QStringList{"--dump-baud", "576000", "--dump-burst", "300", "--dump-pause",
                                                       "700", "--stored-log", file(log)}
                                        << enter + hex("02343403") << enter + log << 1500 << 0 << 3;
    }
    void timing()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        QFETCH(int, quietMs);
        QFETCH(int, minMs);
        QFETCH(int, pauses);
        Lidar lidar(args);
        QVERIFY(lidar.start());
        lidar.write(command);
        const auto arrivals = lidar.arrivals(3000, quietMs);
        QCOMPARE(joined(arrivals), reply);
        QVERIFY2(arrivals.last().ms >= minMs && arrivals.last().ms < 6000, qPrintable(QString::number(arrivals.last().ms)));
        if (pauses >= 0)
            QCOMPARE(::pauses(arrivals, 450), pauses);
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
        Lidar lidar({"--firmware", firmware, "--stored-log", file(log)});
        QVERIFY(lidar.start());
        for (int i = 0; i < sequence.size() - 1; ++i)
            lidar.exchange(sequence.at(i));
        QCOMPARE(lidar.exchange(sequence.last(), dumps ? 3000 : 800), dumps ? log : QByteArray());
        QCOMPARE(lidar.sim.states().contains(QString("dump start %1 bytes").arg(log.size())), dumps);
    }

    // Generated live records start after the format query in remote mode, an interval apart, and
    // stop by count: "$" text records with 13 fields, or binary frames with their checksum. The
    // format follows the output-format byte as the model reads it: low or high four bits.
    void liveRecords_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("binary");
        const QStringList rs232{"--model", "RS232:RX:Brasko"}, notify{"--live-notify"};
        const auto format = [](const char *byte) { return QStringList{"--output-format-byte", byte}; };
        QTest::newRow("text, low bits 3") << QStringList() << false;
        QTest::newRow("text with position") << QStringList{"--live-gps"} << false;
        QTest::newRow("low bits 1") << format("31") + notify << true;
        QTest::newRow("high bits 1") << rs232 + format("13") + notify << true;
        QTest::newRow("high bits 3") << rs232 + format("31") << false;
    }
    void liveRecords()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, binary);
        const bool gps = args.contains("--live-gps");
        const int count = binary ? 8 : 3;
        Lidar lidar(args + QStringList{"--live-interval", "300", "--live-count", QString::number(count)});
        QVERIFY(lidar.start());
        lidar.exchange(hex("020b0b03"));
        lidar.exchange(hex("020910030a03"), 3000, 100);
        const auto arrivals = lidar.arrivals(3000, 800);
        QCOMPARE(pauses(arrivals, 200), count - 1);
        // The logger's own cutting and parsing take every record, checksum and fields included.
        velomark::LiveBufferCutter cutter(binary ? 1 : 3);
        cutter.take(joined(arrivals));
        cutter.cutAll();
        const QList<QByteArray> buffers = cutter.takeBuffers();
        QCOMPARE(buffers.size(), count);
        for (const QByteArray &buffer : buffers) {
            const auto record = velomark::parseLiveRecord(buffer, QDateTime::currentDateTime());
            QVERIFY2(record && record->dateTime.isValid(), buffer.toHex().constData());
            QCOMPARE(!record->latitude.isEmpty() && !record->longitude.isEmpty(), gps);
            QVERIFY(binary ? buffer.startsWith('\x02') : buffer.startsWith('$') && buffer.count(',') == 12);
        }
        QVERIFY(lidar.sim.waitForState("live stop", 1000));
    }

    // Continuous mode streams from the start without a pause, in and out of remote mode; only
    // DIAG mode pauses it. Leaving DIAG mode ends a running dump.
    void continuousModeAndDiag()
    {
        const QByteArray record = hex("021504003704D201F103");
        Lidar lidar({"--live-always", "--live-interval", "1", "--live-format", "1", "--live-record",
                     QString::fromLatin1(record.toHex()), "--stored-log", file(numberedLog(400)), "--dump-baud", "9600"});
        QVERIFY(lidar.start());
        QList<Arrival> arrivals;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 500 && lidar.port.waitForReadyRead(40))
            arrivals.append({clock.elapsed(), lidar.port.readAll()});
        QVERIFY2(clock.elapsed() >= 500, "the stream paused");
        QVERIFY2(joined(arrivals).size() >= 50 * record.size(), qPrintable(QString::number(joined(arrivals).size())));
        QVERIFY(joined(arrivals).startsWith(record));
        lidar.exchange(hex("02282803"), 3000, 100);
        lidar.write(hex("02343403"));
        QVERIFY(lidar.sim.waitForState("dump start", 1000));
        lidar.write(hex("02292903"));
        QVERIFY(lidar.sim.waitForState("dump stopped after", 1000));
        QVERIFY(lidar.sim.waitForState("live start", 1000));
        QCOMPARE(lidar.sim.states().filter("dump end"), QStringList());
    }

    // The command line: --help describes it; a mistake is reported with exit code 2.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::newRow("help") << QStringList{"--help"} << 0 << "--exit-with-parent";
        QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << "unknown option '--bogus'";
        QTest::newRow("missing value") << QStringList{"--model"} << 2 << "--model needs TEXT";
        QTest::newRow("bad fault code") << QStringList{"--fault", "77=silent"} << 2 << "unknown command code '77'";
        QTest::newRow("bad fault kind") << QStringList{"--fault", "0B=chunks:2"} << 2 << "bad kind 'chunks:2'";
        QTest::newRow("bad hex") << QStringList{"--identify-reply", "0G"} << 2 << "bad value '0G'";
        QTest::newRow("operation mode range") << QStringList{"--operation-mode", "16"} << 2 << "bad value '16'";
        QTest::newRow("missing scenario") << QStringList{"--scenario", "/nowhere"} << 2 << "cannot read /nowhere";
    }
    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QProcess process;
        process.start(qEnvironmentVariable("LIDAR_SIM"), args);
        QVERIFY(process.waitForFinished(5000));
        QCOMPARE(process.exitCode(), exitCode);
        const QString text = QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
        QVERIFY2(text.contains(output), qPrintable(text));
    }

    void eventsRecordTheExchangeInOrder()
    {
        Lidar lidar;
        QVERIFY(lidar.start());
        const QList<QByteArray> commands{hex("020b0b03"), hex("021e1e03"), hex("020c0c03")};
        for (const QByteArray &command : commands)
            lidar.exchange(command);
        QCOMPARE(lidar.sim.received(), commands);
        QCOMPARE(lidar.sim.sentBytes(), commands.first() + "BT:RX:Brasko Version 9.3" + commands.last());
        QCOMPARE(lidar.sim.states().mid(1), (QStringList{"remote on", "remote off"}));
        // Every line starts with its time in milliseconds, never decreasing.
        qint64 last = 0;
        for (const QString &line : lidar.sim.events()) {
            bool ok = false;
            const qint64 ms = line.section(' ', 0, 0).toLongLong(&ok);
            QVERIFY2(ok && ms >= last, qPrintable(line));
            last = ms;
        }
    }
};

QTEST_GUILESS_MAIN(TestLidarSim)
#include "tst_lidarsim.moc"
