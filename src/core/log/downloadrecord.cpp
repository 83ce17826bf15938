#include "log/downloadrecord.h"

#include "lidar/lidarconnection.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTimeZone>

#include <cstring>
#include <string>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

#include "common/versioninfo.h"
#include "log/logdecoder.h"

namespace velomark {

namespace {

// Names with a suffix beyond this are not tried: something else is filling the folder.
constexpr int kMaxStemSuffix = 1000;

QString utcText(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODate);
}

QDateTime utcFromText(const QString &text)
{
    return QDateTime::fromString(text, Qt::ISODate).toUTC();
}

QString programText()
{
    std::string version, company, product;
    ReadVersionInfo(version, company, product);
    return QString::fromStdString(product) + QLatin1Char(' ') + QString::fromStdString(version);
}

QString loginName()
{
    for (const char *variable : {"USER", "LOGNAME", "USERNAME"}) {
        const QString name = qEnvironmentVariable(variable);
        if (!name.isEmpty())
            return name;
    }
#ifdef Q_OS_UNIX
    if (const passwd *entry = ::getpwuid(::getuid()))
        return QString::fromLocal8Bit(entry->pw_name);
#endif
    return QString();
}

// A lidar name as a file name's first part: anything but letters, digits, dot, dash and
// underscore becomes an underscore, so that no name reaches outside the archive folder.
QString fileStemOf(const QString &lidarName)
{
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]"));
    QString stem = QString(lidarName).replace(unsafe, QStringLiteral("_"));
    while (stem.startsWith(QLatin1Char('.')))
        stem.replace(0, 1, QLatin1Char('_'));
    return stem.isEmpty() ? QStringLiteral("lidar") : stem;
}

QString clockText(const SpeedRecord &record)
{
    if (!record.dateTime.isValid())
        return QString();
    const LogRow row = logRowTexts(record, QString());
    return row.at(LogDate) + QLatin1Char(' ') + row.at(LogTime);
}

// Counts the dump's records and its lines that gave none, piece by piece, so that a long dump
// never stands in memory as records at once.
void summarizeRecords(const QByteArray &dump, DownloadRecord &record)
{
    const char *const data = dump.constData();
    const char *const nul = static_cast<const char *>(std::memchr(data, '\0', size_t(dump.size())));
    const char *const end = nul ? nul : data + dump.size();
    constexpr int kPieceBytes = 1 << 18;
    QVector<SpeedRecord> records;
    int lines = 0;
    const char *start = data;
    for (;;) {
        const char *cut = end;
        if (end - start > kPieceBytes) {
            if (const char *feed = static_cast<const char *>(std::memchr(start + kPieceBytes, '\n', size_t(end - start - kPieceBytes))))
                cut = feed;
        }
        const QByteArray piece = QByteArray::fromRawData(start, int(cut - start));
        for (const QByteArray &line : piece.split('\n'))
            lines += line.trimmed().isEmpty() ? 0 : 1;
        records.clear();
        DecodeLogDump(piece, records);
        if (!records.isEmpty()) {
            if (record.validRecords == 0)
                record.firstRecord = clockText(records.first());
            record.lastRecord = clockText(records.last());
            record.validRecords += records.size();
        }
        if (cut == end)
            break;
        start = cut + 1;
    }
    record.rejectedLines = lines - record.validRecords;
}

// The file's SHA-256 in lower-case hex; nothing when it cannot be read.
std::optional<QByteArray> fileSha256(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file) || file.error() != QFileDevice::NoError)
        return std::nullopt;
    return hash.result().toHex();
}

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QJsonObject toJson(const DownloadRecord &r)
{
    const DownloadLidar &lidar = r.facts.lidar;
    QJsonArray saved;
    for (const SavedFile &file : r.saved)
        saved.append(QJsonObject{{QStringLiteral("file"), file.file},
                                 {QStringLiteral("sha256"), QString::fromLatin1(file.sha256)},
                                 {QStringLiteral("rows"), file.rows},
                                 {QStringLiteral("at"), utcText(file.at)}});
    QJsonValue filter(QJsonValue::Null);
    if (r.facts.filter)
        filter = QJsonObject{{QStringLiteral("from"), r.facts.filter->start.toString(Qt::ISODate)},
                             {QStringLiteral("to"), r.facts.filter->end.toString(Qt::ISODate)}};
    QJsonValue erased(QJsonValue::Null);
    if (r.erasedAt)
        erased = QJsonObject{{QStringLiteral("at"), utcText(*r.erasedAt)}};
    return QJsonObject{
        {QStringLiteral("format"), kDownloadRecordFormat},
        {QStringLiteral("version"), kDownloadRecordVersion},
        {QStringLiteral("program"), r.program},
        {QStringLiteral("workstation"), r.workstation},
        {QStringLiteral("operator"), r.operatorName},
        {QStringLiteral("lidar"), QJsonObject{{QStringLiteral("name"), lidar.name},
                                              {QStringLiteral("address"), lidar.address},
                                              {QStringLiteral("port"), lidar.port},
                                              {QStringLiteral("type"), lidar.type},
                                              {QStringLiteral("firmware"), lidar.firmware}}},
        {QStringLiteral("started"), utcText(r.facts.started)},
        {QStringLiteral("finished"), utcText(r.facts.finished)},
        {QStringLiteral("timeZone"), r.timeZone},
        {QStringLiteral("end"), r.facts.end},
        {QStringLiteral("diagnosticModeLeft"), r.facts.diagnosticModeLeft},
        {QStringLiteral("dump"), QJsonObject{{QStringLiteral("file"), r.dumpFile},
                                             {QStringLiteral("bytes"), r.dumpBytes},
                                             {QStringLiteral("sha256"), QString::fromLatin1(r.dumpSha256)}}},
        {QStringLiteral("records"), QJsonObject{{QStringLiteral("valid"), r.validRecords},
                                                {QStringLiteral("rejectedLines"), r.rejectedLines},
                                                {QStringLiteral("first"), textOrNull(r.firstRecord)},
                                                {QStringLiteral("last"), textOrNull(r.lastRecord)}}},
        {QStringLiteral("filter"), filter},
        {QStringLiteral("saved"), saved},
        {QStringLiteral("erased"), erased},
    };
}

bool isSha256Hex(const QString &text)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
    return hex.match(text).hasMatch();
}

// The dump file, created exclusively under the first free stem; *error says why none was.
std::optional<QString> createDumpFile(const QDir &dir, const QString &base, const QByteArray &dump, QString *error)
{
    for (int n = 1; n <= kMaxStemSuffix; ++n) {
        const QString stem = n == 1 ? base : base + QStringLiteral("-%1").arg(n);
        if (dir.exists(stem + QStringLiteral(".json")))
            continue;
        QFile file(dir.filePath(stem + QStringLiteral(".dump")));
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (file.exists())
                continue;
            *error = QStringLiteral("%1: %2").arg(file.fileName(), file.errorString());
            return std::nullopt;
        }
        if (file.write(dump) != dump.size() || !file.flush()) {
            *error = QStringLiteral("%1: %2").arg(file.fileName(), file.errorString());
            // The file was made here a moment ago; a partial copy is no evidence.
            file.remove();
            return std::nullopt;
        }
        return stem;
    }
    *error = QStringLiteral("%1: no free name for %2").arg(dir.path(), base);
    return std::nullopt;
}

}  // namespace

DownloadLidar downloadLidarOf(const LidarConnection &connection, const QString &name)
{
    DownloadLidar lidar;
    lidar.name = name;
    lidar.port = connection.connectedPortName;
    lidar.type = connection.lidarType;
    lidar.firmware = connection.firmwareText();
    for (const LidarEntry &entry : connection.lidars) {
        if (entry.name == connection.connectedLidarName) {
            lidar.address = entry.address;
            break;
        }
    }
    return lidar;
}

QString defaultDownloadArchive()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/velomark/downloads");
}

QString downloadEndText(DownloadEnd end, bool interruptedBySignal)
{
    switch (end) {
    case DownloadEnd::Complete:
        return QStringLiteral("complete");
    case DownloadEnd::Empty:
        return QStringLiteral("empty");
    case DownloadEnd::ConnectionLost:
        return QStringLiteral("connectionLost");
    case DownloadEnd::Stopped:
        break;
    }
    return interruptedBySignal ? QStringLiteral("interrupted") : QStringLiteral("stopped");
}

ArchiveResult archiveDownload(const QString &archiveDir, const QByteArray &dump, const DownloadFacts &facts)
{
    ArchiveResult result;
    DownloadRecord &record = result.record;
    QDir dir(archiveDir);
    if (!dir.mkpath(QStringLiteral("."))) {
        result.error = QStringLiteral("%1: the folder cannot be made").arg(archiveDir);
        return result;
    }
    const QString base = fileStemOf(facts.lidar.name) + QLatin1Char('_')
                         + facts.started.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    const std::optional<QString> stem = createDumpFile(dir, base, dump, &result.error);
    if (!stem)
        return result;

    record.path = dir.absoluteFilePath(*stem + QStringLiteral(".json"));
    record.program = programText();
    record.workstation = QSysInfo::machineHostName();
    record.operatorName = loginName();
    record.facts = facts;
    record.timeZone = QString::fromUtf8(QTimeZone::systemTimeZoneId());
    record.dumpFile = *stem + QStringLiteral(".dump");
    record.dumpBytes = dump.size();
    record.dumpSha256 = QCryptographicHash::hash(dump, QCryptographicHash::Sha256).toHex();
    summarizeRecords(dump, record);
    result.error = writeDownloadRecord(record);
    return result;
}

QString addSavedFile(DownloadRecord &record, const QString &path, qint64 rows)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const std::optional<QByteArray> digest = fileSha256(absolute);
    if (!digest)
        return QStringLiteral("%1 cannot be read").arg(absolute);
    record.saved.append({absolute, *digest, rows, QDateTime::currentDateTimeUtc()});
    return writeDownloadRecord(record);
}

QString addErase(DownloadRecord &record, const QDateTime &at)
{
    record.erasedAt = at.toUTC();
    return writeDownloadRecord(record);
}

QString writeDownloadRecord(const DownloadRecord &record)
{
    QSaveFile file(record.path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("%1: %2").arg(record.path, file.errorString());
    const QByteArray text = QJsonDocument(toJson(record)).toJson(QJsonDocument::Indented);
    if (file.write(text) != text.size()) {
        const QString error = file.errorString();
        file.cancelWriting();
        return QStringLiteral("%1: %2").arg(record.path, error);
    }
    if (!file.commit())
        return QStringLiteral("%1: %2").arg(record.path, file.errorString());
    return QString();
}

LoadedRecord loadDownloadRecord(const QString &path)
{
    LoadedRecord loaded;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        loaded.error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return loaded;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    const QJsonObject o = document.object();
    if (parseError.error != QJsonParseError::NoError || !document.isObject()
        || o.value(QStringLiteral("format")).toString() != kDownloadRecordFormat
        || o.value(QStringLiteral("version")).toInt() != kDownloadRecordVersion) {
        loaded.error = QStringLiteral("%1: not a download record").arg(path);
        return loaded;
    }
    DownloadRecord r;
    r.path = QFileInfo(path).absoluteFilePath();
    r.program = o.value(QStringLiteral("program")).toString();
    r.workstation = o.value(QStringLiteral("workstation")).toString();
    r.operatorName = o.value(QStringLiteral("operator")).toString();
    const QJsonObject lidar = o.value(QStringLiteral("lidar")).toObject();
    r.facts.lidar = {lidar.value(QStringLiteral("name")).toString(), lidar.value(QStringLiteral("address")).toString(),
                     lidar.value(QStringLiteral("port")).toString(), lidar.value(QStringLiteral("type")).toInt(6),
                     lidar.value(QStringLiteral("firmware")).toString()};
    r.facts.started = utcFromText(o.value(QStringLiteral("started")).toString());
    r.facts.finished = utcFromText(o.value(QStringLiteral("finished")).toString());
    r.facts.end = o.value(QStringLiteral("end")).toString();
    r.facts.diagnosticModeLeft = o.value(QStringLiteral("diagnosticModeLeft")).toBool();
    const QJsonObject filter = o.value(QStringLiteral("filter")).toObject();
    if (!filter.isEmpty())
        r.facts.filter = LogDateFilter::between(QDate::fromString(filter.value(QStringLiteral("from")).toString(), Qt::ISODate),
                                                QDate::fromString(filter.value(QStringLiteral("to")).toString(), Qt::ISODate));
    r.timeZone = o.value(QStringLiteral("timeZone")).toString();
    const QJsonObject dump = o.value(QStringLiteral("dump")).toObject();
    r.dumpFile = dump.value(QStringLiteral("file")).toString();
    r.dumpBytes = qint64(dump.value(QStringLiteral("bytes")).toDouble());
    r.dumpSha256 = dump.value(QStringLiteral("sha256")).toString().toLatin1();
    const QJsonObject records = o.value(QStringLiteral("records")).toObject();
    r.validRecords = records.value(QStringLiteral("valid")).toInt();
    r.rejectedLines = records.value(QStringLiteral("rejectedLines")).toInt();
    r.firstRecord = records.value(QStringLiteral("first")).toString();
    r.lastRecord = records.value(QStringLiteral("last")).toString();
    // The dump must stay beside its record: a name with a folder in it is refused.
    bool valid = !r.dumpFile.isEmpty() && QFileInfo(r.dumpFile).fileName() == r.dumpFile
                 && isSha256Hex(QString::fromLatin1(r.dumpSha256));
    for (const QJsonValue &value : o.value(QStringLiteral("saved")).toArray()) {
        const QJsonObject saved = value.toObject();
        SavedFile file{saved.value(QStringLiteral("file")).toString(),
                       saved.value(QStringLiteral("sha256")).toString().toLatin1(),
                       qint64(saved.value(QStringLiteral("rows")).toDouble()),
                       utcFromText(saved.value(QStringLiteral("at")).toString())};
        valid = valid && !file.file.isEmpty() && isSha256Hex(QString::fromLatin1(file.sha256));
        r.saved.append(file);
    }
    const QJsonObject erased = o.value(QStringLiteral("erased")).toObject();
    if (!erased.isEmpty())
        r.erasedAt = utcFromText(erased.value(QStringLiteral("at")).toString());
    if (!valid) {
        loaded.error = QStringLiteral("%1: not a download record").arg(path);
        return loaded;
    }
    loaded.record = r;
    return loaded;
}

QVector<VerifiedFile> verifyDownloadFiles(const DownloadRecord &record)
{
    const auto check = [](const QString &kind, const QString &file, const QString &path, const QByteArray &sha256) {
        const std::optional<QByteArray> digest = fileSha256(path);
        return VerifiedFile{!digest ? VerifiedFile::Missing
                            : *digest == sha256 ? VerifiedFile::Ok
                                                : VerifiedFile::Mismatch,
                            kind, file};
    };
    QVector<VerifiedFile> files;
    files.append(check(QStringLiteral("dump"), record.dumpFile,
                       QFileInfo(record.path).dir().filePath(record.dumpFile), record.dumpSha256));
    for (const SavedFile &saved : record.saved)
        files.append(check(QStringLiteral("saved"), saved.file, saved.file, saved.sha256));
    return files;
}

}  // namespace velomark
