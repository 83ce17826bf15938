#pragma once
// Long expected texts live in tests/data/ and are compared byte for byte. With
// VELOMARK_REGENERATE=1 the comparison writes the actual text there instead, so a changed
// output is reviewed as the diff of its golden file.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

// The expected bytes of tests/data/<name>; under VELOMARK_REGENERATE=1 the file becomes actual.
inline QByteArray golden(const QString &name, const QByteArray &actual)
{
    const QString path = qEnvironmentVariable("VELOMARK_SOURCE_DIR") + QStringLiteral("/tests/data/") + name;
    QFile file(path);
    if (qEnvironmentVariableIntValue("VELOMARK_REGENERATE") == 1) {
        QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
        if (file.open(QIODevice::WriteOnly))
            file.write(actual);
        return actual;
    }
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing golden file " + path.toUtf8() + '>');
}
