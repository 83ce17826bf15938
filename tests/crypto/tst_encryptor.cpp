#include <QtTest>

#include <algorithm>
#include <cstring>
#include <numeric>

#include <sys/wait.h>
#include <unistd.h>

#include "crypto/derwriter.h"
#include "crypto/encryptor.h"
#include "crypto/envelopeddata.h"
#include "crypto/fortuna.h"
#include "crypto/random.h"
#include "pki.h"

using namespace velomark;

// The message as openssl reads it: an independent check of the structure.
struct Parsed
{
    int encryptedKeyLength;  // the first OCTET STRING at depth 5 (the IV comes later), 0 without one
    QStringList objects;
};

static Parsed asn1parse(const QString &derFile)
{
    const QString text = QString::fromLatin1(testpki::run("openssl", {"asn1parse", "-inform", "DER", "-in", derFile}).out);
    Parsed parsed{QRegularExpression("d=5 +hl=\\d+ l= *(\\d+) prim: OCTET STRING").match(text).captured(1).toInt(), {}};
    for (auto it = QRegularExpression("OBJECT +:(\\S+)").globalMatch(text); it.hasNext();)
        parsed.objects << it.next().captured(1);
    return parsed;
}

static QByteArray toQt(const Bytes &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), static_cast<int>(bytes.size()));
}

// Keystream of AES-256-CTR by the openssl tool: the independent reference.
static QByteArray opensslCtr(const QByteArray &key, const QByteArray &counterHex, int size)
{
    return testpki::run("openssl", {"enc", "-aes-256-ctr", "-K", key.toHex(), "-iv", counterHex, "-nosalt"},
                        QByteArray(size, '\0')).out;
}

// An RSAPublicKey, written out by hand: a modulus of `bits` bits (all ones at the top, odd)
// and the exponent given as big-endian bytes.
static PublicKeyInfo rsaKey(int bits, const QByteArray &exponent)
{
    Bytes modulus(std::size_t((bits + 7) / 8), 0x5B);
    modulus.front() = std::uint8_t(0xFF >> ((8 - bits % 8) % 8));
    modulus.back() = 0x01;
    DerWriter der;
    der.startSequence();
    der.addUnsigned(modulus);
    der.addUnsigned(Bytes(exponent.begin(), exponent.end()));
    der.end();
    PublicKeyInfo key;
    key.isRsa = true;
    der.finish(key.der);
    return key;
}

// Hands the content out in pieces of at most `piece` bytes, as a file or pipe may.
struct PieceReader
{
    QByteArray content;
    int piece;
    int pos = 0;
    std::int64_t operator()(std::uint8_t *buffer, std::size_t size)
    {
        const int n = std::min({int(size), piece, int(content.size()) - pos});
        std::memcpy(buffer, content.constData() + pos, std::size_t(n));
        pos += n;
        return n;
    }
};

// One recipient and one message for the interoperability table.
struct InteropRow
{
    const char *name, *keyKind;
    int bits;
    QString serial;
    bool issuedByCa;
    int size;
    QString cipher;
};
Q_DECLARE_METATYPE(InteropRow)

class TestEncryptor : public QObject
{
    Q_OBJECT
    testpki::Pki pki;
    QString rsa2048;
    int fileCount = 0;

    // Algorithm names match without case, blanks or dashes.
    static void configure(Encryptor &encryptor, const QString &certPem, int bits, bool oaep)
    {
        Certificate certificate;
        certificate.LoadFromFile(certPem.toStdString());
        encryptor.SetEncryptionAlgorithm(" P-K-I\n");
        encryptor.SetContentCipher("AES");
        encryptor.SetKeyLength(bits);
        encryptor.SetUseOaep(oaep);
        encryptor.SetRecipientCert(certificate);
    }

    // Encrypts for one recipient into a new file: in memory, or streamed from pieces of odd sizes.
    QString encrypt(const QString &certPem, const QByteArray &plain, int bits = 128, bool oaep = false,
                    bool streamed = false)
    {
        Encryptor encryptor;
        configure(encryptor, certPem, bits, oaep);
        BinaryData data;
        data.AppendData(plain.constData(), static_cast<std::size_t>(plain.size()));
        Bytes der;
        const bool ok = streamed ? encryptor.EncryptStream(std::uint64_t(plain.size()), PieceReader{plain, 70001},
                                                           [&der](const std::uint8_t *bytes, std::size_t size) {
                                                               der.insert(der.end(), bytes, bytes + size);
                                                               return true;
                                                           })
                                 : encryptor.EncryptBinaryData(data);
        const QString file = pki.path(QString("msg%1.der").arg(++fileCount));
        if (ok)
            writeFileBytes(file, toQt(streamed ? der : data.GetData()));
        return file;
    }

private slots:
    void initTestCase()
    {
        rsa2048 = pki.certificate("rsa2048", "rsa:2048", "/CN=Recipient 2048/O=Velomark Test");
        QVERIFY(!rsa2048.isEmpty());
    }

    // In memory: openssl opens the message, two encryptions of the same data differ; OAEP names
    // its parameters and opens. (The structure, read by openssl: interoperability.)
    void inMemoryMessages()
    {
        const QString file = encrypt(rsa2048, QByteArray(100, 'x'));
        QVERIFY(fileBytes(encrypt(rsa2048, QByteArray(100, 'x'))) != fileBytes(file));  // a fresh key and IV each time
        QCOMPARE(pki.opensslDecrypt(file, rsa2048).out, QByteArray(100, 'x'));

        const QString oaepFile = encrypt(rsa2048, "oaep content", 128, true);
        QCOMPARE(asn1parse(oaepFile).objects, (QStringList{"pkcs7-envelopedData", "commonName", "organizationName", "rsaesOaep",
                                                           "sha256", "mgf1", "sha1", "pkcs7-data", "aes-128-cbc"}));
        QCOMPARE(pki.opensslDecrypt(oaepFile, rsa2048).out, QByteArray("oaep content"));
    }

    // A content key wrapped under a weak key is as good as plain: such keys are refused.
    void recipientKeyChecks_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<QByteArray>("exponent");
        QTest::addColumn<QString>("reason");  // empty: accepted
        QTest::newRow("1023 bits") << 1023 << QByteArray::fromHex("010001") << "The RSA modulus is shorter than 1024 bits";
        QTest::newRow("1024 bits") << 1024 << QByteArray::fromHex("010001") << "";
        QTest::newRow("exponent 1") << 2048 << QByteArray::fromHex("01") << "The RSA public exponent is 1";
        QTest::newRow("exponent 65536") << 2048 << QByteArray::fromHex("010000") << "The RSA public exponent is even";
        QTest::newRow("exponent 3") << 2048 << QByteArray::fromHex("03") << "";
    }
    void recipientKeyChecks()
    {
        QFETCH(int, bits);
        QFETCH(QByteArray, exponent);
        QFETCH(QString, reason);
        CallLog log;
        log.begin("test", false);
        Bytes wrapped;
        QCOMPARE(wrapContentKey(rsaKey(bits, exponent), Bytes(16, 0x11), EnvelopeSettings(), wrapped, log),
                 reason.isEmpty());
        QCOMPARE(QString::fromStdString(log.lastError()), reason);
        QCOMPARE(wrapped.size(), std::size_t(reason.isEmpty() ? (bits + 7) / 8 : 0));
    }

    // The head of a message for any content size, as the lengths are written before the
    // content: every structure around the content ends exactly where the content does, and
    // every length is in its shortest form. The content crosses each boundary of the length
    // octets, and from 0x10000 up every level around it does too (what each level holds
    // before the content is far shorter than the 1024 sizes looked at below the boundary),
    // without a byte of content made.
    void messageHeadAtLengthBoundaries_data()
    {
        QTest::addColumn<quint64>("boundary");
        for (const quint64 boundary : {0x80ull, 0x100ull, 0x10000ull, 0x1000000ull, 0x100000000ull})
            QTest::newRow(qPrintable(QString("0x%1").arg(boundary, 0, 16))) << boundary;
    }
    void messageHeadAtLengthBoundaries()
    {
        QFETCH(quint64, boundary);
        Certificate certificate;
        QVERIFY(certificate.LoadFromFile(rsa2048.toStdString()));
        EnvelopeKeys keys;
        CallLog log;
        log.begin("test", false);
        QVERIFY(keys.make(EnvelopeSettings(), {certificate.shared()}, log));
        const QByteArray tags = QByteArray::fromHex("30a0303080");
        for (quint64 plain = boundary > 1024 ? boundary - 1024 : 0; plain <= boundary + 32; ++plain) {
            Bytes head;
            QVERIFY(keys.messageHead(plain, head, log));
            const quint64 total = head.size() + (plain / 16 + 1) * 16;  // the content, padded
            // Down the chain of last children: each one has to end where the message ends.
            std::size_t pos = 0;
            for (int level = 0; level < tags.size(); ++level) {
                QVERIFY(pos + 2 <= head.size());
                quint64 length = head[pos + 1];
                std::size_t octets = 1;
                if (length & 0x80) {
                    octets += length & 0x7F;
                    QVERIFY2(head[pos + 2] != 0, "a leading zero length octet");
                    length = 0;
                    for (std::size_t i = 2; i <= octets; ++i)
                        length = length << 8 | head[pos + i];
                    QVERIFY2(length >= 0x80, "long form for a short length");
                }
                const quint64 end = pos + 1 + octets + length;
                if (quint8(head[pos]) != quint8(tags[level]) || end != total)
                    QFAIL(qPrintable(QString("plain %1, level %2: tag %3, ends at %4 of %5")
                                         .arg(plain).arg(level).arg(head[pos], 0, 16).arg(end).arg(total)));
                pos += 1 + octets;
                // Children before the last one are complete within the head.
                while (level + 1 < tags.size()) {
                    const std::size_t size = DerWriter::encodedValueSize(head.data() + pos, head.size() - pos);
                    if (size == 0)
                        break;
                    pos += size;
                }
            }
            QCOMPARE(pos, head.size());
        }
        // The largest content a message is made for, and one byte more.
        Bytes head;
        QVERIFY(keys.messageHead(kMaxContentSize, head, log));
        QVERIFY(!keys.messageHead(kMaxContentSize + 1, head, log));
    }

    // Every padding byte of the key block must be non-zero, or no standard decoder finds the
    // key. The messages are streamed in pieces of odd sizes; recipients issued by a CA are
    // found by the issuer's name, not their own. Both decoders find the recipient by the serial
    // as the certificate holds it: sign byte, length and all.
    void interoperability_data()
    {
        const InteropRow rows[] = {
            // The padding's boundaries, then an odd and the largest key size (the smallest is
            // recipientKeyChecks').
            {"0 bytes", "rsa:2048", 128, "01", false, 0, "aes-128-cbc"},
            {"16 bytes", "rsa:2048", 128, "01", false, 16, "aes-128-cbc"},
            {"rsa:1025 by a CA", "rsa:1025", 128, "0A", true, 17, "aes-128-cbc"},
            {"rsa:4096 1 byte", "rsa:4096", 128, "01", false, 1, "aes-128-cbc"},
            // Past one streaming piece, ending inside a cipher block.
            {"1.5 MB by a CA", "rsa:2048", 128, "02", true, 1500007, "aes-128-cbc"},
            // The serial's content is copied as it stands; a negative one has no unsigned form.
            {"negative serial by a CA", "rsa:2048", 128, "-05", true, 4, "aes-128-cbc"},
            // The content cipher's classes, at their boundaries.
            {"key length 129", "rsa:2048", 129, "07", false, 20, "aes-192-cbc"},
            {"key length 192", "rsa:2048", 192, "08", false, 20, "aes-192-cbc"},
            {"key length 193", "rsa:2048", 193, "09", false, 20, "aes-256-cbc"},
        };
        QTest::addColumn<InteropRow>("row");
        for (const InteropRow &row : rows)
            QTest::newRow(row.name) << row;
    }
    void interoperability()
    {
        QFETCH(InteropRow, row);
        QByteArray plain(row.size, '\0');
        for (int i = 0; i < row.size; ++i)
            plain[i] = char((i * 7 + 13) % 256);  // line ends and zero bytes included
        const QString pem = pki.certificate(row.name, row.keyKind, "/CN=Interop", row.serial, row.issuedByCa);
        QVERIFY(!pem.isEmpty());
        const QString file = encrypt(pem, plain, row.bits, false, true);
        const Parsed parsed = asn1parse(file);
        QCOMPARE(parsed.encryptedKeyLength, (QString(row.keyKind).mid(4).toInt() + 7) / 8);  // the modulus' size
        QCOMPARE(parsed.objects.mid(parsed.objects.size() - 3),
                 (QStringList{"rsaEncryption", "pkcs7-data", row.cipher}));

        const QString db = pki.path(QString("nss%1").arg(fileCount));
        QVERIFY(pki.makeNssDb(db, {{"recipient", pem}}, {pem}));
        for (const CliRun &run : {pki.opensslDecrypt(file, pem), pki.nssDecrypt(file, db)}) {
            QVERIFY(run.ok());
            QCOMPARE(run.out, plain);
        }
    }

    // A message that cannot be written fails, at its head or in its content. (Content that is
    // not what its size says is refused here too; the export flow's failedExportLeavesNoFile
    // shows it for each way, with its message.)
    void writeFailures_data()
    {
        QTest::addColumn<int>("failingWrite");
        QTest::newRow("head not written") << 0;
        QTest::newRow("content not written") << 1;
    }
    void writeFailures()
    {
        QFETCH(int, failingWrite);
        Encryptor encryptor;
        configure(encryptor, rsa2048, 128, false);
        int writes = 0;
        const bool ok = encryptor.EncryptStream(100000, PieceReader{QByteArray(100000, 'c'), 70001},
                                                [&](const std::uint8_t *, std::size_t) { return writes++ != failingWrite; });
        QVERIFY(!ok && !encryptor.LastMethodSuccess());
        QCOMPARE(encryptor.LastError(), std::string("Writing the message failed"));
    }

    void failuresLeaveDataUnchanged_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no recipient") << "norecipient" << "No recipient certificate was given.";
        QTest::newRow("no seed from the system") << "seed" << "Failed to generate random bytes.";
        QTest::newRow("symmetric algorithm") << "aes" << "Encryption algorithm not supported.";
        QTest::newRow("content cipher 3DES") << "3des" << "Content cipher not supported for enveloped data.";
        QTest::newRow("allocation refused") << "allocation" << "Out of memory";
    }
    void failuresLeaveDataUnchanged()
    {
        QFETCH(QString, failure);
        QFETCH(QString, reason);
        Encryptor encryptor;
        configure(encryptor, rsa2048, 128, false);
        encryptor.SetEncryptionAlgorithm(failure == "aes" ? "aes" : "pki");
        encryptor.SetContentCipher(failure == "3des" ? "3des" : "aes");
        if (failure == "norecipient")
            encryptor.ClearRecipientCerts();
        if (failure == "seed")
            setSeedSourceForTesting([](std::uint8_t *, std::size_t) { return false; });
        BinaryData data;
        data.AppendData("plain", 5);
        if (failure == "allocation") {
            setAllocationLimitForTesting(100);
            data.AppendData(QByteArray(200, 'x').constData(), 200);  // refused: the data stays
            QVERIFY(!data.LastMethodSuccess());
        }
        const bool ok = encryptor.EncryptBinaryData(data);
        setSeedSourceForTesting(nullptr);
        setAllocationLimitForTesting(0);
        QVERIFY(!ok && !encryptor.LastMethodSuccess());
        QCOMPARE(toQt(data.GetData()), QByteArray("plain"));
        const std::string log = encryptor.LastLog();
        QVERIFY2(log.find(reason.toStdString()) != std::string::npos, log.c_str());
        QVERIFY2(log.find("EncryptBinaryData:") == 0 && log.find("Failed.") != std::string::npos, log.c_str());
    }

    // The DER writer's refusals, so that no message is made around a broken value. What it
    // writes is read back by openssl in every message above; pre-encoded values come from
    // certificates, so they are checked.
    void derRefusals_data()
    {
        QTest::addColumn<QString>("input");  // a dotted OID, or hex for a pre-encoded value
        // What the message gets for a hash it has no name for.
        QTest::newRow("no OID") << "";
        QTest::newRow("truncated pre-encoded") << "040501";
        QTest::newRow("two values as one pre-encoded") << "05000500";
        QTest::newRow("indefinite length pre-encoded") << "30800000";
    }
    void derRefusals()
    {
        QFETCH(QString, input);
        const QByteArray raw = QByteArray::fromHex(input.toLatin1());
        DerWriter der;
        if (raw.isEmpty())
            der.addOid(input.toStdString());
        else
            der.addEncoded(Bytes(raw.begin(), raw.end()));
        Bytes out;
        QVERIFY(!der.finish(out));
        QVERIFY(out.empty() && !der.error().empty());
    }

    // Seeding hashes key and seed twice; each request is counter-mode output, and the next
    // key is the two blocks that follow it. A request above one megabyte is rekeyed within,
    // so it does not repeat itself.
    void generatorMatchesCounterModeAndRekeys()
    {
        Bytes seed(32), first(20), second(16);
        std::iota(seed.begin(), seed.end(), 0);
        FortunaGenerator generator;
        QVERIFY(!generator.generate(second.data(), second.size()));  // unseeded
        QVERIFY(generator.reseed(seed.data(), seed.size()));
        QVERIFY(generator.generate(first.data(), first.size()));
        QVERIFY(generator.generate(second.data(), second.size()));

        const QByteArray hashed = QCryptographicHash::hash(QByteArray(32, '\0') + toQt(seed), QCryptographicHash::Sha256);
        const QByteArray stream1 = opensslCtr(QCryptographicHash::hash(hashed, QCryptographicHash::Sha256),
                                              "00000000000000000000000000000001", 64);
        QCOMPARE(toQt(first).toHex(), stream1.left(20).toHex());
        QCOMPARE(toQt(second).toHex(), opensslCtr(stream1.mid(32, 32), "00000000000000000000000000000005", 16).toHex());

        std::vector<std::uint8_t> large((1 << 20) * 2 + 5);
        QVERIFY(generator.generate(large.data(), large.size()));
        QVERIFY(std::memcmp(large.data(), large.data() + (1 << 20), 64) != 0);
    }

    // A forked child must not replay the parent's stream (the benchmark forks, so could a
    // host program).
    void forkedChildDrawsOtherBytes()
    {
        std::uint8_t parent[32];
        QVERIFY(randomBytes(parent, 16));
        int fds[2];
        QCOMPARE(pipe(fds), 0);
        const pid_t child = fork();
        if (child == 0) {
            std::uint8_t drawn[32] = {0};
            randomBytes(drawn, sizeof drawn);
            _exit(write(fds[1], drawn, sizeof drawn) == sizeof drawn ? 0 : 1);
        }
        QVERIFY(child > 0);
        close(fds[1]);
        std::uint8_t fromChild[32];
        QCOMPARE(read(fds[0], fromChild, sizeof fromChild), ssize_t(sizeof fromChild));
        close(fds[0]);
        waitpid(child, nullptr, 0);
        QVERIFY(randomBytes(parent, sizeof parent));
        QVERIFY(std::memcmp(parent, fromChild, sizeof parent) != 0);
    }
};

QTEST_GUILESS_MAIN(TestEncryptor)
#include "tst_encryptor.moc"
