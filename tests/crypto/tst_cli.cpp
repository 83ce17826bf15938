#include <QtTest>

#include "pki.h"

#include <unistd.h>

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
        // A subject with a line break, made by changing the DER after openssl signed it.
        const QString twoLines = pki.certificate("twolines", "rsa:2048", "/CN=Two Lines");
        QVERIFY(testpki::run("openssl", {"x509", "-in", twoLines, "-outform", "DER", "-out", twoLines + ".der"}).ok);
        QByteArray der = testpki::readFile(twoLines + ".der");
        der.replace(der.lastIndexOf("Two Lines"), 9, "Two\nLines");
        QVERIFY(testpki::writeFile(twoLines + ".der", der));
        QVERIFY(pki.makeNssDb(pki.path("home/.pki/nssdb"), {{"recipient", cert}, {"two-lines", twoLines + ".der"}}));
        testpki::writeFile(pki.path("in.csv"), "Speed\n57\n");
        qputenv("HOME", pki.path("home").toUtf8());
        qunsetenv("XDG_DATA_HOME");
    }

    void certsListsSubjects()
    {
        const testpki::Run run = testpki::run(qEnvironmentVariable("VELOMARK_CLI"), {"certs"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QByteArray("CN=Recipient, O=\"Speed, Inc\"\nCN=Two\\x0ALines\n"));
    }

    // IN and OUT: "@in" the plain file, "@stdin" standard input (a pipe holding `piped`),
    // "@out" a new file in the folder; any other text as it stands.
    void encrypt_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("message");
        const QByteArray created("The encrypted data file is created successfully");
        const QStringList byFile{"--cert-file", "@cert"};
        QTest::newRow("by subject") << QStringList{"--to", "CN=Recipient, O=\"Speed, Inc\""} << "@in" << "@out" << 0
                                    << created;
        QTest::newRow("by certificate file") << byFile << "@in" << "@out" << 0 << created;
        QTest::newRow("piped input") << byFile << "@stdin" << "@out" << 0 << created;
        QTest::newRow("file that tells size 0") << byFile << "/proc/version" << "@out" << 0 << created;
        QTest::newRow("unknown subject") << QStringList{"--to", "CN=Nobody"} << "@in" << "@out" << 1
                                         << QByteArray("Cannot find certificate for encryption");
        QTest::newRow("both choices") << QStringList{"--to", "x", "--cert-file", "@cert"} << "@in" << "@out" << 2
                                      << QByteArray("exactly one");
        QTest::newRow("unreadable certificate file") << QStringList{"--cert-file", "/nonexistent.pem"} << "@in"
                                                     << "@out" << 2 << QByteArray("cannot read a certificate");
        QTest::newRow("missing input") << byFile << "/nonexistent.csv" << "@out" << 1
                                       << QByteArray("cannot read /nonexistent.csv: No such file or directory");
        const QByteArray isInput("is the input file");
        QTest::newRow("output is the input") << byFile << "@in" << "@in" << 1 << isInput;
        QTest::newRow("output links to the input") << byFile << "@in" << "@symlink" << 1 << isInput;
        QTest::newRow("output is a hard link") << byFile << "@in" << "@hardlink" << 1 << isInput;
        QTest::newRow("pipe with no place to spool") << byFile << "@stdin" << "/nonexistent/out.der" << 1
                                                     << QByteArray("has no known size and cannot be spooled");
    }
    void encrypt()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, input);
        QFETCH(QString, output);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, message);
        options.replaceInStrings("@cert", cert);
        const QString plainFile = pki.path("in.csv");
        const QByteArray plain("Speed\n57\n");
        QFile::link(plainFile, pki.path("@symlink"));
        ::link(QFile::encodeName(plainFile).constData(), QFile::encodeName(pki.path("@hardlink")).constData());
        // Over one streaming piece, so the spooled copy is read in several.
        QByteArray piped(1300000, '\0');
        for (int i = 0; i < piped.size(); ++i)
            piped[i] = char(i * 31 % 251);
        const QString in = input == "@stdin" ? QString("/dev/stdin") : input == "@in" ? plainFile : input;
        const QString out = output == "@out" ? pki.path(QString("out%1.der").arg(QTest::currentDataTag()).remove(' '))
                            : output == "@in"  ? plainFile
                            : output.startsWith('@') ? pki.path(output)
                                                     : output;
        const testpki::Run run = testpki::run(qEnvironmentVariable("VELOMARK_CLI"),
                                              QStringList{"encrypt"} + options + QStringList{in, out},
                                              input == "@stdin" ? piped : QByteArray());
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(message), run.err.constData());
        QCOMPARE(testpki::readFile(plainFile), plain);
        if (output == "@out")
            QCOMPARE(QFile::exists(out), exitCode == 0);
        if (exitCode == 0)
            QCOMPARE(pki.opensslDecrypt(out, cert).out,
                     input == "@stdin" ? piped : input == "@in" ? plain : testpki::readFile(input));
        // Nothing is left behind: no spooled copy, no half-written message.
        QCOMPARE(QDir(pki.dir()).entryList({".*spool*", "*.der.*"}, QDir::Files | QDir::Hidden), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestCryptoCli)
#include "tst_cli.moc"
