#include "crypto/envelopeddata.h"

#include "crypto/random.h"

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

bool encryptContent(const std::uint8_t *input, std::size_t size, const EVP_CIPHER *cipher, const Bytes &key,
                    const Bytes &iv, std::uint8_t *output, std::size_t outputSize, CallLog &log)
{
    CallLog::Scope scope(log, "encryptContent");
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    // OpenSSL's default padding is the one CMS prescribes: 1 to 16 bytes of the pad length.
    if (!ctx || EVP_EncryptInit_ex(ctx.get(), cipher, nullptr, key.data(), iv.data()) != 1) {
        log.error("The content cipher cannot be set up");
        return false;
    }
    std::size_t written = 0;
    for (std::size_t done = 0; done < size;) {
        const std::size_t chunk = size - done < kContentChunk ? size - done : kContentChunk;
        int produced = 0;
        if (EVP_EncryptUpdate(ctx.get(), output + written, &produced, input + done, static_cast<int>(chunk)) != 1) {
            log.error("The content cipher failed");
            return false;
        }
        written += static_cast<std::size_t>(produced);
        done += chunk;
    }
    int produced = 0;
    if (EVP_EncryptFinal_ex(ctx.get(), output + written, &produced) != 1) {
        log.error("The content cipher failed");
        return false;
    }
    written += static_cast<std::size_t>(produced);
    log.value("encryptedContentSize", std::to_string(written));
    if (written != outputSize) {
        log.error("The ciphertext size differs from the padded size");
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

bool buildEnvelopedData(const std::uint8_t *input, std::size_t size, const EnvelopeSettings &settings,
                        const std::vector<std::shared_ptr<const CertificateData>> &recipients,
                        Bytes &output, CallLog &log)
{
    CallLog::Scope scope(log, "buildEnvelopedData");
    std::string oid;
    std::size_t keyBytes = 0;
    if (!contentAlgorithm(settings.contentCipher, settings.keyLength, oid, keyBytes)) {
        log.error("Content cipher not supported for enveloped data.");
        log.error("Unsupported content-encryption algorithm");
        return false;
    }
    log.value("contentAlgorithm", oid);
    log.value("keyLength", std::to_string(keyBytes * 8));
    Bytes oidContent;
    if (!DerWriter::encodeOid(oid, oidContent)) {
        log.error("Unsupported content-encryption algorithm identifier");
        return false;
    }
    Bytes iv(16);
    SecretBytes key(keyBytes);
    if (!randomBytes(iv.data(), iv.size()) || !randomBytes(key.bytes.data(), key.bytes.size())) {
        log.error("Failed to generate random bytes.");
        return false;
    }

    std::vector<Bytes> recipientInfos;
    bool allRecipients = true;
    for (const auto &certificate : recipients) {
        Bytes info;
        if (!certificate || !buildRecipientInfo(*certificate, key.bytes, settings, info, log)) {
            log.error("Cannot build RecipientInfo");
            allRecipients = false;
            continue;
        }
        recipientInfos.push_back(std::move(info));
    }
    if (!allRecipients) {
        log.error("Cannot build the enveloped-data message");
        return false;
    }

    // CBC with CMS padding always adds 1 to 16 bytes.
    const std::size_t encryptedSize = (size / 16 + 1) * 16;
    DerWriter der;
    der.startSequence();
    der.addOid(kOidEnvelopedData);
    der.startContext(0);
    der.startSequence();
    der.addSmallUnsigned(0);
    der.startSet();
    for (const Bytes &info : recipientInfos)
        der.addEncoded(info);
    der.end();
    der.startSequence();
    der.addOid(kOidData);
    der.startSequence();
    der.addOid(oid);
    der.addOctetString(iv);
    der.end();
    der.addReserved(DerClass::Context, 0, encryptedSize);
    der.end();
    der.end();
    der.end();
    der.end();
    std::size_t contentOffset = 0;
    Bytes message;
    if (!der.finish(message, &contentOffset)) {
        log.error(der.error());
        log.error("Cannot build the enveloped-data message");
        return false;
    }
    // The ciphertext goes straight into its place in the message: no second copy of the data.
    if (!encryptContent(input, size, aesCbc(keyBytes), key.bytes, iv, message.data() + contentOffset,
                        encryptedSize, log)) {
        log.error("Content encryption failed");
        return false;
    }
    output = std::move(message);
    return true;
}

}  // namespace velomark
