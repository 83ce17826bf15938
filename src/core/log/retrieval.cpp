#include "log/retrieval.h"

#include <QThread>

#include "common/operatorinterface.h"
#include "common/text.h"
#include "lidar/diagnostics.h"
#include "common/trace.h"
#include "lidar/lidarconnection.h"
#include "log/dumpreader.h"

namespace velomark {

namespace {

const QString kEnterLabel = QStringLiteral("OnBtnRetrieveLogClicked");
const QString kLeaveLabel = QStringLiteral("DisplayLoggedData");

PrepareOutcome abandon(OperatorInterface &op)
{
    op.closeWait();
    return PrepareOutcome::Abandoned;
}

}  // namespace

PrepareOutcome startDumpWithKeys(Transport &link, OperatorInterface &op)
{
    const ConfigRead read = ReadConfigFlags(link, kEnterLabel, QStringLiteral("Configuration flag"), op);
    if (!read.written)
        return abandon(op);
    // Without a value read, writing flags back would overwrite every setting of the lidar.
    if (!read.value) {
        op.closeWait();
        op.inform(applicationTitle(),
                  read.reply.isEmpty()
                      ? QStringLiteral("Configuration flag: Lidar does not respond to command")
                      : QStringLiteral("Configuration flag: Invalid data: \n") + hexBytes(read.reply));
        return PrepareOutcome::Abandoned;
    }
    // From the first write of the retrieval bit on (echoed or not: the lidar may have taken
    // it), a retrieval that gives up puts the flags back as they were read, so the lidar is
    // not left changed.
    const auto giveUp = [&](const QString &message) {
        if (!message.isEmpty())
            op.inform(applicationTitle(), message);
        WriteConfigFlags(link, *read.value, QStringLiteral("Exit DIAG mode"), op);
        return abandon(op);
    };
    if (!WriteConfigFlags(link, quint8(*read.value | diag::kLogRetrievalBit), QStringLiteral("UpdateConfigBits"), op))
        return giveUp(QString());

    // The key sequence toggles DIAG mode, so a lidar that was already in it needs a second go.
    bool enabled = false;
    for (int attempt = 0; attempt < 2 && !enabled; ++attempt) {
        if (!SendKeySequence(link, true, op))
            return giveUp(QString());
        const QByteArray status = ReadDiagStatus(link, timeout::kReply, kEnterLabel);
        if (status.isEmpty())
            return giveUp(QStringLiteral("DIAG status: No response from the lidar"));
        enabled = status.contains("Enabled");
    }
    if (!enabled)
        return giveUp(QStringLiteral("The log retrieval is disbled in laser"));
    if (!SendDumpKey(link, op))
        return giveUp(QString());
    return PrepareOutcome::Ready;
}

namespace {

// The key sequence and the flags written back; true when the flags were. *disabled tells
// whether the status said the lidar left DIAG mode; when it did not, the operator has heard so.
bool leaveWithKeys(Transport &link, OperatorInterface &op, bool *disabled)
{
    if (!SendKeySequence(link, false, op))
        return false;
    const QByteArray status = ReadDiagStatus(link, timeout::kDiagLeaveReply, kLeaveLabel);
    // The flags are written back whatever the status said.
    *disabled = status.contains("Disabled");
    if (!*disabled)
        op.inform(applicationTitle(), QStringLiteral("The DIAG is still enabled in laser"));

    QThread::msleep(diag::kKeyPauseMs);
    const ConfigRead read = ReadConfigFlags(link, kLeaveLabel, kLeaveLabel, op);
    if (!read.written)
        return false;
    if (!read.value) {
        op.inform(kMessageTitle, read.reply.isEmpty()
                                     ? QStringLiteral("DisplayLoggedData: No response from lidar")
                                     : QStringLiteral("DisplayLoggedData: Invalid data received: \n")
                                           + hexBytes(read.reply));
        return false;
    }
    return WriteConfigFlags(link, quint8(*read.value & ~diag::kLogRetrievalBit), QStringLiteral("Exit DIAG mode"), op);
}

}  // namespace

PrepareOutcome prepareRetrieval(LidarConnection &connection, const QString &selectedText, OperatorInterface &op)
{
    if (!connection.ConnectSelectedLidar(selectedText)) {
        op.closeWait();
        return PrepareOutcome::NotConnected;
    }
    if (!connection.hasStoredLog()) {
        op.inform(applicationTitle(), QStringLiteral("This lidar is not capable of logging data"));
        op.closeWait();
        return PrepareOutcome::NoStoredLog;
    }
    Transport &link = *connection.transport();
    link.purge(Purge::Both);
    if (!connection.framedDiagCommands())
        return startDumpWithKeys(link, op);
    if (!SetDiagMode(link, true, op) || !StartDataRetrieval(link, op))
        return abandon(op);
    return PrepareOutcome::Ready;
}

bool restoreFromDiagMode(LidarConnection &connection, OperatorInterface &op)
{
    Transport &link = *connection.transport();
    bool disabled = true;
    const bool sent = connection.framedDiagCommands() ? SetDiagMode(link, false, op)
                                                      : leaveWithKeys(link, op, &disabled);
    op.closeWait();
    if (!sent)
        op.inform(kMessageTitle, restoreFailedMessage(connection.connectedLidarName));
    return sent && disabled;
}

DownloadResult finishDownload(LidarConnection &connection, const ThreadReadDataDump &reader,
                              const QString &lidarName, QString &pendingMessage, OperatorInterface &op,
                              const std::function<void(bool incomplete)> &show)
{
    DownloadResult result;
    const bool received = reader.bytesReceived() > 0;
    switch (reader.endReason()) {
    case ThreadReadDataDump::EndReason::PortFailed:
        result.end = DownloadEnd::ConnectionLost;
        break;
    case ThreadReadDataDump::EndReason::StopRequested:
        result.end = DownloadEnd::Stopped;
        break;
    case ThreadReadDataDump::EndReason::Silence:
        result.end = received ? DownloadEnd::Complete : DownloadEnd::Empty;
        break;
    }
    const bool incomplete = result.end == DownloadEnd::ConnectionLost || result.end == DownloadEnd::Stopped;
    if (received && show)
        show(incomplete);
    if (result.end == DownloadEnd::ConnectionLost) {
        // The dead link is let go: nothing polls it, and the next action connects again.
        trace(lcLog(), QStringLiteral("Lidar %1: port lost: %2").arg(lidarName, reader.portError()));
        connection.releaseLostPort();
        op.closeWait();
        op.inform(kMessageTitle, downloadLostMessage(lidarName));
    } else if (connection.isOpen()) {
        // An empty dump still leaves the lidar in DIAG mode (and with bit 2 set).
        result.diagnosticModeLeft = restoreFromDiagMode(connection, op);
    } else {
        op.closeWait();
    }
    if (!pendingMessage.isEmpty()) {
        op.inform(applicationTitle(), pendingMessage);
        pendingMessage.clear();
    }
    return result;
}

QString restoreFailedMessage(const QString &lidarName)
{
    return QStringLiteral("Lidar %1 may still be in diagnostic mode: switch it off and on again").arg(lidarName);
}

QString downloadLostMessage(const QString &lidarName)
{
    return QStringLiteral("Lidar %1: connection lost during the log download; the log is incomplete").arg(lidarName);
}

}  // namespace velomark
