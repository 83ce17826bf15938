#include "lidar/transport/socketport_posix.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velomark {

namespace {
constexpr qint64 kChunk = 4096;
}  // namespace

SocketPort::SocketPort(QObject *parent) : QIODevice(parent) {}

SocketPort::~SocketPort()
{
    close();
}

bool SocketPort::openDescriptor(int fd)
{
    if (fd < 0)
        return false;
    if (m_fd >= 0) {
        ::close(fd);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        setErrorString(qt_error_string(errno));
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_input.clear();
    m_output.clear();
    m_failed = false;
    setErrorString(QString());
    // Unbuffered: bytes wait in m_input, where waits put them, until they are read.
    return QIODevice::open(QIODevice::ReadWrite | QIODevice::Unbuffered);
}

void SocketPort::close()
{
    if (isOpen())
        QIODevice::close();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_input.clear();
    m_output.clear();
}

qint64 SocketPort::bytesAvailable() const
{
    return m_input.size() + QIODevice::bytesAvailable();
}

void SocketPort::fail(const QString &reason)
{
    if (m_failed)
        return;
    m_failed = true;
    setErrorString(reason);
    emit lost();
}

qint64 SocketPort::fill()
{
    qint64 taken = 0;
    while (m_fd >= 0) {
        char buffer[kChunk];
        const ssize_t count = ::read(m_fd, buffer, sizeof buffer);
        if (count > 0) {
            m_input.append(buffer, int(count));
            taken += count;
            continue;
        }
        if (count == 0)
            fail(QStringLiteral("The lidar closed the connection"));
        else if (errno == EINTR)
            continue;
        else if (errno != EAGAIN && errno != EWOULDBLOCK)
            fail(qt_error_string(errno));
        break;
    }
    return taken;
}

void SocketPort::flush()
{
    while (m_fd >= 0 && !m_output.isEmpty()) {
        // MSG_NOSIGNAL: a peer that hung up is a failed write, not a SIGPIPE.
        const ssize_t count = ::send(m_fd, m_output.constData(), size_t(m_output.size()), MSG_NOSIGNAL);
        if (count > 0) {
            m_output.remove(0, int(count));
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            fail(qt_error_string(errno));
        break;
    }
}

short SocketPort::waitFor(short events, int msecs)
{
    if (m_fd < 0)
        return 0;
    QDeadlineTimer deadline(msecs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(msecs));
    for (;;) {
        pollfd entry{m_fd, events, 0};
        const int ready = ::poll(&entry, 1, deadline.isForever() ? -1 : int(deadline.remainingTime()));
        if (ready > 0)
            return entry.revents;
        if (ready == 0)
            return 0;
        if (errno != EINTR) {
            fail(qt_error_string(errno));
            return 0;
        }
    }
}

bool SocketPort::waitForReadyRead(int msecs)
{
    if (m_fd < 0 || m_failed)
        return false;
    QDeadlineTimer deadline(msecs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(msecs));
    for (;;) {
        const short revents = waitFor(POLLIN, deadline.isForever() ? -1 : int(deadline.remainingTime()));
        if (revents == 0)
            return false;
        // A hang-up still lets the last bytes be read; the read after them sees the end.
        if (fill() > 0) {
            emit readyRead();
            return true;
        }
        if (m_failed)
            return false;
        if (revents & (POLLERR | POLLNVAL)) {
            fail(QStringLiteral("The connection to the lidar failed"));
            return false;
        }
    }
}

bool SocketPort::waitForBytesWritten(int msecs)
{
    if (m_fd < 0 || m_failed)
        return false;
    QDeadlineTimer deadline(msecs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(msecs));
    flush();
    while (!m_output.isEmpty() && !m_failed) {
        const short revents = waitFor(POLLOUT, deadline.isForever() ? -1 : int(deadline.remainingTime()));
        if (revents == 0)
            return false;
        if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
            fail(QStringLiteral("The connection to the lidar failed"));
            return false;
        }
        flush();
    }
    return !m_failed;
}

void SocketPort::purgeInput()
{
    fill();
    m_input.clear();
    // Bytes a peek() left in the device's own buffer.
    QIODevice::skip(QIODevice::bytesAvailable());
}

qint64 SocketPort::readData(char *data, qint64 maxSize)
{
    if (m_input.isEmpty())
        fill();
    const qint64 count = qMin<qint64>(maxSize, m_input.size());
    if (count > 0) {
        std::copy_n(m_input.constData(), count, data);
        m_input.remove(0, int(count));
    }
    return count;
}

qint64 SocketPort::writeData(const char *data, qint64 maxSize)
{
    if (m_fd < 0 || m_failed)
        return -1;
    m_output.append(data, int(maxSize));
    flush();
    return m_failed ? -1 : maxSize;
}

}  // namespace velomark
