#include "crypto/exportflow.h"

#include <QDir>

#include "common/trace.h"
#include "crypto/binarydata.h"
#include "crypto/certstore.h"

#include <QBuffer>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

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

QString writeFailed(const QString &fileName, const QString &error)
{
    return QStringLiteral("Write data file %1 failed with error: %2").arg(fileName, error);
}

QString readFailed(const QString &fileName, const QString &error)
{
    return QStringLiteral("Read data file %1 failed with error: %2").arg(fileName, error);
}

QString spoolFailed(const QString &inputName, const QString &fileName, const QString &error)
{
    return QStringLiteral("Input %1 has no known size and cannot be spooled beside %2: %3").arg(inputName, fileName, error);
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
        tell(op, writeFailed(fileName, error));
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

const Certificate *findCertificate(const CertificateList &certificates, const QString &certificateName)
{
    for (const auto &certificate : certificates)
        if (QString::fromStdString(certificate->SubjectDN()) == certificateName)
            return certificate.get();
    return nullptr;
}

// The recipient as the export dialog lists it.
QString recipientName(const Certificate &certificate)
{
    const std::shared_ptr<const CertificateData> data = certificate.shared();
    return data ? QString::fromStdString(data->subjectDN()) : QString();
}

ExportOutcome encryptDeviceFor(OperatorInterface &op, Encryptor &encryptor, const Certificate &certificate,
                               QIODevice &input, qint64 size, const QString &inputName, const QString &fileName)
{
    if (size <= 0)
        return ExportOutcome::NothingToWrite;
    encryptor.ClearRecipientCerts();
    if (!encryptor.SetRecipientCert(certificate)) {
        tell(op, QStringLiteral("Failed to set digital certificate for encryption"));
        return ExportOutcome::Failed;
    }
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        tell(op, openFailed(fileName, file.errorString()));
        return ExportOutcome::Failed;
    }
    qint64 read = 0;
    QString readError, writeError;
    const bool encrypted = encryptor.EncryptStream(
        static_cast<std::uint64_t>(size),
        [&](std::uint8_t *buffer, std::size_t wanted) -> std::int64_t {
            const qint64 got = input.read(reinterpret_cast<char *>(buffer), static_cast<qint64>(wanted));
            if (got < 0)
                readError = input.errorString();
            else if (got == 0 && read < size)
                readError = QStringLiteral("the input ended after %1 of %2 bytes").arg(read).arg(size);
            else if (got > 0 && read >= size)
                readError = QStringLiteral("the input grew past %1 bytes while it was read").arg(size);
            read += got > 0 ? got : 0;
            return got;
        },
        [&](const std::uint8_t *data, std::size_t length) {
            if (file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(length))
                == static_cast<qint64>(length))
                return true;
            writeError = file.errorString();
            return false;
        });
    if (!encrypted) {
        file.cancelWriting();
        trace(lcCrypto(), QString::fromStdString(encryptor.LastLog()));
        if (!readError.isEmpty())
            tell(op, readFailed(inputName, readError));
        else if (!writeError.isEmpty())
            tell(op, writeFailed(fileName, writeError));
        else
            tell(op, QStringLiteral("Failed to generate encrypted data"));
        return ExportOutcome::Failed;
    }
    if (!file.commit()) {
        tell(op, writeFailed(fileName, file.errorString()));
        return ExportOutcome::Failed;
    }
    tell(op, QStringLiteral("The encrypted data file is created successfully")
                 + QStringLiteral("\n%1, for %2").arg(QDir::toNativeSeparators(fileName),
                                                      recipientName(certificate)));
    return ExportOutcome::Written;
}

ExportOutcome encryptFileFor(OperatorInterface &op, Encryptor &encryptor, const Certificate &certificate,
                             QFileDevice &input, const QString &fileName)
{
    const QString inputName = input.fileName();
    if (!input.isSequential() && input.size() > 0)
        return encryptDeviceFor(op, encryptor, certificate, input, input.size(), inputName, fileName);
    // The spool lives beside the output, on the disk the message goes to anyway.
    QTemporaryFile spool(QFileInfo(fileName).absolutePath() + QStringLiteral("/.velomark-spool-XXXXXX"));
    if (!spool.open()) {
        tell(op, spoolFailed(inputName, fileName, spool.errorString()));
        return ExportOutcome::Failed;
    }
#ifndef Q_OS_WIN
    // Unlinked at once: the open file is all that is left, and it goes when it closes.
    QFile::remove(spool.fileName());
    spool.setAutoRemove(false);
#endif
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 got = input.read(buffer.data(), buffer.size());
        if (got < 0) {
            tell(op, readFailed(inputName, input.errorString()));
            return ExportOutcome::Failed;
        }
        if (got == 0)
            break;
        if (spool.write(buffer.constData(), got) != got) {
            tell(op, spoolFailed(inputName, fileName, spool.errorString()));
            return ExportOutcome::Failed;
        }
    }
    if (!spool.flush() || !spool.seek(0)) {
        tell(op, spoolFailed(inputName, fileName, spool.errorString()));
        return ExportOutcome::Failed;
    }
    return encryptDeviceFor(op, encryptor, certificate, spool, spool.size(), inputName, fileName);
}

ExportOutcome encryptDataFileFor(OperatorInterface &op, Encryptor &encryptor, const Certificate &certificate,
                                 const QByteArray &data, const QString &fileName)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    return encryptDeviceFor(op, encryptor, certificate, buffer, data.size(), QStringLiteral("(log text)"), fileName);
}

ExportOutcome encryptDataFile(OperatorInterface &op, Encryptor &encryptor, const CertificateList &certificates,
                              const QByteArray &data, const QString &certificateName, const QString &fileName)
{
    if (data.isEmpty())
        return ExportOutcome::NothingToWrite;
    encryptor.ClearRecipientCerts();
    const Certificate *chosen = findCertificate(certificates, certificateName);
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
