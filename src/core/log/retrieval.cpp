#include "log/retrieval.h"

#include <QThread>

#include "common/operatorinterface.h"
#include "common/text.h"
#include "lidar/diagnostics.h"
#include "lidar/lidarconnection.h"

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

PrepareOutcome startDumpWithKeys(LidarChannel &channel, OperatorInterface &op)
{
    const ConfigRead read = ReadConfigFlags(channel, kEnterLabel, QStringLiteral("Configuration flag"), op);
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
        WriteConfigFlags(channel, *read.value, QStringLiteral("Exit DIAG mode"), op);
        return abandon(op);
    };
    if (!WriteConfigFlags(channel, quint8(*read.value | diag::kLogRetrievalBit), QStringLiteral("UpdateConfigBits"), op))
        return giveUp(QString());

    // The key sequence toggles DIAG mode, so a lidar that was already in it needs a second go.
    bool enabled = false;
    for (int attempt = 0; attempt < 2 && !enabled; ++attempt) {
        if (!SendKeySequence(channel, true, op))
            return giveUp(QString());
        const QByteArray status = ReadDiagStatus(channel, timeout::kReply, kEnterLabel);
        if (status.isEmpty())
            return giveUp(QStringLiteral("DIAG status: No response from the lidar"));
        enabled = status.contains("Enabled");
    }
    if (!enabled)
        return giveUp(QStringLiteral("The log retrieval is disbled in laser"));
    if (!SendDumpKey(channel, op))
        return giveUp(QString());
    return PrepareOutcome::Ready;
}

namespace {

bool leaveWithKeys(LidarChannel &channel, OperatorInterface &op)
{
    if (!SendKeySequence(channel, false, op))
        return false;
    const QByteArray status = ReadDiagStatus(channel, timeout::kDiagLeaveReply, kLeaveLabel);
    // The flags are written back whatever the status said.
    if (!status.contains("Disabled"))
        op.inform(applicationTitle(), QStringLiteral("The DIAG is still enabled in laser"));

    QThread::msleep(diag::kKeyPauseMs);
    const ConfigRead read = ReadConfigFlags(channel, kLeaveLabel, kLeaveLabel, op);
    if (!read.written)
        return false;
    if (!read.value) {
        op.inform(kMessageTitle, read.reply.isEmpty()
                                     ? QStringLiteral("DisplayLoggedData: No response from lidar")
                                     : QStringLiteral("DisplayLoggedData: Invalid data received: \n")
                                           + hexBytes(read.reply));
        return false;
    }
    return WriteConfigFlags(channel, quint8(*read.value & ~diag::kLogRetrievalBit), QStringLiteral("Exit DIAG mode"), op);
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
    LidarChannel channel = connection.channel();
    channel.purge(Purge::Both);
    if (!connection.framedDiagCommands())
        return startDumpWithKeys(channel, op);
    if (!SetDiagMode(channel, true, op) || !StartDataRetrieval(channel, op))
        return abandon(op);
    return PrepareOutcome::Ready;
}

bool restoreFromDiagMode(LidarConnection &connection, OperatorInterface &op)
{
    LidarChannel channel = connection.channel();
    const bool restored = connection.framedDiagCommands() ? SetDiagMode(channel, false, op)
                                                          : leaveWithKeys(channel, op);
    op.closeWait();
    if (!restored)
        op.inform(kMessageTitle, restoreFailedMessage(connection.connectedLidarName));
    return restored;
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
