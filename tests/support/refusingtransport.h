#pragma once
// A lidar's link with one write refused (every write when refused is empty), as a port
// refuses a write when the link breaks under it; everything else passes through.
#include <QIODevice>

#include "lidar/transport/transport.h"

class RefusingTransport : public velomark::Transport
{
public:
    RefusingTransport(velomark::Transport &inner, const QByteArray &refused = {}) : m_device(inner, refused) {}
    bool open(bool *) override { return true; }
    void close() override {}
    QString description() const override { return QStringLiteral("refusing link"); }
    void purge(velomark::Purge which) override { m_device.inner.purge(which); }
    bool hasFailed() const override { return m_device.inner.hasFailed(); }
    void clearError() override { m_device.inner.clearError(); }

protected:
    QIODevice &device() override { return m_device; }

private:
    struct Device : QIODevice
    {
        Device(velomark::Transport &link, const QByteArray &refusedBytes) : inner(link), refused(refusedBytes)
        {
            open(QIODevice::ReadWrite | QIODevice::Unbuffered);
        }
        bool isSequential() const override { return true; }
        qint64 bytesAvailable() const override { return inner.bytesAvailable() + QIODevice::bytesAvailable(); }
        bool waitForReadyRead(int ms) override { return inner.waitForReadyRead(ms); }
        bool waitForBytesWritten(int ms) override { return inner.waitForBytesWritten(ms); }
        qint64 readData(char *data, qint64 size) override
        {
            const QByteArray bytes = inner.read(size, QStringLiteral("passed"));
            std::copy(bytes.begin(), bytes.end(), data);
            return bytes.size();
        }
        qint64 writeData(const char *data, qint64 size) override
        {
            if (!refused.isEmpty() && QByteArray(data, int(size)) != refused)
                return inner.write(QByteArray(data, int(size)), QStringLiteral("passed"));
            setErrorString(QStringLiteral("refused"));
            return -1;
        }
        velomark::Transport &inner;
        QByteArray refused;
    } m_device;
};
