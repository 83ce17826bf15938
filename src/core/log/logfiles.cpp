#include "log/logfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include "common/operatorinterface.h"
#include "log/logdecoder.h"

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

FileWriteResult writeLogCsv(const QByteArray &csvText, const QString &path)
{
    return writeWhole(csvText, path, QIODevice::WriteOnly | QIODevice::Text);
}

LogSaveOutcome saveLogRows(const QVector<LogRow> &rows, const QString &startPath,
                           OperatorInterface &op, QByteArray *logText)
{
    if (rows.isEmpty()) {
        op.inform(applicationTitle(),
                  QCoreApplication::translate("Vantrix", "Cannot find any logged data to save"));
        return LogSaveOutcome::NoRows;
    }
    *logText = logCsvText(rows);

    const QString path = QDir::toNativeSeparators(op.chooseSaveFile(
        applicationTitle(), startPath, QStringLiteral("Text files (*.txt);;All files (*.*)"), true));
    if (path.isEmpty())
        return LogSaveOutcome::Cancelled;

    const FileWriteResult written = writeLogCsv(*logText, path);
    if (!written.ok) {
        op.inform(applicationTitle(),
                  QCoreApplication::translate("Vantrix", "Open data file %1 failed with error: %2")
                      .arg(path, written.errorString));
        return LogSaveOutcome::Failed;
    }
    op.inform(applicationTitle(), QStringLiteral("Data was saved to file %1").arg(path));
    return LogSaveOutcome::Saved;
}

QString chooseDataFileToLoad(OperatorInterface &op)
{
    return QDir::toNativeSeparators(
        op.chooseOpenFile(applicationTitle(), QCoreApplication::applicationDirPath(), QString()));
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
