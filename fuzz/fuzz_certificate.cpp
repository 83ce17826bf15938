// fuzz-sources: src/core/crypto/certificate.cpp src/core/crypto/component.cpp src/core/crypto/derwriter.cpp
// fuzz-libs: -lcrypto
// A recipient's certificate comes from a file the operator picks: PEM text or DER bytes. Any
// content must load or be refused without a fault, and a loaded certificate must render its
// subject and issuer as well-formed UTF-8 and read the same again from its own DER.
//
// Input: a first byte; when odd, the rest is armoured as a PEM certificate (the fuzzer then
// reaches the DER through the PEM reader), else the rest is the file as it stands.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "crypto/certificate.h"

#include "check.h"

using namespace velomark;

namespace {

bool wellFormedUtf8(const std::string &text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        std::uint32_t cp = 0;
        if (lead < 0x80) {
            cp = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            cp = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            cp = lead & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size())
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            cp = cp << 6 | (next & 0x3F);
        }
        static const std::uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
        if (cp < smallest[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

std::string base64(const std::uint8_t *data, std::size_t size)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < size; i += 3) {
        const std::uint32_t group = std::uint32_t(data[i]) << 16 | (i + 1 < size ? std::uint32_t(data[i + 1]) << 8 : 0)
            | (i + 2 < size ? data[i + 2] : 0);
        text += digits[group >> 18 & 63];
        text += digits[group >> 12 & 63];
        text += i + 1 < size ? digits[group >> 6 & 63] : '=';
        text += i + 2 < size ? digits[group & 63] : '=';
        if ((i / 3 + 1) % 16 == 0)
            text += '\n';
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string content = (data[0] & 1)
        ? "-----BEGIN CERTIFICATE-----\n" + base64(data + 1, size - 1) + "\n-----END CERTIFICATE-----\n"
        : std::string(reinterpret_cast<const char *>(data + 1), size - 1);

    bool named = false;
    const std::string name = renderDistinguishedName(Bytes(content.begin(), content.end()), &named);
    check(wellFormedUtf8(name) && (named || name.empty()));

    Certificate certificate;
    if (!certificate.LoadFromDer(certificateFileDer(content))) {
        check(!certificate.HasCertificate() && certificate.SubjectDN().empty());
        return 0;
    }
    const std::string subject = certificate.SubjectDN();
    check(wellFormedUtf8(subject));
    check(wellFormedUtf8(renderDistinguishedName(certificate.IssuerNameDer(), &named)) && named);
    const std::string serial = certificate.SerialNumber();
    check(serial.find_first_not_of("0123456789ABCDEF") == std::string::npos && serial.size() % 2 == 0);
    PublicKeyInfo key;
    std::string error;
    certificate.shared()->publicKey(key, &error);

    Certificate again;
    check(again.LoadFromDer(certificate.Der()) && again.SubjectDN() == subject && again.SerialNumber() == serial);
    return 0;
}
