#include "live/livedatafile.h"

#include <QDir>

#include "common/operatorinterface.h"
#include "common/trace.h"

namespace velomark {

bool LiveDataFile::prepare(const QString &path, OperatorInterface &op)
{
    m_file.close();
    m_file.setFileName(path);

    // An absent file also has size 0; it becomes a new data file.
    if (m_file.size() == 0) {
        if (!openAppend(op))
            return false;
        if (!appendLine(kLiveCsvHeader)) {
            reportOpenFailure(op);
            m_file.close();
            return false;
        }
        return true;
    }

    if (!m_file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        reportOpenFailure(op);
        return false;
    }
    const QString text = QString::fromUtf8(m_file.readAll());
    m_file.close();
    if (!text.contains(kLiveCsvHeader)) {
        op.inform(kMessageTitle, QStringLiteral("The selected file is not a Veltrazon Speed Lidar Data File"));
        return false;
    }
    return openAppend(op);
}

bool LiveDataFile::openForAppend(OperatorInterface &op)
{
    if (m_file.isOpen())
        return true;
    return openAppend(op);
}

bool LiveDataFile::openAppend(OperatorInterface &op)
{
    if (m_file.open(QIODevice::Append | QIODevice::Text))
        return true;
    reportOpenFailure(op);
    return false;
}

void LiveDataFile::reportOpenFailure(OperatorInterface &op)
{
    const QString text = QStringLiteral("Open data file %1 failed with error: %2")
                             .arg(QDir::toNativeSeparators(m_file.fileName()), m_file.errorString());
    trace(lcLive(), text);
    op.inform(kMessageTitle, text);
}

bool LiveDataFile::appendLine(const QString &line)
{
    if (!m_file.isOpen())
        return false;
    // The note may hold any characters; UTF-8 keeps every one of them.
    const QByteArray bytes = line.toUtf8();
    if (m_file.write(bytes) != bytes.size() || !m_file.flush()) {
        trace(lcLive(), QStringLiteral("Write to data file %1 failed with error: %2")
                            .arg(QDir::toNativeSeparators(m_file.fileName()), m_file.errorString()));
        return false;
    }
    return true;
}

void LiveDataFile::close()
{
    m_file.close();
}

}  // namespace velomark
