// fuzz-sources: src/core/crypto/certificate.cpp src/core/crypto/component.cpp src/core/crypto/derwriter.cpp
// fuzz-libs: -lcrypto
// A recipient's certificate comes from a file the operator picks: PEM text or DER bytes. Any
// content must load or be refused without a fault, and a loaded certificate must render its
// subject and issuer as well-formed UTF-8 and read the same again from its own DER.
//
// Input: a first byte; when odd, the rest is armoured as a PEM certificate (the fuzzer then
// reaches the DER through the PEM reader), else the rest is the file as it stands.
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <string>

#include "crypto/certificate.h"

#include "check.h"

using namespace velomark;

namespace {

// Qt's decoder replaces every ill-formed sequence (overlong forms, surrogates, code points
// beyond U+10FFFF, cut sequences), so only well-formed UTF-8 comes back unchanged. The blank
// in front keeps a leading byte order mark, which the decoder would drop, in the text.
bool wellFormedUtf8(const std::string &text)
{
    const std::string marked = ' ' + text;
    return QString::fromStdString(marked).toStdString() == marked;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    std::string content(reinterpret_cast<const char *>(data + 1), size - 1);
    if (data[0] & 1) {
        QByteArray text = QByteArray::fromStdString(content).toBase64();
        for (int at = 64; at < text.size(); at += 65)
            text.insert(at, '\n');
        content = "-----BEGIN CERTIFICATE-----\n" + text.toStdString() + "\n-----END CERTIFICATE-----\n";
    }

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
