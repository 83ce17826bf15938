// The socket port over one end of a socket pair, the test holding the other end as the lidar:
// reads, writes, waits, purges and a hang-up. The readers on a lost socket are the lost-link
// table's (log/tst_linkloss).
#include <QCoreApplication>
#include <QtTest>

#include <memory>
#include <utility>
#include <sys/socket.h>
#include <unistd.h>

#include "lidar/transport/socketport_posix.h"

using namespace velomark;

namespace {

// Our end as a SocketPort, the lidar's end as a plain descriptor.
struct Pair
{
    Pair()
    {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0 && port.openDescriptor(fds[0]))
            lidar = fds[1];
    }
    ~Pair() { hangUp(); }
    bool send(const QByteArray &bytes) const { return ::write(lidar, bytes.constData(), size_t(bytes.size())) == bytes.size(); }
    void hangUp()
    {
        ::close(std::exchange(lidar, -1));  // once; closing -1 does nothing
    }
    SocketPort port;
    int lidar = -1;
};

}  // namespace

class TestSocketPort : public QObject
{
    Q_OBJECT
private slots:
    void readsWritesWaitsAndPurges()
    {
        Pair pair;
        QVERIFY(pair.lidar >= 0 && pair.port.isOpen() && pair.port.isSequential());
        QVERIFY(!pair.port.openDescriptor(::dup(pair.lidar)));  // one socket at a time

        QCOMPARE(pair.port.write("\x02\x0B\x0B\x03"), qint64(4));
        QVERIFY(pair.port.waitForBytesWritten(1000));
        char received[8];
        QCOMPARE(::recv(pair.lidar, received, sizeof received, MSG_DONTWAIT), ssize_t(4));
        QCOMPARE(QByteArray(received, 4), QByteArray("\x02\x0B\x0B\x03"));

        // Without data a wait ends on its time-out, and the port is not lost.
        QVERIFY(!pair.port.waitForReadyRead(50));
        QVERIFY(!pair.port.hasFailed());

        // Bytes that come during a wait end it; they stay until read, a peek keeps them.
        std::unique_ptr<QThread> lidar(QThread::create([&pair] {
            QThread::msleep(100);
            pair.send("echo");
        }));
        lidar->start();
        QSignalSpy readyRead(&pair.port, &QIODevice::readyRead);
        QVERIFY(pair.port.waitForReadyRead(5000));
        lidar->wait();
        QCOMPARE(readyRead.count(), 1);
        QCOMPARE(pair.port.bytesAvailable(), qint64(4));
        QCOMPARE(pair.port.peek(2), QByteArray("ec"));
        QCOMPARE(pair.port.bytesAvailable(), qint64(4));
        QCOMPARE(pair.port.readAll(), QByteArray("echo"));
        QCOMPARE(pair.port.bytesAvailable(), qint64(0));

        // A purge drops what the port holds and what is still in the socket.
        QVERIFY(pair.send("old bytes"));
        QVERIFY(pair.port.waitForReadyRead(1000));
        QCOMPARE(pair.port.peek(3), QByteArray("old"));
        QVERIFY(pair.send(" still in the socket"));
        QTest::qWait(20);
        pair.port.purgeInput();
        QCOMPARE(pair.port.bytesAvailable(), qint64(0));
        QVERIFY(!pair.port.waitForReadyRead(0));
        QVERIFY(pair.send("new"));
        QVERIFY(pair.port.waitForReadyRead(1000));
        QCOMPARE(pair.port.readAll(), QByteArray("new"));
    }

    // The bytes sent before a hang-up are still read; then the port is lost for good, for
    // reads, waits and writes alike, until it is closed.
    void hangUp()
    {
        Pair pair;
        QSignalSpy lost(&pair.port, &SocketPort::lost);
        QVERIFY(pair.send("last words"));
        pair.hangUp();
        QVERIFY(pair.port.waitForReadyRead(1000));
        QCOMPARE(pair.port.readAll(), QByteArray("last words"));
        QVERIFY(!pair.port.waitForReadyRead(1000));
        QVERIFY(pair.port.hasFailed());
        QCOMPARE(lost.count(), 1);
        QVERIFY(!pair.port.errorString().isEmpty());
        QCOMPARE(pair.port.write("x"), qint64(-1));
        QVERIFY(!pair.port.waitForBytesWritten(100));
        pair.port.clearError();
        QVERIFY(!pair.port.waitForReadyRead(1000));
        QVERIFY(pair.port.hasFailed());
        pair.port.close();
        QVERIFY(!pair.port.isOpen() && pair.port.hasFailed());
    }
};

QTEST_GUILESS_MAIN(TestSocketPort)
#include "tst_socketport.moc"
