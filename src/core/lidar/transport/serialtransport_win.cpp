#include "lidar/transport/serialtransport.h"

#include <QIODevice>

#include <functional>

#include "lidar/exchange.h"
#include "lidar/transport/serialport_win.h"

namespace velomark {

// The Win32 port as the device the exchange and the readers use: blocking, time-limited waits,
// reads that take what is there and writes that finish before they return (so nothing waits
// in the device to be written).
class SerialDevice : public QIODevice
{
public:
    explicit SerialDevice(std::function<void()> onLost) : m_onLost(std::move(onLost)) {}
    ~SerialDevice() override { close(); }

    // Opens the port and applies its settings; false with errorString() set.
    bool openPort(const QString &portName)
    {
        if (!m_port.open(portName.toStdWString())) {
            setErrorString(QString::fromStdWString(m_port.errorText()));
            return false;
        }
        const win::SerialSettingsResult settings = m_port.configure();
        if (!settings.ok()) {
            setErrorString(QString::fromStdString(settings.failedSetter) + QStringLiteral("() failed with error: ")
                           + QString::fromStdWString(settings.systemText));
            m_port.close();
            return false;
        }
        m_lostTold = false;
        setErrorString(QString());
        // Unbuffered: bytes wait in the port object until they are read.
        return QIODevice::open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    }

    void close() override
    {
        if (isOpen())
            QIODevice::close();
        m_port.close();
    }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override
    {
        return qint64(m_port.available()) + QIODevice::bytesAvailable();
    }
    bool waitForReadyRead(int msecs) override
    {
        if (!isOpen())
            return false;
        const bool ready = m_port.waitForData(msecs);
        noticeFailure();
        if (ready)
            emit readyRead();
        return ready;
    }
    // Writes finish inside write(); what is left to say is whether the port still stands.
    bool waitForBytesWritten(int msecs) override
    {
        Q_UNUSED(msecs)
        return isOpen() && !m_port.hasFailed();
    }

    void purge(win::SerialPurge which)
    {
        m_port.purge(which);
        // Bytes a peek() left in the device's own buffer.
        if (which != win::SerialPurge::Output)
            QIODevice::skip(QIODevice::bytesAvailable());
        noticeFailure();
    }
    bool hasFailed() const { return !isOpen() || m_port.hasFailed(); }
    void clearError()
    {
        m_port.clearError();
        m_lostTold = false;
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const long long count = m_port.read(data, std::size_t(maxSize));
        noticeFailure();
        return count;
    }
    qint64 writeData(const char *data, qint64 maxSize) override
    {
        const long long count = m_port.write(data, std::size_t(maxSize), timeout::kWrite);
        noticeFailure();
        if (count < 0 && !m_port.hasFailed())
            setErrorString(QString::fromStdWString(m_port.errorText()));
        return count;
    }

private:
    // Tells of a port whose device is gone, once per failure.
    void noticeFailure()
    {
        if (!m_port.hasFailed() || m_lostTold)
            return;
        m_lostTold = true;
        setErrorString(QString::fromStdWString(m_port.errorText()));
        m_onLost();
    }

    // available() takes what the driver holds into the port's buffer.
    mutable win::SerialPort m_port;
    std::function<void()> m_onLost;
    bool m_lostTold = false;
};

SerialTransport::SerialTransport(const QString &portName)
    : m_portName(portName), m_port(std::make_unique<SerialDevice>([this] { emit lost(); }))
{
}

SerialTransport::~SerialTransport() = default;

QIODevice &SerialTransport::device()
{
    return *m_port;
}

// The port takes its settings as it opens: Windows applies them to an open handle.
QString SerialTransport::applySettings()
{
    return QString();
}

bool SerialTransport::open(bool *retry)
{
    Q_UNUSED(retry)
    return m_port->openPort(m_portName);
}

void SerialTransport::close()
{
    m_port->close();
}

void SerialTransport::purge(Purge which)
{
    switch (which) {
    case Purge::Input:
        m_port->purge(win::SerialPurge::Input);
        break;
    case Purge::Output:
        m_port->purge(win::SerialPurge::Output);
        break;
    case Purge::Both:
        m_port->purge(win::SerialPurge::Both);
        break;
    }
}

bool SerialTransport::hasFailed() const
{
    return m_port->hasFailed();
}

void SerialTransport::clearError()
{
    m_port->clearError();
}

}  // namespace velomark
