// The socket port over one end of a socket pair, the test holding the other end as the lidar:
// reads, writes, waits, purges, a hang-up, and the live and dump readers taking it to their
// threads and giving it back.
#include <QCoreApplication>
#include <QtTest>

#include <memory>
#include <sys/socket.h>
#include <unistd.h>

#include "lidar/exchange.h"
#include "lidar/lidarconnection.h"
#include "lidar/socketport_posix.h"
#include "live/livereader.h"
#include "log/dumpreader.h"

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
    QByteArray receive() const
    {
        char buffer[256];
        const ssize_t count = ::recv(lidar, buffer, sizeof buffer, MSG_DONTWAIT);
        return count > 0 ? QByteArray(buffer, int(count)) : QByteArray();
    }
    void hangUp()
    {
        if (lidar >= 0)
            ::close(lidar);
        lidar = -1;
    }
    SocketPort port;
    int lidar = -1;
};

}  // namespace

class TestSocketPort : public QObject
{
    Q_OBJECT
private slots:
    void readsWritesAndWaits()
    {
        Pair pair;
        QVERIFY(pair.lidar >= 0 && pair.port.isOpen() && pair.port.isSequential());
        QVERIFY(!pair.port.openDescriptor(::dup(pair.lidar)));  // one socket at a time

        QCOMPARE(pair.port.write("\x02\x0B\x0B\x03"), qint64(4));
        QVERIFY(pair.port.waitForBytesWritten(1000));
        QCOMPARE(pair.receive(), QByteArray("\x02\x0B\x0B\x03"));

        // Without data a wait ends on its time-out, and the port is not lost.
        QVERIFY(!pair.port.waitForReadyRead(50));
        QVERIFY(!portFailed(pair.port));

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

        // The exchange collects a reply from it as from the serial port: up to the echo, the
        // bytes after it stay.
        LidarChannel channel(pair.port, [&pair](Purge) { pair.port.purgeInput(); });
        QVERIFY(pair.send(QByteArray("\x02\x0C\x0C\x03" "after", 9)));
        QCOMPARE(ReadPort(channel, 1000, 4, "test", echoEnd(QByteArray("\x02\x0C\x0C\x03", 4))),
                 QByteArray("\x02\x0C\x0C\x03", 4));
        QCOMPARE(pair.port.readAll(), QByteArray("after"));
    }

    void purge()
    {
        Pair pair;
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
        QVERIFY(portFailed(pair.port));
        QCOMPARE(lost.count(), 1);
        QVERIFY(!pair.port.errorString().isEmpty());
        QCOMPARE(pair.port.write("x"), qint64(-1));
        QVERIFY(!pair.port.waitForBytesWritten(100));
        clearPortError(pair.port);
        QVERIFY(!pair.port.waitForReadyRead(1000));
        QVERIFY(portFailed(pair.port));
        pair.port.close();
        QVERIFY(!pair.port.isOpen() && portFailed(pair.port));
    }

    // The live reader takes the socket to its thread, hands on what came before the lidar hung
    // up, says the port was lost and gives the socket back.
    void liveReaderLosesTheSocket()
    {
        Pair pair;
        rThread reader;
        QSignalSpy buffers(&reader, &rThread::speed_disp);
        QSignalSpy lost(&reader, &rThread::portLost);
        const QByteArray record("$SPD,SN4711,101519,143015,4530.0000,N,00930.0000,E,A,R,55,12.3,1\r\n");
        QVERIFY(reader.startReading(&pair.port, 3));
        QCOMPARE(pair.port.thread(), &reader);
        QVERIFY(pair.send(record));
        QTRY_COMPARE_WITH_TIMEOUT(buffers.count(), 1, 3000);
        pair.hangUp();
        QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 3000);
        QVERIFY(reader.wait(3000));
        QCOMPARE(buffers.first().first().toByteArray(), record);
        QCOMPARE(pair.port.thread(), QThread::currentThread());
        QVERIFY(pair.port.isOpen() && portFailed(pair.port));
    }

    // The dump reader keeps every byte up to the hang-up and ends on it, not after 5 s of silence.
    void dumpReaderLosesTheSocket()
    {
        Pair pair;
        QByteArray dump;
        QString pending;
        ThreadReadDataDump reader(pair.port, dump, pending);
        QByteArray log;
        for (int line = 0; line < 200; ++line)
            log += QByteArray::number(line).rightJustified(6, '0') + ",54321,55,12.3\r\n";
        reader.startDump();
        QVERIFY(pair.send(log.left(1000)));
        QTest::qWait(150);
        QVERIFY(pair.send(log.mid(1000)));
        pair.hangUp();
        QVERIFY(reader.wait(ThreadReadDataDump::kSilenceMs - 1000));
        QCOMPARE(reader.endReason(), ThreadReadDataDump::EndReason::PortFailed);
        QCOMPARE(dump, log);
        QCOMPARE(pair.port.thread(), QThread::currentThread());
    }
};

QTEST_GUILESS_MAIN(TestSocketPort)
#include "tst_socketport.moc"
