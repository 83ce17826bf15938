#pragma once
#include <QPointer>
#include <QString>

#include "common/operatorinterface.h"

class QWidget;
class delayMsgDlg;

// The window's operator: message boxes and file dialogs parented to the main dialog, and
// the main dialog's one please-wait window.
class MessageBoxOperator : public velomark::OperatorInterface
{
public:
    MessageBoxOperator(QWidget *parent, delayMsgDlg *waitDialog);

    void inform(const QString &title, const QString &text) override;
    bool ask(const QString &title, const QString &text) override;
    QString chooseSaveFile(const QString &caption, const QString &startDir, const QString &filter,
                           bool confirmOverwrite) override;
    QString chooseOpenFile(const QString &caption, const QString &startDir,
                           const QString &filter) override;
    void showWait(const QString &text) override;
    void setWaitText(const QString &text) override;
    void closeWait() override;
    std::optional<QString> askSecret(const QString &title, const QString &text) override;
    // The amount goes on a second line under the wait text.
    void waitProgress(qint64 bytes, qint64 lines) override;

private:
    QPointer<QWidget> m_parent;
    QPointer<delayMsgDlg> m_wait;
    QString m_waitText;
};
