#include <QtTest>

#include "lidarsim.h"
#include "simport.h"


class TestLidarSim : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("LIDAR_SIM"))
            QSKIP("LIDAR_SIM is not set");
    }

    void replies_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply");
        const QStringList none;
        QTest::newRow("remote on echoed") << none << hex("020b0b03") << hex("020b0b03");
        QTest::newRow("remote off echoed") << none << hex("020c0c03") << hex("020c0c03");
        QTest::newRow("identify default")
            << none << hex("021e1e03") << QByteArray("BT:RX:Brasko Version 9.3");
        QTest::newRow("identify with build")
            << QStringList{"--model", "RS232:RX:Brasko", "--firmware", "9.2", "--build", "0815"}
            << hex("021e1e03") << QByteArray("RS232:RX:Brasko Version 9.2\n\rBuild - 0815");
        QTest::newRow("identify raw reply")
            << QStringList{"--identify-reply", "00 00 41 42"} << hex("021e1e03") << hex("00004142");
        QTest::newRow("operation mode 1 escaped")
            << none << hex("0209050c03") << hex("02090510101c03");
        QTest::newRow("operation mode 3")
            << QStringList{"--operation-mode", "3"} << hex("0209050c03") << hex("020905303c03");
        QTest::newRow("output format default")
            << none << hex("020910030a03") << hex("0209100333390" "3");
        QTest::newRow("output format value escaped")
            << QStringList{"--output-format-byte", "02"} << hex("020910030a03")
            << hex("0209100310020803");
        QTest::newRow("output format checksum escaped")
            << QStringList{"--output-format-byte", "1A"} << hex("020910030a03")
            << hex("020910031a101003");
        QTest::newRow("configuration read")
            << QStringList{"--config-flags", "0x12"} << hex("0209585103") << hex("020958124303");
        QTest::newRow("configuration value escaped")
            << QStringList{"--config-flags", "03"} << hex("0209585103") << hex("0209581003" "5203");
        QTest::newRow("echo after zero bytes and a split frame")
            << none << hex("0000020b0b03") << hex("020b0b03");
        QTest::newRow("bad checksum unanswered") << none << hex("020b0c03") << QByteArray();
    }
    void replies()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        LidarSim sim(args);
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        Port port;
        QVERIFY(port.open(sim.portPath()));
        QCOMPARE(port.exchange(command, reply.isEmpty() ? 500 : 3000), reply);
        QCOMPARE(sim.receivedBytes(), command);
    }

    // Each fault bends the reply the logger sees; the reply is read until 250 ms of silence.
    void faults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("silent") << "0B=silent" << hex("020b0b03") << QByteArray();
        QTest::newRow("zero bytes only") << "0B=nulls" << hex("020b0b03") << hex("00000000");
        QTest::newRow("leading zero bytes") << "0B=leading-nulls:3" << hex("020b0b03") << hex("000000020b0b03");
        QTest::newRow("echo inside text") << "0B=embed" << hex("020b0b03") << QByteArray("xx\x02\x0b\x0b\x03yy");
        QTest::newRow("wrong echo") << "31=wrong-echo" << hex("02313103") << hex("02303003");
        QTest::newRow("short reply") << "09:05=short:4" << hex("0209050c03") << hex("02090510");
        QTest::newRow("malformed opmode reply") << "09:05=malformed" << hex("0209050c03") << hex("02097e10101c03");
        QTest::newRow("malformed format reply") << "09:03=malformed" << hex("020910030a03") << hex("02097e03333903");
        QTest::newRow("malformed config reply") << "09:58=malformed" << hex("0209585103") << hex("02097e124303");
        QTest::newRow("identify silent") << "1E=silent" << hex("021e1e03") << QByteArray();
        QTest::newRow("other command unaffected") << "1E=silent" << hex("020b0b03") << hex("020b0b03");
        QTest::newRow("configuration write") << "0A=nulls" << hex("020a58164403") << hex("000000000000");
        QTest::newRow("key status text") << "key=silent" << QByteArray("%{<") << QByteArray();
        QTest::newRow("key status text embedded") << "key=embed" << QByteArray("%{<")
                                                  << QByteArray("xx\r\nDIAG Mode Enabled\r\nyy");
    }
    void faults()
    {
        QFETCH(QString, fault);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        LidarSim sim({"--fault", fault});
        QVERIFY(sim.start());
        Port port;
        QVERIFY(port.open(sim.portPath()));
        QCOMPARE(port.exchange(command, reply.isEmpty() ? 600 : 3000), reply);
    }

    void faultOnceThenNormal()
    {
        LidarSim sim({"--fault", "0B=silent,once", "--fault", "0B=embed,once"});
        QVERIFY(sim.start());
        Port port;
        QVERIFY(port.open(sim.portPath()));
        QCOMPARE(port.exchange(hex("020b0b03"), 600), QByteArray());
        QCOMPARE(port.exchange(hex("020b0b03")), QByteArray("xx\x02\x0b\x0b\x03yy"));
        QCOMPARE(port.exchange(hex("020b0b03")), hex("020b0b03"));
    }

    // Timed faults, measured with wide margins: the reply is whole, only its timing differs.
    void timedFaults()
    {
        {
            LidarSim sim({"--fault", "31=delay:1500"});
            QVERIFY(sim.start());
            Port port;
            QVERIFY(port.open(sim.portPath()));
            QElapsedTimer timer;
            timer.start();
            QCOMPARE(port.exchange(hex("02313103"), 8000), hex("02313103"));
            QVERIFY2(timer.elapsed() >= 1400, qPrintable(QString::number(timer.elapsed())));
        }
        {
            LidarSim sim({"--fault", "1E=chunks:3:120"});
            QVERIFY(sim.start());
            Port port;
            QVERIFY(port.open(sim.portPath()));
            port.write(hex("021e1e03"));
            const auto arrivals = port.arrivals(3000, 600);
            QByteArray whole;
            for (const auto &arrival : arrivals)
                whole += arrival.bytes;
            QCOMPARE(whole, QByteArray("BT:RX:Brasko Version 9.3"));
            QCOMPARE(sim.sent().size(), 3);
            QVERIFY(arrivals.last().ms - arrivals.first().ms >= 200);
        }
        {
            LidarSim sim({"--fault", "0B=late:700"});
            QVERIFY(sim.start());
            Port port;
            QVERIFY(port.open(sim.portPath()));
            QCOMPARE(port.exchange(hex("020b0b03"), 3000, 250), hex("020b0b03"));
            const QByteArray late = port.read(2000);
            QVERIFY(!late.isEmpty());
            QVERIFY(!late.contains(hex("020b0b03")));
        }
    }

    // Framed DIAG commands exist from firmware 9.3 on; older firmware stays silent.
    void framedDiag_data()
    {
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<bool>("echoed");
        QTest::newRow("9.3") << "9.3" << true;
        QTest::newRow("10.0") << "10.0" << true;
        QTest::newRow("9.03") << "9.03" << true;
        QTest::newRow("9.2") << "9.2" << false;
        QTest::newRow("8.9") << "8.9" << false;
    }
    void framedDiag()
    {
        QFETCH(QString, firmware);
        QFETCH(bool, echoed);
        LidarSim sim({"--firmware", firmware});
        QVERIFY(sim.start());
        Port port;
        QVERIFY(port.open(sim.portPath()));
        QCOMPARE(port.exchange(hex("02282803"), echoed ? 3000 : 500), echoed ? hex("02282803") : QByteArray());
        QCOMPARE(port.exchange(hex("02292903"), echoed ? 3000 : 500), echoed ? hex("02292903") : QByteArray());
        QCOMPARE(sim.states().filter("diag").join('|'), echoed ? QString("diag on|diag off") : QString());
    }

    // The key sequence toggles DIAG mode and answers with a status text.
    void keySequence_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("answers");  // the word each attempt's status text holds
        QTest::newRow("toggles") << QStringList() << QStringList{"Enabled", "Disabled", "Enabled"};
        QTest::newRow("enabled on second attempt") << QStringList{"--diag-enable-on-attempt", "2"}
                                                   << QStringList{"Disabled", "Enabled", "Disabled"};
        QTest::newRow("leaving without Disabled") << QStringList{"--no-disabled-reply"}
                                                  << QStringList{"Enabled", "Off", "Enabled"};
    }
    void keySequence()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, answers);
        LidarSim sim(QStringList{"--firmware", "9.2"} + args);
        QVERIFY(sim.start());
        Port port;
        QVERIFY(port.open(sim.portPath()));
        for (const QString &answer : answers) {
            // The logger sends the three keys one by one with pauses.
            port.write("%");
            QTest::qWait(100);
            port.write("{");
            QTest::qWait(100);
            const QByteArray status = port.exchange("<");
            QVERIFY2(status.contains(answer.toLatin1()), status.constData());
            if (answer != "Disabled")
                QVERIFY(!status.contains("Disabled"));
        }
    }

    void configurationWriteIsEchoedAndStored_data()
    {
        QTest::addColumn<QByteArray>("write");
        QTest::addColumn<QByteArray>("readBack");
        QTest::newRow("bit 2 set") << hex("020a58164403") << hex("020958164703");
        QTest::newRow("escaped value") << hex("020a5810035103") << hex("0209581003520" "3");
        QTest::newRow("escaped checksum") << hex("020a5842101003") << hex("020958421303");
    }
    void configurationWriteIsEchoedAndStored()
    {
        QFETCH(QByteArray, write);
        QFETCH(QByteArray, readBack);
        LidarSim sim;
        QVERIFY(sim.start());
        Port port;
        QVERIFY(port.open(sim.portPath()));
        QCOMPARE(port.exchange(write), write);
        QCOMPARE(port.exchange(hex("0209585103")), readBack);
        QVERIFY(sim.states().last().startsWith("config 0x"));
    }

    void requireRemoteIgnoresCommandsUntilRemoteOn()
    {
        LidarSim sim({"--require-remote"});
        QVERIFY(sim.start());
        Port port;
        QVERIFY(port.open(sim.portPath()));
        QCOMPARE(port.exchange(hex("021e1e03"), 600), QByteArray());
        QCOMPARE(port.exchange(hex("020b0b03")), hex("020b0b03"));
        QCOMPARE(port.exchange(hex("021e1e03")), QByteArray("BT:RX:Brasko Version 9.3"));
    }

    void scenarioFileAddsOptions()
    {
        QTemporaryFile scenario;
        QVERIFY(scenario.open());
        scenario.write("# an older lidar with a slow first echo\n\n"
                       "--model \"RS232:RX:Brasko  \"\n"
                       "--firmware 9.03\n"
                       "--fault 0B=delay:300,once\n");
        scenario.flush();
        LidarSim sim({"--scenario", scenario.fileName()});
        QVERIFY(sim.start());
        Port port;
        QVERIFY(port.open(sim.portPath()));
        QCOMPARE(port.exchange(hex("020b0b03")), hex("020b0b03"));
        QCOMPARE(port.exchange(hex("021e1e03")), QByteArray("RS232:RX:Brasko   Version 9.03"));
        QVERIFY(sim.events().filter("NOTE fault 0B: delay 300 ms").size() == 1);
    }

    // The command line: --help names every option; a mistake is reported with exit code 2.
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
        QTest::newRow("missing scenario") << QStringList{"--scenario", "/nonexistent/x"} << 2 << "cannot read /nonexistent/x";
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
        if (exitCode == 0) {
            for (const char *option : {"--events", "--scenario", "--model", "--firmware", "--build", "--identify-reply",
                                       "--operation-mode", "--output-format-byte", "--config-flags", "--stored-log",
                                       "--demo-log", "--dump-baud", "--dump-burst", "--dump-pause", "--live-format",
                                       "--live-interval", "--live-record", "--live-gps", "--live-notify", "--live-count",
                                       "--live-autostart", "--diag-enable-on-attempt", "--no-disabled-reply", "--fault",
                                       "--vanish-after"})
                QVERIFY2(text.contains(option), option);
        }
    }

    void eventsRecordTheExchangeInOrder()
    {
        LidarSim sim;
        QVERIFY(sim.start());
        Port port;
        QVERIFY(port.open(sim.portPath()));
        port.exchange(hex("020b0b03"));
        port.exchange(hex("021e1e03"));
        port.exchange(hex("020c0c03"));
        QCOMPARE(sim.received(), (QList<QByteArray>{hex("020b0b03"), hex("021e1e03"), hex("020c0c03")}));
        QCOMPARE(sim.sentBytes(), hex("020b0b03") + "BT:RX:Brasko Version 9.3" + hex("020c0c03"));
        QVERIFY(sim.states().contains("remote on"));
        QVERIFY(sim.states().indexOf("remote on") < sim.states().indexOf("remote off"));
        // Every line starts with its time in milliseconds, never decreasing.
        qint64 last = 0;
        for (const QString &line : sim.events()) {
            bool ok = false;
            const qint64 ms = line.section(' ', 0, 0).toLongLong(&ok);
            QVERIFY2(ok && ms >= last, qPrintable(line));
            last = ms;
        }
    }

    void clientMayReopenThePort()
    {
        LidarSim sim;
        QVERIFY(sim.start());
        for (int round = 0; round < 2; ++round) {
            Port port;
            QVERIFY(port.open(sim.portPath()));
            QCOMPARE(port.exchange(hex("020b0b03")), hex("020b0b03"));
        }
    }

    void stopEndsTheProcessAndFreesTheTerminal()
    {
        LidarSim sim;
        QVERIFY(sim.start());
        const QString path = sim.portPath();
        QVERIFY(QFile::exists(path));
        QElapsedTimer timer;
        timer.start();
        sim.stop();
        QVERIFY(timer.elapsed() < 2500);
        QVERIFY(sim.states().contains("exit"));
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(path), 3000);
    }
};

QTEST_GUILESS_MAIN(TestLidarSim)
#include "tst_lidarsim.moc"
