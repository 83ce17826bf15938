#pragma once
#include <QDialog>

class QHBoxLayout;
class QLabel;

// The one small frameless "please wait" window that the main dialog shows while an
// operation blocks the event loop. Users set the message, open it, process events once,
// work, and close it with done(QDialog::Accepted).
class delayMsgDlg : public QDialog
{
    Q_OBJECT
public:
    explicit delayMsgDlg(QWidget *parent = nullptr);

    void setMessage(const QString &text);

    QHBoxLayout *horizontalLayout = nullptr;
    QLabel *labelLink = nullptr;
    QLabel *labelMsg = nullptr;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void setupUi();
};
