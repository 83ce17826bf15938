#pragma once
// The retrieval sequence around the dump, shared by the window and the command line: the
// preparation that puts the connected lidar into diagnostic mode and starts its dump, and
// the restore step that takes it out again.
#include <QString>

#include <functional>

namespace velomark {

class Transport;
class LidarConnection;
class OperatorInterface;
class ThreadReadDataDump;

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

// The older-firmware part of prepareRetrieval, on the connected lidar's link: configuration
// bit 2, the key sequence and "Y". The please-wait window is closed on every outcome but Ready.
PrepareOutcome startDumpWithKeys(Transport &link, OperatorInterface &op);

// Takes the lidar out of DIAG mode after a dump (also an empty or interrupted one): the framed
// leave command, or the key sequence followed by writing back the configuration flags with
// bit 2 cleared. Closes the please-wait window on every path; true only when the lidar
// confirmed that it left DIAG mode ("Disabled" and the flags written back, or the framed
// echo). Otherwise the operator is told once: "The DIAG is still enabled in laser" when the
// status said so, else that the lidar may still be in DIAG mode (title kMessageTitle).
bool restoreFromDiagMode(LidarConnection &connection, OperatorInterface &op);

// How a download ended.
enum class DownloadEnd {
    Complete,        // the lidar fell silent after sending its log
    Empty,           // the lidar sent nothing
    ConnectionLost,  // the link failed: the log is incomplete
    Stopped,         // cut short on request (cancel, interrupt, shutdown): the log is incomplete
};

struct DownloadResult
{
    DownloadEnd end = DownloadEnd::Empty;
    bool diagnosticModeLeft = false;
};

// What follows a dump once its reader has ended, the same for the window and the command
// line: a lost link is released (nobody would hear a restore), the rows that arrived are
// shown as incomplete and the operator is told; otherwise the rows are shown (show(incomplete),
// only when bytes arrived) and the lidar leaves DIAG mode. Then the reader's pendingMessage is
// told and cleared. show may be empty: the rows are not wanted (shutdown).
DownloadResult finishDownload(LidarConnection &connection, const ThreadReadDataDump &reader,
                              const QString &lidarName, QString &pendingMessage, OperatorInterface &op,
                              const std::function<void(bool incomplete)> &show);

QString restoreFailedMessage(const QString &lidarName);
// What the operator is told, once, when the port failed during the download.
QString downloadLostMessage(const QString &lidarName);

}  // namespace velomark
