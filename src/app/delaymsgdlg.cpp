#include "delaymsgdlg.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

delayMsgDlg::delayMsgDlg(QWidget *parent) : QDialog(parent)
{
    setupUi();
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
}

void delayMsgDlg::setupUi()
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("delayMsg"));
    setWindowModality(Qt::ApplicationModal);
    resize(394, 82);
    setMinimumSize(373, 82);
    setWindowIcon(QIcon(QStringLiteral(":/Vantrix/Icons/vantrix.ico")));
    setModal(true);

    horizontalLayout = new QHBoxLayout(this);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));

    labelLink = new QLabel(this);
    labelLink->setObjectName(QStringLiteral("labelLink"));
    labelLink->setMaximumWidth(64);
    labelLink->setPixmap(QPixmap(QStringLiteral(":/Vantrix/Icons/vantrix.ico")));
    horizontalLayout->addWidget(labelLink);

    labelMsg = new QLabel(this);
    labelMsg->setObjectName(QStringLiteral("labelMsg"));
    QFont font;
    font.setPointSize(11);
    labelMsg->setFont(font);
    labelMsg->setTextInteractionFlags(Qt::NoTextInteraction);
    horizontalLayout->addWidget(labelMsg);

    pushButtonCancel = new QPushButton(this);
    pushButtonCancel->setObjectName(QStringLiteral("pushButtonCancel"));
    // Enter must not cancel a download by accident.
    pushButtonCancel->setAutoDefault(false);
    pushButtonCancel->hide();
    horizontalLayout->addWidget(pushButtonCancel);
    connect(pushButtonCancel, &QPushButton::clicked, this, &delayMsgDlg::cancelRequested);

    setWindowTitle(QCoreApplication::translate("delayMsg", "Veltrazon Velomark"));
    labelLink->setText(QString());
    labelMsg->setText(QCoreApplication::translate("delayMsg", "Initializing Data Collector, please wait ..."));
    pushButtonCancel->setText(QCoreApplication::translate("delayMsg", "Cancel"));
}

void delayMsgDlg::setCancellable(bool cancellable)
{
    pushButtonCancel->setVisible(cancellable);
    pushButtonCancel->setEnabled(cancellable);
    adjustSize();
}

void delayMsgDlg::setMessage(const QString &text)
{
    labelMsg->setText(text);
}

void delayMsgDlg::keyPressEvent(QKeyEvent *event)
{
    // The window closes only when its operation ends; Escape cancels what can be cancelled.
    if (event->key() == Qt::Key_Escape) {
        if (!pushButtonCancel->isHidden() && pushButtonCancel->isEnabled())
            emit cancelRequested();
        return;
    }
    QDialog::keyPressEvent(event);
}

void delayMsgDlg::showEvent(QShowEvent *event)
{
    if (const QWidget *owner = parentWidget()) {
        const QRect frame = owner->frameGeometry();
        move(frame.center() - QPoint(width() / 2, height() / 2));
    }
    QDialog::showEvent(event);
}
