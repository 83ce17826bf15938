#pragma once
#include <QDialog>

class QHBoxLayout;
class QLabel;
class QPushButton;

// The one small frameless "please wait" window that the main dialog shows while an
// operation blocks the event loop. Users set the message, open it, process events once,
// work, and close it with done(QDialog::Accepted).
class delayMsgDlg : public QDialog
{
    Q_OBJECT
public:
    explicit delayMsgDlg(QWidget *parent = nullptr);

    void setMessage(const QString &text);
    // A download can be cut short: the window shows "Cancel", and Escape means Cancel too.
    // Every other use keeps the window without a button.
    void setCancellable(bool cancellable);

    QHBoxLayout *horizontalLayout = nullptr;
    QLabel *labelLink = nullptr;
    QLabel *labelMsg = nullptr;
    QPushButton *pushButtonCancel = nullptr;

signals:
    void cancelRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    // Opens centred on the window it waits for, not where the window system puts it.
    void showEvent(QShowEvent *event) override;

private:
    void setupUi();
};
