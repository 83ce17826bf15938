#pragma once
// A locale with a decimal comma for tests, made with localedef into a folder of the test's own
// (used through LOCPATH), so that no locale needs to be installed on the machine.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

inline const char kCommaLocale[] = "de_DE.UTF-8";

// Generates de_DE.UTF-8 below `dir`; false when localedef is missing or fails.
inline bool makeCommaLocale(const QString &dir)
{
    if (QStandardPaths::findExecutable(QStringLiteral("localedef")).isEmpty())
        return false;
    const QString target = QDir(dir).filePath(QString::fromLatin1(kCommaLocale));
    QProcess localedef;
    localedef.start(QStringLiteral("localedef"),
                    {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"), QStringLiteral("UTF-8"), target});
    return localedef.waitForFinished(120000) && QFileInfo::exists(target + QStringLiteral("/LC_NUMERIC"));
}
