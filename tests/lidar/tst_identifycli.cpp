#include <QtTest>

#include "lidar/frame.h"
#include "lidarsim.h"
#include "simlink.h"

// velomark-cli identify as a program: standard output, standard error and exit status.
class TestIdentifyCli : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!simlink::simAvailable())
            QSKIP("LIDAR_SIM is not set");
    }

    void identify_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QStringList>("cliArgs");  // "%port" stands for the simulator's port
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("identified") << QStringList{"--model", "BT:RX:Brasko", "--firmware", "9.03"}
                                    << QStringList{"--port", "%port"} << 0 << "type 5\nfirmware 9.3\n" << "";
        QTest::newRow("older firmware with build")
            << QStringList{"--model", "RX:Brasko", "--firmware", "9.2", "--build", "0815"}
            << QStringList{"--port", "%port", "--name", "VZQ-1"} << 0 << "type 4\nfirmware 9.2\n" << "";
        QTest::newRow("refused") << QStringList{"--model", "LX:Brasko"} << QStringList{"--port", "%port"} << 1 << ""
                                 << "Invalid lidar type detected\n";
        QTest::newRow("no port given") << QStringList() << QStringList() << 2 << "" << "";
        QTest::newRow("unknown option") << QStringList() << QStringList{"--port", "%port", "--bogus"} << 2 << ""
                                        << "";
    }
    void identify()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QStringList, cliArgs);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        LidarSim sim(simArgs);
        QVERIFY(sim.start());
        cliArgs.replaceInStrings(QStringLiteral("%port"), sim.portPath());

        QProcess cli;
        cli.start(qEnvironmentVariable("VELOMARK_CLI"), QStringList{"identify"} + cliArgs);
        QVERIFY(cli.waitForFinished(20000));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), exitCode);
        QCOMPARE(QString::fromUtf8(cli.readAllStandardOutput()), out);
        const QString errText = QString::fromUtf8(cli.readAllStandardError());
        if (exitCode == 2)
            QVERIFY(errText.startsWith(QLatin1String("velomark-cli: ")));
        else
            QCOMPARE(errText, err);
        // A lidar that identified itself is released again; a refused one is not switched off.
        QTest::qWait(100);
        const QByteArray expected = exitCode == 0
            ? velomark::remoteModeFrame(true) + velomark::identifyFrame() + velomark::remoteModeFrame(false)
            : exitCode == 1 ? velomark::remoteModeFrame(true) + velomark::identifyFrame() : QByteArray();
        QCOMPARE(sim.receivedBytes(), expected);
    }

    void missingPortFails()
    {
        QProcess cli;
        cli.start(qEnvironmentVariable("VELOMARK_CLI"),
                  QStringList{"identify", "--port", "/dev/velomark-no-such-port"});
        QVERIFY(cli.waitForFinished(20000));
        QCOMPARE(cli.exitCode(), 1);
        QCOMPARE(QString::fromUtf8(cli.readAllStandardError()),
                 QStringLiteral("Lidar /dev/velomark-no-such-port : please make sure it is powered on\n"));
    }
};

QTEST_GUILESS_MAIN(TestIdentifyCli)
#include "tst_identifycli.moc"
