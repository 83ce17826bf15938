#include "lidarsim.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <csignal>

LidarSim::LidarSim(const QStringList &args) : args_(args)
{
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

LidarSim::~LidarSim()
{
    stop();
}

bool LidarSim::start()
{
    if (!events_.open()) {
        error_ = QStringLiteral("cannot create the events file: %1").arg(events_.errorString());
        return false;
    }
    events_.close();
    process_.start(qEnvironmentVariable("LIDAR_SIM"),
                   args_ + QStringList{"--exit-with-parent", "--events", events_.fileName()});
    if (!process_.waitForStarted(5000)) {
        error_ = QStringLiteral("$LIDAR_SIM did not start: %1").arg(process_.errorString());
        return false;
    }
    // The path line comes within 5 s, or the simulator has ended.
    while (!process_.canReadLine() && process_.waitForReadyRead(5000)) {
    }
    if (!process_.canReadLine()) {
        error_ = process_.state() == QProcess::Running
            ? QStringLiteral("lidar-sim printed no terminal path")
            : QStringLiteral("lidar-sim ended with code %1").arg(process_.exitCode());
        stop();
        return false;
    }
    portPath_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
    return !portPath_.isEmpty();
}

QStringList LidarSim::eventTexts(const char *kind) const
{
    // "<time> KIND text", one line each
    QFile file(events_.fileName());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString marker = QStringLiteral(" %1 ").arg(QLatin1String(kind));
    QStringList texts;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        const int at = line.indexOf(marker);
        if (at > 0 && at == line.indexOf(QLatin1Char(' ')))
            texts << line.mid(at + marker.size());
    }
    return texts;
}

QList<QByteArray> LidarSim::chunks(const char *kind) const
{
    QList<QByteArray> result;
    for (const QString &text : eventTexts(kind))
        result << QByteArray::fromHex(text.toLatin1());
    return result;
}

bool LidarSim::waitForState(const QString &text, int timeoutMs)
{
    // Without an event loop: a test may need the logger not to notice anything meanwhile.
    const QDeadlineTimer deadline(timeoutMs);
    while (states().filter(text).isEmpty()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
    return true;
}

void LidarSim::vanish()
{
    if (process_.state() != QProcess::Running)
        return;
    ::kill(pid_t(process_.processId()), SIGUSR1);
    process_.waitForFinished(3000);
}

void LidarSim::stop()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(3000)) {
        process_.kill();
        process_.waitForFinished(3000);
    }
}
