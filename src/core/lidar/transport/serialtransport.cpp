#include "lidar/transport/serialtransport.h"

namespace velomark {

QString serialPortName(const QString &portName)
{
#ifdef Q_OS_WIN
    return QStringLiteral("\\\\.\\%1").arg(portName);
#else
    return portName;
#endif
}

QString SerialTransport::description() const
{
    return serialPortName(m_portName);
}

}  // namespace velomark
