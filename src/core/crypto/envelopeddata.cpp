#include "crypto/envelopeddata.h"

#include "crypto/random.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

namespace velomark {

namespace {

constexpr const char *kOidData = "1.2.840.113549.1.7.1";
constexpr const char *kOidEnvelopedData = "1.2.840.113549.1.7.3";
constexpr const char *kOidRsaEncryption = "1.2.840.113549.1.1.1";
constexpr const char *kOidRsaesOaep = "1.2.840.113549.1.1.7";
constexpr const char *kOidMgf1 = "1.2.840.113549.1.1.8";

using PkeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;
using BignumPtr = std::unique_ptr<BIGNUM, decltype(&BN_free)>;

// The smallest RSA modulus a content key is wrapped for.
constexpr int kMinimumModulusBits = 1024;

// A key that would not protect the content key is refused: a short modulus can be factored,
// an exponent of 1 leaves the key block as it is, and an even exponent is no RSA key.
bool acceptableRsaKey(EVP_PKEY *key, CallLog &log)
{
    const int bits = EVP_PKEY_get_bits(key);
    log.value("modulusBits", std::to_string(bits));
    if (bits < kMinimumModulusBits) {
        log.error("The RSA modulus is shorter than " + std::to_string(kMinimumModulusBits) + " bits");
        return false;
    }
    BIGNUM *raw = nullptr;
    if (EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &raw) != 1 || !raw) {
        log.error("The RSA public exponent cannot be read");
        return false;
    }
    const BignumPtr exponent(raw, &BN_free);
    if (BN_is_one(exponent.get())) {
        log.error("The RSA public exponent is 1");
        return false;
    }
    if (!BN_is_odd(exponent.get())) {
        log.error("The RSA public exponent is even");
        return false;
    }
    return true;
}

// Key material is wiped on every path out of the step that made it.
struct SecretBytes
{
    Bytes bytes;
    explicit SecretBytes(std::size_t size) : bytes(size) {}
    ~SecretBytes()
    {
        if (!bytes.empty())
            OPENSSL_cleanse(bytes.data(), bytes.size());
    }
};

const char *hashOid(HashCode code)
{
    switch (code) {
    case HashCode::Sha1: return "1.3.14.3.2.26";
    case HashCode::Sha256: return "2.16.840.1.101.3.4.2.1";
    case HashCode::Sha384: return "2.16.840.1.101.3.4.2.2";
    case HashCode::Sha512: return "2.16.840.1.101.3.4.2.3";
    case HashCode::Md5: return "1.2.840.113549.2.5";
    case HashCode::Md2: return "1.2.840.113549.2.2";
    }
    return nullptr;
}

const char *hashName(HashCode code)
{
    switch (code) {
    case HashCode::Sha1: return "SHA1";
    case HashCode::Sha256: return "SHA256";
    case HashCode::Sha384: return "SHA384";
    case HashCode::Sha512: return "SHA512";
    case HashCode::Md5: return "MD5";
    case HashCode::Md2: return "MD2";
    }
    return nullptr;
}

const EVP_CIPHER *aesCbc(std::size_t keyBytes)
{
    switch (keyBytes) {
    case 16: return EVP_aes_128_cbc();
    case 24: return EVP_aes_192_cbc();
    case 32: return EVP_aes_256_cbc();
    }
    return nullptr;
}

void addKeyEncryptionAlgorithm(DerWriter &der, const EnvelopeSettings &settings)
{
    der.startSequence();
    if (settings.useVersion15) {
        der.addOid(kOidRsaEncryption);
        der.addNull();
    } else {
        der.addOid(kOidRsaesOaep);
        der.startSequence();
        der.startContext(0);
        der.startSequence();
        der.addOid(hashOid(settings.oaepHash) ? hashOid(settings.oaepHash) : "");
        der.addNull();
        der.end();
        der.end();
        der.startContext(1);
        der.startSequence();
        der.addOid(kOidMgf1);
        der.startSequence();
        der.addOid(hashOid(settings.oaepMaskHash) ? hashOid(settings.oaepMaskHash) : "");
        der.addNull();
        der.end();
        der.end();
        der.end();
        der.end();
    }
    der.end();
}

bool rsaOperation(EVP_PKEY *key, const EnvelopeSettings &settings, const Bytes &input, Bytes &output,
                  CallLog &log)
{
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr), &EVP_PKEY_CTX_free);
    if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1) {
        log.error("RSA encryption cannot be set up");
        return false;
    }
    if (settings.useVersion15) {
        // The block is padded here already; the key operation is the bare modular power.
        if (EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) != 1) {
            log.error("RSA encryption cannot be set up");
            return false;
        }
    } else {
        const EVP_MD *hash = hashName(settings.oaepHash) ? EVP_get_digestbyname(hashName(settings.oaepHash)) : nullptr;
        const EVP_MD *mask = hashName(settings.oaepMaskHash) ? EVP_get_digestbyname(hashName(settings.oaepMaskHash)) : nullptr;
        if (!hash || !mask || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_OAEP_PADDING) != 1
            || EVP_PKEY_CTX_set_rsa_oaep_md(ctx.get(), hash) != 1
            || EVP_PKEY_CTX_set_rsa_mgf1_md(ctx.get(), mask) != 1) {
            log.error("OAEP hash not supported");
            return false;
        }
    }
    std::size_t length = 0;
    if (EVP_PKEY_encrypt(ctx.get(), nullptr, &length, input.data(), input.size()) != 1) {
        log.error("RSA encryption failed");
        return false;
    }
    output.assign(length, 0);
    if (EVP_PKEY_encrypt(ctx.get(), output.data(), &length, input.data(), input.size()) != 1) {
        log.error("RSA encryption failed");
        return false;
    }
    output.resize(length);
    return true;
}

bool buildRecipientInfo(const CertificateData &certificate, const Bytes &key, const EnvelopeSettings &settings,
                        Bytes &recipientInfo, CallLog &log)
{
    CallLog::Scope scope(log, "buildRecipientInfo");
    const std::string serial = certificate.serialNumberHex();
    log.value("serialNumber", serial);
    if (serial.empty()) {
        log.error("Certificate has no serial number");
        return false;
    }
    const Bytes issuer = certificate.issuerNameDer();
    if (issuer.empty()) {
        log.error("Cannot build IssuerAndSerialNumber");
        return false;
    }
    PublicKeyInfo publicKey;
    std::string error;
    {
        CallLog::Scope keyScope(log, "getPublicKey");
        if (!certificate.publicKey(publicKey, &error)) {
            log.error("Certificate has no public key");
            return false;
        }
    }
    Bytes wrapped;
    if (!wrapContentKey(publicKey, key, settings, wrapped, log)) {
        log.error("Cannot wrap the content-encryption key");
        return false;
    }
    DerWriter der;
    der.startSequence();
    der.addSmallUnsigned(0);
    der.startSequence();
    der.addEncoded(issuer);
    // The certificate's own INTEGER content, so the recipient's lookup matches byte for byte.
    der.addIntegerContent(certificate.serialNumberContent());
    der.end();
    addKeyEncryptionAlgorithm(der, settings);
    der.addOctetString(wrapped);
    der.end();
    if (!der.finish(recipientInfo)) {
        log.error(der.error());
        log.error("Cannot build IssuerAndSerialNumber");
        return false;
    }
    return true;
}

}  // namespace

bool contentAlgorithm(int cipher, std::int32_t keyLength, std::string &oid, std::size_t &keyBytes)
{
    if (cipher != 2)
        return false;
    if (keyLength < 129) {
        oid = "2.16.840.1.101.3.4.1.2";
        keyBytes = 16;
    } else if (keyLength > 192) {
        oid = "2.16.840.1.101.3.4.1.42";
        keyBytes = 32;
    } else {
        oid = "2.16.840.1.101.3.4.1.22";
        keyBytes = 24;
    }
    return true;
}

bool wrapContentKey(const PublicKeyInfo &publicKey, const Bytes &key, const EnvelopeSettings &settings,
                    Bytes &wrapped, CallLog &log)
{
    CallLog::Scope scope(log, "wrapContentKey");
    if (!publicKey.isRsa) {
        log.value("keyAlgorithm", publicKey.algorithmOid);
        log.error("Public key is not an RSA key");
        return false;
    }
    const unsigned char *p = publicKey.der.data();
    PkeyPtr rsa(d2i_PublicKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(publicKey.der.size())), &EVP_PKEY_free);
    if (!rsa) {
        log.error("Public key cannot be read");
        return false;
    }
    if (!acceptableRsaKey(rsa.get(), log))
        return false;
    const std::size_t k = (static_cast<std::size_t>(EVP_PKEY_get_bits(rsa.get())) + 7) / 8;
    log.value("modulusBytes", std::to_string(k));
    if (!settings.useVersion15)
        return rsaOperation(rsa.get(), settings, key, wrapped, log);
    if (k < key.size() + 11) {
        log.error("Key too long for the RSA modulus");
        return false;
    }
    // PKCS #1 version 1.5 type 2: 00 02, non-zero random padding, 00, the key.
    SecretBytes block(k);
    block.bytes[0] = 0x00;
    block.bytes[1] = 0x02;
    const std::size_t padding = k - key.size() - 3;
    if (!nonZeroRandomBytes(block.bytes.data() + 2, padding)) {
        log.error("Failed to generate random bytes.");
        return false;
    }
    block.bytes[2 + padding] = 0x00;
    std::copy(key.begin(), key.end(), block.bytes.begin() + static_cast<std::ptrdiff_t>(3 + padding));
    if (!rsaOperation(rsa.get(), settings, block.bytes, wrapped, log))
        return false;
    if (wrapped.size() != k) {
        log.error("RSA output length differs from the modulus length");
        return false;
    }
    return true;
}

std::uint64_t encryptedContentSize(std::uint64_t plainSize)
{
    return (plainSize / 16 + 1) * 16;
}

EnvelopeKeys::~EnvelopeKeys()
{
    if (!m_key.empty())
        OPENSSL_cleanse(m_key.data(), m_key.size());
}

bool EnvelopeKeys::make(const EnvelopeSettings &settings, const RecipientList &recipients, CallLog &log)
{
    std::size_t keyBytes = 0;
    if (!contentAlgorithm(settings.contentCipher, settings.keyLength, m_oid, keyBytes)) {
        log.error("Content cipher not supported for enveloped data.");
        log.error("Unsupported content-encryption algorithm");
        return false;
    }
    log.value("contentAlgorithm", m_oid);
    log.value("keyLength", std::to_string(keyBytes * 8));
    Bytes oidContent;
    if (!DerWriter::encodeOid(m_oid, oidContent)) {
        log.error("Unsupported content-encryption algorithm identifier");
        return false;
    }
    m_iv.assign(16, 0);
    m_key.assign(keyBytes, 0);
    if (!randomBytes(m_iv.data(), m_iv.size()) || !randomBytes(m_key.data(), m_key.size())) {
        log.error("Failed to generate random bytes.");
        return false;
    }
    bool allRecipients = true;
    for (const auto &certificate : recipients) {
        Bytes info;
        if (!certificate || !buildRecipientInfo(*certificate, m_key, settings, info, log)) {
            log.error("Cannot build RecipientInfo");
            allRecipients = false;
            continue;
        }
        m_recipientInfos.push_back(std::move(info));
    }
    if (!allRecipients) {
        log.error("Cannot build the enveloped-data message");
        return false;
    }
    return true;
}

bool EnvelopeKeys::messageHead(std::uint64_t plainSize, Bytes &head, CallLog &log) const
{
    if (plainSize > kMaxContentSize) {
        log.value("contentSize", std::to_string(plainSize));
        log.error("The content is too large for one message");
        return false;
    }
    DerWriter der;
    der.startSequence();
    der.addOid(kOidEnvelopedData);
    der.startContext(0);
    der.startSequence();
    der.addSmallUnsigned(0);
    der.startSet();
    for (const Bytes &info : m_recipientInfos)
        der.addEncoded(info);
    der.end();
    der.startSequence();
    der.addOid(kOidData);
    der.startSequence();
    der.addOid(m_oid);
    der.addOctetString(m_iv);
    der.end();
    der.addReserved(DerClass::Context, 0, static_cast<std::size_t>(encryptedContentSize(plainSize)));
    der.end();
    der.end();
    der.end();
    der.end();
    if (!der.finishHead(head)) {
        log.error(der.error());
        log.error("Cannot build the enveloped-data message");
        return false;
    }
    return true;
}

struct ContentCipher::Context
{
    CipherCtxPtr ctx{EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free};
};

ContentCipher::ContentCipher() : m_context(new Context) {}

ContentCipher::~ContentCipher() = default;

bool ContentCipher::start(const EnvelopeKeys &keys, CallLog &log)
{
    const EVP_CIPHER *cipher = aesCbc(keys.key().size());
    // OpenSSL's default padding is the one CMS prescribes: 1 to 16 bytes of the pad length.
    if (!cipher || !m_context->ctx
        || EVP_EncryptInit_ex(m_context->ctx.get(), cipher, nullptr, keys.key().data(), keys.iv().data()) != 1) {
        log.error("The content cipher cannot be set up");
        return false;
    }
    return true;
}

bool ContentCipher::update(const std::uint8_t *input, std::size_t size, std::uint8_t *output, std::size_t &produced,
                           CallLog &log)
{
    produced = 0;
    for (std::size_t done = 0; done < size;) {
        const std::size_t chunk = size - done < kContentChunk ? size - done : kContentChunk;
        int n = 0;
        if (EVP_EncryptUpdate(m_context->ctx.get(), output + produced, &n, input + done, static_cast<int>(chunk)) != 1) {
            log.error("The content cipher failed");
            return false;
        }
        produced += static_cast<std::size_t>(n);
        done += chunk;
    }
    return true;
}

bool ContentCipher::finish(std::uint8_t *output, std::size_t &produced, CallLog &log)
{
    int n = 0;
    if (EVP_EncryptFinal_ex(m_context->ctx.get(), output, &n) != 1) {
        log.error("The content cipher failed");
        return false;
    }
    produced = static_cast<std::size_t>(n);
    return true;
}

bool buildEnvelopedData(const std::uint8_t *input, std::size_t size, const EnvelopeSettings &settings,
                        const RecipientList &recipients, Bytes &output, CallLog &log)
{
    CallLog::Scope scope(log, "buildEnvelopedData");
    EnvelopeKeys keys;
    Bytes message;
    if (!keys.make(settings, recipients, log) || !keys.messageHead(size, message, log))
        return false;
    // The ciphertext goes straight into its place in the message: no second copy of the data.
    const std::size_t encryptedSize = static_cast<std::size_t>(encryptedContentSize(size));
    const std::size_t contentOffset = message.size();
    checkAllocation(contentOffset + encryptedSize);
    message.resize(contentOffset + encryptedSize);
    CallLog::Scope contentScope(log, "encryptContent");
    ContentCipher cipher;
    std::size_t written = 0, last = 0;
    if (!cipher.start(keys, log) || !cipher.update(input, size, message.data() + contentOffset, written, log)
        || !cipher.finish(message.data() + contentOffset + written, last, log)) {
        log.error("Content encryption failed");
        return false;
    }
    log.value("encryptedContentSize", std::to_string(written + last));
    if (written + last != encryptedSize) {
        log.error("The ciphertext size differs from the padded size");
        return false;
    }
    output = std::move(message);
    return true;
}

bool streamEnvelopedData(std::uint64_t size, const ContentReader &read, const MessageWriter &write,
                         const EnvelopeSettings &settings, const RecipientList &recipients, CallLog &log)
{
    CallLog::Scope scope(log, "streamEnvelopedData");
    log.value("contentSize", std::to_string(size));
    EnvelopeKeys keys;
    Bytes head;
    if (!keys.make(settings, recipients, log) || !keys.messageHead(size, head, log))
        return false;
    if (!write(head.data(), head.size())) {
        log.error("Writing the message failed");
        return false;
    }
    ContentCipher cipher;
    if (!cipher.start(keys, log))
        return false;
    checkAllocation(2 * kStreamChunk + 16);
    Bytes plain(kStreamChunk);
    Bytes encrypted(kStreamChunk + 16);
    std::uint64_t done = 0, written = 0;
    bool ok = true;
    while (ok && done < size) {
        const std::size_t want = size - done < kStreamChunk ? static_cast<std::size_t>(size - done) : kStreamChunk;
        const std::int64_t got = read(plain.data(), want);
        if (got < 0) {
            log.error("Reading the content failed");
            ok = false;
        } else if (got == 0) {
            log.value("contentRead", std::to_string(done));
            log.error("The content ended before its announced size");
            ok = false;
        } else {
            std::size_t produced = 0;
            ok = cipher.update(plain.data(), static_cast<std::size_t>(got), encrypted.data(), produced, log);
            if (ok && produced > 0 && !write(encrypted.data(), produced)) {
                log.error("Writing the message failed");
                ok = false;
            }
            done += static_cast<std::uint64_t>(got);
            written += produced;
        }
    }
    OPENSSL_cleanse(plain.data(), plain.size());
    if (!ok)
        return false;
    // The input has to end where its size said: content that goes on would be cut silently.
    std::uint8_t probe = 0;
    const std::int64_t more = read(&probe, 1);
    if (more != 0) {
        log.error(more < 0 ? "Reading the content failed" : "The content goes on past its announced size");
        return false;
    }
    std::size_t last = 0;
    if (!cipher.finish(encrypted.data(), last, log))
        return false;
    if (!write(encrypted.data(), last)) {
        log.error("Writing the message failed");
        return false;
    }
    written += last;
    log.value("encryptedContentSize", std::to_string(written));
    if (written != encryptedContentSize(size)) {
        log.error("The ciphertext size differs from the padded size");
        return false;
    }
    return true;
}

}  // namespace velomark
