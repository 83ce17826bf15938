#pragma once
// Start and Stop of live acquisition, shared by the window and the command line: the checks
// and messages of Start, the hand-over of the port to the live reader, the stop (with or
// without a time limit) and the writing of measurement lines during one run.
#include <QByteArray>
#include <QObject>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include "live/speedrecord.h"

namespace velomark {

class LidarConnection;
class LiveDataFile;
class OperatorInterface;
class rThread;

// Grace the reader gets at shutdown before it is terminated.
constexpr unsigned long kLiveShutdownGraceMs = 1500;

struct LiveStartResult
{
    bool started = false;
    // The lidar's answer to the output-format query (also when it was refused); nothing when
    // the query was not reached.
    std::optional<int> outputFormat;
};

// Start: behind the please-wait window, connects the selected lidar (selectedText names its
// entry), checks speed mode and output format 1 or 3, opens the data file for appending and
// hands the open port to the reader that readerForRun() returns (called only once every check
// passed, so the caller may create its reader there). Each refusal has been told to the
// operator and closes the please-wait window; the port then stays open. On success the
// please-wait window is still open: the caller closes it once its own state says "running".
LiveStartResult startLiveAcquisition(LidarConnection &connection, const QString &selectedText,
                                     LiveDataFile &dataFile, const std::function<rThread *()> &readerForRun);

// Stop: asks the reader to end and waits for it without limit (it looks at its stop flag at
// least once a second). Nothing when there is no reader or it does not run.
void stopLiveReader(rThread *reader);

// Shutdown: asks the reader to end, waits graceMs, then terminates it. True when it ended by
// itself (and so handed the port back).
bool stopLiveReaderForShutdown(rThread *reader, unsigned long graceMs = kLiveShutdownGraceMs);

// What the operator is told, once, when the connected lidar's port vanished.
QString liveConnectionLostMessage(const QString &lidarName);

// The end of a live run, the same for the window and the command line: the reader is asked to
// stop and waited for (it looks at its stop flag at least once a second), the records it
// handed on that still wait in receiver's queue are delivered, the data file is closed, and a
// link lost during the run is released and told once (title kMessageTitle). True when the
// link was lost; otherwise the lidar stays connected.
bool endLiveRun(LidarConnection &connection, rThread *reader, QObject *receiver, LiveDataFile &dataFile,
                const QString &lidarName, OperatorInterface &op);

// What one run writes with every line: fixed at Start, so that selecting another lidar or
// typing another note during the run does not relabel its measurements.
class LiveRun
{
public:
    LiveRun() = default;
    LiveRun(const QString &lidarName, const QString &dataFilePath, const QString &note);

    const QString &lidarName() const { return m_lidarName; }
    const QString &note() const { return m_note; }

    // The row texts and the file line of a measurement of this run.
    QStringList rowTexts(const SpeedRecord &record) const;
    QString dataLine(const SpeedRecord &record) const;

    // Writes and flushes one line. The first failure of the run is told to the operator as
    // "Open data file %1 failed with error: %2"; later ones only return false.
    bool write(LiveDataFile &dataFile, const QString &line, OperatorInterface &op);

private:
    QString m_lidarName;
    QString m_fileName;
    QString m_note;
    bool m_writeFailureTold = false;
};

}  // namespace velomark
