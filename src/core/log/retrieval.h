#pragma once
// The retrieval sequence around the dump, shared by the window and the command line: the
// preparation that puts the connected lidar into diagnostic mode and starts its dump, and
// the restore step that takes it out again.
#include <QString>

namespace velomark {

class LidarChannel;
class LidarConnection;
class OperatorInterface;

enum class PrepareOutcome {
    Ready,         // the lidar is in DIAG mode and its dump has been started
    NotConnected,  // no port open for the selected lidar
    NoStoredLog,   // a lidar type that keeps no log
    Abandoned,     // a command failed; the operator has been told, if there was anything to tell
};

// Connects the lidar named selectedText and starts its dump: firmware 9.3 or later with the
// framed DIAG and start commands; older firmware with configuration bit 2, the key sequence
// (at most two attempts until the status reads "Enabled") and "Y". The please-wait window
// is closed on every outcome but Ready.
PrepareOutcome prepareRetrieval(LidarConnection &connection, const QString &selectedText,
                                OperatorInterface &op);

// The older-firmware part of prepareRetrieval, on the connected lidar's channel: configuration
// bit 2, the key sequence and "Y". The please-wait window is closed on every outcome but Ready.
PrepareOutcome startDumpWithKeys(LidarChannel &channel, OperatorInterface &op);

// Takes the lidar out of DIAG mode after a dump (also an empty or interrupted one): the framed
// leave command, or the key sequence followed by writing back the configuration flags with
// bit 2 cleared. Closes the please-wait window on every path; true when the lidar confirmed
// the last command. Otherwise the operator is told once that the lidar may still be in DIAG
// mode (restoreFailedMessage, title kMessageTitle).
bool restoreFromDiagMode(LidarConnection &connection, OperatorInterface &op);

QString restoreFailedMessage(const QString &lidarName);
// What the operator is told, once, when the port failed during the download.
QString downloadLostMessage(const QString &lidarName);

}  // namespace velomark
