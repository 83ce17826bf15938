#pragma once
// The download archive: every dump that brought bytes is kept byte for byte under a name that
// is never reused, beside a record (JSON) of the lidar, the workstation, the times, how the
// download ended and the SHA-256 of the dump and of every file saved from it. The record is
// replaced whole (QSaveFile) whenever something is added; the dump file is never written again.
#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVector>

#include <optional>

#include "log/logrows.h"
#include "log/retrieval.h"

namespace velomark {

inline const QString kDownloadRecordFormat = QStringLiteral("velomark-download-record");
constexpr int kDownloadRecordVersion = 1;

// $XDG_DATA_HOME/velomark/downloads (on Linux ~/.local/share/velomark/downloads by default).
QString defaultDownloadArchive();

// The record's "end": "complete", "connectionLost", "empty", and for a stopped download
// "interrupted" (SIGINT or SIGTERM of the command line) or "stopped" (the window's cancel or
// shutdown).
QString downloadEndText(DownloadEnd end, bool interruptedBySignal);

struct DownloadLidar
{
    QString name;
    QString address;
    QString port;
    int type = 6;
    QString firmware;
};

class LidarConnection;

// The connected lidar as a record names it; name is the lidar's name (the list text, or the
// name given on the command line).
DownloadLidar downloadLidarOf(const LidarConnection &connection, const QString &name);

// What the caller knows about a download once finishDownload has returned.
struct DownloadFacts
{
    DownloadLidar lidar;
    QDateTime started;  // UTC
    QDateTime finished;  // UTC
    QString end;         // see downloadEndText
    bool diagnosticModeLeft = false;
    std::optional<LogDateFilter> filter;  // the date filter of the rows, when one was set
};

struct SavedFile
{
    QString file;  // absolute path
    QByteArray sha256;  // lower-case hex
    qint64 rows = 0;
    QDateTime at;
};

struct DownloadRecord
{
    QString path;  // where the record lives; the dump file is beside it
    QString program;
    QString workstation;
    QString operatorName;
    DownloadFacts facts;
    QString timeZone;
    QString dumpFile;  // a name in the record's folder
    qint64 dumpBytes = 0;
    QByteArray dumpSha256;  // lower-case hex
    int validRecords = 0;
    int rejectedLines = 0;
    QString firstRecord;  // "2024-12-25 14:30:15"; empty when the record carries no clock
    QString lastRecord;
    QVector<SavedFile> saved;
    std::optional<QDateTime> erasedAt;
};

// Each operation returns its error text as a value; empty means it succeeded.
struct ArchiveResult
{
    DownloadRecord record;
    QString error;
};

// Keeps the dump in the archive folder (made when missing) as
// "<lidar name>_<yyyyMMddTHHmmssZ of facts.started>.dump", with "-2", "-3"... when that stem
// is taken, created exclusively, and writes its record "<stem>.json" beside it.
ArchiveResult archiveDownload(const QString &archiveDir, const QByteArray &dump, const DownloadFacts &facts);

// Adds a file made from the dump (its digest as it is on disk now) and rewrites the record.
QString addSavedFile(DownloadRecord &record, const QString &path, qint64 rows);

// Notes that the lidar's log was erased at `at` and rewrites the record.
QString addErase(DownloadRecord &record, const QDateTime &at);

// Replaces the record's file with its JSON text.
QString writeDownloadRecord(const DownloadRecord &record);

struct LoadedRecord
{
    std::optional<DownloadRecord> record;
    QString error;  // why the file is unreadable or no download record; empty when loaded
};
LoadedRecord loadDownloadRecord(const QString &path);

// One file of a record, checked against the digest the record holds.
struct VerifiedFile
{
    enum Status { Ok, Mismatch, Missing };
    Status status = Missing;
    QString kind;  // "dump" or "saved"
    QString file;  // as the record names it
};
QVector<VerifiedFile> verifyDownloadFiles(const DownloadRecord &record);

}  // namespace velomark
