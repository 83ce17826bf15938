#include <QtTest>

#include "crypto/encryptor.h"
#include "crypto/envelopeddata.h"
#include "crypto/random.h"
#include "pki.h"

using namespace velomark;

// The message as openssl reads it: an independent check of the structure.
struct Parsed
{
    int encryptedContentLength = -1;
    int encryptedKeyLength = -1;  // the first OCTET STRING at depth 5; the IV comes later
    QStringList objects;
};

static Parsed asn1parse(const QString &derFile)
{
    const QString text = QString::fromLatin1(testpki::run("openssl", {"asn1parse", "-inform", "DER", "-in", derFile}).out);
    const auto length = [&text](const QString &pattern) {
        const auto match = QRegularExpression(pattern).match(text);
        return match.hasMatch() ? match.captured(1).toInt() : -1;
    };
    Parsed parsed{length("l= *(\\d+) prim: cont \\[ 0 \\]"), length("d=5 +hl=\\d+ l= *(\\d+) prim: OCTET STRING"), {}};
    for (auto it = QRegularExpression("OBJECT +:(\\S+)").globalMatch(text); it.hasNext();)
        parsed.objects << it.next().captured(1);
    return parsed;
}

static QByteArray toQt(const Bytes &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), static_cast<int>(bytes.size()));
}

// An RSAPublicKey, written out by hand, with a modulus of the given size (odd, top bit set)
// and exponent 65537.
static PublicKeyInfo rsaKeyOfModulusBytes(int bytes)
{
    const QByteArray modulus = "\xC3" + QByteArray(bytes - 2, '\x5B') + "\x01";
    const QByteArray der = "\x30" + QByteArray(1, char(bytes + 7)) + "\x02" + QByteArray(1, char(bytes)) + modulus
                           + QByteArray::fromHex("0203010001");
    PublicKeyInfo key;
    key.isRsa = true;
    key.der.assign(der.begin(), der.end());
    return key;
}

class TestEncryptor : public QObject
{
    Q_OBJECT
    testpki::Pki pki;
    QString rsa2048;
    int fileCount = 0;

    // Encrypts for one recipient into a new file; algorithm names match without case,
    // blanks or dashes.
    QString encrypt(const QString &certPem, const QByteArray &plain, int bits = 128, bool oaep = false,
                    Bytes *der = nullptr)
    {
        Certificate certificate;
        certificate.LoadFromFile(certPem.toStdString());
        Encryptor encryptor;
        encryptor.SetEncryptionAlgorithm(" P-K-I\n");
        encryptor.SetContentCipher("AES");
        encryptor.SetKeyLength(bits);
        encryptor.SetUseOaep(oaep);
        encryptor.SetRecipientCert(certificate);
        BinaryData data;
        data.AppendData(plain.constData(), static_cast<std::size_t>(plain.size()));
        const QString file = pki.path(QString("msg%1.der").arg(++fileCount));
        if (encryptor.EncryptBinaryData(data))
            testpki::writeFile(file, toQt(data.GetData()));
        if (der)
            *der = data.GetData();
        return file;
    }

private slots:
    void initTestCase()
    {
        rsa2048 = pki.certificate("rsa2048", "rsa:2048", "/CN=Recipient 2048/O=Velomark Test");
        QVERIFY(!rsa2048.isEmpty());
    }

    // ContentInfo, envelopedData OID, [0], EnvelopedData, version 0, RecipientInfos SET; and
    // two encryptions of the same data differ.
    void leadingBytes()
    {
        Bytes der, again;
        encrypt(rsa2048, QByteArray(100, 'x'), 128, false, &der);
        encrypt(rsa2048, QByteArray(100, 'x'), 128, false, &again);
        QVERIFY(der.size() > 256 && der.size() < 65536);
        QCOMPARE(again.size(), der.size());
        QVERIFY(again != der);
        const QByteArray head = toQt(der).left(30).toHex();
        QCOMPARE(head.left(8), "3082" + QByteArray::number(int(der.size()) - 4, 16).rightJustified(4, '0'));
        QCOMPARE(head.mid(8, 22), QByteArray("06092a864886f70d010703"));
        QCOMPARE(head.mid(30, 4), QByteArray("a082"));
        QCOMPARE(head.mid(38, 4), QByteArray("3082"));
        QCOMPARE(head.mid(46, 8), QByteArray("02010031"));
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
        QCOMPARE(wrapContentKey(rsaKeyOfModulusBytes(modulusBytes), Bytes(16, 0x11), EnvelopeSettings(), wrapped, log), ok);
        QCOMPARE(log.hasError("Key too long for the RSA modulus"), !ok);
        QCOMPARE(wrapped.size(), std::size_t(ok ? 27 : 0));
    }

    // Every padding byte of the key block must be non-zero, or no standard decoder finds the key.
    void interoperability_data()
    {
        QTest::addColumn<QString>("keyKind");
        QTest::addColumn<int>("bits");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("cipherSize");
        QTest::addColumn<int>("keySize");
        QTest::addColumn<QString>("cipher");
        const auto row = [](const char *name, const char *key, int bits, const QString &subject, const char *serial,
                            int size, int cipherSize, int keySize, const char *cipher) {
            QTest::newRow(name) << key << bits << subject << serial << size << cipherSize << keySize << cipher;
        };
        // The padding's boundaries, then the other key sizes with one typical length each.
        for (const auto &size : QList<QPair<int, int>>{{0, 16}, {15, 16}, {16, 32}})
            row(qPrintable(QString("%1 bytes").arg(size.first)), "rsa:2048", 128, "/CN=Interop", "01", size.first,
                size.second, 256, "aes-128-cbc");
        row("rsa:1024 17 bytes", "rsa:1024", 128, "/CN=Interop", "01", 17, 32, 128, "aes-128-cbc");
        row("rsa:4096 1 byte", "rsa:4096", 128, "/CN=Interop", "01", 1, 16, 512, "aes-128-cbc");
        row("10^6 bytes", "rsa:2048", 128, "/CN=Large", "02", 1000000, 1000016, 256, "aes-128-cbc");
        row("serial with top bit", "rsa:2048", 128, "/CN=Top Bit", "80FEDCBA98", 4, 16, 256, "aes-128-cbc");
        row("subject with comma", "rsa:2048", 128, "/O=Traffic, Speed and Co/CN=Comma", "03", 33, 48, 256, "aes-128-cbc");
        row("BMPString subject", "rsa:2048", 128, QString::fromUtf8("/CN=Ωmega Recipient"), "04", 33, 48, 256, "aes-128-cbc");
        row("key length 0", "rsa:2048", 0, "/CN=Bits", "05", 20, 32, 256, "aes-128-cbc");
        row("key length -5", "rsa:2048", -5, "/CN=Bits", "06", 20, 32, 256, "aes-128-cbc");
        row("key length 129", "rsa:2048", 129, "/CN=Bits", "07", 20, 32, 256, "aes-192-cbc");
        row("key length 192", "rsa:2048", 192, "/CN=Bits", "08", 20, 32, 256, "aes-192-cbc");
        row("key length 193", "rsa:2048", 193, "/CN=Bits", "09", 20, 32, 256, "aes-256-cbc");
    }
    void interoperability()
    {
        QFETCH(QString, keyKind);
        QFETCH(int, bits);
        QFETCH(QString, subject);
        QFETCH(QString, serial);
        QFETCH(int, size);
        QFETCH(int, cipherSize);
        QFETCH(int, keySize);
        QFETCH(QString, cipher);
        QByteArray plain(size, '\0');
        for (int i = 0; i < size; ++i)
            plain[i] = char((i * 7 + 13) % 256);  // line ends and zero bytes included
        const QString pem = pki.certificate(QString("interop%1").arg(fileCount), keyKind, subject, serial);
        Bytes der;
        const QString file = encrypt(pem, plain, bits, false, &der);
        const Parsed parsed = asn1parse(file);
        QCOMPARE(parsed.encryptedContentLength, cipherSize);
        QCOMPARE(parsed.encryptedKeyLength, keySize);
        QCOMPARE(parsed.objects.mid(parsed.objects.size() - 3), (QStringList{"rsaEncryption", "pkcs7-data", cipher}));
        if (serial == "80FEDCBA98")
            QVERIFY(toQt(der).contains(QByteArray::fromHex("02060080fedcba98")));

        const QString db = pki.path(QString("nss%1").arg(fileCount));
        QVERIFY(pki.makeNssDb(db, {{"recipient", pem}}, {pem}));
        for (const testpki::Run &opened : {pki.opensslDecrypt(file, pem), pki.nssDecrypt(file, db)}) {
            QVERIFY(opened.ok);
            QCOMPARE(opened.out, plain);
        }
    }

    void oaepOpensByOpenssl()
    {
        const QString file = encrypt(rsa2048, "oaep content", 128, true);
        const QStringList objects = asn1parse(file).objects;
        for (const char *oid : {"rsaesOaep", "mgf1", "sha256", "sha1"})
            QVERIFY2(objects.contains(oid), oid);
        QCOMPARE(pki.opensslDecrypt(file, rsa2048).out, QByteArray("oaep content"));
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
        const bool notRsa = failure == "dsa" || failure == "ec";
        QVERIFY(certificate.LoadFromFile(
            (notRsa ? pki.certificate("refused" + failure, failure, "/CN=Not RSA") : rsa2048).toStdString()));
        if (failure != "norecipient")
            QVERIFY(encryptor.SetRecipientCert(certificate));
        if (failure == "seed")
            setSeedSourceForTesting([](std::uint8_t *, std::size_t) { return false; });
        BinaryData data;
        data.AppendData("plain", 5);
        const bool ok = encryptor.EncryptBinaryData(data);
        setSeedSourceForTesting(nullptr);
        QVERIFY(!ok && !encryptor.LastMethodSuccess());
        QCOMPARE(toQt(data.GetData()), QByteArray("plain"));
        const std::string log = encryptor.LastLog();
        QVERIFY2(log.find(reason.toStdString()) != std::string::npos, log.c_str());
        QVERIFY2(log.find("EncryptBinaryData:") == 0 && log.find("Failed.") != std::string::npos, log.c_str());
    }
};

QTEST_GUILESS_MAIN(TestEncryptor)
#include "tst_encryptor.moc"
