#include "crypto/recordsignature.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <memory>

#include "crypto/certificate.h"

namespace velomark {

namespace {

template <typename T, void (*Free)(T *)>
struct Freer
{
    void operator()(T *p) const { Free(p); }
};
using BioPtr = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, Freer<CMS_ContentInfo, CMS_ContentInfo_free>>;

std::optional<QByteArray> readAll(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return bytes;
}

QString subjectOf(X509 *certificate)
{
    unsigned char *der = nullptr;
    const int length = i2d_X509(certificate, &der);
    if (length <= 0)
        return QString();
    const Bytes bytes(der, der + length);
    OPENSSL_free(der);
    std::string error;
    const std::shared_ptr<CertificateData> data = CertificateData::fromDer(bytes, &error);
    return data ? QString::fromStdString(data->subjectDN()) : QString();
}

}  // namespace

QString signatureFileOf(const QString &recordPath)
{
    return recordPath + QStringLiteral(".p7s");
}

QString signRecordFile(const QString &recordPath, const QString &nickname, const PinPrompt &prompt)
{
    QString error;
    const std::optional<QByteArray> record = readAll(recordPath, &error);
    if (!record)
        return error;
    const DetachedSignature signature =
        signDetached(reinterpret_cast<const std::uint8_t *>(record->constData()), std::size_t(record->size()),
                     nickname.toStdString(), prompt);
    if (!signature.error.empty())
        return QString::fromStdString(signature.error);
    const QString path = signatureFileOf(recordPath);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    const qint64 size = qint64(signature.der.size());
    if (file.write(reinterpret_cast<const char *>(signature.der.data()), size) != size) {
        const QString writeError = file.errorString();
        file.cancelWriting();
        return QStringLiteral("%1: %2").arg(path, writeError);
    }
    if (!file.commit())
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    return QString();
}

// OpenSSL checks it, not NSS: a record must be checkable by anyone who has it, without a
// certificate database, and NSS's check would also fail a signer its database does not trust.
SignatureCheck checkRecordSignature(const QString &recordPath)
{
    SignatureCheck check;
    const QString path = signatureFileOf(recordPath);
    check.file = QFileInfo(path).fileName();
    if (!QFileInfo::exists(path))
        return check;
    check.status = SignatureCheck::Mismatch;
    QString error;
    const std::optional<QByteArray> signature = readAll(path, &error);
    const std::optional<QByteArray> record = signature ? readAll(recordPath, &error) : std::nullopt;
    if (!record) {
        check.reason = error;
        return check;
    }
    const BioPtr signatureBio(BIO_new_mem_buf(signature->constData(), signature->size()));
    const CmsPtr cms(signatureBio ? d2i_CMS_bio(signatureBio.get(), nullptr) : nullptr);
    if (!cms || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed || CMS_is_detached(cms.get()) != 1) {
        check.reason = QStringLiteral("not a detached CMS signed-data message");
        ERR_clear_error();
        return check;
    }
    STACK_OF(CMS_SignerInfo) *signers = CMS_get0_SignerInfos(cms.get());
    X509_ALGOR *digest = nullptr;
    if (sk_CMS_SignerInfo_num(signers) == 1)
        CMS_SignerInfo_get0_algs(sk_CMS_SignerInfo_value(signers, 0), nullptr, nullptr, &digest, nullptr);
    const ASN1_OBJECT *digestOid = nullptr;
    if (digest)
        X509_ALGOR_get0(&digestOid, nullptr, nullptr, digest);
    if (!digestOid || OBJ_obj2nid(digestOid) != NID_sha256) {
        check.reason = QStringLiteral("not one signer with SHA-256");
        return check;
    }
    // The record's bytes as they are: no line-end conversion, and the signer's certificate
    // chain is left to the reader of the result.
    const BioPtr content(BIO_new_mem_buf(record->constData(), record->size()));
    X509_STORE *noTrust = X509_STORE_new();
    const int verified = content && noTrust
                             ? CMS_verify(cms.get(), nullptr, noTrust, content.get(), nullptr,
                                          CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY)
                             : 0;
    X509_STORE_free(noTrust);
    if (STACK_OF(X509) *certificates = CMS_get0_signers(cms.get())) {
        if (sk_X509_num(certificates) == 1)
            check.signer = subjectOf(sk_X509_value(certificates, 0));
        sk_X509_free(certificates);
    }
    if (verified != 1) {
        const unsigned long code = ERR_peek_last_error();
        const char *text = code ? ERR_reason_error_string(code) : nullptr;
        check.reason = text ? QString::fromLatin1(text) : QStringLiteral("not verified");
        ERR_clear_error();
        return check;
    }
    check.status = SignatureCheck::Ok;
    return check;
}

OnlySigner onlySigningNickname(const PinPrompt &prompt)
{
    OnlySigner only;
    const SigningNicknames found = signingNicknames(prompt);
    if (!found.error.empty())
        only.reason = QString::fromStdString(found.error);
    else if (found.nicknames.empty())
        only.reason = QStringLiteral("no certificate with a private key in the certificate database");
    else if (found.nicknames.size() > 1)
        only.reason = QStringLiteral("%1 certificates with a private key in the certificate database")
                          .arg(found.nicknames.size());
    else
        only.nickname = QString::fromStdString(found.nicknames.front());
    return only;
}

}  // namespace velomark
