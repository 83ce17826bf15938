#include "simlink.h"

#include <QLoggingCategory>
#include <QMutex>

#include "common/operatorinterface.h"

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
    } else if (previousHandler) {
        previousHandler(type, context, text);
    }
}
}  // namespace

QStringList shown(const RecordingOperator &op)
{
    QStringList out;
    for (const RecordedMessage &m : op.messages)
        out << (m.title == velomark::applicationTitle() ? "A" : m.title == velomark::kMessageTitle ? "K" : m.title) + ':' + m.text;
    return out;
}

Bench::Bench(const QStringList &simArgs) : sim(simArgs) {}

bool Bench::start()
{
    if (!sim.start())
        return false;
    connection.lidars.append({QStringLiteral("001122334455"), kName, sim.portPath()});
    return true;
}

bool Bench::openPort(QIODevice::OpenMode mode)
{
    auto *port = qobject_cast<QSerialPort *>(&connection.port());
    if (!port)
        return false;
    port->setPortName(sim.portPath());
    port->setBaudRate(57600);
    return port->open(mode);
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

PrivateBus::PrivateBus()
{
    daemon.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    if (daemon.waitForStarted(5000) && daemon.waitForReadyRead(10000))
        address = QString::fromLocal8Bit(daemon.readLine()).trimmed();
}

PrivateBus::~PrivateBus()
{
    daemon.terminate();
    daemon.waitForFinished(5000);
}

}  // namespace simlink
