#include "crypto/fortuna.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <cstring>
#include <memory>
#include <vector>

namespace velomark {

namespace {
constexpr std::size_t kMaxRequest = std::size_t(1) << 20;
}

FortunaGenerator::FortunaGenerator()
{
    std::memset(m_key, 0, sizeof m_key);
    std::memset(m_counter, 0, sizeof m_counter);
}

FortunaGenerator::~FortunaGenerator()
{
    OPENSSL_cleanse(m_key, sizeof m_key);
    OPENSSL_cleanse(m_counter, sizeof m_counter);
}

bool FortunaGenerator::isSeeded() const
{
    for (std::uint8_t b : m_counter)
        if (b != 0)
            return true;
    return false;
}

void FortunaGenerator::incrementCounter(std::uint64_t by)
{
    unsigned carry = 0;
    for (int i = 15; i >= 0; --i) {
        const unsigned add = (i >= 8 ? static_cast<unsigned>((by >> (8 * (15 - i))) & 0xFF) : 0) + carry;
        const unsigned sum = m_counter[i] + add;
        m_counter[i] = static_cast<std::uint8_t>(sum);
        carry = sum >> 8;
    }
}

bool FortunaGenerator::reseed(const std::uint8_t *seed, std::size_t size)
{
    std::vector<std::uint8_t> material(m_key, m_key + sizeof m_key);
    material.insert(material.end(), seed, seed + size);
    std::uint8_t once[SHA256_DIGEST_LENGTH];
    const bool ok = SHA256(material.data(), material.size(), once) != nullptr
                    && SHA256(once, sizeof once, m_key) != nullptr;
    OPENSSL_cleanse(material.data(), material.size());
    OPENSSL_cleanse(once, sizeof once);
    if (!ok)
        return false;
    incrementCounter(1);
    return true;
}

bool FortunaGenerator::generateBlocks(std::uint8_t *out, std::size_t blocks)
{
    // Counter mode over zero bytes yields the encrypted counter blocks themselves.
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                         &EVP_CIPHER_CTX_free);
    if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_ctr(), nullptr, m_key, m_counter) != 1)
        return false;
    std::memset(out, 0, blocks * 16);
    int produced = 0;
    if (EVP_EncryptUpdate(ctx.get(), out, &produced, out, static_cast<int>(blocks * 16)) != 1
        || produced != static_cast<int>(blocks * 16))
        return false;
    incrementCounter(blocks);
    return true;
}

bool FortunaGenerator::generate(std::uint8_t *out, std::size_t size)
{
    if (!isSeeded())
        return false;
    std::uint8_t block[16];
    while (size > 0) {
        const std::size_t part = size < kMaxRequest ? size : kMaxRequest;
        const std::size_t whole = part / 16;
        if (whole > 0 && !generateBlocks(out, whole))
            return false;
        if (part % 16 != 0) {
            if (!generateBlocks(block, 1))
                return false;
            std::memcpy(out + whole * 16, block, part % 16);
        }
        // A new key after every request: a later compromise reveals nothing earlier.
        std::uint8_t newKey[32];
        if (!generateBlocks(newKey, 2))
            return false;
        std::memcpy(m_key, newKey, sizeof m_key);
        OPENSSL_cleanse(newKey, sizeof newKey);
        out += part;
        size -= part;
    }
    OPENSSL_cleanse(block, sizeof block);
    return true;
}

}  // namespace velomark
