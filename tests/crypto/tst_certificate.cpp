#include <QtTest>

#include "crypto/certstore.h"
#include "crypto/encryptor.h"
#include "crypto/exportflow.h"
#include "pki.h"
#include "recordingoperator.h"

using namespace velomark;

// The export flow encrypts the log text as it stands, without reading it.
static const QByteArray kLogText = "Speed\n57\n";

// A real file that changes under the reader after its first read.
class ChangingFile : public QFile
{
public:
    enum Change { Shrinks, Grows, FailsToRead };
    ChangingFile(const QString &name, Change change) : QFile(name), m_change(change) {}

protected:
    qint64 readData(char *data, qint64 size) override
    {
        if (m_reads++ == 1 && m_change == FailsToRead) {
            setErrorString("Input/output error");
            return -1;
        }
        if (m_reads == 2)
            QFile::resize(fileName(), m_change == Shrinks ? 1500000 : 3000004);
        return QFile::readData(data, size);
    }

private:
    Change m_change;
    int m_reads = 0;
};

// Certificates read from files and from the user's NSS database, and the export flow that
// encrypts for one of them.
class TestCertificate : public QObject
{
    Q_OBJECT
    testpki::Pki pki;
    QString home;  // a home with $HOME/.pki/nssdb holding three certificates
    QString first, second;  // equal subjects, different keys
    QString other, dsa;

    static void useHome(const QString &homeDir, const QString &dataHome = QString())
    {
        qputenv("HOME", homeDir.toUtf8());
        qputenv("XDG_DATA_HOME", dataHome.toUtf8());  // empty counts as unset
    }

    static CertificateList list(const QStringList &pems)
    {
        CertificateList certificates;
        for (const QString &pem : pems) {
            certificates.emplace_back(new Certificate);
            certificates.back()->LoadFromFile(pem.toStdString());
        }
        return certificates;
    }

    bool opens(const QString &file, const QString &pem)
    {
        return pki.opensslDecrypt(file, pem).out == kLogText;
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationName("Velomark");
        first = pki.certificate("first", "rsa:2048", "/CN=Speed Unit/O=Police", "11");
        second = pki.certificate("second", "rsa:1024", "/CN=Speed Unit/O=Police", "22");
        other = pki.certificate("other", "rsa:2048", "/CN=Court/O=Justice", "33");
        dsa = pki.certificate("dsa", "dsa", "/CN=Dsa Holder");
        home = pki.path("home");
        // Inserted out of nickname order: the store must sort them.
        QVERIFY(pki.makeNssDb(home + "/.pki/nssdb",
                              {{"zulu", pki.certificate("z", "rsa:1024", "/CN=Zulu")},
                               {"alpha", pki.certificate("a", "rsa:1024", "/CN=Alpha, Inc/O=Org")},
                               {"mike", pki.certificate("m", "rsa:1024", "/CN=Mike")}}));
    }

    void subjectAndSerial_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("rendered");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("serialHex");
        QTest::newRow("order as stored, unknown OID, serial with top bit")
            << "/C=DE/O=Org/CN=Alice/velomarkTestAttr=lane 3" << "C=DE, O=Org, CN=Alice, OID.1.3.6.1.4.1.99999.7=lane 3"
            << "80ABCDEF" << "0080ABCDEF";
        QTest::newRow("comma quoted") << "/CN=Bob/O=Speed, Traffic Ltd" << "CN=Bob, O=\"Speed, Traffic Ltd\""
                                      << "7F0102030405060708090A0B0C0D0E0F10111213"
                                      << "7F0102030405060708090A0B0C0D0E0F10111213";
        // Under the widest mask openssl stores text beyond Latin-1 as a BMPString, Latin-1 text
        // as a T61String.
        QTest::newRow("BMPString and T61String") << QString::fromUtf8("/CN=Ωmega Σ/O=Jürgen")
                                                 << QString::fromUtf8("CN=Ωmega Σ, O=Jürgen") << "04" << "04";
        // Text beyond the BMP, which no BMPString holds, is stored as a UTF8String. Bytes that
        // start no well-formed UTF-8 sequence are fuzz_certificate's (the rendered name stays
        // UTF-8). Control characters (C0, DEL, C1) are shown escaped: one line, no terminal
        // control sequence.
        QTest::newRow("UTF8String, control characters")
            << QString::fromUtf8("/CN=\x1B[31mRed\xF0\x9F\x98\x80\x7F\xC2\x9B")
            << QString::fromUtf8("CN=\\x1B[31mRed\xF0\x9F\x98\x80\\x7F\\x9B") << "09" << "09";
    }
    void subjectAndSerial()
    {
        QFETCH(QString, subject);
        QFETCH(QString, rendered);
        QFETCH(QString, serial);
        const QString pem = pki.certificate(QString("subject%1").arg(qHash(subject)), "rsa:1024", subject, serial);
        Certificate certificate;
        QVERIFY(certificate.LoadFromFile(pem.toStdString()));
        // Byte for byte: a QString would hide malformed UTF-8 behind its own replacement characters.
        QCOMPARE(QByteArray::fromStdString(certificate.SubjectDN()), rendered.toUtf8());
        QVERIFY(certificate.LastMethodSuccess());
        QTEST(QString::fromStdString(certificate.SerialNumber()), "serialHex");
    }

    void badInputIsRefused()
    {
        writeFileBytes(pki.path("garbage.pem"), "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n");
        Certificate bad;
        QVERIFY(!bad.LoadFromFile(pki.path("garbage.pem").toStdString()));
        QVERIFY(!bad.LoadFromDer({0x30, 0x03, 0x02, 0x01, 0x00}));
        QVERIFY(!bad.LoadFromFile(pki.path("missing.pem").toStdString()));
        QVERIFY(!bad.HasCertificate());
        // DER files load as they stand.
        writeFileBytes(pki.path("der.der"), testpki::run("openssl", {"x509", "-in", other, "-outform", "DER"}).out);
        QVERIFY(bad.LoadFromFile(pki.path("der.der").toStdString()));
        QCOMPARE(bad.SubjectDN(), std::string("CN=Court, O=Justice"));
        // A file too large for memory is a failure with its reason, the loaded one stays.
        setAllocationLimitForTesting(100);
        const bool loaded = bad.LoadFromFile(pki.path("der.der").toStdString());
        setAllocationLimitForTesting(0);
        QVERIFY(!loaded && !bad.LastMethodSuccess());
        QCOMPARE(bad.LastError(), std::string("Out of memory"));
        QCOMPARE(bad.SubjectDN(), std::string("CN=Court, O=Justice"));
    }

    // Indexes outside the store are refused, and a certificate outlives its store and its own
    // Certificate object while a recipient list holds it. (The store's order by nickname is
    // loadingCertificates'.)
    void storeBoundsAndLifetime()
    {
        useHome(home);
        Encryptor encryptor;
        encryptor.SetEncryptionAlgorithm("pki");
        {
            CertificateStore store;
            QVERIFY(!store.GetCertificate(0));  // nothing open yet
            QVERIFY(store.OpenCurrentUserStore(true));
            QCOMPARE(QString::fromStdString(store.Location()), home + "/.pki/nssdb");
            QVERIFY(!store.GetCertificate(3));
            QVERIFY(!store.LastMethodSuccess());
            QVERIFY(!store.GetCertificate(-1));
            QVERIFY(encryptor.SetRecipientCert(*store.GetCertificate(2)));
        }
        BinaryData data;
        data.AppendData("kept alive", 10);
        QVERIFY(encryptor.EncryptBinaryData(data));
        QVERIFY(data.Size() > 100);
    }

    // Any folder name works, quotes and backslashes included.
    void storeLocations_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("count");
        QTest::newRow("no database anywhere: empty store") << "none" << 0;
        QTest::newRow("XDG_DATA_HOME") << "xdg" << 1;
        QTest::newRow("default data home") << "default" << 1;
    }
    void storeLocations()
    {
        QFETCH(QString, layout);
        const QString base = pki.path(layout + " O'Brien's \"home\" \\ there");
        QDir().mkpath(base + "/home");
        useHome(base + "/home", layout == "xdg" ? base + "/data" : QString());
        const QString database = layout == "xdg" ? base + "/data/pki/nssdb" : base + "/home/.local/share/pki/nssdb";
        if (layout != "none")
            QVERIFY(pki.makeNssDb(database, {{"only", pki.certificate("loc", "rsa:1024", "/CN=Located")}}));
        CertificateStore store;
        QVERIFY(store.OpenCurrentUserStore(true) && store.LastMethodSuccess());
        QTEST(store.CertificateCount(), "count");
    }

    // Every failure leaves an earlier file as it was and tells why, except for nothing to write.
    void encryptDataFileFailures_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("fileName");  // relative to the temporary folder
        QTest::addColumn<QString>("message");   // empty: no message
        QTest::newRow("empty buffer: silent") << QByteArray() << "CN=Court, O=Justice" << "empty.enc" << "";
        QTest::newRow("letter case differs") << kLogText << "CN=court, O=Justice" << "case.enc"
                                             << "Cannot find certificate for encryption";
        QTest::newRow("part of a name") << kLogText << "CN=Court" << "part.enc" << "Cannot find certificate for encryption";
        QTest::newRow("DSA certificate") << kLogText << "CN=Dsa Holder" << "dsa.enc" << "Failed to generate encrypted data";
        QTest::newRow("unwritable file") << kLogText << "CN=Court, O=Justice" << "missing/dir/x.enc"
                                         << "Open data file %1 failed with error: ";
    }
    void encryptDataFileFailures()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, name);
        QFETCH(QString, fileName);
        QFETCH(QString, message);
        const QString file = pki.path(fileName);
        const bool before = writeFileBytes(file, "earlier export");
        RecordingOperator op;
        Encryptor encryptor;
        configureExportEncryptor(encryptor);
        QVERIFY(encryptDataFile(op, encryptor, list({first, other, dsa}), data, name, file) != ExportOutcome::Written);
        QCOMPARE(fileBytes(file), before ? QByteArray("earlier export") : QByteArray("<unreadable>"));
        QCOMPARE(op.messages.size(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty()) {
            QCOMPARE(op.messages.first().title, QString("Velomark"));
            QVERIFY2(op.texts().first().startsWith(message.replace("%1", file)), qPrintable(op.texts().first()));
        }
    }

    // The first of equal subjects is addressed, and the recipient list is reset per export:
    // each file opens only with its own key, and each success is told.
    void recipientPerExport()
    {
        RecordingOperator op;
        Encryptor encryptor;
        configureExportEncryptor(encryptor);
        const CertificateList certificates = list({first, second, other});
        encryptDataFile(op, encryptor, certificates, kLogText, "CN=Speed Unit, O=Police", pki.path("one.enc"));
        writeFileBytes(pki.path("two.enc"), "earlier export");  // replaced whole
        encryptDataFile(op, encryptor, certificates, kLogText, "CN=Court, O=Justice", pki.path("two.enc"));
        QVERIFY(opens(pki.path("one.enc"), first));
        QVERIFY(!opens(pki.path("one.enc"), second));
        QVERIFY(opens(pki.path("two.enc"), other));
        QVERIFY(!opens(pki.path("two.enc"), first));
        const QString created("The encrypted data file is created successfully\n%1, for %2");
        QCOMPARE(op.texts(), (QStringList{created.arg(pki.path("one.enc"), "CN=Speed Unit, O=Police"),
                                          created.arg(pki.path("two.enc"), "CN=Court, O=Justice")}));
    }

    // A file that is not what its size said when reading began: the export fails with its
    // message and leaves no message, not even a part of one. (Refused keys are the encryptor's,
    // tst_encryptor recipientKeyChecks; a failed encryption from memory is the DSA row above.)
    void failedExportLeavesNoFile_data()
    {
        QTest::addColumn<int>("change");
        QTest::addColumn<QString>("message");
        const QString unread("Read data file %1 failed with error: ");
        QTest::newRow("input shrinks") << int(ChangingFile::Shrinks) << unread + "the input ended after 1500000 of 3000000 bytes";
        QTest::newRow("input grows") << int(ChangingFile::Grows) << unread + "the input grew past 3000000 bytes while it was read";
        QTest::newRow("read error") << int(ChangingFile::FailsToRead) << unread + "Input/output error";
    }
    void failedExportLeavesNoFile()
    {
        QFETCH(int, change);
        QFETCH(QString, message);
        const QString folder = pki.path(QTest::currentDataTag());
        QDir().mkpath(folder);
        const QString input = folder + "/input.csv";
        QVERIFY(writeFileBytes(input, QByteArray(3000000, 'r')));
        ChangingFile file(input, ChangingFile::Change(change));
        QVERIFY(file.open(QIODevice::ReadOnly));
        RecordingOperator op;
        Encryptor encryptor;
        configureExportEncryptor(encryptor);
        QCOMPARE(encryptFileFor(op, encryptor, *list({other}).front(), file, folder + "/out.enc"), ExportOutcome::Failed);
        QCOMPARE(op.texts(), QStringList{message.replace("%1", input)});
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"input.csv"});
    }

    // The export flow's loading: a store replaces the list; one that cannot be opened says so
    // and leaves the list as it was.
    void loadingCertificates()
    {
        useHome(home);
        RecordingOperator op;
        CertificateList certificates = list({dsa});
        QVERIFY(loadCertificates(op, certificates));
        QCOMPARE(certificateNames(certificates), (QStringList{"CN=\"Alpha, Inc\", O=Org", "CN=Mike", "CN=Zulu"}));

        const QString broken = pki.path("broken");
        QDir().mkpath(broken + "/.pki/nssdb");
        writeFileBytes(broken + "/.pki/nssdb/cert9.db", QByteArray(4096, 'x'));
        useHome(broken);
        QVERIFY(!loadCertificates(op, certificates));
        QCOMPARE(op.texts(), QStringList{"OpenCurrentUserStore(0 failed"});
        QCOMPARE(certificates.size(), std::size_t(3));  // the list stays as it was
    }
};

QTEST_GUILESS_MAIN(TestCertificate)
#include "tst_certificate.moc"
