#pragma once
// The operator of the tests: keeps every message and answers questions and file dialogs
// from queues, so a test asserts the exact texts and never blocks on a modal box.
#include <QList>
#include <QQueue>
#include <QString>

#include "common/operatorinterface.h"

// A message shown, or a question asked.
struct RecordedMessage
{
    QString title;
    QString text;
    bool whileWaiting;  // shown while the please-wait window was open
};

class RecordingOperator : public velomark::OperatorInterface
{
public:
    void inform(const QString &title, const QString &text) override { messages.append({title, text, waitOpen}); }
    bool ask(const QString &title, const QString &text) override
    {
        messages.append({title, text, waitOpen});
        return answers.isEmpty() ? false : answers.dequeue();
    }
    QString chooseSaveFile(const QString &, const QString &startDir, const QString &filter, bool) override
    {
        lastStartDir = startDir;
        lastFilter = filter;
        return fileNames.isEmpty() ? QString() : fileNames.dequeue();
    }
    QString chooseOpenFile(const QString &, const QString &startDir, const QString &) override
    {
        lastStartDir = startDir;
        return fileNames.isEmpty() ? QString() : fileNames.dequeue();
    }
    void showWait(const QString &text) override
    {
        waitTexts.append(text);
        waitOpen = true;
    }
    void setWaitText(const QString &text) override { waitTexts.append(text); }
    void closeWait() override { waitOpen = false; }
    void waitProgress(qint64 bytes, qint64) override { progressBytes = bytes; }

    QList<RecordedMessage> messages;
    QQueue<bool> answers;          // for ask(); an empty queue answers No
    QQueue<QString> fileNames;     // for the file dialogs; an empty queue cancels
    QStringList waitTexts;         // every text the please-wait window showed
    bool waitOpen = false;
    qint64 progressBytes = -1;     // the last progress of a dump
    QString lastStartDir;          // start directory of the last file dialog
    QString lastFilter;            // filter of the last save-file dialog

    // The texts of all messages, in order.
    QStringList texts() const
    {
        QStringList out;
        for (const RecordedMessage &message : messages)
            out.append(message.text);
        return out;
    }
};
