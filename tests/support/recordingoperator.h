#pragma once
// The operator of the tests: keeps every message and answers questions and file dialogs
// from queues, so a test asserts the exact texts and never blocks on a modal box.
#include <QList>
#include <QQueue>
#include <QString>

#include "common/operatorinterface.h"

struct RecordedMessage
{
    enum Kind { Information, Question };
    Kind kind;
    QString title;
    QString text;
};

class RecordingOperator : public velomark::OperatorInterface
{
public:
    void inform(const QString &title, const QString &text) override;
    bool ask(const QString &title, const QString &text) override;
    QString chooseSaveFile(const QString &caption, const QString &startDir, const QString &filter,
                           bool confirmOverwrite) override;
    QString chooseOpenFile(const QString &caption, const QString &startDir,
                           const QString &filter) override;
    void showWait(const QString &text) override;
    void setWaitText(const QString &text) override;
    void closeWait() override;
    void waitProgress(qint64 bytes, qint64 lines) override;

    QList<RecordedMessage> messages;
    QQueue<bool> answers;          // for ask(); an empty queue answers No
    QQueue<QString> fileNames;     // for the file dialogs; an empty queue cancels
    QStringList waitTexts;         // every text the please-wait window showed
    bool waitOpen = false;
    qint64 progressBytes = -1;
    qint64 progressLines = -1;
    QString lastStartDir;          // start directory of the last file dialog
    QString lastFilter;            // filter of the last save-file dialog

    QStringList texts() const;     // the texts of all messages, in order
};
