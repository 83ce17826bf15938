#include "live/liveacquisition.h"

#include <QCoreApplication>
#include <QDir>

#include "common/operatorinterface.h"
#include "common/trace.h"
#include "lidar/lidarconnection.h"
#include "lidar/queries.h"
#include "live/livedatafile.h"
#include "live/livereader.h"
#include "live/liverow.h"

namespace velomark {

namespace {

bool isLiveOutputFormat(int outputFormat)
{
    return outputFormat == 1 || outputFormat == 3;
}

}  // namespace

LiveStartResult startLiveAcquisition(LidarConnection &connection, const QString &selectedText,
                                     LiveDataFile &dataFile, const std::function<rThread *()> &readerForRun)
{
    OperatorInterface &op = connection.operatorInterface();
    LiveStartResult result;
    op.showWait(QStringLiteral("Preparing lidar target acquisition, please wait ..."));

    // The connection reports its own failures.
    if (!connection.ConnectSelectedLidar(selectedText)) {
        op.closeWait();
        return result;
    }

    if (QueryLidarOperationMode(connection) != query::kSpeedMode) {
        op.inform(kMessageTitle, QStringLiteral("Please set the Lidar to \"Speed Mode\""));
        op.closeWait();
        return result;
    }

    const int outputFormat = QueueLidarOutputFormat(connection);
    result.outputFormat = outputFormat;
    if (!isLiveOutputFormat(outputFormat)) {
        op.inform(kMessageTitle, QStringLiteral("Invalid lidar data output format: %1").arg(outputFormat));
        op.closeWait();
        return result;
    }

    // The file opens before the reader starts: measurements that could not be kept must not
    // be taken at all.
    if (!dataFile.openForAppend(op)) {
        op.closeWait();
        return result;
    }

    rThread *reader = readerForRun ? readerForRun() : nullptr;
    if (!reader || !reader->startReading(connection.transport(), outputFormat)) {
        trace(lcLive(), QStringLiteral("The live reader could not take the port"));
        op.closeWait();
        return result;
    }
    result.started = true;
    return result;
}

void stopLiveReader(rThread *reader)
{
    if (!reader || !reader->isRunning())
        return;
    reader->requestStop();
    reader->wait();
}

bool stopLiveReaderForShutdown(rThread *reader, unsigned long graceMs)
{
    if (!reader || !reader->isRunning())
        return true;
    reader->requestStop();
    if (reader->wait(graceMs))
        return true;
    trace(lcLive(), QStringLiteral("The live reader did not stop within %1 ms; terminated").arg(graceMs));
    reader->terminate();
    reader->wait();
    return false;
}

QString liveConnectionLostMessage(const QString &lidarName)
{
    return QStringLiteral("Lidar %1: connection lost").arg(lidarName);
}

bool endLiveRun(LidarConnection &connection, rThread *reader, QObject *receiver, LiveDataFile &dataFile,
                const QString &lidarName, OperatorInterface &op)
{
    stopLiveReader(reader);
    // Buffers the reader emitted before it ended belong to the run and are written before the
    // file closes.
    if (receiver)
        QCoreApplication::sendPostedEvents(receiver, QEvent::MetaCall);
    dataFile.close();
    if (!reader || !reader->lostLink())
        return false;
    trace(lcLive(), QStringLiteral("Lidar %1: port lost: %2").arg(lidarName, reader->lostError()));
    connection.releaseLostPort();
    op.inform(kMessageTitle, liveConnectionLostMessage(lidarName));
    return true;
}

LiveRun::LiveRun(const QString &lidarName, const QString &dataFilePath, const QString &note)
    : m_lidarName(lidarName), m_fileName(liveDataFileName(dataFilePath)), m_note(note)
{
}

QStringList LiveRun::rowTexts(const SpeedRecord &record) const
{
    return liveRowTexts(record, m_lidarName);
}

QString LiveRun::dataLine(const SpeedRecord &record) const
{
    return liveDataLine(record, m_lidarName, m_fileName, m_note);
}

bool LiveRun::write(LiveDataFile &dataFile, const QString &line, OperatorInterface &op)
{
    if (dataFile.appendLine(line))
        return true;
    if (!m_writeFailureTold) {
        m_writeFailureTold = true;
        const QString error = dataFile.isOpen() ? dataFile.errorString() : QStringLiteral("the file is not open");
        op.inform(kMessageTitle, QStringLiteral("Open data file %1 failed with error: %2")
                                     .arg(QDir::toNativeSeparators(dataFile.fileName()), error));
    }
    return false;
}

}  // namespace velomark
