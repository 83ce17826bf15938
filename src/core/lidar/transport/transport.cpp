#include "lidar/transport/transport.h"

#include <QIODevice>
#include <QRegularExpression>
#include <QThread>

#include "common/text.h"
#include "common/trace.h"
#include "lidar/transport/serialtransport.h"
#ifndef Q_OS_WIN
#include "lidar/transport/bluetoothtransport_bluez.h"
#endif

namespace velomark {

namespace {

void traceChunk(const QString &label, const char *direction, const QByteArray &bytes)
{
    if (bytes.isEmpty() || !lcWire().isDebugEnabled())
        return;
    trace(lcWire(), label + QLatin1String(direction) + hexBytes(bytes));
}

const QString kBluetoothPrefix = QStringLiteral("bluetooth:");

}  // namespace

QString bluetoothPortName(const QString &compactAddress)
{
    QString text = compactAddress.toUpper();
    for (int at = text.size() - 2; at > 0; at -= 2)
        text.insert(at, QLatin1Char(':'));
    return kBluetoothPrefix + text;
}

QString bluetoothPortAddress(const QString &portName)
{
#ifdef Q_OS_WIN
    Q_UNUSED(portName)
    return QString();
#else
    static const QRegularExpression form(QStringLiteral("^[0-9A-Fa-f]{2}(:[0-9A-Fa-f]{2}){5}$"));
    if (!portName.startsWith(kBluetoothPrefix, Qt::CaseInsensitive))
        return QString();
    const QString address = portName.mid(kBluetoothPrefix.size()).trimmed();
    return form.match(address).hasMatch() ? address.toUpper() : QString();
#endif
}

Transport::Transport(QObject *parent) : QObject(parent) {}

Transport::~Transport() = default;

std::unique_ptr<Transport> Transport::forPort(const QString &portName)
{
#ifndef Q_OS_WIN
    const QString address = bluetoothPortAddress(portName);
    if (!address.isEmpty())
        return std::make_unique<BluetoothTransport>(address);
#endif
    return std::make_unique<SerialTransport>(portName);
}

bool Transport::isOpen() const
{
    return device().isOpen();
}

QString Transport::errorString() const
{
    return device().errorString();
}

bool Transport::probe()
{
    if (!isOpen())
        return false;
    device().waitForReadyRead(0);
    return !hasFailed();
}

qint64 Transport::write(const QByteArray &bytes, const QString &label)
{
    traceChunk(label, ": TX ", bytes);
    return device().write(bytes);
}

QByteArray Transport::read(qint64 maxSize, const QString &label)
{
    const QByteArray bytes = device().read(maxSize);
    traceChunk(label, ": RX ", bytes);
    return bytes;
}

QByteArray Transport::readAll(const QString &label)
{
    const QByteArray bytes = device().readAll();
    traceChunk(label, ": RX ", bytes);
    return bytes;
}

QByteArray Transport::peek(qint64 maxSize)
{
    return device().peek(maxSize);
}

qint64 Transport::bytesAvailable() const
{
    return device().bytesAvailable();
}

bool Transport::waitForReadyRead(int msecs)
{
    return device().waitForReadyRead(msecs);
}

bool Transport::waitForBytesWritten(int msecs)
{
    return device().waitForBytesWritten(msecs);
}

void Transport::moveDeviceTo(QThread *thread)
{
    device().moveToThread(thread);
}

QThread *Transport::deviceThread() const
{
    return device().thread();
}

}  // namespace velomark
