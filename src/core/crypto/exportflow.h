#pragma once
// The encrypted export without widgets: the encryption set-up of the main dialog, loading the
// current user's certificates, encrypting the log text for one certificate, and the plain
// export. Every outcome is told to the operator; files are replaced only by a complete write.
#include "common/operatorinterface.h"
#include "crypto/certificate.h"
#include "crypto/encryptor.h"

#include <QByteArray>
#include <QFileDevice>
#include <QIODevice>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace velomark {

using CertificateList = std::vector<std::unique_ptr<Certificate>>;

// "pki", "aes", 128 bits, PKCS #1 version 1.5 key transport.
void configureExportEncryptor(Encryptor &encryptor);

// Offered after a successful log CSV save: true when the operator answers Yes.
bool askForEncryptedExport(OperatorInterface &op);

// Fills `certificates` from the current user's store, in store order. When the store cannot
// be opened, tells the operator "OpenCurrentUserStore(0 failed", leaves the list as it was
// and returns false.
bool loadCertificates(OperatorInterface &op, CertificateList &certificates);

// The list texts of the certificates (their subject names, decoded as UTF-8).
QStringList certificateNames(const CertificateList &certificates);

enum class ExportOutcome { Written, NothingToWrite, Failed };

// The first certificate whose subject name equals `certificateName` exactly, or null.
const Certificate *findCertificate(const CertificateList &certificates, const QString &certificateName);

// Encrypts `data` for the first certificate whose subject name equals `certificateName`
// exactly and writes the DER message to `fileName`. Empty data: nothing, silently.
ExportOutcome encryptDataFile(OperatorInterface &op, Encryptor &encryptor, const CertificateList &certificates,
                              const QByteArray &data, const QString &certificateName, const QString &fileName);

// The same for a certificate already chosen.
ExportOutcome encryptDataFileFor(OperatorInterface &op, Encryptor &encryptor, const Certificate &certificate,
                                 const QByteArray &data, const QString &fileName);

// Encrypts `size` bytes of the open `input` (named `inputName` in messages) into `fileName`,
// streamed in pieces: memory stays bounded whatever the size. A read error, input that ends
// early or goes on, or a write error fails the export, and no output file is left.
ExportOutcome encryptDeviceFor(OperatorInterface &op, Encryptor &encryptor, const Certificate &certificate,
                               QIODevice &input, qint64 size, const QString &inputName, const QString &fileName);

// Encrypts an open file. One of unknown size (a pipe, a terminal, a file that tells size 0)
// is first copied to an unlinked temporary file beside the output, so it is never cut.
ExportOutcome encryptFileFor(OperatorInterface &op, Encryptor &encryptor, const Certificate &certificate,
                             QFileDevice &input, const QString &fileName);

// Writes `data` as text (line feeds become the platform's line end). False, after telling the
// operator, when the file cannot be written.
bool writePlainExport(OperatorInterface &op, const QByteArray &data, const QString &fileName);

}  // namespace velomark
