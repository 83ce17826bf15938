#include <QtTest>

#include "crypto/certstore.h"
#include "crypto/encryptor.h"
#include "pki.h"

using namespace velomark;

// Certificates read from files and from the user's NSS database.
class TestCertificate : public QObject
{
    Q_OBJECT
    testpki::Pki pki;
    QString home;  // a home with $HOME/.pki/nssdb holding three certificates

    static void useHome(const QString &homeDir, const QString &dataHome = QString())
    {
        qputenv("HOME", homeDir.toUtf8());
        qputenv("XDG_DATA_HOME", dataHome.toUtf8());  // empty counts as unset
    }

private slots:
    void initTestCase()
    {
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
        // "FROM|TO": bytes of the certificate's DER replaced after openssl made it (the
        // signature is not checked), for text no openssl would write.
        QTest::addColumn<QByteArray>("damage");
        QTest::newRow("order as stored, serial with top bit") << "/C=DE/O=Org/CN=Alice" << "C=DE, O=Org, CN=Alice"
                                          << "80ABCDEF" << "0080ABCDEF" << QByteArray();
        QTest::newRow("comma quoted") << "/CN=Bob/O=Speed, Traffic Ltd" << "CN=Bob, O=\"Speed, Traffic Ltd\""
                                      << "7F0102030405060708090A0B0C0D0E0F10111213"
                                      << "7F0102030405060708090A0B0C0D0E0F10111213" << QByteArray();
        QTest::newRow("unknown OID") << "/CN=Carol/velomarkTestAttr=lane 3"
                                     << "CN=Carol, OID.1.3.6.1.4.1.99999.7=lane 3" << "02" << "02" << QByteArray();
        // Characters beyond Latin-1 make openssl store a BMPString under the widest mask.
        QTest::newRow("BMPString") << QString::fromUtf8("/CN=Ωmega Σ/O=Org") << QString::fromUtf8("CN=Ωmega Σ, O=Org")
                                   << "04" << "04" << QByteArray();
        QTest::newRow("Latin-1 text") << QString::fromUtf8("/CN=Jürgen") << QString::fromUtf8("CN=Jürgen") << "05" << "05" << QByteArray();
        // A byte that starts no well-formed UTF-8 sequence renders as the replacement character:
        // the rendered name stays UTF-8.
        QTest::newRow("IA5String byte beyond ASCII") << "/CN=Dana/emailAddress=a@b.example"
                                                     << QString::fromUtf8("CN=Dana, E=a@b.exam\uFFFDle") << "06" << "06"
                                                     << QByteArray("example|exam\xE0le");
        QTest::newRow("overlong sequence") << "/CN=Eve/emailAddress=a@b.example"
                                           << QString::fromUtf8("CN=Eve, E=a@b.ex\uFFFD\uFFFDple") << "07" << "07"
                                           << QByteArray("example|ex\xC0\xAFple");
        // Control characters are shown escaped: one line, no terminal control sequence.
        QTest::newRow("line break") << "/CN=Two Lines/O=Org" << "CN=Two\\x0ALines, O=Org" << "08" << "08"
                                    << QByteArray("Two Lines|Two\nLines");
        QTest::newRow("terminal control sequence") << "/CN=xxxxxRed" << "CN=\\x1B[31mRed" << "09" << "09"
                                                   << QByteArray("xxxxxRed|\x1B[31mRed");
        QTest::newRow("DEL and C1 control") << "/CN=abcXYZ" << "CN=abc\\x7F\\x9B" << "0A" << "0A"
                                            << QByteArray("XYZ|\x7F\xC2\x9B");
    }
    void subjectAndSerial()
    {
        QFETCH(QString, subject);
        QFETCH(QString, rendered);
        QFETCH(QString, serial);
        QFETCH(QByteArray, damage);
        const QString pem = pki.certificate(QString("subject%1").arg(qHash(subject)), "rsa:1024", subject, serial);
        if (QTest::currentDataTag() == QByteArray("BMPString"))
            QVERIFY(testpki::run("openssl", {"asn1parse", "-in", pem}).out.contains("BMPSTRING"));
        Certificate certificate;
        QVERIFY(certificate.LoadFromFile(pem.toStdString()));
        if (!damage.isEmpty()) {
            const QList<QByteArray> parts = damage.split('|');
            Bytes der = certificate.Der();
            QByteArray bytes(reinterpret_cast<const char *>(der.data()), int(der.size()));
            // The subject follows the issuer, which a self-signed certificate repeats.
            const int at = bytes.lastIndexOf(parts.at(0));
            QVERIFY2(at >= 0 && parts.at(1).size() == parts.at(0).size(), "the damaged bytes are in the DER");
            bytes.replace(at, parts.at(0).size(), parts.at(1));
            der.assign(bytes.begin(), bytes.end());
            QVERIFY(certificate.LoadFromDer(der));
        }
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
        writeFileBytes(pki.path("der.der"), testpki::run("openssl", {"x509", "-in", pki.certificate("der", "rsa:1024", "/CN=Der"),
                                                               "-outform", "DER"}).out);
        QVERIFY(bad.LoadFromFile(pki.path("der.der").toStdString()));
        QCOMPARE(bad.SubjectDN(), std::string("CN=Der"));
        // A file too large for memory is a failure with its reason, the loaded one stays.
        setAllocationLimitForTesting(100);
        const bool loaded = bad.LoadFromFile(pki.path("der.der").toStdString());
        setAllocationLimitForTesting(0);
        QVERIFY(!loaded && !bad.LastMethodSuccess());
        QCOMPARE(bad.LastError(), std::string("Out of memory"));
        QCOMPARE(bad.SubjectDN(), std::string("CN=Der"));
    }

    // The order is stable across runs, and a certificate outlives its store and its own
    // Certificate object while a recipient list holds it.
    void storeOrderAndLifetime()
    {
        useHome(home);
        Encryptor encryptor;
        encryptor.SetEncryptionAlgorithm("pki");
        for (int round = 0; round < 2; ++round) {
            CertificateStore store;
            QVERIFY(!store.GetCertificate(0));  // nothing open yet
            QVERIFY(store.OpenCurrentUserStore(true));
            QCOMPARE(QString::fromStdString(store.Location()), home + "/.pki/nssdb");
            QStringList subjects;
            for (int i = 0; i < store.CertificateCount(); ++i)
                subjects << QString::fromStdString(store.GetCertificate(i)->SubjectDN());
            QCOMPARE(subjects, (QStringList{"CN=\"Alpha, Inc\", O=Org", "CN=Mike", "CN=Zulu"}));
            QVERIFY(!store.GetCertificate(3));
            QVERIFY(!store.LastMethodSuccess());
            QVERIFY(!store.GetCertificate(-1));
            QVERIFY(encryptor.SetRecipientCert(*store.GetCertificate(round)));
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
        QTest::newRow("folder without database files") << "emptyfolder" << 0;
    }
    void storeLocations()
    {
        QFETCH(QString, layout);
        const QString base = pki.path(layout + " O'Brien's \"home\" \\ there");
        QDir().mkpath(base + "/home");
        useHome(base + "/home", layout == "xdg" ? base + "/data" : QString());
        const QString one = pki.certificate("loc", "rsa:1024", "/CN=Located");
        if (layout == "xdg")
            QVERIFY(pki.makeNssDb(base + "/data/pki/nssdb", {{"only", one}}));
        else if (layout == "default")
            QVERIFY(pki.makeNssDb(base + "/home/.local/share/pki/nssdb", {{"only", one}}));
        else if (layout != "none")
            QDir().mkpath(base + "/home/.pki/nssdb");
        CertificateStore store;
        QVERIFY(store.OpenCurrentUserStore(true) && store.LastMethodSuccess());
        QTEST(store.CertificateCount(), "count");
    }
};

QTEST_GUILESS_MAIN(TestCertificate)
#include "tst_certificate.moc"
