#include "lidar/diagnostics.h"

#include <QCoreApplication>
#include <QThread>

#include "common/operatorinterface.h"
#include "common/trace.h"
#include "lidar/frame.h"
#include "lidar/lidarconnection.h"

namespace velomark {

bool EraseLidarData(LidarChannel &channel, OperatorInterface &op)
{
    return SendCommand(channel, eraseFrame(), QStringLiteral("EraseLidarData"), true, op);
}

EraseOutcome eraseStoredLog(LidarConnection &connection, const QString &selectedText, OperatorInterface &op)
{
    if (!op.ask(applicationTitle(), QStringLiteral("Do you want to erase the logged data in lidar ?")))
        return EraseOutcome::Declined;
    op.showWait(QCoreApplication::translate("Vantrix", "Erasing logged data from lidar, please wait ..."));
    if (!connection.ConnectSelectedLidar(selectedText)) {
        op.closeWait();
        return EraseOutcome::NotConnected;
    }
    if (!connection.hasStoredLog()) {
        op.inform(applicationTitle(), QStringLiteral("The lidar has no data storage"));
        op.closeWait();
        return EraseOutcome::NoStorage;
    }
    LidarChannel channel = connection.channel();
    const bool erased = EraseLidarData(channel, op);
    op.closeWait();
    op.inform(applicationTitle(), erased ? kEraseSucceeded
                                         : QStringLiteral("No response. Try again"));
    return erased ? EraseOutcome::Erased : EraseOutcome::NoResponse;
}

bool SetDiagMode(LidarChannel &channel, bool enter, OperatorInterface &op)
{
    return SendCommand(channel, diagModeFrame(enter),
                       enter ? QStringLiteral("Set to DIAG mode") : QStringLiteral("Exit DIAG mode"), true, op);
}

bool StartDataRetrieval(LidarChannel &channel, OperatorInterface &op)
{
    return WritePort(channel, dumpStartFrame(), QStringLiteral("Data Retrieval command"), op);
}

bool SendDumpKey(LidarChannel &channel, OperatorInterface &op)
{
    return WritePort(channel, QByteArrayLiteral("Y"), QStringLiteral("Sending 'Y'"), op);
}

ConfigRead ReadConfigFlags(LidarChannel &channel, const QString &writeLabel, const QString &readLabel,
                           OperatorInterface &op)
{
    ConfigRead read;
    read.written = WritePort(channel, configReadFrame(), writeLabel, op);
    if (!read.written)
        return read;
    read.reply = ReadPort(channel, timeout::kReply, -1, readLabel, replyFrameEnd(QByteArray::fromHex("020958")));
    read.value = configFlagValue(read.reply);
    return read;
}

bool WriteConfigFlags(LidarChannel &channel, quint8 value, const QString &label, OperatorInterface &op)
{
    return SendCommand(channel, configWriteFrame(value), label, true, op);
}

bool SendKeySequence(LidarChannel &channel, bool entering, OperatorInterface &op)
{
    channel.purge(Purge::Both);
    if (!WritePort(channel, QByteArrayLiteral("%"), QStringLiteral("Sending '%'"), op))
        return false;
    QThread::msleep(diag::kKeyPauseMs);
    if (!WritePort(channel, QByteArrayLiteral("{"), QStringLiteral("Sending '{'"), op))
        return false;
    QThread::msleep(diag::kKeyPauseMs);
    return WritePort(channel, QByteArrayLiteral("<"),
                     entering ? QStringLiteral("Sending '<'") : QStringLiteral("Sending '<"), op);
}

QByteArray ReadDiagStatus(LidarChannel &channel, int firstWaitMs, const QString &label)
{
    const QByteArray reply = ReadPort(channel, firstWaitMs, -1, label);
    trace(lcLidar(), label + QStringLiteral(": DIAG status: ") + QString::fromLatin1(reply));
    return reply;
}

}  // namespace velomark
