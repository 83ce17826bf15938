#include "crypto/exportflow.h"

#include "common/trace.h"
#include "crypto/binarydata.h"
#include "crypto/certstore.h"

#include <QSaveFile>

#include <limits>

namespace velomark {

namespace {

void tell(OperatorInterface &op, const QString &text)
{
    op.inform(applicationTitle(), text);
}

QString openFailed(const QString &fileName, const QString &error)
{
    return QStringLiteral("Open data file %1 failed with error: %2").arg(fileName, error);
}

// The file is replaced only when every byte reached the disk.
bool saveBytes(OperatorInterface &op, const QString &fileName, const QByteArray &bytes, bool text)
{
    QSaveFile file(fileName);
    QIODevice::OpenMode mode = QIODevice::WriteOnly;
    if (text)
        mode |= QIODevice::Text;
    if (!file.open(mode)) {
        tell(op, openFailed(fileName, file.errorString()));
        return false;
    }
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        const QString error = file.errorString();
        file.cancelWriting();
        tell(op, QStringLiteral("Write data file %1 failed with error: %2").arg(fileName, error));
        return false;
    }
    return true;
}

}  // namespace

void configureExportEncryptor(Encryptor &encryptor)
{
    encryptor.SetEncryptionAlgorithm("pki");
    encryptor.SetContentCipher("aes");
    encryptor.SetKeyLength(128);
    encryptor.SetUseOaep(false);
}

bool askForEncryptedExport(OperatorInterface &op)
{
    return op.ask(applicationTitle(), QStringLiteral("Do you want to export the saved data to an encrypted file ?"));
}

bool loadCertificates(OperatorInterface &op, CertificateList &certificates)
{
    CertificateStore store;
    if (!store.OpenCurrentUserStore(true)) {
        trace(lcCrypto(), QString::fromStdString(store.LastLog()));
        tell(op, QStringLiteral("OpenCurrentUserStore(0 failed"));
        return false;
    }
    certificates.clear();
    const int count = store.CertificateCount();
    for (int index = 0; index < count; ++index) {
        std::unique_ptr<Certificate> certificate = store.GetCertificate(index);
        if (certificate)
            certificates.push_back(std::move(certificate));
        else
            trace(lcCrypto(), QString::fromStdString(store.LastLog()));
    }
    return true;
}

QStringList certificateNames(const CertificateList &certificates)
{
    QStringList names;
    for (const auto &certificate : certificates)
        names << QString::fromStdString(certificate->SubjectDN());
    return names;
}

ExportOutcome encryptDataFileFor(OperatorInterface &op, Encryptor &encryptor, const Certificate &certificate,
                                 const QByteArray &data, const QString &fileName)
{
    if (data.isEmpty())
        return ExportOutcome::NothingToWrite;
    encryptor.ClearRecipientCerts();
    if (!encryptor.SetRecipientCert(certificate)) {
        tell(op, QStringLiteral("Failed to set digital certificate for encryption"));
        return ExportOutcome::Failed;
    }
    BinaryData message;
    message.AppendData(data.constData(), static_cast<std::size_t>(data.size()));
    if (!encryptor.EncryptBinaryData(message)) {
        trace(lcCrypto(), QString::fromStdString(encryptor.LastLog()));
        tell(op, QStringLiteral("Failed to generate encrypted data"));
        return ExportOutcome::Failed;
    }
    const Bytes der = message.GetData();
    if (der.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        tell(op, QStringLiteral("Failed to generate encrypted data"));
        return ExportOutcome::Failed;
    }
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(der.data()),
                                                     static_cast<int>(der.size()));
    if (!saveBytes(op, fileName, bytes, false))
        return ExportOutcome::Failed;
    tell(op, QStringLiteral("The encrypted data file is created successfully"));
    return ExportOutcome::Written;
}

ExportOutcome encryptDataFile(OperatorInterface &op, Encryptor &encryptor, const CertificateList &certificates,
                              const QByteArray &data, const QString &certificateName, const QString &fileName)
{
    if (data.isEmpty())
        return ExportOutcome::NothingToWrite;
    encryptor.ClearRecipientCerts();
    const Certificate *chosen = nullptr;
    for (const auto &certificate : certificates) {
        if (QString::fromStdString(certificate->SubjectDN()) == certificateName) {
            chosen = certificate.get();
            break;
        }
    }
    if (!chosen) {
        tell(op, QStringLiteral("Cannot find certificate for encryption"));
        return ExportOutcome::Failed;
    }
    return encryptDataFileFor(op, encryptor, *chosen, data, fileName);
}

bool writePlainExport(OperatorInterface &op, const QByteArray &data, const QString &fileName)
{
    return saveBytes(op, fileName, data, true);
}

}  // namespace velomark
