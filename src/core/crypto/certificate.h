#pragma once
// A certificate of the current user's store and the holder object handed to callers. The
// certificate itself is shared: every Certificate object and every recipient list that holds
// it keeps it alive, and it does not depend on the store it came from.
#include "crypto/component.h"
#include "crypto/derwriter.h"

#include <memory>
#include <mutex>
#include <string>

namespace velomark {

struct CertificateParts;

// The public key as the enveloped-data builder needs it: for rsaEncryption keys the
// RSAPublicKey structure (modulus, exponent); for any other kind the whole
// SubjectPublicKeyInfo, which the builder refuses as not RSA.
struct PublicKeyInfo
{
    bool isRsa = false;
    std::string algorithmOid;
    Bytes der;
};

// The shared, immutable certificate. Created only by parsing DER.
class CertificateData
{
public:
    ~CertificateData();
    // Parses DER bytes; null with the reason in *error when they are no certificate.
    static std::shared_ptr<CertificateData> fromDer(const Bytes &der, std::string *error,
                                                    std::shared_ptr<void> platformContext = {});

    const Bytes &der() const { return m_der; }
    // The subject as "CN=..., O=..." in stored order.
    std::string subjectDN() const;
    // The issuer Name structure, DER, unchanged.
    Bytes issuerNameDer() const;
    // The content octets of the serialNumber INTEGER as upper-case hex text.
    std::string serialNumberHex() const;
    Bytes serialNumberContent() const;
    bool publicKey(PublicKeyInfo &key, std::string *error) const;

private:
    CertificateData() = default;
    Bytes m_der;
    std::unique_ptr<CertificateParts> m_parts;
    // A platform handle the certificate owns (a CryptoAPI context on Windows).
    std::shared_ptr<void> m_platformContext;
    // The public key, read once on first request.
    mutable std::mutex m_keyLock;
    mutable bool m_keyRead = false;
    mutable bool m_keyOk = false;
    mutable PublicKeyInfo m_key;
};

class Certificate : public ComponentObject
{
public:
    Certificate() = default;
    explicit Certificate(std::shared_ptr<const CertificateData> data) : m_data(std::move(data)) {}

    bool HasCertificate() const;
    // Loads a certificate from a PEM or DER file (log context "LoadFromFile").
    bool LoadFromFile(const std::string &path);
    // Loads from DER bytes (log context "LoadFromDer").
    bool LoadFromDer(const Bytes &der);

    // Empty text when the object holds no certificate ("No certificate" logged).
    std::string SubjectDN();
    std::string SerialNumber();
    Bytes IssuerNameDer();
    Bytes Der();

    std::shared_ptr<const CertificateData> shared() const;

private:
    std::shared_ptr<const CertificateData> m_data;
};

// The DER of a certificate file's content: the first certificate of a PEM text (one with the
// armour line), else the bytes themselves. Empty when the PEM text holds no certificate.
Bytes certificateFileDer(const std::string &content);

// Renders a subject or issuer Name given as DER in the same way as SubjectDN.
std::string renderDistinguishedName(const Bytes &nameDer, bool *ok);

}  // namespace velomark
