#pragma once
// The export dialog: a file name, a choice of certificate, or a plain text export instead.
// It knows the main dialog only through the log text and the encrypt-and-write operation it
// is given.
#include <QDialog>

#include <functional>

#include "common/operatorinterface.h"

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;

class SaveData : public QDialog
{
    Q_OBJECT
public:
    // The main dialog's EncryptDataFile: data, certificate name, file name.
    using EncryptDataFile = std::function<void(const QByteArray &, const QString &, const QString &)>;

    SaveData(QWidget *parent, velomark::OperatorInterface &op, const QByteArray &logText,
             const QStringList &certificateNames, EncryptDataFile encryptDataFile);

public slots:
    void OnBtnSaveClicked();
    void OnBtnBrowseClicked();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    velomark::OperatorInterface &m_operator;
    QByteArray m_logText;
    EncryptDataFile m_encryptDataFile;
    QLineEdit *lineEditFileName;
    QCheckBox *checkBoxPlain;
    QListWidget *listWidgetCertificates;
    QPushButton *pushButtonBrowse;
    QPushButton *pushButtonSave;
};
