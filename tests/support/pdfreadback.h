#pragma once
// Reads a PDF back with poppler's pdftotext and pdfinfo, peers that know nothing of how we
// wrote it.
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

inline bool havePoppler()
{
    return !QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty()
           && !QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty();
}

inline QString popplerOutput(const QString &program, const QStringList &args)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return QStringLiteral("<%1 failed: %2>").arg(program, QString::fromUtf8(process.readAllStandardError()));
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The text of every page, laid out as on the page (columns stay on their line).
inline QString pdfText(const QString &path)
{
    return popplerOutput(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, QStringLiteral("-")});
}

// The words of the first line that starts with `label` after the label, or none.
inline QStringList pdfLineCells(const QString &text, const QString &label)
{
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(label + QLatin1Char(' ')))
            return trimmed.mid(label.size()).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    }
    return {};
}

// pdfinfo's "Pages" and "Page size" fields ("595.276 x 841.89 pts (A4)").
struct PdfInfo
{
    int pages = 0;
    QString pageSize;
};

inline PdfInfo pdfInfo(const QString &path)
{
    PdfInfo info;
    const QString text = popplerOutput(QStringLiteral("pdfinfo"), {path});
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Pages:")))
            info.pages = line.mid(6).trimmed().toInt();
        else if (line.startsWith(QLatin1String("Page size:")))
            info.pageSize = line.mid(10).trimmed();
    }
    return info;
}
