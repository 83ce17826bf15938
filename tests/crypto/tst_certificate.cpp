#include <QtTest>

#include "crypto/certificate.h"
#include "pki.h"

using namespace velomark;

class TestCertificate : public QObject
{
    Q_OBJECT
    testpki::Pki pki;

    static std::unique_ptr<Certificate> load(const QString &pem)
    {
        std::unique_ptr<Certificate> certificate(new Certificate);
        if (!certificate->LoadFromFile(pem.toStdString()))
            return nullptr;
        return certificate;
    }

private slots:
    void subjectDN_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("rendered");
        QTest::newRow("CN O C as stored") << "/CN=Alice/O=Org/C=DE" << "CN=Alice, O=Org, C=DE";
        QTest::newRow("C O CN as stored") << "/C=DE/O=Org/CN=Alice" << "C=DE, O=Org, CN=Alice";
        QTest::newRow("comma quoted") << "/CN=Bob/O=Speed, Traffic Ltd" << "CN=Bob, O=\"Speed, Traffic Ltd\"";
        QTest::newRow("unknown OID") << "/CN=Carol/velomarkTestAttr=lane 3"
                                     << "CN=Carol, OID.1.3.6.1.4.1.99999.7=lane 3";
        QTest::newRow("table names") << "/emailAddress=a@b.example/L=Town/ST=Land/OU=Unit/street=Main 1"
                                        "/postalCode=12345/serialNumber=42/title=Chief/GN=Dana/SN=Eve/DC=example"
                                     << "E=a@b.example, L=Town, ST=Land, OU=Unit, STREET=Main 1, "
                                        "PostalCode=12345, SERIALNUMBER=42, Title=Chief, G=Dana, SN=Eve, DC=example";
        // Characters beyond Latin-1 make openssl store a BMPString under the widest mask.
        QTest::newRow("BMPString") << QString::fromUtf8("/CN=Ωmega Σ/O=Org") << QString::fromUtf8("CN=Ωmega Σ, O=Org");
        QTest::newRow("Latin-1 text") << QString::fromUtf8("/CN=Jürgen") << QString::fromUtf8("CN=Jürgen");
    }
    void subjectDN()
    {
        QFETCH(QString, subject);
        QFETCH(QString, rendered);
        const QString pem = pki.certificate(QString("subject%1").arg(qHash(subject)), "rsa:1024", subject);
        QVERIFY(!pem.isEmpty());
        auto certificate = load(pem);
        QVERIFY(certificate);
        QCOMPARE(QString::fromStdString(certificate->SubjectDN()), rendered);
        QVERIFY(certificate->LastMethodSuccess());
    }

    void bmpStringReallyStored()
    {
        const QString pem = pki.certificate("bmp", "rsa:1024", QString::fromUtf8("/CN=Ωmega"));
        const QByteArray parsed = testpki::run("openssl", {"asn1parse", "-in", pem}).out;
        QVERIFY2(parsed.contains("BMPSTRING"), parsed.constData());
    }

    void serialNumbers_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("hex");
        QTest::newRow("small") << "01" << "01";
        QTest::newRow("top bit set keeps its 00") << "80ABCDEF" << "0080ABCDEF";
        QTest::newRow("long") << "7F0102030405060708090A0B0C0D0E0F10111213"
                              << "7F0102030405060708090A0B0C0D0E0F10111213";
    }
    void serialNumbers()
    {
        QFETCH(QString, serial);
        QFETCH(QString, hex);
        auto certificate = load(pki.certificate("serial" + serial, "rsa:1024", "/CN=Serial", serial));
        QVERIFY(certificate);
        QCOMPARE(QString::fromStdString(certificate->SerialNumber()), hex);
    }

    // The issuer Name is copied as stored: it must appear byte for byte in the certificate.
    void issuerNameIsTheStoredStructure()
    {
        const QString pem = pki.certificate("issuer", "rsa:1024", "/C=DE/O=Issuer, Inc/CN=Root");
        auto certificate = load(pem);
        QVERIFY(certificate);
        const Bytes issuer = certificate->IssuerNameDer();
        const QByteArray der = testpki::certificateDer(pem);
        QVERIFY(!issuer.empty());
        QVERIFY(der.contains(QByteArray(reinterpret_cast<const char *>(issuer.data()), int(issuer.size()))));
        bool ok = false;
        QCOMPARE(renderDistinguishedName(issuer, &ok), std::string("C=DE, O=\"Issuer, Inc\", CN=Root"));
        QVERIFY(ok);
    }

    void publicKeyKinds_data()
    {
        QTest::addColumn<QString>("keyKind");
        QTest::addColumn<bool>("isRsa");
        QTest::addColumn<QString>("oid");
        QTest::newRow("RSA") << "rsa:1024" << true << "1.2.840.113549.1.1.1";
        QTest::newRow("DSA") << "dsa" << false << "1.2.840.10040.4.1";
        QTest::newRow("EC") << "ec" << false << "1.2.840.10045.2.1";
    }
    void publicKeyKinds()
    {
        QFETCH(QString, keyKind);
        QFETCH(bool, isRsa);
        QFETCH(QString, oid);
        auto certificate = load(pki.certificate("kind" + keyKind.left(3), keyKind, "/CN=Kind"));
        QVERIFY(certificate);
        PublicKeyInfo key;
        QVERIFY(certificate->shared()->publicKey(key, nullptr));
        QCOMPARE(key.isRsa, isRsa);
        QCOMPARE(QString::fromStdString(key.algorithmOid), oid);
        // An RSA key is the bare RSAPublicKey SEQUENCE; others the whole SubjectPublicKeyInfo.
        const QByteArray spki = testpki::run("openssl", {"pkey", "-in", pki.key(keyKind), "-pubout", "-outform", "DER"}).out;
        const QByteArray got(reinterpret_cast<const char *>(key.der.data()), int(key.der.size()));
        if (isRsa)
            QVERIFY(spki.endsWith(got) && got.size() < spki.size());
        else
            QCOMPARE(got.toHex(), spki.toHex());
    }

    void emptyObjectAndBadInput()
    {
        Certificate empty;
        QCOMPARE(empty.SubjectDN(), std::string());
        QVERIFY(!empty.LastMethodSuccess());
        QVERIFY(empty.LastLog().find("No certificate") != std::string::npos);
        QVERIFY(empty.LastLog().find("SubjectDN:") != std::string::npos);
        QVERIFY(empty.IssuerNameDer().empty());
        QVERIFY(!empty.shared());

        testpki::writeFile(pki.path("garbage.pem"), "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n");
        Certificate bad;
        QVERIFY(!bad.LoadFromFile(pki.path("garbage.pem").toStdString()));
        QVERIFY(!bad.HasCertificate());
        QVERIFY(!bad.LoadFromDer({0x30, 0x03, 0x02, 0x01, 0x00}));
        QVERIFY(!bad.LoadFromFile(pki.path("missing.pem").toStdString()));
        // DER files load as they stand.
        const QString pem = pki.certificate("der", "rsa:1024", "/CN=Der");
        testpki::writeFile(pki.path("der.der"), testpki::certificateDer(pem));
        QVERIFY(bad.LoadFromFile(pki.path("der.der").toStdString()));
        QCOMPARE(bad.SubjectDN(), std::string("CN=Der"));
    }
};

QTEST_GUILESS_MAIN(TestCertificate)
#include "tst_certificate.moc"
