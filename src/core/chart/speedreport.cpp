#include "chart/speedreport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include "log/downloadrecord.h"

namespace velomark {

QString filterText(const LogDateFilter &filter)
{
    if (filter.allRecords)
        return QStringLiteral("all records");
    return QStringLiteral("%1 to %2")
        .arg(filter.start.toString(Qt::ISODate), filter.end.toString(Qt::ISODate));
}

SpeedReportRecord speedReportRecord(const QString &recordPath, const QByteArray &dumpSha256, bool inputIsDump)
{
    return SpeedReportRecord{recordPath, dumpSha256, inputIsDump, QFileInfo::exists(recordPath + QStringLiteral(".p7s"))};
}

SpeedReport speedReportOf(const QVector<QStringList> &rows, ChartRows kind, const SpeedStats &stats,
                          const LogDateFilter &filter, const QString &title, const QString &source)
{
    SpeedReport report;
    report.title = title;
    report.source = source;
    report.filter = filterText(filter);
    report.stats = stats;
    for (const QStringList &row : rows) {
        const QString id = row.value(LogLidarId);
        if (!id.isEmpty() && !report.lidarIds.contains(id))
            report.lidarIds.append(id);
        const QDateTime at = chartRowTime(row, kind);
        if (!at.isValid())
            continue;
        if (!report.first.isValid() || at < report.first)
            report.first = at;
        if (!report.last.isValid() || at > report.last)
            report.last = at;
    }
    return report;
}

QString addDownloadRecord(SpeedReport *report, const QString &inputPath, const QByteArray &inputBytes)
{
    const QFileInfo input(inputPath);
    const QString path = input.dir().filePath(input.completeBaseName() + QStringLiteral(".json"));
    // The input may itself be the record's JSON, which describes no rows.
    if (!QFileInfo::exists(path) || QFileInfo(path) == input)
        return QString();
    const LoadedRecord loaded = loadDownloadRecord(path);
    if (!loaded.record)
        return loaded.error;
    const DownloadRecord &record = *loaded.record;
    report->lidarName = record.facts.lidar.name;
    // A dump's rows carry no Lidar_Id of their own; the record's lidar gives it, as in the window.
    const QString id = lidarIdOf(record.facts.lidar.name);
    if (report->lidarIds.isEmpty() && !id.isEmpty())
        report->lidarIds.append(id);
    const QByteArray digest = QCryptographicHash::hash(inputBytes, QCryptographicHash::Sha256).toHex();
    report->record = speedReportRecord(path, record.dumpSha256, digest == record.dumpSha256);
    return QString();
}

}  // namespace velomark
