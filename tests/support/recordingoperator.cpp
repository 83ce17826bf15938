#include "recordingoperator.h"

void RecordingOperator::inform(const QString &title, const QString &text)
{
    messages.append({RecordedMessage::Information, title, text});
}

bool RecordingOperator::ask(const QString &title, const QString &text)
{
    messages.append({RecordedMessage::Question, title, text});
    return answers.isEmpty() ? false : answers.dequeue();
}

QString RecordingOperator::chooseSaveFile(const QString &, const QString &startDir, const QString &filter, bool)
{
    lastStartDir = startDir;
    lastFilter = filter;
    return fileNames.isEmpty() ? QString() : fileNames.dequeue();
}

QString RecordingOperator::chooseOpenFile(const QString &, const QString &startDir, const QString &)
{
    lastStartDir = startDir;
    return fileNames.isEmpty() ? QString() : fileNames.dequeue();
}

void RecordingOperator::showWait(const QString &text)
{
    waitTexts.append(text);
    waitOpen = true;
}

void RecordingOperator::setWaitText(const QString &text)
{
    waitTexts.append(text);
}

void RecordingOperator::closeWait()
{
    waitOpen = false;
}

void RecordingOperator::waitProgress(qint64 bytes, qint64 lines)
{
    progressBytes = bytes;
    progressLines = lines;
}

QStringList RecordingOperator::texts() const
{
    QStringList out;
    for (const RecordedMessage &message : messages)
        out.append(message.text);
    return out;
}
