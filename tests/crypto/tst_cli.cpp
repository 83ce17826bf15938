#include <QtTest>

#include "pki.h"

// velomark-cli certs and encrypt, run as a program against a throw-away NSS database.
class TestCryptoCli : public QObject
{
    Q_OBJECT
    testpki::Pki pki;
    QString cert;

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("VELOMARK_CLI"))
            QSKIP("VELOMARK_CLI is not set");
        cert = pki.certificate("recipient", "rsa:2048", "/CN=Recipient/O=Speed, Inc");
        QVERIFY(pki.makeNssDb(pki.path("home/.pki/nssdb"), {{"recipient", cert}}));
        testpki::writeFile(pki.path("in.csv"), "Speed\n57\n");
        qputenv("HOME", pki.path("home").toUtf8());
        qunsetenv("XDG_DATA_HOME");
    }

    void certsListsSubjects()
    {
        const testpki::Run run = testpki::run(qEnvironmentVariable("VELOMARK_CLI"), {"certs"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QByteArray("CN=Recipient, O=\"Speed, Inc\"\n"));
    }

    void encrypt_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("message");
        const QByteArray created("The encrypted data file is created successfully");
        QTest::newRow("by subject") << QStringList{"--to", "CN=Recipient, O=\"Speed, Inc\""} << 0 << created;
        QTest::newRow("by certificate file") << QStringList{"--cert-file", "@cert"} << 0 << created;
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
        const testpki::Run run = testpki::run(qEnvironmentVariable("VELOMARK_CLI"),
                                              QStringList{"encrypt"} + options + QStringList{pki.path("in.csv"), out});
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(message), run.err.constData());
        QCOMPARE(QFile::exists(out), exitCode == 0);
        if (exitCode == 0)
            QCOMPARE(pki.opensslDecrypt(out, cert).out, QByteArray("Speed\n57\n"));
    }
};

QTEST_GUILESS_MAIN(TestCryptoCli)
#include "tst_cli.moc"
