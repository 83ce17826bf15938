#include "lidar/transport/sockettransport_posix.h"

namespace velomark {

SocketTransport::SocketTransport()
{
    connect(&m_socket, &SocketPort::lost, this, &Transport::lost, Qt::DirectConnection);
}

SocketTransport::~SocketTransport()
{
    m_socket.close();
}

bool SocketTransport::open(bool *retry)
{
    *retry = false;
    setErrorText(QStringLiteral("no connection to make"));
    return false;
}

void SocketTransport::close()
{
    m_socket.close();
}

void SocketTransport::purge(Purge which)
{
    if (which != Purge::Output)
        m_socket.purgeInput();
    if (which != Purge::Input)
        m_socket.purgeOutput();
}

}  // namespace velomark
