#pragma once
// The steps that build a CMS EnvelopedData message (ContentInfo, DER) for RSA recipients.
// Each step records its failures in the log under a context of its own name.
#include "crypto/certificate.h"
#include "crypto/component.h"
#include "crypto/derwriter.h"

#include <memory>
#include <vector>

namespace velomark {

enum class HashCode { Sha1 = 1, Sha384 = 2, Sha512 = 3, Md2 = 4, Md5 = 5, Sha256 = 7 };

struct EnvelopeSettings
{
    int contentCipher = 2;  // 2: AES
    std::int32_t keyLength = 256;
    bool useVersion15 = true;  // false: RSAES-OAEP
    HashCode oaepHash = HashCode::Sha256;
    HashCode oaepMaskHash = HashCode::Sha1;
};

// Plaintext is streamed to the cipher in chunks of this size.
inline constexpr std::size_t kContentChunk = 64000;

// Builds the whole message for `input` into `output` (replaced).
bool buildEnvelopedData(const std::uint8_t *input, std::size_t size, const EnvelopeSettings &settings,
                        const std::vector<std::shared_ptr<const CertificateData>> &recipients,
                        Bytes &output, CallLog &log);

// Wraps `key` for one RSA public key: PKCS #1 version 1.5 block (built here, padded with
// non-zero random bytes, then the raw RSA operation) or OAEP.
bool wrapContentKey(const PublicKeyInfo &publicKey, const Bytes &key, const EnvelopeSettings &settings,
                    Bytes &wrapped, CallLog &log);

// The algorithm identifier of a content cipher and key length: OID and key bytes.
bool contentAlgorithm(int cipher, std::int32_t keyLength, std::string &oid, std::size_t &keyBytes);

}  // namespace velomark
