#pragma once
// The export dialog: a file name, a choice of certificate, or a plain text export instead.
// It knows the main dialog only through the log text and the encrypt-and-write operation it
// is given.
#include <QDialog>

#include <functional>
#include <memory>

#include "common/operatorinterface.h"

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;

class SaveData : public QDialog
{
    Q_OBJECT
public:
    // The main dialog's EncryptDataFile: data, certificate name, file name. Its messages
    // are the main dialog's.
    using EncryptDataFile = std::function<void(const QByteArray &, const QString &, const QString &)>;

    // `op` tells and asks for the dialog's own slots; null: message boxes and the file
    // dialog parented to this dialog.
    SaveData(QWidget *parent, velomark::OperatorInterface *op, const QByteArray &logText,
             const QStringList &certificateNames, EncryptDataFile encryptDataFile);
    ~SaveData() override;

public slots:
    void OnBtnSaveClicked();
    void OnBtnBrowseClicked();

private:
    std::unique_ptr<velomark::OperatorInterface> m_ownOperator;
    velomark::OperatorInterface &m_operator;
    QByteArray m_logText;
    EncryptDataFile m_encryptDataFile;
    QLineEdit *lineEditFileName;
    QCheckBox *checkBoxPlain;
    QListWidget *listWidgetCertificates;
    QPushButton *pushButtonBrowse;
    QPushButton *pushButtonSave;
};
