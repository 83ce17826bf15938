#include "crypto/encryptor.h"

namespace velomark {

std::string Encryptor::normaliseAlgorithmName(const std::string &name)
{
    std::string text;
    for (char c : name)
        if (c != '-')
            text += c;
    const char *blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    text = text.substr(first, text.find_last_not_of(blanks) - first + 1);
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

int Encryptor::algorithmCode(const std::string &name)
{
    const std::string n = normaliseAlgorithmName(name);
    auto contains = [&n](const char *part) { return n.find(part) != std::string::npos; };
    if (n == "aes" || contains("rijn") || contains("rjin"))
        return 2;
    if (n == "des" || n == "3des" || n == "tripledes" || n == "tdes")
        return 7;
    if (n == "rc2")
        return 8;
    if (contains("rc4") || contains("arcfour"))
        return 9;
    if (n == "pki")
        return 1;
    if (n == "none")
        return 5;
    return 2;
}

void Encryptor::SetEncryptionAlgorithm(const std::string &name)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_algorithmName = normaliseAlgorithmName(name);
    m_algorithm = algorithmCode(name);
}

std::string Encryptor::EncryptionAlgorithm() const
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_algorithmName;
}

void Encryptor::SetContentCipher(const std::string &name)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_settings.contentCipher = algorithmCode(name);
}

void Encryptor::SetKeyLength(std::int32_t bits)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_settings.keyLength = bits;
}

std::int32_t Encryptor::KeyLength() const
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_settings.keyLength;
}

void Encryptor::SetUseOaep(bool useOaep)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_settings.useVersion15 = !useOaep;
}

bool Encryptor::UseOaep() const
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return !m_settings.useVersion15;
}

namespace {

bool hashByName(const std::string &name, HashCode &code)
{
    const std::string n = Encryptor::normaliseAlgorithmName(name);
    if (n == "sha1")
        code = HashCode::Sha1;
    else if (n == "sha256")
        code = HashCode::Sha256;
    else if (n == "sha384")
        code = HashCode::Sha384;
    else if (n == "sha512")
        code = HashCode::Sha512;
    else if (n == "md5")
        code = HashCode::Md5;
    else
        return false;
    return true;
}

}  // namespace

bool Encryptor::SetOaepHash(const std::string &name)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return hashByName(name, m_settings.oaepHash);
}

bool Encryptor::SetOaepMaskHash(const std::string &name)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return hashByName(name, m_settings.oaepMaskHash);
}

bool Encryptor::SetRecipientCert(const Certificate &certificate)
{
    std::shared_ptr<const CertificateData> data = certificate.shared();
    if (!data)
        return false;
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return guardedCall("SetRecipientCert", [&] {
        m_recipients.clear();
        m_recipients.push_back(std::move(data));
        return true;
    });
}

void Encryptor::ClearRecipientCerts()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_lastSuccess = true;
    m_recipients.clear();
}

int Encryptor::RecipientCount() const
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return static_cast<int>(m_recipients.size());
}

bool Encryptor::envelopeReady()
{
    if (m_algorithm != 1) {
        m_log.value("algorithm", m_algorithmName);
        m_log.error("Encryption algorithm not supported.");
        return false;
    }
    m_log.value("algorithm", "pki");
    if (m_recipients.empty()) {
        m_log.error("No recipient certificate was given.");
        return false;
    }
    return true;
}

bool Encryptor::EncryptBinaryData(BinaryData &data)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    std::lock_guard<std::recursive_mutex> dataLock(data.m_lock);
    return guardedCall("EncryptBinaryData", [&] {
        Bytes output;
        if (!envelopeReady()
            || !buildEnvelopedData(data.m_bytes.data(), data.m_bytes.size(), m_settings, m_recipients, output, m_log))
            return false;
        // The message moves in; the plaintext's memory goes at once.
        data.m_bytes = std::move(output);
        return true;
    });
}

bool Encryptor::EncryptStream(std::uint64_t size, const ContentReader &read, const MessageWriter &write)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return guardedCall("EncryptStream", [&] {
        return envelopeReady() && streamEnvelopedData(size, read, write, m_settings, m_recipients, m_log);
    });
}

}  // namespace velomark
