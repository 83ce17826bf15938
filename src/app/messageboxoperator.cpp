#include "messageboxoperator.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

#include "delaymsgdlg.h"

MessageBoxOperator::MessageBoxOperator(QWidget *parent, delayMsgDlg *waitDialog)
    : m_parent(parent), m_wait(waitDialog)
{
}

void MessageBoxOperator::inform(const QString &title, const QString &text)
{
    QMessageBox::information(m_parent, title, text, QMessageBox::Ok);
}

bool MessageBoxOperator::ask(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, m_parent);
    // No default: Enter must not answer a question such as "erase the log?". A dialog's push
    // buttons become the default when they take the focus, so none of them may.
    for (QAbstractButton *button : box.buttons()) {
        if (auto *push = qobject_cast<QPushButton *>(button)) {
            push->setAutoDefault(false);
            push->setDefault(false);
        }
    }
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QString MessageBoxOperator::chooseSaveFile(const QString &caption, const QString &startDir,
                                           const QString &filter, bool confirmOverwrite)
{
    const QFileDialog::Options options =
        confirmOverwrite ? QFileDialog::Options() : QFileDialog::DontConfirmOverwrite;
    QString selectedFilter;
    QString path = QFileDialog::getSaveFileName(m_parent, caption, startDir, filter, &selectedFilter, options);
    // A name typed without an extension takes the one of the chosen file type ("*.gpx"), as
    // the dialog of Windows gives it.
    const QRegularExpression single(QStringLiteral("\\(\\*(\\.[A-Za-z0-9]+)\\)$"));
    const QRegularExpressionMatch match = single.match(selectedFilter);
    if (!path.isEmpty() && match.hasMatch() && QFileInfo(path).suffix().isEmpty())
        path += match.captured(1);
    return path;
}

QString MessageBoxOperator::chooseOpenFile(const QString &caption, const QString &startDir,
                                           const QString &filter)
{
    return QFileDialog::getOpenFileName(m_parent, caption, startDir, filter);
}

void MessageBoxOperator::showWait(const QString &text)
{
    if (!m_wait)
        return;
    m_waitText = text;
    m_wait->setMessage(text);
    // A longer text widens the window instead of being cut off.
    m_wait->adjustSize();
    m_wait->open();
    // One pass of the event loop paints the window before the blocking work starts.
    QCoreApplication::processEvents();
}

void MessageBoxOperator::setWaitText(const QString &text)
{
    if (!m_wait)
        return;
    m_waitText = text;
    m_wait->setMessage(text);
    m_wait->adjustSize();
    QCoreApplication::processEvents();
}

void MessageBoxOperator::waitProgress(qint64 bytes, qint64 lines)
{
    if (!m_wait)
        return;
    m_wait->setMessage(m_waitText + QLatin1Char('\n')
                       + QStringLiteral("%1 bytes, %2 lines received")
                             .arg(QLocale().toString(bytes), QLocale().toString(lines)));
    m_wait->adjustSize();
}

std::optional<QString> MessageBoxOperator::askSecret(const QString &title, const QString &text)
{
    bool ok = false;
    const QString secret = QInputDialog::getText(m_parent, title, text, QLineEdit::Password, QString(), &ok);
    if (!ok)
        return std::nullopt;
    return secret;
}

void MessageBoxOperator::closeWait()
{
    if (m_wait)
        m_wait->done(QDialog::Accepted);
}
