#pragma once
// The log on disk: the raw dump kept as "logDump.txt", the log CSV that Save writes, and the
// loading of a dump file. Files are replaced through QSaveFile, so a failed write leaves the
// old file whole.
#include <functional>
#include <optional>

#include <QByteArray>
#include <QString>
#include <QVector>

#include "live/speedrecord.h"
#include "log/logrows.h"

namespace velomark {

class OperatorInterface;

// The copy of the last dump, in the working directory.
inline const QString kLogDumpFileName = QStringLiteral("logDump.txt");

struct FileWriteResult
{
    bool ok = false;
    QString errorString;  // the file's error when not ok
};

// Replaces the file with exactly the dump bytes (no line-end translation).
FileWriteResult writeLogDump(const QByteArray &dump, const QString &path = kLogDumpFileName);

// Replaces the file with the log CSV text (text mode: native line ends).
FileWriteResult writeLogCsv(const QByteArray &csvText, const QString &path);

// The log CSV of a dump, as logCsvText(logRows(decodeLogDump(dump), filter, lidarId)) gives it,
// decoded and written piece by piece: `write` gets the header, then the lines of a few
// thousand dump lines at a time, so that a dump of millions of lines never stands in memory
// as records and text at once. Stops and returns false as soon as `write` returns false.
bool writeDumpCsv(const QByteArray &dump, const LogDateFilter &filter, const QString &lidarId,
                  const std::function<bool(const QByteArray &)> &write);

// Replaces the file with the bytes as they are (a GPX file, say).
FileWriteResult writeBinaryFile(const QByteArray &bytes, const QString &path);

// Saved: the log CSV; SavedPositions: the GPX of the rows' positions (a name ending in ".gpx").
enum class LogSaveOutcome { NoRows, Cancelled, Saved, SavedPositions, Failed };

// Save on the log tab: builds the log text buffer from the shown rows, asks for the file
// (starting at `startPath`, the live data file's path) and writes it, telling the operator
// how it went. The buffer keeps the new text even when the choice is cancelled or the write
// fails; with no rows it is left untouched. A file name ending in ".gpx" gets the GPX of the
// rows that carry a position instead, and the operator hears how many were left out.
// savedPath, when given, receives the path written; afterWrite, when given, runs once the file
// is written and the line it returns (if any) goes into the message that tells of the save.
LogSaveOutcome saveLogRows(const QVector<LogRow> &rows, const QString &startPath, OperatorInterface &op,
                           QByteArray *logText, QString *savedPath = nullptr,
                           const std::function<QString(const QString &path)> &afterWrite = {});

// The name Save proposes for rows: "<Lidar_Id>_<first date>_<last date>.csv" (the earliest and
// latest date among them; "log" when they carry no Lidar_Id).
QString proposedLogFileName(const QVector<LogRow> &rows);

// "Load Data File ...": asks for a file, starting in startDir. Empty when cancelled; native
// separators otherwise.
QString chooseDataFileToLoad(OperatorInterface &op, const QString &startDir);

// The records of a dump file; nothing when no file was chosen (empty path). A file that
// cannot be read, or holds no dump line (a live data file, say), gives no records.
std::optional<QVector<SpeedRecord>> loadDataFile(const QString &path);

}  // namespace velomark
