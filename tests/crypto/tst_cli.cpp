#include <QtTest>

#include "clirun.h"
#include "crypto/recordsignature.h"
#include "lidarsim.h"
#include "log/downloadrecord.h"
#include "pki.h"
#include "sampledump.h"

#include <unistd.h>

// A download record of the sample dump in a folder of its own under `dir`.
static QString archivedRecord(const QString &dir)
{
    velomark::DownloadFacts facts;
    facts.lidar.name = sampledump::kLidarName;
    facts.started = QDateTime(QDate(2026, 12, 7), QTime(15, 0, 0), Qt::UTC);
    facts.finished = facts.started.addSecs(7);
    facts.end = QStringLiteral("complete");
    const velomark::ArchiveResult archived = velomark::archiveDownload(dir, sampledump::kDump, facts);
    return archived.error.isEmpty() ? archived.record.path : QString();
}

// velomark-cli certs, encrypt, sign and verify, run as a program against a throw-away NSS
// database; what they write is checked by openssl.
class TestCryptoCli : public QObject
{
    Q_OBJECT
    testpki::Pki pki;
    QString cert;
    QString officer;
    QString unsignedRecord;  // stays so: every signing of it is refused

    // openssl's check of a detached signature over `content`, without trusting anyone: the
    // signer's certificate as openssl writes it (PEM), nothing when the signature is refused.
    QByteArray opensslSigner(const QString &signature, const QString &content)
    {
        const QString signerPem = signature + ".signer.pem";
        return testpki::run("openssl", {"cms", "-verify", "-binary", "-inform", "DER", "-in", signature, "-content",
                                        content, "-noverify", "-signer", signerPem, "-out", "/dev/null"}).ok()
                   ? fileBytes(signerPem)
                   : QByteArray();
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("VELOMARK_CLI"))
            QSKIP("VELOMARK_CLI is not set");
        cert = pki.certificate("recipient", "rsa:2048", "/CN=Recipient/O=Speed, Inc");
        // The officer's key differs from the recipient's, so only the officer can sign.
        officer = pki.certificate("officer", "rsa:3072", "/CN=Officer Jane Roe/O=Traffic Police");
        QVERIFY(pki.makeNssDb(pki.path("home/.pki/nssdb"), {{"recipient", cert}, {"officer", officer}}, {officer}));
        QVERIFY(pki.makeNssDb(pki.path("two-keys/.pki/nssdb"), {{"recipient", cert}, {"officer", officer}},
                              {cert, officer}));
        // The officer's key behind a password, imported as openssl made it (pk12util names it
        // after the subject).
        const QString locked = "sql:" + pki.path("locked/.pki/nssdb");
        QVERIFY(QDir().mkpath(pki.path("locked/.pki/nssdb")) && writeFileBytes(pki.path("db.pass"), "s3cret\n"));
        QVERIFY(testpki::run("certutil", {"-N", "-f", pki.path("db.pass"), "-d", locked}).ok());
        QVERIFY(testpki::run("pk12util", {"-i", officer + ".p12", "-d", locked, "-W", "velomark", "-k", pki.path("db.pass")}).ok());
        writeFileBytes(pki.path("in.csv"), "Speed\n57\n");
        unsignedRecord = archivedRecord(pki.path("unsigned"));
        QVERIFY(!unsignedRecord.isEmpty());
        qputenv("HOME", pki.path("home").toUtf8());
        qunsetenv("XDG_DATA_HOME");
    }

    void certsListsSubjects()
    {
        const CliRun run = runCli({"certs"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QByteArray("CN=Officer Jane Roe, O=Traffic Police\nCN=Recipient, O=\"Speed, Inc\"\n"));
    }

    // sign refuses without a certificate whose private key is in the database, or without a
    // download record: the record stays as it was and no signature is written.
    void signRefused_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("certificate without key") << QStringList{"--with", "recipient"} << 1
                                                 << QByteArray("The certificate 'recipient' has no private key");
        QTest::newRow("unknown nickname") << QStringList{"--with", "nobody"} << 1
                                          << QByteArray("No certificate 'nobody' in the certificate database");
        QTest::newRow("no nickname") << QStringList{} << 2 << QByteArray("sign needs --with NICKNAME");
        QTest::newRow("no record") << QStringList{"--with", "officer", "@csv"} << 2
                                   << QByteArray("not a download record");
    }
    void signRefused()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, message);
        const QString record = options.removeAll("@csv") ? pki.path("in.csv") : unsignedRecord;
        const QByteArray before = fileBytes(record);
        const CliRun run = runCli(QStringList{"sign", record} + options);
        QTEST(run.exitCode, "exitCode");
        QVERIFY2(run.err.contains(message), run.err.constData());
        QCOMPARE(fileBytes(record), before);
        QVERIFY(!QFile::exists(velomark::signatureFileOf(record)));
    }

    // sign with the officer's key leaves the record as it was and writes a signature openssl
    // accepts. verify checks the signature first: any changed byte of the record or of the
    // signature is a mismatch; an untouched record names its signer.
    void signAndVerify_data()
    {
        QTest::addColumn<QString>("tamper");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("firstLine");
        QTest::newRow("untouched") << "" << 0 << "OK signature %sig (signed by CN=Officer Jane Roe, O=Traffic Police)";
        QTest::newRow("one bit of the record") << "record" << 1 << "MISMATCH signature %sig";
        QTest::newRow("one bit of the signature value") << "signature" << 1 << "MISMATCH signature %sig";
        QTest::newRow("signature cut short") << "cut" << 1 << "MISMATCH signature %sig";
    }
    void signAndVerify()
    {
        QFETCH(QString, tamper);
        QFETCH(QString, firstLine);
        const QString record = archivedRecord(pki.path(QString("verify-%1").arg(QTest::currentDataTag()).replace(' ', '-')));
        const QString signature = velomark::signatureFileOf(record);
        const QByteArray before = fileBytes(record);
        QCOMPARE(runCli({"sign", record, "--with", "officer"}).exitCode, 0);
        QCOMPARE(fileBytes(record), before);
        QCOMPARE(opensslSigner(signature, record), fileBytes(officer));

        QByteArray bytes = fileBytes(tamper == "record" ? record : signature);
        if (tamper == "record")
            bytes[bytes.indexOf("complete")] = 'C';
        else if (tamper == "signature")
            bytes[bytes.size() - 10] = char(bytes.at(bytes.size() - 10) ^ 0x01);
        else if (tamper == "cut")
            bytes.chop(1);
        QVERIFY(writeFileBytes(tamper == "record" ? record : signature, bytes));
        const CliRun run = runCli({"verify", record});
        QTEST(run.exitCode, "exitCode");
        QCOMPARE(QString::fromUtf8(run.out.left(run.out.indexOf('\n'))),
                 firstLine.replace("%sig", QFileInfo(signature).fileName()));
        QVERIFY(run.out.contains("OK dump "));
    }

    // retrieve --sign signs the record as it is in the end, after the CSV was added to it.
    void retrieveSigns()
    {
        QTemporaryFile storedLog;
        QVERIFY(sampledump::writeStoredLog(storedLog));
        LidarSim sim({"--firmware", "10.0", "--stored-log", storedLog.fileName(), "--dump-baud", "1000000"});
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        const QString archive = pki.path("retrieve-archive");
        const CliRun run = runCli({"retrieve", "--quiet", "--port", sim.portPath(), "--name", sampledump::kLidarName,
                                   "--archive", archive, "--output", pki.path("retrieved.csv"), "--sign", "officer"});
        QVERIFY2(run.exitCode == 0, run.err.constData());
        const QStringList records = QDir(archive).entryList({"*.json"}, QDir::Files);
        QCOMPARE(records.size(), 1);
        const QString record = QDir(archive).filePath(records.first());
        QVERIFY(fileBytes(record).contains("retrieved.csv"));
        QCOMPARE(opensslSigner(velomark::signatureFileOf(record), record), fileBytes(officer));
    }

    // The window signs only when the choice is plain: exactly one certificate with a key. A
    // database behind a password is opened with the caller's prompt, asked again after a wrong one.
    void onlySigningNickname_data()
    {
        QTest::addColumn<QString>("home");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QString>("nickname");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QList<bool>>("asked");  // the prompt's `retry` at each call
        QTest::newRow("one key") << "home" << QStringList{} << "officer" << "" << QList<bool>{};
        QTest::newRow("two keys") << "two-keys" << QStringList{} << "" << "2 certificates with a private key"
                                  << QList<bool>{};
        QTest::newRow("no database") << "empty-home" << QStringList{} << "" << "no certificate with a private key"
                                     << QList<bool>{};
        QTest::newRow("password, wrong then right") << "locked" << QStringList{"wrong", "s3cret"}
                                                    << "Officer Jane Roe - Traffic Police" << ""
                                                    << QList<bool>{false, true};
        QTest::newRow("password not given") << "locked" << QStringList{} << ""
                                            << "The certificate database " + pki.path("locked/.pki/nssdb")
                                                   + " was not unlocked" << QList<bool>{false};
    }
    void onlySigningNickname()
    {
        QFETCH(QString, home);
        QFETCH(QStringList, answers);
        QFETCH(QString, reason);
        QList<bool> asked;
        qputenv("HOME", pki.path(home).toUtf8());
        const velomark::OnlySigner only = velomark::onlySigningNickname(
            [&](const std::string &token, bool retry) -> std::optional<std::string> {
                asked << retry;
                if (token != "the certificate database " + pki.path(home + "/.pki/nssdb").toStdString()
                    || answers.isEmpty())
                    return std::nullopt;
                return answers.takeFirst().toStdString();
            });
        qputenv("HOME", pki.path("home").toUtf8());
        QTEST(asked, "asked");
        QTEST(only.nickname.value_or(QString()), "nickname");
        QVERIFY2(reason.isEmpty() ? only.reason.isEmpty() : only.reason.startsWith(reason), qPrintable(only.reason));
    }

    // IN and OUT: "@in" the plain file, "@stdin" standard input (a pipe holding `piped`),
    // "@out" a new file in the folder, "@hardlink" a hard link to the plain file; any other
    // text as it stands.
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
        // A hard link has a name of its own: only the file's identity tells it is the input.
        QTest::newRow("output is a hard link") << byFile << "@in" << "@hardlink" << 1
                                               << QByteArray("is the input file");
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
        ::link(QFile::encodeName(plainFile).constData(), QFile::encodeName(pki.path("@hardlink")).constData());
        // Over one streaming piece, so the spooled copy is read in several.
        QByteArray piped(1300000, '\0');
        for (int i = 0; i < piped.size(); ++i)
            piped[i] = char(i * 31 % 251);
        const QString in = input == "@stdin" ? QString("/dev/stdin") : input == "@in" ? plainFile : input;
        const QString out = output == "@out" ? pki.path(QString("out%1.der").arg(QTest::currentDataTag()).remove(' '))
                            : output.startsWith('@') ? pki.path(output)
                                                     : output;
        const CliRun run = testpki::run(qEnvironmentVariable("VELOMARK_CLI"),
                                        QStringList{"encrypt"} + options + QStringList{in, out},
                                        input == "@stdin" ? piped : QByteArray());
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(message), run.err.constData());
        QCOMPARE(fileBytes(plainFile), QByteArray("Speed\n57\n"));
        if (output == "@out")
            QCOMPARE(QFile::exists(out), exitCode == 0);
        if (exitCode == 0)
            QCOMPARE(pki.opensslDecrypt(out, cert).out, input == "@stdin" ? piped : fileBytes(in));
        // Nothing is left behind: no spooled copy, no half-written message.
        QCOMPARE(QDir(pki.dir()).entryList({".*spool*", "*.der.*"}, QDir::Files | QDir::Hidden), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestCryptoCli)
#include "tst_cli.moc"
