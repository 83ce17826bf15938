#include "lidar/diagnostics.h"

#include <QCoreApplication>
#include <QThread>

#include "common/operatorinterface.h"
#include "common/trace.h"
#include "lidar/frame.h"
#include "lidar/lidarconnection.h"

namespace velomark {

bool EraseLidarData(Transport &link, OperatorInterface &op)
{
    return SendCommand(link, eraseFrame(), QStringLiteral("EraseLidarData"), true, op);
}

EraseOutcome eraseStoredLog(LidarConnection &connection, const QString &selectedText, OperatorInterface &op,
                            const QString &questionPreface)
{
    const QString question = QStringLiteral("Do you want to erase the logged data in lidar ?");
    if (!op.ask(applicationTitle(), questionPreface.isEmpty() ? question : questionPreface + QLatin1Char('\n') + question))
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
    Transport &link = *connection.transport();
    const bool erased = EraseLidarData(link, op);
    op.closeWait();
    op.inform(applicationTitle(), erased ? kEraseSucceeded
                                         : QStringLiteral("No response. Try again"));
    return erased ? EraseOutcome::Erased : EraseOutcome::NoResponse;
}

bool SetDiagMode(Transport &link, bool enter, OperatorInterface &op)
{
    return SendCommand(link, diagModeFrame(enter),
                       enter ? QStringLiteral("Set to DIAG mode") : QStringLiteral("Exit DIAG mode"), true, op);
}

bool StartDataRetrieval(Transport &link, OperatorInterface &op)
{
    return WritePort(link, dumpStartFrame(), QStringLiteral("Data Retrieval command"), op);
}

bool SendDumpKey(Transport &link, OperatorInterface &op)
{
    return WritePort(link, QByteArrayLiteral("Y"), QStringLiteral("Sending 'Y'"), op);
}

ConfigRead ReadConfigFlags(Transport &link, const QString &writeLabel, const QString &readLabel,
                           OperatorInterface &op)
{
    ConfigRead read;
    read.written = WritePort(link, configReadFrame(), writeLabel, op);
    if (!read.written)
        return read;
    read.reply = ReadPort(link, timeout::kReply, -1, readLabel, replyFrameEnd(QByteArray::fromHex("020958")));
    read.value = configFlagValue(read.reply);
    return read;
}

bool WriteConfigFlags(Transport &link, quint8 value, const QString &label, OperatorInterface &op)
{
    return SendCommand(link, configWriteFrame(value), label, true, op);
}

bool SendKeySequence(Transport &link, bool entering, OperatorInterface &op)
{
    link.purge(Purge::Both);
    if (!WritePort(link, QByteArrayLiteral("%"), QStringLiteral("Sending '%'"), op))
        return false;
    QThread::msleep(diag::kKeyPauseMs);
    if (!WritePort(link, QByteArrayLiteral("{"), QStringLiteral("Sending '{'"), op))
        return false;
    QThread::msleep(diag::kKeyPauseMs);
    return WritePort(link, QByteArrayLiteral("<"),
                     entering ? QStringLiteral("Sending '<'") : QStringLiteral("Sending '<"), op);
}

QByteArray ReadDiagStatus(Transport &link, int firstWaitMs, const QString &label)
{
    const QByteArray reply = ReadPort(link, firstWaitMs, -1, label);
    trace(lcLidar(), label + QStringLiteral(": DIAG status: ") + QString::fromLatin1(reply));
    return reply;
}

}  // namespace velomark
