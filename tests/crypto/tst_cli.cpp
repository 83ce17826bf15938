#include <QtTest>

#include "pki.h"

// velomark-cli certs and encrypt, run as a program against a throw-away NSS database.
class TestCryptoCli : public QObject
{
    Q_OBJECT
    testpki::Pki pki;
    QString cert;
    QString home;

    testpki::Run cli(const QStringList &args, int *exitCode)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.remove("XDG_DATA_HOME");
        process.setProcessEnvironment(env);
        process.start(qEnvironmentVariable("VELOMARK_CLI"), args);
        process.waitForFinished(60000);
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        testpki::Run run;
        run.out = process.readAllStandardOutput();
        run.err = process.readAllStandardError();
        run.ok = *exitCode == 0;
        return run;
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("VELOMARK_CLI"))
            QSKIP("VELOMARK_CLI is not set");
        cert = pki.certificate("recipient", "rsa:2048", "/CN=Recipient/O=Speed, Inc");
        home = pki.path("home");
        QVERIFY(pki.makeNssDb(home + "/.pki/nssdb", {{"recipient", cert}}));
        testpki::writeFile(pki.path("in.csv"), "Speed\n57\n");
    }

    void certsListsSubjects()
    {
        int code = -1;
        const testpki::Run run = cli({"certs"}, &code);
        QCOMPARE(code, 0);
        QCOMPARE(run.out, QByteArray("CN=Recipient, O=\"Speed, Inc\"\n"));
    }

    void encrypt_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("by subject") << QStringList{"--to", "CN=Recipient, O=\"Speed, Inc\""} << 0
                                    << QByteArray("The encrypted data file is created successfully");
        QTest::newRow("by certificate file") << QStringList{"--cert-file", "@cert"} << 0
                                             << QByteArray("The encrypted data file is created successfully");
        QTest::newRow("unknown subject") << QStringList{"--to", "CN=Nobody"} << 1
                                         << QByteArray("Cannot find certificate for encryption");
        QTest::newRow("both choices") << QStringList{"--to", "x", "--cert-file", "@cert"} << 2 << QByteArray("exactly one");
        QTest::newRow("unreadable certificate file") << QStringList{"--cert-file", "/nonexistent.pem"} << 2
                                                     << QByteArray("cannot read a certificate");
    }
    void encrypt()
    {
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, message);
        options.replaceInStrings("@cert", cert);
        const QString out = pki.path(QString("out%1.der").arg(QTest::currentDataTag()).remove(' '));
        int code = -1;
        const testpki::Run run = cli(QStringList{"encrypt"} + options + QStringList{pki.path("in.csv"), out}, &code);
        QCOMPARE(code, exitCode);
        QVERIFY2(run.err.contains(message), run.err.constData());
        QCOMPARE(QFile::exists(out), exitCode == 0);
        if (exitCode == 0) {
            const testpki::Run opened = pki.opensslDecrypt(out, cert, pki.keyOf(cert));
            QCOMPARE(opened.out, QByteArray("Speed\n57\n"));
        }
    }
};

QTEST_GUILESS_MAIN(TestCryptoCli)
#include "tst_cli.moc"
