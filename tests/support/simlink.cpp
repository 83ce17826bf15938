#include "simlink.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QLoggingCategory>
#include <QMutex>
#include <QRegularExpression>
#include <QThread>

#include "common/operatorinterface.h"

namespace simlink {

namespace {
QMutex traceMutex;
QStringList traceLines;
QRegularExpression traceCategory;  // the category's name, a wildcard
QtMessageHandler previousHandler = nullptr;

void collect(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtDebugMsg && context.category && traceCategory.match(QLatin1String(context.category)).hasMatch()) {
        QMutexLocker lock(&traceMutex);
        // Time-stamped lines begin "hh:mm:ss.zzz "; bare lines stand as they are.
        const bool stamped = text.size() >= 13 && text.at(2) == QLatin1Char(':') && text.at(12) == QLatin1Char(' ');
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

bool Bench::start()
{
    if (!sim.start())
        return false;
    connection.lidars.append({QStringLiteral("001122334455"), kName, sim.portPath()});
    return true;
}

velomark::LiveStartResult LiveBench::start()
{
    return velomark::startLiveAcquisition(connection, kName, dataFile, [this] {
        ++readerRequests;
        return &reader;
    });
}

TraceCapture::TraceCapture(const char *category)
{
    QMutexLocker lock(&traceMutex);
    traceLines.clear();
    traceCategory.setPattern(QRegularExpression::wildcardToRegularExpression(QLatin1String(category)));
    QLoggingCategory::setFilterRules(QStringLiteral("%1.debug=true").arg(QLatin1String(category)));
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

namespace {
// Debian's interpreter, which has the D-Bus and GLib modules of python3-dbus and python3-gi.
const QString kPython = QStringLiteral("/usr/bin/python3");

// A dbus-daemon of the test's own, stopped with the process.
struct PrivateBus
{
    PrivateBus()
    {
        daemon.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1"});
        if (daemon.waitForStarted(5000) && daemon.waitForReadyRead(10000))
            address = QString::fromLocal8Bit(daemon.readLine()).trimmed();
        // Empty when no daemon started: then no system bus at all, never the machine's.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toLocal8Bit());
    }
    ~PrivateBus()
    {
        daemon.terminate();
        daemon.waitForFinished(5000);
    }
    QProcess daemon;
    QString address;
};
}  // namespace

QString BluezStandIn::unavailable()
{
    if (QProcess::execute(kPython, {"-c", "import dbus, gi"}) != 0)
        return QStringLiteral("python3-dbus is not installed (make deps)");
    return QString();
}

QString BluezStandIn::busAddress()
{
    static PrivateBus bus;
    return bus.address;
}

bool BluezStandIn::start(const QStringList &arguments)
{
    if (busAddress().isEmpty())
        return false;
    m_calls.clear();
    m_mock.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_mock.start(kPython,
                 QStringList{qEnvironmentVariable("VELOMARK_SOURCE_DIR") + "/tests/lidar/mock_bluez.py"} + arguments);
    return m_mock.waitForStarted(5000) && m_mock.waitForReadyRead(10000) && m_mock.readLine().trimmed() == "ready";
}

void BluezStandIn::stop()
{
    if (m_mock.state() == QProcess::NotRunning)
        return;
    m_mock.terminate();
    m_mock.waitForFinished(5000);
    // The bus lets go of the name a moment later; the next stand-in needs it free.
    QDBusConnectionInterface *bus = QDBusConnection::systemBus().interface();
    for (int i = 0; i < 500 && bus && bus->isServiceRegistered(QStringLiteral("org.bluez")); ++i)
        QThread::msleep(10);
}

QStringList BluezStandIn::calls()
{
    m_mock.waitForReadyRead(50);
    m_calls += QString::fromUtf8(m_mock.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return m_calls;
}

}  // namespace simlink
