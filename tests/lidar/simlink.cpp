#include "simlink.h"

#include <QLoggingCategory>
#include <QMutex>


namespace simlink {

namespace {
QMutex traceMutex;
QStringList traceLines;
QtMessageHandler previousHandler = nullptr;

void collect(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtDebugMsg && context.category && qstrcmp(context.category, "velomark.lidar") == 0) {
        QMutexLocker lock(&traceMutex);
        // Time-stamped lines begin "hh:mm:ss.zzz "; bare lines stand as they are.
        const bool stamped = text.size() > 13 && text.at(2) == QLatin1Char(':') && text.at(12) == QLatin1Char(' ');
        traceLines.append(stamped ? text.mid(13) : text);
        return;
    }
    if (previousHandler)
        previousHandler(type, context, text);
}
}  // namespace

bool simAvailable()
{
    return !qEnvironmentVariableIsEmpty("LIDAR_SIM");
}

bool openPort(QSerialPort &port, const QString &path, QIODevice::OpenMode mode)
{
    port.setPortName(path);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    port.setBaudRate(57600);
    return port.open(mode);
}

TraceCapture::TraceCapture()
{
    QMutexLocker lock(&traceMutex);
    traceLines.clear();
    QLoggingCategory::setFilterRules(QStringLiteral("velomark.lidar.debug=true"));
    previousHandler = qInstallMessageHandler(collect);
}

TraceCapture::~TraceCapture()
{
    qInstallMessageHandler(previousHandler);
    QLoggingCategory::setFilterRules(QString());
}

QStringList TraceCapture::lines() const
{
    QMutexLocker lock(&traceMutex);
    return traceLines;
}

bool TraceCapture::contains(const QString &text) const
{
    return lines().contains(text);
}

}  // namespace simlink
