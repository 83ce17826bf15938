#include "simlink.h"

#include <QLoggingCategory>
#include <QMutex>

#include "common/operatorinterface.h"

namespace simlink {

namespace {
QMutex traceMutex;
QStringList traceLines;
QByteArray traceCategory;
QtMessageHandler previousHandler = nullptr;

void collect(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    const bool prefix = traceCategory.endsWith(".*");
    if (type == QtDebugMsg && context.category
        && (prefix ? QByteArray(context.category).startsWith(traceCategory.chopped(1)) : traceCategory == context.category)) {
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

Bench::Bench(const QStringList &simArgs) : sim(simArgs) {}

bool Bench::start()
{
    if (!sim.start())
        return false;
    connection.lidars.append({QStringLiteral("001122334455"), kName, sim.portPath()});
    return true;
}

bool Bench::openPort()
{
    return connection.openTransport(connection.lidars.value(0));
}

bool LiveBench::prepare()
{
    return Bench::start() && dataFile.prepare(dir.filePath(QStringLiteral("live.txt")), op);
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
    traceCategory = category;
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

namespace {
// Debian's interpreter, which has the D-Bus and GLib modules of python3-dbus and python3-gi.
const QString kPython = QStringLiteral("/usr/bin/python3");
}  // namespace

QString BluezStandIn::unavailable()
{
    if (QProcess::execute(kPython, {"-c", "import dbus, gi"}) != 0)
        return QStringLiteral("python3-dbus is not installed (make deps)");
    return QString();
}

bool BluezStandIn::start(const QStringList &devices)
{
    static PrivateBus bus;
    if (bus.address.isEmpty())
        return false;
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address.toLocal8Bit());
    m_calls.clear();
    m_mock.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_mock.start(kPython,
                 QStringList{qEnvironmentVariable("VELOMARK_SOURCE_DIR") + "/tests/lidar/mock_bluez.py"} + devices);
    return m_mock.waitForStarted(5000) && m_mock.waitForReadyRead(10000) && m_mock.readLine().trimmed() == "ready";
}

void BluezStandIn::stop()
{
    m_mock.terminate();
    m_mock.waitForFinished(5000);
}

QStringList BluezStandIn::calls()
{
    m_mock.waitForReadyRead(50);
    for (const QByteArray &line : m_mock.readAll().split('\n')) {
        if (!line.isEmpty())
            m_calls.append(QString::fromUtf8(line));
    }
    return m_calls;
}

}  // namespace simlink
