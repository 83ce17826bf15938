#include <QtTest>

#include "crypto/encryptor.h"
#include "crypto/envelopeddata.h"
#include "crypto/random.h"
#include "pki.h"

using namespace velomark;

namespace {

struct Parsed
{
    QByteArray text;  // openssl asn1parse output
    int encryptedContentLength = -1;
    int encryptedKeyLength = -1;
    QStringList objects;
};

// The message as openssl reads it: an independent check of the structure.
Parsed asn1parse(const QString &derFile)
{
    Parsed parsed;
    parsed.text = testpki::run("openssl", {"asn1parse", "-inform", "DER", "-in", derFile}).out;
    const QRegularExpression line(QStringLiteral("d=(\\d+)\\s+hl=\\d+\\s+l=\\s*(\\d+)\\s+(prim|cons): ([^\\n:]+?)\\s*(?::(\\S*))?$"),
                                  QRegularExpression::MultilineOption);
    auto it = line.globalMatch(QString::fromLatin1(parsed.text));
    while (it.hasNext()) {
        const auto m = it.next();
        const int depth = m.captured(1).toInt();
        const QString kind = m.captured(4);
        if (kind == QLatin1String("cont [ 0 ]") && m.captured(3) == QLatin1String("prim"))
            parsed.encryptedContentLength = m.captured(2).toInt();
        // The first OCTET STRING at that depth is the encryptedKey; the IV comes later.
        if (kind.startsWith(QLatin1String("OCTET STRING")) && depth == 5 && parsed.encryptedKeyLength < 0)
            parsed.encryptedKeyLength = m.captured(2).toInt();
        if (kind == QLatin1String("OBJECT"))
            parsed.objects << m.captured(5);
    }
    return parsed;
}

QByteArray toQt(const Bytes &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), static_cast<int>(bytes.size()));
}

bool failingSource(std::uint8_t *, std::size_t)
{
    return false;
}

// An RSAPublicKey with a modulus of the given size (odd, top bit set) and exponent 65537.
PublicKeyInfo rsaKeyOfModulusBytes(int bytes)
{
    DerWriter der;
    der.startSequence();
    Bytes modulus(static_cast<std::size_t>(bytes), 0x5B);
    modulus.front() = 0xC3;
    modulus.back() = 0x01;
    der.addUnsigned(modulus);
    der.addSmallUnsigned(65537);
    der.end();
    PublicKeyInfo key;
    key.isRsa = true;
    der.finish(key.der);
    return key;
}

}  // namespace

class TestEncryptor : public QObject
{
    Q_OBJECT
    testpki::Pki pki;
    QString rsa2048;
    QString nssDb;
    int fileCount = 0;

    Bytes encrypt(const QString &certPem, const QByteArray &plain, Encryptor *configured = nullptr, bool *ok = nullptr)
    {
        Certificate certificate;
        if (!certificate.LoadFromFile(certPem.toStdString()))
            return {};
        Encryptor local;
        Encryptor &encryptor = configured ? *configured : local;
        if (!configured) {
            encryptor.SetEncryptionAlgorithm("pki");
            encryptor.SetContentCipher("aes");
            encryptor.SetKeyLength(128);
        }
        encryptor.SetRecipientCert(certificate);
        BinaryData data;
        data.AppendData(plain.constData(), static_cast<std::size_t>(plain.size()));
        const bool done = encryptor.EncryptBinaryData(data);
        if (ok)
            *ok = done;
        return done ? data.GetData() : Bytes();
    }

    QString writeMessage(const Bytes &der)
    {
        const QString file = pki.path(QString("msg%1.der").arg(++fileCount));
        testpki::writeFile(file, toQt(der));
        return file;
    }

private slots:
    void initTestCase()
    {
        rsa2048 = pki.certificate("rsa2048", "rsa:2048", "/CN=Recipient 2048/O=Velomark Test");
        QVERIFY(!rsa2048.isEmpty());
    }

    void keyLengthChoosesAes_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<QString>("cipher");
        QTest::newRow("128") << 128 << "aes-128-cbc";
        QTest::newRow("0") << 0 << "aes-128-cbc";
        QTest::newRow("-5") << -5 << "aes-128-cbc";
        QTest::newRow("129") << 129 << "aes-192-cbc";
        QTest::newRow("192") << 192 << "aes-192-cbc";
        QTest::newRow("193") << 193 << "aes-256-cbc";
        QTest::newRow("256") << 256 << "aes-256-cbc";
    }
    void keyLengthChoosesAes()
    {
        QFETCH(int, bits);
        QFETCH(QString, cipher);
        Encryptor encryptor;
        encryptor.SetEncryptionAlgorithm(" P-K-I\n");
        encryptor.SetContentCipher("AES");
        encryptor.SetKeyLength(bits);
        const QByteArray plain("speed,range\n57,1234\n");
        const QString file = writeMessage(encrypt(rsa2048, plain, &encryptor));
        QVERIFY(asn1parse(file).objects.contains(cipher));
        const testpki::Run opened = pki.opensslDecrypt(file, rsa2048, pki.keyOf(rsa2048));
        QVERIFY2(opened.ok, opened.err.constData());
        QCOMPARE(opened.out, plain);
    }

    void ciphertextSizeAndKeySize_data()
    {
        QTest::addColumn<int>("plainSize");
        QTest::addColumn<int>("cipherSize");
        QTest::newRow("0") << 0 << 16;
        QTest::newRow("15") << 15 << 16;
        QTest::newRow("16") << 16 << 32;
        QTest::newRow("17") << 17 << 32;
    }
    void ciphertextSizeAndKeySize()
    {
        QFETCH(int, plainSize);
        QFETCH(int, cipherSize);
        const Parsed parsed = asn1parse(writeMessage(encrypt(rsa2048, QByteArray(plainSize, 'v'))));
        QCOMPARE(parsed.encryptedContentLength, cipherSize);
        QCOMPARE(parsed.encryptedKeyLength, 256);
        QCOMPARE(parsed.objects, (QStringList{"pkcs7-envelopedData", "commonName", "organizationName", "rsaEncryption",
                                              "pkcs7-data", "aes-128-cbc"}));
    }

    // ContentInfo, envelopedData OID, [0], EnvelopedData, version 0, RecipientInfos SET.
    void leadingBytes()
    {
        const Bytes der = encrypt(rsa2048, QByteArray(100, 'x'));
        QVERIFY(der.size() > 256 && der.size() < 65536);
        const QByteArray head = toQt(der).left(30).toHex();
        const int rest = int(der.size()) - 4;
        QCOMPARE(head.left(8), "3082" + QByteArray::number(rest, 16).rightJustified(4, '0'));
        QCOMPARE(head.mid(8, 22), QByteArray("06092a864886f70d010703"));
        QCOMPARE(head.mid(30, 4), QByteArray("a082"));
        QCOMPARE(head.mid(38, 4), QByteArray("3082"));
        QCOMPARE(head.mid(46, 8), QByteArray("02010031"));
    }

    void serialWithTopBitKeepsLeadingZero()
    {
        const QString pem = pki.certificate("topbit", "rsa:2048", "/CN=Top Bit", "80FEDCBA98");
        const Bytes der = encrypt(pem, "data");
        QVERIFY(toQt(der).contains(QByteArray::fromHex("02060080fedcba98")));
        const testpki::Run opened = pki.opensslDecrypt(writeMessage(der), pem, pki.keyOf(pem));
        QVERIFY2(opened.ok, opened.err.constData());
        QCOMPARE(opened.out, QByteArray("data"));
    }

    void wrapNeedsRoomInTheModulus_data()
    {
        QTest::addColumn<int>("modulusBytes");
        QTest::addColumn<bool>("ok");
        QTest::newRow("26 bytes refused") << 26 << false;
        QTest::newRow("27 bytes fits") << 27 << true;
    }
    void wrapNeedsRoomInTheModulus()
    {
        QFETCH(int, modulusBytes);
        QFETCH(bool, ok);
        CallLog log;
        log.begin("test", false);
        Bytes wrapped;
        const Bytes key(16, 0x11);
        QCOMPARE(wrapContentKey(rsaKeyOfModulusBytes(modulusBytes), key, EnvelopeSettings(), wrapped, log), ok);
        QCOMPARE(log.hasError("Key too long for the RSA modulus"), !ok);
        if (ok)
            QCOMPARE(wrapped.size(), std::size_t(27));
    }

    // Every padding byte of the block must be non-zero, or no standard decoder finds the key.
    void interoperability_data()
    {
        QTest::addColumn<QString>("keyKind");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<int>("size");
        for (const QString kind : {"rsa:1024", "rsa:2048", "rsa:4096"}) {
            for (int size : {0, 1, 15, 16, 17})
                QTest::addRow("%s %d bytes", qPrintable(kind), size) << kind << "/CN=Interop " + kind << size;
        }
        QTest::newRow("10^6 bytes") << "rsa:2048" << "/CN=Large" << 1000000;
        QTest::newRow("subject with comma") << "rsa:2048" << "/O=Traffic, Speed and Co/CN=Comma" << 33;
        QTest::newRow("BMPString subject") << "rsa:2048" << QString::fromUtf8("/CN=Ωmega Recipient") << 33;
    }
    void interoperability()
    {
        QFETCH(QString, keyKind);
        QFETCH(QString, subject);
        QFETCH(int, size);
        QByteArray plain(size, '\0');
        for (int i = 0; i < size; ++i)
            plain[i] = char((i * 7 + 13) % 256);  // line ends and zero bytes included
        const QString pem = pki.certificate(QString("interop%1").arg(qHash(subject + keyKind)), keyKind, subject,
                                            QString::number(size + 1, 16).rightJustified(2, '0'));
        const QString file = writeMessage(encrypt(pem, plain));

        const testpki::Run byOpenssl = pki.opensslDecrypt(file, pem, pki.keyOf(pem));
        QVERIFY2(byOpenssl.ok, byOpenssl.err.constData());
        QCOMPARE(byOpenssl.out, plain);

        const QString db = pki.path(QString("nss%1").arg(fileCount));
        QVERIFY(pki.makeNssDb(db, {{"recipient", pem}}, {pem}));
        const testpki::Run byNss = pki.nssDecrypt(file, db);
        QVERIFY2(byNss.ok, byNss.err.constData());
        QCOMPARE(byNss.out, plain);
    }

    void oaepOpensByOpenssl()
    {
        Encryptor encryptor;
        encryptor.SetEncryptionAlgorithm("pki");
        encryptor.SetKeyLength(128);
        encryptor.SetUseOaep(true);
        const QString file = writeMessage(encrypt(rsa2048, "oaep content", &encryptor));
        const Parsed parsed = asn1parse(file);
        QVERIFY(parsed.objects.contains("rsaesOaep"));
        QVERIFY(parsed.objects.contains("mgf1"));
        QVERIFY(parsed.objects.contains("sha256"));
        QVERIFY(parsed.objects.contains("sha1"));
        const testpki::Run opened = pki.opensslDecrypt(file, rsa2048, pki.keyOf(rsa2048));
        QVERIFY2(opened.ok, opened.err.constData());
        QCOMPARE(opened.out, QByteArray("oaep content"));
    }

    void twoEncryptionsDiffer()
    {
        const Bytes first = encrypt(rsa2048, "same data");
        const Bytes second = encrypt(rsa2048, "same data");
        QVERIFY(!first.empty());
        QCOMPARE(first.size(), second.size());
        QVERIFY(first != second);
    }

    void failuresLeaveDataUnchanged_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no recipient") << "norecipient" << "No recipient certificate was given.";
        QTest::newRow("DSA key") << "dsa" << "Public key is not an RSA key";
        QTest::newRow("EC key") << "ec" << "Public key is not an RSA key";
        QTest::newRow("no seed from the system") << "seed" << "Failed to generate random bytes.";
        QTest::newRow("symmetric algorithm") << "aes" << "Encryption algorithm not supported.";
        QTest::newRow("content cipher 3DES") << "3des" << "Content cipher not supported for enveloped data.";
    }
    void failuresLeaveDataUnchanged()
    {
        QFETCH(QString, failure);
        QFETCH(QString, reason);
        Encryptor encryptor;
        encryptor.SetEncryptionAlgorithm(failure == "aes" ? "aes" : "pki");
        encryptor.SetContentCipher(failure == "3des" ? "3des" : "aes");
        Certificate certificate;
        const QString pem = failure == "dsa" || failure == "ec"
                                ? pki.certificate("refused" + failure, failure, "/CN=Not RSA")
                                : rsa2048;
        QVERIFY(certificate.LoadFromFile(pem.toStdString()));
        if (failure != "norecipient")
            QVERIFY(encryptor.SetRecipientCert(certificate));
        if (failure == "seed")
            setSeedSourceForTesting(&failingSource);
        BinaryData data;
        data.AppendData("plain", 5);
        const bool ok = encryptor.EncryptBinaryData(data);
        setSeedSourceForTesting(nullptr);
        QVERIFY(!ok);
        QVERIFY(!encryptor.LastMethodSuccess());
        QCOMPARE(toQt(data.GetData()), QByteArray("plain"));
        const std::string log = encryptor.LastLog();
        QVERIFY2(log.find(reason.toStdString()) != std::string::npos, log.c_str());
        QVERIFY2(log.find("EncryptBinaryData:") == 0, log.c_str());
        QVERIFY(log.find("Failed.") != std::string::npos);
    }

    void recipientListRules()
    {
        Encryptor encryptor;
        Certificate empty;
        QVERIFY(!encryptor.SetRecipientCert(empty));
        QVERIFY(encryptor.LastMethodSuccess());  // an empty argument changes nothing
        Certificate one;
        QVERIFY(one.LoadFromFile(rsa2048.toStdString()));
        QVERIFY(encryptor.SetRecipientCert(one));
        QVERIFY(encryptor.SetRecipientCert(one));
        QCOMPARE(encryptor.RecipientCount(), 1);
        encryptor.ClearRecipientCerts();
        QCOMPARE(encryptor.RecipientCount(), 0);
        QVERIFY(encryptor.LastMethodSuccess());
    }

    void algorithmNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("code");
        QTest::newRow("pki") << " PKI\t" << 1;
        QTest::newRow("aes") << "AES" << 2;
        QTest::newRow("rijndael") << "Rijndael" << 2;
        QTest::newRow("3des") << "3-DES" << 7;
        QTest::newRow("tripledes") << "TripleDES" << 7;
        QTest::newRow("rc2") << "rc2" << 8;
        QTest::newRow("arcfour") << "ARCFOUR128" << 9;
        QTest::newRow("none") << "none" << 5;
        QTest::newRow("unknown") << "blowfish" << 2;
    }
    void algorithmNames()
    {
        QFETCH(QString, name);
        QFETCH(int, code);
        QCOMPARE(Encryptor::algorithmCode(name.toStdString()), code);
    }
};

QTEST_GUILESS_MAIN(TestEncryptor)
#include "tst_encryptor.moc"
