#include "log/logfiles.h"

#include <QRegularExpression>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <cstring>

#include "common/operatorinterface.h"
#include "log/logdecoder.h"
#include "log/loggpx.h"

namespace velomark {

namespace {

FileWriteResult writeWhole(const QByteArray &bytes, const QString &path, QIODevice::OpenMode mode)
{
    QSaveFile file(path);
    if (!file.open(mode))
        return {false, file.errorString()};
    if (file.write(bytes) != bytes.size()) {
        const QString error = file.errorString();
        file.cancelWriting();
        return {false, error};
    }
    if (!file.commit())
        return {false, file.errorString()};
    return {true, QString()};
}

}  // namespace

FileWriteResult writeLogDump(const QByteArray &dump, const QString &path)
{
    return writeWhole(dump, path, QIODevice::WriteOnly);
}

FileWriteResult writeBinaryFile(const QByteArray &bytes, const QString &path)
{
    return writeWhole(bytes, path, QIODevice::WriteOnly);
}

FileWriteResult writeLogCsv(const QByteArray &csvText, const QString &path)
{
    return writeWhole(csvText, path, QIODevice::WriteOnly | QIODevice::Text);
}

bool writeDumpCsv(const QByteArray &dump, const LogDateFilter &filter, const QString &lidarId,
                  const std::function<bool(const QByteArray &)> &write)
{
    QByteArray csv(kLogCsvHeader);
    if (!write(csv))
        return false;
    // The dump ends at its first NUL byte; the pieces end before a line feed and the next
    // begins after it, so the decoder sees every line as in one piece, the last one included.
    const char *const data = dump.constData();
    const char *const nul = static_cast<const char *>(std::memchr(data, '\0', size_t(dump.size())));
    const char *const end = nul ? nul : data + dump.size();
    constexpr int kPieceBytes = 1 << 18;
    QVector<SpeedRecord> records;
    const char *start = data;
    for (;;) {
        const char *cut = end;
        if (end - start > kPieceBytes) {
            const char *feed = static_cast<const char *>(std::memchr(start + kPieceBytes, '\n', size_t(end - start - kPieceBytes)));
            if (feed)
                cut = feed;
        }
        records.clear();
        DecodeLogDump(QByteArray::fromRawData(start, int(cut - start)), records);
        csv.clear();
        appendLogCsvLines(records, filter, lidarId, &csv);
        if (!csv.isEmpty() && !write(csv))
            return false;
        if (cut == end)
            return true;
        start = cut + 1;
    }
}

LogSaveOutcome saveLogRows(const QVector<LogRow> &rows, const QString &startPath, OperatorInterface &op,
                           QByteArray *logText, QString *savedPath,
                           const std::function<QString(const QString &path)> &afterWrite)
{
    if (rows.isEmpty()) {
        op.inform(applicationTitle(),
                  QCoreApplication::translate("Vantrix", "Cannot find any logged data to save"));
        return LogSaveOutcome::NoRows;
    }
    *logText = logCsvText(rows);

    const QString path = QDir::toNativeSeparators(op.chooseSaveFile(
        applicationTitle(), startPath,
        QStringLiteral("CSV files (*.csv);;GPS Exchange (*.gpx);;All files (*.*)"), true));
    if (path.isEmpty())
        return LogSaveOutcome::Cancelled;

    const bool positions = path.endsWith(QLatin1String(".gpx"), Qt::CaseInsensitive);
    const LogGpx gpx = positions ? logGpx(rows) : LogGpx();
    const FileWriteResult written = positions ? writeBinaryFile(gpx.text, path) : writeLogCsv(*logText, path);
    if (!written.ok) {
        op.inform(applicationTitle(),
                  QCoreApplication::translate("Vantrix", "Open data file %1 failed with error: %2")
                      .arg(path, written.errorString));
        return LogSaveOutcome::Failed;
    }
    if (savedPath)
        *savedPath = path;
    QString saved = QStringLiteral("Data was saved to file %1").arg(path);
    const QString more = afterWrite ? afterWrite(path) : QString();
    if (!more.isEmpty())
        saved += QLatin1Char('\n') + more;
    if (positions && gpx.withoutPosition > 0)
        saved += QStringLiteral("\n%1 of %2 records have no position and were left out.")
                     .arg(gpx.withoutPosition)
                     .arg(rows.size());
    op.inform(applicationTitle(), saved);
    return positions ? LogSaveOutcome::SavedPositions : LogSaveOutcome::Saved;
}

QString proposedLogFileName(const QVector<LogRow> &rows)
{
    QString first;
    QString last;
    QString lidarId;
    for (const LogRow &row : rows) {
        const QString date = row.value(LogDate);
        // ISO dates sort as text.
        if (!date.isEmpty() && (first.isEmpty() || date < first))
            first = date;
        if (date > last)
            last = date;
        if (lidarId.isEmpty())
            lidarId = row.value(LogLidarId).trimmed();
    }
    // A name a file system on every platform takes.
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]"));
    QString name = lidarId.isEmpty() ? QStringLiteral("log") : QString(lidarId).replace(unsafe, QStringLiteral("_"));
    if (!first.isEmpty())
        name += QLatin1Char('_') + first + QLatin1Char('_') + last;
    return name + QStringLiteral(".csv");
}

QString chooseDataFileToLoad(OperatorInterface &op, const QString &startDir)
{
    return QDir::toNativeSeparators(op.chooseOpenFile(applicationTitle(), startDir, QString()));
}

std::optional<QVector<SpeedRecord>> loadDataFile(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    QFile file(path);
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly))
        bytes = file.readAll();
    return decodeLogDump(bytes);
}

}  // namespace velomark
