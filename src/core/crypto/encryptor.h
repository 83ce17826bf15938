#pragma once
// The encryption object: settings, the recipient list, and encryption of a BinaryData object
// into a CMS EnvelopedData message (DER) for the recipients.
#include "crypto/binarydata.h"
#include "crypto/certificate.h"
#include "crypto/component.h"
#include "crypto/envelopeddata.h"

#include <memory>
#include <string>
#include <vector>

namespace velomark {

class Encryptor : public ComponentObject
{
public:
    // Algorithm names are stored with "-" removed, trimmed and lower-cased; "pki" selects
    // public-key encryption (CMS enveloped data).
    void SetEncryptionAlgorithm(const std::string &name);
    std::string EncryptionAlgorithm() const;
    // "aes" (the only content cipher of enveloped data here).
    void SetContentCipher(const std::string &name);
    // Bits: up to 128 gives AES-128, 129 to 192 AES-192, above AES-256.
    void SetKeyLength(std::int32_t bits);
    std::int32_t KeyLength() const;
    // False: RSA PKCS #1 version 1.5 key transport; true: RSAES-OAEP.
    void SetUseOaep(bool useOaep);
    bool UseOaep() const;
    // OAEP hash names: "sha1", "sha256", "sha384", "sha512", "md5"; false for any other.
    bool SetOaepHash(const std::string &name);
    bool SetOaepMaskHash(const std::string &name);

    // Makes the certificate the only recipient; false when the object holds none.
    bool SetRecipientCert(const Certificate &certificate);
    void ClearRecipientCerts();
    int RecipientCount() const;

    // On success `data` holds the DER message instead of its bytes; on failure it is unchanged.
    bool EncryptBinaryData(BinaryData &data);
    // Encrypts content of exactly `size` bytes, read and written piece by piece, so memory
    // stays bounded whatever its size. On failure what was written is no message.
    bool EncryptStream(std::uint64_t size, const ContentReader &read, const MessageWriter &write);

    // The code a name maps to: 1 pki, 2 aes, 5 none, 7 3des, 8 rc2, 9 rc4.
    static int algorithmCode(const std::string &name);
    static std::string normaliseAlgorithmName(const std::string &name);

private:
    // False, logged, unless the settings make enveloped data for at least one recipient.
    bool envelopeReady();

    std::string m_algorithmName;
    int m_algorithm = 2;
    EnvelopeSettings m_settings;
    RecipientList m_recipients;
};

}  // namespace velomark
