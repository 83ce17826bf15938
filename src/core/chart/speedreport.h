#pragma once
// What a speed-study report says beside its figures and charts: where the rows come from,
// which lidar measured them, over which period, through which filter, and the evidence of the
// download they came from.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

#include "chart/speedseries.h"
#include "chart/speedstats.h"
#include "log/logrows.h"

namespace velomark {

// The download record found beside the report's input file.
struct SpeedReportRecord
{
    QString path;
    QByteArray dumpSha256;  // lower-case hex, as the record holds it
    bool inputIsDump = false;  // the input's SHA-256 is the record's dump digest
    bool isSigned = false;     // a signature "<record>.p7s" lies beside the record
};

struct SpeedReport
{
    QString title;
    QString source;       // the input file's name, or the list the rows come from
    QString lidarName;    // from a download record; empty when unknown
    QStringList lidarIds;  // the rows' Lidar_Id texts, each once, in order of first appearance
    QDateTime first;       // the lidar's wall clock (UTC-held) of the earliest and latest row;
    QDateTime last;        // invalid without a dated row
    QString filter;        // filterText of the date filter
    SpeedStats stats;
    std::optional<SpeedReportRecord> record;
};

// "all records" or "2024-12-25 to 2024-12-31" (both days included).
QString filterText(const LogDateFilter &filter);

// What a report says of a download record: its dump digest and whether it is signed (a
// signature "<record>.p7s" beside it).
SpeedReportRecord speedReportRecord(const QString &recordPath, const QByteArray &dumpSha256, bool inputIsDump);

// A report of these rows (texts as the list of that kind shows them) with their figures.
SpeedReport speedReportOf(const QVector<QStringList> &rows, ChartRows kind, const SpeedStats &stats,
                          const LogDateFilter &filter, const QString &title, const QString &source);

// The download record "<stem>.json" beside an input file "<stem>.<anything>": when there is
// one, the report names its lidar and carries its dump digest, whether the input is that dump
// and whether it is signed. Returns why a record there could not be read; empty when there is
// none or it was taken in.
QString addDownloadRecord(SpeedReport *report, const QString &inputPath, const QByteArray &inputBytes);

}  // namespace velomark
