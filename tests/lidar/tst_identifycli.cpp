#include <QtTest>

#include "lidar/frame.h"
#include "simlink.h"

using namespace velomark;

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
        QTest::addColumn<QStringList>("cliArgs");  // "%port": the simulator's port
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::addColumn<QByteArray>("received");  // what the lidar got
        const QByteArray identified = remoteModeFrame(true) + identifyFrame();
        QTest::newRow("identified and released") << QStringList{"--firmware", "9.03"} << QStringList{"--port", "%port"}
                                                 << 0 << "type 5\nfirmware 9.3\n" << ""
                                                 << identified + remoteModeFrame(false);
        QTest::newRow("older firmware with build")
            << QStringList{"--model", "RX:Brasko", "--firmware", "9.2", "--build", "0815"}
            << QStringList{"--port", "%port", "--name", "VZQ-1"} << 0 << "type 4\nfirmware 9.2\n" << ""
            << identified + remoteModeFrame(false);
        QTest::newRow("refused, not released") << QStringList{"--model", "LX:Brasko"} << QStringList{"--port", "%port"}
                                               << 1 << "" << "Invalid lidar type detected\n" << identified;
        QTest::newRow("port does not exist") << QStringList() << QStringList{"--port", "/dev/velomark-none"} << 1 << ""
                                             << "Lidar /dev/velomark-none : please make sure it is powered on\n"
                                             << QByteArray();
        QTest::newRow("no port given") << QStringList() << QStringList() << 2 << "" << "velomark-cli: " << QByteArray();
        QTest::newRow("unknown option") << QStringList() << QStringList{"--port", "%port", "--bogus"} << 2 << ""
                                        << "velomark-cli: " << QByteArray();
    }
    void identify()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QStringList, cliArgs);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(QByteArray, received);
        LidarSim sim(simArgs);
        QVERIFY(sim.start());
        cliArgs.replaceInStrings("%port", sim.portPath());

        QProcess cli;
        cli.start(qEnvironmentVariable("VELOMARK_CLI"), QStringList{"identify"} + cliArgs);
        QVERIFY(cli.waitForFinished(20000));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), exitCode);
        QCOMPARE(QString::fromUtf8(cli.readAllStandardOutput()), out);
        const QString errText = QString::fromUtf8(cli.readAllStandardError());
        QVERIFY2(exitCode == 2 ? errText.startsWith(err) : errText == err, qPrintable(errText));
        QTest::qWait(100);
        QCOMPARE(sim.receivedBytes(), received);
    }

    // --lidar looks the lidar up by discovery, first match by name, as the window does.
    void identifyByDiscoveredName_data()
    {
        QTest::addColumn<QString>("lidar");
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("found") << "VZQ Beta" << QStringList() << 0 << "type 5\nfirmware 9.3\n" << "";
        QTest::newRow("not listed") << "VZQ Gamma" << QStringList() << 1 << ""
                                    << "Lidar VZQ Gamma: please make sure it is paired and powered on\n";
        QTest::newRow("with --name") << "VZQ Beta" << QStringList{"--name", "X"} << 2 << "" << "velomark-cli: ";
        QTest::newRow("with --port") << "VZQ Beta" << QStringList{"--port", "/dev/null"} << 2 << ""
                                     << "velomark-cli: ";
    }
    void identifyByDiscoveredName()
    {
        QFETCH(QString, lidar);
        QFETCH(QStringList, extra);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        LidarSim sim;
        QVERIFY(sim.start());
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VELOMARK_LIDARS"),
                   QStringLiteral("VZQ Alpha=/dev/velomark-none;VZQ Beta=%1").arg(sim.portPath()));
        env.remove(QStringLiteral("QT_LOGGING_RULES"));
        cli.setProcessEnvironment(env);
        cli.start(qEnvironmentVariable("VELOMARK_CLI"), QStringList{"identify", "--lidar", lidar} + extra);
        QVERIFY(cli.waitForFinished(20000));
        QCOMPARE(cli.exitCode(), exitCode);
        QCOMPARE(QString::fromUtf8(cli.readAllStandardOutput()), out);
        const QString errText = QString::fromUtf8(cli.readAllStandardError());
        QVERIFY2(exitCode == 2 ? errText.startsWith(err) : errText == err, qPrintable(errText));
    }
};

QTEST_GUILESS_MAIN(TestIdentifyCli)
#include "tst_identifycli.moc"
