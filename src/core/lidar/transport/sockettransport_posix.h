#pragma once
// A lidar on a connected stream socket (the RFCOMM socket BlueZ hands over), read and written
// through SocketPort, which blocks and times out as a serial port does.
#include "lidar/transport/socketport_posix.h"
#include "lidar/transport/transport.h"

namespace velomark {

class SocketTransport : public Transport
{
    Q_OBJECT
public:
    SocketTransport();
    ~SocketTransport() override;

    // Takes over a connected socket; false when it cannot be used (fd is closed then).
    bool openDescriptor(int fd) { return m_socket.openDescriptor(fd); }

    // A bare socket has nobody to ask for a connection.
    bool open(bool *retry) override;
    void close() override;
    QString description() const override { return QStringLiteral("socket"); }
    void purge(Purge which) override;
    bool hasFailed() const override { return m_socket.hasFailed(); }
    void clearError() override { m_socket.clearError(); }

protected:
    QIODevice &device() override { return m_socket; }
    void setErrorText(const QString &text) { m_socket.setErrorText(text); }

private:
    SocketPort m_socket;
};

}  // namespace velomark
