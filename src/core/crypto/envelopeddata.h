#pragma once
// The steps that build a CMS EnvelopedData message (ContentInfo, DER) for RSA recipients.
// Each step records its failures in the log under a context of its own name.
#include "crypto/certificate.h"
#include "crypto/component.h"
#include "crypto/derwriter.h"

#include <functional>
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

using RecipientList = std::vector<std::shared_ptr<const CertificateData>>;

// Plaintext is handed to the cipher in chunks of this size.
inline constexpr std::size_t kContentChunk = 64000;
// A streamed message is read and written in pieces of this size: memory stays bounded
// whatever the size of the content.
inline constexpr std::size_t kStreamChunk = 1 << 20;
// The largest content a message is made for (its lengths stay within five length octets).
inline constexpr std::uint64_t kMaxContentSize = std::uint64_t(1) << 40;

// The size of the encrypted content for `plainSize` bytes: CBC with CMS padding always adds
// 1 to 16 bytes.
std::uint64_t encryptedContentSize(std::uint64_t plainSize);

// The parts of one message that do not depend on its content: the content key and IV, and
// the RecipientInfos holding the key wrapped for each recipient. The key is wiped with it.
class EnvelopeKeys
{
public:
    EnvelopeKeys() = default;
    ~EnvelopeKeys();
    EnvelopeKeys(const EnvelopeKeys &) = delete;
    EnvelopeKeys &operator=(const EnvelopeKeys &) = delete;

    bool make(const EnvelopeSettings &settings, const RecipientList &recipients, CallLog &log);
    // Everything of the message that comes before its encrypted content, for content of
    // `plainSize` bytes. That content is the last value of every structure around it, so the
    // message is this head followed by the ciphertext, and its definite lengths are known
    // before the first byte is encrypted.
    bool messageHead(std::uint64_t plainSize, Bytes &head, CallLog &log) const;

    const Bytes &key() const { return m_key; }
    const Bytes &iv() const { return m_iv; }

private:
    std::string m_oid;
    Bytes m_key;
    Bytes m_iv;
    std::vector<Bytes> m_recipientInfos;
};

// The content cipher of one message, fed piece by piece: each update() gives at most its
// input size plus one block.
class ContentCipher
{
public:
    ContentCipher();
    ~ContentCipher();
    ContentCipher(const ContentCipher &) = delete;
    ContentCipher &operator=(const ContentCipher &) = delete;

    bool start(const EnvelopeKeys &keys, CallLog &log);
    bool update(const std::uint8_t *input, std::size_t size, std::uint8_t *output, std::size_t &produced,
                CallLog &log);
    // The last block with its padding.
    bool finish(std::uint8_t *output, std::size_t &produced, CallLog &log);

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

// Builds the whole message for `input` into `output` (replaced).
bool buildEnvelopedData(const std::uint8_t *input, std::size_t size, const EnvelopeSettings &settings,
                        const RecipientList &recipients, Bytes &output, CallLog &log);

// Reads up to `size` bytes into `buffer`: the count read, 0 at the end of the input, a
// negative value when reading failed.
using ContentReader = std::function<std::int64_t(std::uint8_t *buffer, std::size_t size)>;
// Writes the bytes; false when they could not be written.
using MessageWriter = std::function<bool(const std::uint8_t *data, std::size_t size)>;

// Builds the message for content of exactly `size` bytes, read and written piece by piece.
// Input that ends early or goes on past `size` fails, as does any read or write error; the
// bytes written before are then no message and the caller discards them.
bool streamEnvelopedData(std::uint64_t size, const ContentReader &read, const MessageWriter &write,
                         const EnvelopeSettings &settings, const RecipientList &recipients, CallLog &log);

// Wraps `key` for one RSA public key: PKCS #1 version 1.5 block (built here, padded with
// non-zero random bytes, then the raw RSA operation) or OAEP.
bool wrapContentKey(const PublicKeyInfo &publicKey, const Bytes &key, const EnvelopeSettings &settings,
                    Bytes &wrapped, CallLog &log);

// The algorithm identifier of a content cipher and key length: OID and key bytes.
bool contentAlgorithm(int cipher, std::int32_t keyLength, std::string &oid, std::size_t &keyBytes);

}  // namespace velomark
