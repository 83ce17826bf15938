#include <QtTest>

#include <cstring>

#include <sys/wait.h>
#include <unistd.h>

#include "crypto/derwriter.h"
#include "crypto/fortuna.h"
#include "crypto/random.h"
#include "pki.h"

using namespace velomark;

static QByteArray hex(const std::uint8_t *data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), static_cast<int>(size)).toHex();
}


static QByteArray sha256(const QByteArray &data)
{
    return testpki::run("openssl", {"dgst", "-sha256", "-binary"}, data).out;
}

// Keystream of AES-256-CTR by the openssl tool: the independent reference.
static QByteArray opensslCtr(const QByteArray &key, const QByteArray &counterHex, int size)
{
    return testpki::run("openssl", {"enc", "-aes-256-ctr", "-K", key.toHex(), "-iv", counterHex, "-nosalt"},
                        QByteArray(size, '\0')).out;
}

// The DER writer and the random generator under the messages; DER encodings are written out
// by hand from X.690.
class TestPrimitives : public QObject
{
    Q_OBJECT
private slots:
    // An empty expectation: the writer refuses the value. Pre-encoded values come from
    // certificates, so they are checked. Lengths are checked at every boundary of their octets
    // by the message head test of the encryptor.
    void derValues_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QByteArray>("encoded");
        QTest::newRow("envelopedData") << "oid" << "1.2.840.113549.1.7.3" << QByteArray("06092a864886f70d010703");
        QTest::newRow("first arc 2 above 39") << "oid" << "2.999.3" << QByteArray("0603883703");
        // What the message gets for a hash it has no name for: refused, so no message is made.
        QTest::newRow("no OID") << "oid" << "" << QByteArray();
        QTest::newRow("integer zero") << "int" << "" << QByteArray("020100");
        QTest::newRow("integer zeros only") << "int" << "0000" << QByteArray("020100");
        QTest::newRow("leading zeros dropped") << "int" << "00007f01" << QByteArray("02027f01");
        QTest::newRow("leading zero kept for top bit") << "int" << "0000ff" << QByteArray("020200ff");
        QTest::newRow("pre-encoded") << "der" << "3003020107" << QByteArray("3003020107");
        QTest::newRow("truncated pre-encoded") << "der" << "040501" << QByteArray();
        QTest::newRow("two values as one pre-encoded") << "der" << "05000500" << QByteArray();
        QTest::newRow("indefinite length pre-encoded") << "der" << "30800000" << QByteArray();
    }
    void derValues()
    {
        QFETCH(QString, kind);
        QFETCH(QString, input);
        QFETCH(QByteArray, encoded);
        Bytes out;
        DerWriter der;
        const QByteArray raw = QByteArray::fromHex(input.toLatin1());
        if (kind == "oid")
            der.addOid(input.toStdString());
        else if (kind == "int")
            der.addUnsigned(Bytes(raw.begin(), raw.end()));
        else
            der.addEncoded(Bytes(raw.begin(), raw.end()));
        QCOMPARE(der.finish(out), !encoded.isEmpty());
        QCOMPARE(hex(out.data(), out.size()), encoded);
        QCOMPARE(der.error().empty(), !encoded.isEmpty());
    }

    // Seeding hashes key and seed twice; each request is counter-mode output, and the next
    // key is the two blocks that follow it.
    void generatorMatchesCounterModeAndRekeys()
    {
        std::uint8_t seed[32];
        for (int i = 0; i < 32; ++i)
            seed[i] = static_cast<std::uint8_t>(i);
        FortunaGenerator generator;
        std::uint8_t first[20], second[16];
        QVERIFY(!generator.generate(second, sizeof second));  // unseeded
        QVERIFY(generator.reseed(seed, sizeof seed));
        QVERIFY(generator.generate(first, sizeof first));
        QVERIFY(generator.generate(second, sizeof second));

        const QByteArray key1 = sha256(sha256(QByteArray(32, '\0') + QByteArray::fromHex(hex(seed, 32))));
        const QByteArray stream1 = opensslCtr(key1, "00000000000000000000000000000001", 64);
        QCOMPARE(hex(first, sizeof first), stream1.left(20).toHex());
        QCOMPARE(hex(second, sizeof second), opensslCtr(stream1.mid(32, 32), "00000000000000000000000000000005", 16).toHex());
    }

    void requestsAboveOneMegabyteDoNotRepeat()
    {
        const std::uint8_t seed[32] = {7};
        FortunaGenerator generator;
        QVERIFY(generator.reseed(seed, sizeof seed));
        std::vector<std::uint8_t> out((1 << 20) * 2 + 5);
        QVERIFY(generator.generate(out.data(), out.size()));
        QVERIFY(std::memcmp(out.data(), out.data() + (1 << 20), 64) != 0);
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

QTEST_APPLESS_MAIN(TestPrimitives)
#include "tst_primitives.moc"
