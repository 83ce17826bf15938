#include "lidar/transport/serialtransport.h"

#include <QSerialPort>

namespace velomark {

class SerialDevice : public QSerialPort
{
};

SerialTransport::SerialTransport(const QString &portName)
    : m_portName(portName), m_port(std::make_unique<SerialDevice>())
{
    // A port whose lidar vanished keeps raising errors; the first one says it is lost.
    connect(m_port.get(), &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError)
            emit lost();
    }, Qt::DirectConnection);
}

SerialTransport::~SerialTransport()
{
    m_port->close();
}

QIODevice &SerialTransport::device()
{
    return *m_port;
}

QString SerialTransport::applySettings()
{
    m_port->setPortName(serialPortName(m_portName));
    const auto failed = [this](const char *setter) { return QLatin1String(setter) + m_port->errorString(); };
    if (!m_port->setDataBits(QSerialPort::Data8))
        return failed("setDataBits() failed with error: ");
    if (!m_port->setParity(QSerialPort::NoParity))
        return failed("setParity() failed with error: ");
    if (!m_port->setStopBits(QSerialPort::OneStop))
        return failed("setStopBits() failed with error: ");
    if (!m_port->setFlowControl(QSerialPort::NoFlowControl))
        return failed("setFlowControl() failed with error: ");
    if (!m_port->setBaudRate(57600, QSerialPort::AllDirections))
        return failed("setBaudRate() failed with error: ");
    return QString();
}

bool SerialTransport::open(bool *retry)
{
    Q_UNUSED(retry)
    if (m_port->portName().isEmpty())
        m_port->setPortName(serialPortName(m_portName));
    return m_port->open(QIODevice::ReadWrite);
}

void SerialTransport::close()
{
    m_port->close();
}

void SerialTransport::purge(Purge which)
{
    switch (which) {
    case Purge::Input:
        m_port->clear(QSerialPort::Input);
        break;
    case Purge::Output:
        m_port->clear(QSerialPort::Output);
        break;
    case Purge::Both:
        m_port->clear(QSerialPort::AllDirections);
        break;
    }
}

bool SerialTransport::hasFailed() const
{
    if (!m_port->isOpen())
        return true;
    const QSerialPort::SerialPortError error = m_port->error();
    return error == QSerialPort::ReadError || error == QSerialPort::ResourceError;
}

void SerialTransport::clearError()
{
    m_port->clearError();
}

}  // namespace velomark
