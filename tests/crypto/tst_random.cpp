#include <QtTest>

#include <cstring>

#include <sys/wait.h>
#include <unistd.h>

#include "crypto/fortuna.h"
#include "crypto/random.h"
#include "pki.h"

using namespace velomark;

static QByteArray bytesOf(const std::uint8_t *data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), static_cast<int>(size));
}

// Keystream of AES-256-CTR by the openssl tool: the independent reference.
static QByteArray opensslCtr(const QByteArray &key, const QByteArray &counter, int size)
{
    return testpki::run("openssl", {"enc", "-aes-256-ctr", "-K", key.toHex(), "-iv", counter.toHex(), "-nosalt"},
                        QByteArray(size, '\0'))
        .out;
}

static QByteArray sha256(const QByteArray &data)
{
    return testpki::run("openssl", {"dgst", "-sha256", "-binary"}, data).out;
}

static bool failingSource(std::uint8_t *, std::size_t)
{
    return false;
}

class TestRandom : public QObject
{
    Q_OBJECT
private slots:
    // Seeding hashes key and seed twice; each request is counter-mode output, and the next
    // key is the two blocks that follow it.
    void generatorMatchesCounterModeAndRekeys()
    {
        std::uint8_t seed[32];
        for (int i = 0; i < 32; ++i)
            seed[i] = static_cast<std::uint8_t>(i);
        FortunaGenerator generator;
        QVERIFY(generator.reseed(seed, sizeof seed));
        std::uint8_t first[20];
        std::uint8_t second[16];
        QVERIFY(generator.generate(first, sizeof first));
        QVERIFY(generator.generate(second, sizeof second));

        const QByteArray key1 = sha256(sha256(QByteArray(32, '\0') + bytesOf(seed, 32)));
        QCOMPARE(key1.size(), 32);
        const QByteArray counter1 = QByteArray::fromHex("00000000000000000000000000000001");
        const QByteArray stream1 = opensslCtr(key1, counter1, 64);
        QCOMPARE(bytesOf(first, sizeof first).toHex(), stream1.left(20).toHex());
        const QByteArray key2 = stream1.mid(32, 32);
        const QByteArray counter2 = QByteArray::fromHex("00000000000000000000000000000005");
        QCOMPARE(bytesOf(second, sizeof second).toHex(), opensslCtr(key2, counter2, 16).toHex());
    }

    void unseededGeneratorRefuses()
    {
        FortunaGenerator generator;
        std::uint8_t out[16];
        QVERIFY(!generator.isSeeded());
        QVERIFY(!generator.generate(out, sizeof out));
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

    void nonZeroBytesHaveNoZero()
    {
        std::vector<std::uint8_t> out(200000);
        QVERIFY(nonZeroRandomBytes(out.data(), out.size()));
        QVERIFY(std::find(out.begin(), out.end(), 0) == out.end());
    }

    // Without a seed from the operating system there is no fallback: every request fails.
    void failingSeedSourceFailsEveryRequest()
    {
        setSeedSourceForTesting(&failingSource);
        std::uint8_t out[16];
        QVERIFY(!randomBytes(out, sizeof out));
        QVERIFY(!nonZeroRandomBytes(out, sizeof out));
        setSeedSourceForTesting(nullptr);
        QVERIFY(randomBytes(out, sizeof out));
    }

    // A forked child must not replay the parent's stream (the benchmark forks, so could a
    // host program).
    void forkedChildDrawsOtherBytes()
    {
        std::uint8_t before[16];
        QVERIFY(randomBytes(before, sizeof before));
        int fds[2];
        QCOMPARE(pipe(fds), 0);
        const pid_t child = fork();
        if (child == 0) {
            std::uint8_t drawn[32] = {0};
            randomBytes(drawn, sizeof drawn);
            const ssize_t written = write(fds[1], drawn, sizeof drawn);
            _exit(written == sizeof drawn ? 0 : 1);
        }
        QVERIFY(child > 0);
        close(fds[1]);
        std::uint8_t fromChild[32];
        QCOMPARE(read(fds[0], fromChild, sizeof fromChild), ssize_t(sizeof fromChild));
        close(fds[0]);
        int status = 0;
        waitpid(child, &status, 0);
        std::uint8_t parent[32];
        QVERIFY(randomBytes(parent, sizeof parent));
        QVERIFY(std::memcmp(parent, fromChild, sizeof parent) != 0);
    }
};

QTEST_APPLESS_MAIN(TestRandom)
#include "tst_random.moc"
