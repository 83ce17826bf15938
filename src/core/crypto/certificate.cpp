#include "crypto/certificate.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <mutex>

namespace velomark {

struct CertificateParts
{
    X509 *x509 = nullptr;
    ~CertificateParts() { X509_free(x509); }
};

namespace {

struct AttributeName
{
    const char *oid;
    const char *name;
};

const AttributeName kAttributeNames[] = {
    {"1.2.840.113549.1.9.1", "E"},     {"2.5.4.3", "CN"},
    {"2.5.4.11", "OU"},                {"2.5.4.10", "O"},
    {"2.5.4.7", "L"},                  {"2.5.4.8", "ST"},
    {"2.5.4.9", "STREET"},             {"2.5.4.6", "C"},
    {"2.5.4.17", "PostalCode"},        {"2.5.4.4", "SN"},
    {"2.5.4.5", "SERIALNUMBER"},       {"2.5.4.12", "Title"},
    {"2.5.4.13", "Description"},       {"2.5.4.14", "SearchGuide"},
    {"2.5.4.15", "BusinessCategory"},  {"2.5.4.16", "PostalAddress"},
    {"2.5.4.18", "PostOfficeBox"},     {"2.5.4.19", "PhysicalDeliveryOfficeName"},
    {"2.5.4.20", "TelephoneNumber"},   {"2.5.4.23", "FaxNumber"},
    {"2.5.4.42", "G"},                 {"0.9.2342.19200300.100.1.25", "DC"},
};

void appendUtf8(std::string &out, std::uint32_t cp)
{
    // Values that are no Unicode scalar become the replacement character.
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string fromUtf16BigEndian(const unsigned char *data, int length)
{
    std::string out;
    for (int i = 0; i + 1 < length; i += 2) {
        std::uint32_t unit = static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < length) {
            const std::uint32_t low = static_cast<std::uint32_t>(data[i + 2] << 8 | data[i + 3]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        appendUtf8(out, unit);
    }
    return out;
}

std::string fromUcs4BigEndian(const unsigned char *data, int length)
{
    std::string out;
    for (int i = 0; i + 3 < length; i += 4)
        appendUtf8(out, static_cast<std::uint32_t>(data[i]) << 24 | static_cast<std::uint32_t>(data[i + 1]) << 16
                            | static_cast<std::uint32_t>(data[i + 2]) << 8 | data[i + 3]);
    return out;
}

// Text that should be UTF-8 (the ASCII types are a part of it): every byte that starts no
// well-formed sequence becomes the replacement character, so the rendered name stays UTF-8.
std::string fromUtf8(const unsigned char *data, int length)
{
    std::string out;
    for (int i = 0; i < length;) {
        const unsigned char lead = data[i];
        int extra = 0;
        std::uint32_t cp = lead;
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            cp = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            cp = lead & 0x07;
        } else if (lead >= 0x80) {
            cp = 0xFFFD;
        }
        int k = 1;
        for (; k <= extra && i + k < length && (data[i + k] & 0xC0) == 0x80; ++k)
            cp = cp << 6 | (data[i + k] & 0x3F);
        static const std::uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
        if (k <= extra || cp < kSmallest[extra]) {
            // A cut or overlong sequence: its lead byte is replaced, the bytes after it are read anew.
            appendUtf8(out, 0xFFFD);
            ++i;
            continue;
        }
        appendUtf8(out, cp);
        i += extra + 1;
    }
    return out;
}

std::string fromLatin1(const unsigned char *data, int length)
{
    std::string out;
    for (int i = 0; i < length; ++i)
        appendUtf8(out, data[i]);
    return out;
}

std::string valueText(const ASN1_STRING *value)
{
    const unsigned char *data = ASN1_STRING_get0_data(value);
    const int length = ASN1_STRING_length(value);
    switch (ASN1_STRING_type(value)) {
    case V_ASN1_UTF8STRING:
    case V_ASN1_PRINTABLESTRING:
    case V_ASN1_IA5STRING:
    case V_ASN1_VISIBLESTRING:
    case V_ASN1_NUMERICSTRING:
        return fromUtf8(data, length);
    case V_ASN1_T61STRING:
        // Teletex strings in certificates carry Latin-1 in practice.
        return fromLatin1(data, length);
    case V_ASN1_UNIVERSALSTRING:
        return fromUcs4BigEndian(data, length);
    default:
        // BMPString and the other string types are two-byte big-endian text.
        return fromUtf16BigEndian(data, length);
    }
}

// Control characters (C0, DEL and C1) as \xNN: a name shown in a list or on a terminal stays
// one line and sends no control sequence. Everything else is left as it is.
std::string escapeControls(const std::string &text)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned code = static_cast<unsigned char>(text[i]);
        if (code == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            code = static_cast<unsigned char>(text[++i]);  // U+0080 to U+009F in UTF-8
        } else if (code >= 0x20 && code != 0x7F) {
            out += text[i];
            continue;
        }
        out += "\\x";
        out += digits[code >> 4];
        out += digits[code & 0x0F];
    }
    return out;
}

std::string renderName(const X509_NAME *name)
{
    std::string text;
    const int count = X509_NAME_entry_count(name);
    for (int i = 0; i < count; ++i) {
        const X509_NAME_ENTRY *entry = X509_NAME_get_entry(name, i);
        char oid[128] = {0};
        OBJ_obj2txt(oid, sizeof oid, X509_NAME_ENTRY_get_object(entry), 1);
        std::string attribute = std::string("OID.") + oid;
        for (const AttributeName &known : kAttributeNames) {
            if (attribute.compare(4, std::string::npos, known.oid) == 0) {
                attribute = known.name;
                break;
            }
        }
        std::string value = escapeControls(valueText(X509_NAME_ENTRY_get_data(entry)));
        // A quoted value keeps its comma from reading as a separator.
        if (value.find(',') != std::string::npos)
            value = '"' + value + '"';
        if (!text.empty())
            text += ", ";
        text += attribute + "=" + value;
    }
    return text;
}

Bytes integerContent(const ASN1_INTEGER *integer)
{
    unsigned char *der = nullptr;
    const int length = i2d_ASN1_INTEGER(integer, &der);
    Bytes content;
    if (length > 0) {
        const std::size_t total = DerWriter::encodedValueSize(der, static_cast<std::size_t>(length));
        std::size_t header = 2;
        if (length > 1 && (der[1] & 0x80))
            header = 2 + (der[1] & 0x7F);
        if (total == static_cast<std::size_t>(length) && header <= total)
            content.assign(der + header, der + total);
    }
    OPENSSL_free(der);
    return content;
}

std::string hexText(const Bytes &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    return text;
}

}  // namespace

namespace {
bool readPublicKey(X509 *x509, PublicKeyInfo &key);
}  // namespace

CertificateData::~CertificateData() = default;

std::shared_ptr<CertificateData> CertificateData::fromDer(const Bytes &der, std::string *error,
                                                          std::shared_ptr<void> platformContext)
{
    if (der.empty()) {
        if (error)
            *error = "Certificate context holds no encoded certificate";
        return {};
    }
    const unsigned char *p = der.data();
    X509 *x509 = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    if (!x509 || p != der.data() + der.size()) {
        X509_free(x509);
        if (error)
            *error = "The certificate cannot be parsed";
        return {};
    }
    std::shared_ptr<CertificateData> data(new CertificateData);
    data->m_der = der;
    data->m_parts.reset(new CertificateParts);
    data->m_parts->x509 = x509;
    data->m_platformContext = std::move(platformContext);
    return data;
}

std::string CertificateData::subjectDN() const
{
    return renderName(X509_get_subject_name(m_parts->x509));
}

Bytes CertificateData::issuerNameDer() const
{
    unsigned char *der = nullptr;
    const int length = i2d_X509_NAME(X509_get_issuer_name(m_parts->x509), &der);
    Bytes bytes;
    if (length > 0)
        bytes.assign(der, der + length);
    OPENSSL_free(der);
    return bytes;
}

Bytes CertificateData::serialNumberContent() const
{
    return integerContent(X509_get0_serialNumber(m_parts->x509));
}

std::string CertificateData::serialNumberHex() const
{
    return hexText(serialNumberContent());
}

bool CertificateData::publicKey(PublicKeyInfo &key, std::string *error) const
{
    std::lock_guard<std::mutex> lock(m_keyLock);
    if (!m_keyRead) {
        m_keyOk = readPublicKey(m_parts->x509, m_key);
        m_keyRead = true;
    }
    if (!m_keyOk) {
        if (error)
            *error = "Certificate has no public key";
        return false;
    }
    key = m_key;
    return true;
}

namespace {

bool readPublicKey(X509 *x509, PublicKeyInfo &key)
{
    X509_PUBKEY *spki = X509_get_X509_PUBKEY(x509);
    ASN1_OBJECT *algorithm = nullptr;
    const unsigned char *bits = nullptr;
    int bitsLength = 0;
    if (!spki || X509_PUBKEY_get0_param(&algorithm, &bits, &bitsLength, nullptr, spki) != 1 || !algorithm)
        return false;
    char oid[128] = {0};
    OBJ_obj2txt(oid, sizeof oid, algorithm, 1);
    key.algorithmOid = oid;
    key.isRsa = key.algorithmOid == "1.2.840.113549.1.1.1";
    if (key.isRsa) {
        key.der.assign(bits, bits + bitsLength);
        return true;
    }
    unsigned char *der = nullptr;
    const int length = i2d_X509_PUBKEY(spki, &der);
    if (length <= 0) {
        OPENSSL_free(der);
        return false;
    }
    key.der.assign(der, der + length);
    OPENSSL_free(der);
    return true;
}

}  // namespace

Bytes certificateFileDer(const std::string &content)
{
    // A PEM file is text with the armour line; anything else is taken as DER.
    if (content.find("-----BEGIN CERTIFICATE-----") == std::string::npos)
        return Bytes(content.begin(), content.end());
    Bytes der;
    if (content.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return der;
    BIO *bio = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
    X509 *x509 = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    unsigned char *out = nullptr;
    const int length = x509 ? i2d_X509(x509, &out) : 0;
    if (length > 0)
        der.assign(out, out + length);
    OPENSSL_free(out);
    X509_free(x509);
    return der;
}

std::string renderDistinguishedName(const Bytes &nameDer, bool *ok)
{
    const unsigned char *p = nameDer.data();
    X509_NAME *name = d2i_X509_NAME(nullptr, &p, static_cast<long>(nameDer.size()));
    if (ok)
        *ok = name != nullptr;
    if (!name)
        return {};
    const std::string text = renderName(name);
    X509_NAME_free(name);
    return text;
}

bool Certificate::HasCertificate() const
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_data != nullptr;
}

std::shared_ptr<const CertificateData> Certificate::shared() const
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_data;
}

bool Certificate::LoadFromDer(const Bytes &der)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return guardedCall("LoadFromDer", [&] {
        std::string error;
        std::shared_ptr<CertificateData> data = CertificateData::fromDer(der, &error);
        if (!data) {
            m_log.error(error);
            return false;
        }
        m_data = std::move(data);
        return true;
    });
}

bool Certificate::LoadFromFile(const std::string &path)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return guardedCall("LoadFromFile", [&] {
        m_log.value("path", path);
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            m_log.error("Cannot open the certificate file");
            return false;
        }
        // A file of any size may be named: its room is asked for before it is read.
        file.seekg(0, std::ios::end);
        const std::streamoff size = file.tellg();
        file.seekg(0, std::ios::beg);
        if (size > 0)
            checkAllocation(static_cast<std::size_t>(size));
        const std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::string error;
        std::shared_ptr<CertificateData> data = CertificateData::fromDer(certificateFileDer(content), &error);
        if (!data) {
            m_log.error(error.empty() ? "The certificate cannot be parsed" : error);
            return false;
        }
        m_data = std::move(data);
        return true;
    });
}

std::string Certificate::SubjectDN()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    std::string text;
    guardedCall("SubjectDN", [&] {
        if (!m_data) {
            m_log.error("No certificate");
            return false;
        }
        text = m_data->subjectDN();
        if (m_verbose)
            m_log.value("subject", text);
        return true;
    });
    return text;
}

std::string Certificate::SerialNumber()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    beginCall("SerialNumber");
    if (!m_data) {
        m_log.error("No certificate");
        endCall(false);
        return {};
    }
    const std::string text = m_data->serialNumberHex();
    endCall(!text.empty());
    return text;
}

Bytes Certificate::IssuerNameDer()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    beginCall("IssuerNameDer");
    if (!m_data) {
        m_log.error("No certificate");
        endCall(false);
        return {};
    }
    Bytes der = m_data->issuerNameDer();
    endCall(!der.empty());
    return der;
}

Bytes Certificate::Der()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_data ? m_data->der() : Bytes();
}

}  // namespace velomark
