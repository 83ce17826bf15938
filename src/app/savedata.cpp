#include "savedata.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "crypto/exportflow.h"
#include "messageboxoperator.h"

SaveData::SaveData(QWidget *parent, velomark::OperatorInterface *op, const QByteArray &logText,
                   const QStringList &certificateNames, EncryptDataFile encryptDataFile)
    : QDialog(parent),
      m_ownOperator(op ? nullptr : new MessageBoxOperator(this, nullptr)),
      m_operator(op ? *op : *m_ownOperator),
      m_logText(logText),
      m_encryptDataFile(std::move(encryptDataFile)),
      lineEditFileName(new QLineEdit(this)),
      checkBoxPlain(new QCheckBox(tr("Save as plain text (not encrypted)"), this)),
      listWidgetCertificates(new QListWidget(this)),
      pushButtonBrowse(new QPushButton(tr("Browse ..."), this)),
      pushButtonSave(new QPushButton(tr("Save"), this))
{
    setObjectName(QStringLiteral("SaveData"));
    setWindowTitle(tr("Export Data"));
    lineEditFileName->setObjectName(QStringLiteral("lineEditFileName"));
    checkBoxPlain->setObjectName(QStringLiteral("checkBoxPlain"));
    listWidgetCertificates->setObjectName(QStringLiteral("listWidgetCertificates"));
    pushButtonBrowse->setObjectName(QStringLiteral("pushButtonBrowse"));
    pushButtonSave->setObjectName(QStringLiteral("pushButtonSave"));
    // The texts are the certificates' subject names: EncryptDataFile finds them by that text.
    listWidgetCertificates->addItems(certificateNames);
    // The only certificate there is needs no choosing.
    if (certificateNames.size() == 1)
        listWidgetCertificates->setCurrentRow(0);

    auto *layout = new QGridLayout(this);
    layout->addWidget(new QLabel(tr("File name:"), this), 0, 0);
    layout->addWidget(lineEditFileName, 0, 1);
    layout->addWidget(pushButtonBrowse, 0, 2);
    layout->addWidget(new QLabel(tr("Encrypt for certificate:"), this), 1, 0, 1, 3);
    layout->addWidget(listWidgetCertificates, 2, 0, 1, 3);
    layout->addWidget(checkBoxPlain, 3, 0, 1, 2);
    layout->addWidget(pushButtonSave, 3, 2);

    connect(pushButtonBrowse, &QPushButton::clicked, this, &SaveData::OnBtnBrowseClicked);
    connect(pushButtonSave, &QPushButton::clicked, this, &SaveData::OnBtnSaveClicked);
}

SaveData::~SaveData() = default;

void SaveData::OnBtnBrowseClicked()
{
    QString chosen = m_operator.chooseSaveFile(velomark::applicationTitle(), lineEditFileName->text(),
                                               QStringLiteral("Encrypted data (*.p7m);;Text files (*.txt);;All files (*.*)"),
                                               true);
    // An encrypted export without a suffix of its own gets the one the dialog offered.
    if (!chosen.isEmpty() && !checkBoxPlain->isChecked() && QFileInfo(chosen).suffix().isEmpty())
        chosen += QStringLiteral(".p7m");
    const QString native = QDir::toNativeSeparators(chosen);
    if (!native.isEmpty())
        lineEditFileName->setText(native);
}

void SaveData::OnBtnSaveClicked()
{
    const QString fileName = lineEditFileName->text();
    if (fileName.isEmpty()) {
        m_operator.inform(velomark::applicationTitle(), tr("Please specify the file name for the data"));
        return;
    }
    if (checkBoxPlain->isChecked()) {
        if (!velomark::writePlainExport(m_operator, m_logText, fileName))
            return;
    } else if (!listWidgetCertificates->currentItem()) {
        // The operator chooses one and saves again: the dialog and what was typed stay.
        m_operator.inform(velomark::applicationTitle(), tr("Digital certificate is not selected"));
        return;
    } else if (m_encryptDataFile) {
        m_encryptDataFile(m_logText, listWidgetCertificates->currentItem()->text(), fileName);
    }
    accept();
}
