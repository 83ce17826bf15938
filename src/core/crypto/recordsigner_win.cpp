// Detached CMS signatures made by CryptoAPI with a certificate of the current user's "MY"
// store that has a private key. The key stays with its provider; a smart card's provider asks
// for its PIN itself, so the prompt is not used here.
#include "crypto/recordsigner.h"

#include "common/systemerror_win.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <vector>

namespace velomark {

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

std::string systemError(const std::string &what, DWORD code)
{
    return what + ": " + win::codeAndSystemText(code);
}

// The name a certificate goes by: its friendly name, else its subject's common name.
std::string nicknameOf(PCCERT_CONTEXT certificate)
{
    wchar_t name[256] = {0};
    DWORD size = sizeof name;
    if (!CertGetCertificateContextProperty(certificate, CERT_FRIENDLY_NAME_PROP_ID, name, &size) || name[0] == 0)
        CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 256);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, name, -1, nullptr, 0, nullptr, nullptr);
    std::string text(std::size_t(std::max(bytes, 1)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, name, -1, text.data(), bytes, nullptr, nullptr);
    text.resize(text.find('\0'));
    return text;
}

bool hasPrivateKey(PCCERT_CONTEXT certificate)
{
    DWORD size = 0;
    return CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) != FALSE;
}

// A key of the older RSA provider (where an imported .pfx lands) cannot hash with SHA-256 there;
// the RSA and AES provider opens the same key container and can. Returns a copy of the
// certificate in a memory store that names that provider, or the certificate as it is.
PCCERT_CONTEXT withSha256Provider(PCCERT_CONTEXT certificate)
{
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size))
        return certificate;
    std::vector<BYTE> buffer(size);
    auto *info = reinterpret_cast<CRYPT_KEY_PROV_INFO *>(buffer.data());
    if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, info, &size)
        || info->dwProvType != PROV_RSA_FULL)
        return certificate;
    HCERTSTORE memory = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    PCCERT_CONTEXT copy = nullptr;
    if (memory && CertAddCertificateContextToStore(memory, certificate, CERT_STORE_ADD_ALWAYS, &copy)) {
        CRYPT_KEY_PROV_INFO aes = *info;
        aes.pwszProvName = const_cast<wchar_t *>(MS_ENH_RSA_AES_PROV_W);
        aes.dwProvType = PROV_RSA_AES;
        if (CertSetCertificateContextProperty(copy, CERT_KEY_PROV_INFO_PROP_ID, 0, &aes)) {
            CertFreeCertificateContext(certificate);
            CertCloseStore(memory, 0);  // the copy keeps its store open
            return copy;
        }
        CertFreeCertificateContext(copy);
    }
    if (memory)
        CertCloseStore(memory, 0);
    return certificate;
}

struct Store
{
    HCERTSTORE handle = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                      CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG, L"MY");
    ~Store()
    {
        if (handle)
            CertCloseStore(handle, 0);
    }
};

}  // namespace

DetachedSignature signDetached(const std::uint8_t *content, std::size_t size, const std::string &nickname,
                               const PinPrompt &prompt)
{
    (void)prompt;
    DetachedSignature result;
    Store store;
    if (!store.handle) {
        result.error = systemError("the current user's certificate store", GetLastError());
        return result;
    }
    PCCERT_CONTEXT signer = nullptr;
    for (PCCERT_CONTEXT at = CertEnumCertificatesInStore(store.handle, nullptr); at;
         at = CertEnumCertificatesInStore(store.handle, at)) {
        if (hasPrivateKey(at) && nicknameOf(at) == nickname) {
            signer = CertDuplicateCertificateContext(at);
            CertFreeCertificateContext(at);
            break;
        }
    }
    if (!signer) {
        result.error = "no certificate with a private key named \"" + nickname + "\" in the current user's store";
        return result;
    }
    signer = withSha256Provider(signer);

    // The signing time, as the one signed attribute besides those CryptoAPI adds.
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    BYTE timeDer[32];
    DWORD timeSize = sizeof timeDer;
    CRYPT_ATTR_BLOB timeValue{};
    CRYPT_ATTRIBUTE signingTime{const_cast<char *>(szOID_RSA_signingTime), 1, &timeValue};
    const bool timed = CryptEncodeObject(kEncoding, szOID_RSA_signingTime, &now, timeDer, &timeSize) != FALSE;
    timeValue.cbData = timeSize;
    timeValue.pbData = timeDer;

    CRYPT_SIGN_MESSAGE_PARA parameters{};
    parameters.cbSize = sizeof parameters;
    parameters.dwMsgEncodingType = kEncoding;
    parameters.pSigningCert = signer;
    parameters.HashAlgorithm.pszObjId = const_cast<char *>(szOID_NIST_sha256);
    parameters.cMsgCert = 1;
    parameters.rgpMsgCert = &signer;
    parameters.cAuthAttr = timed ? 1 : 0;
    parameters.rgAuthAttr = timed ? &signingTime : nullptr;

    const BYTE *parts[] = {content};
    DWORD partSizes[] = {DWORD(size)};
    DWORD length = 0;
    if (size > MAXDWORD) {
        result.error = "the record is too large to sign";
    } else if (!CryptSignMessage(&parameters, TRUE, 1, parts, partSizes, nullptr, &length)) {
        result.error = systemError("signing with \"" + nickname + "\"", GetLastError());
    } else {
        result.der.resize(length);
        if (CryptSignMessage(&parameters, TRUE, 1, parts, partSizes, result.der.data(), &length)) {
            result.der.resize(length);
        } else {
            result.der.clear();
            result.error = systemError("signing with \"" + nickname + "\"", GetLastError());
        }
    }
    CertFreeCertificateContext(signer);
    return result;
}

SigningNicknames signingNicknames(const PinPrompt &prompt)
{
    (void)prompt;
    SigningNicknames result;
    Store store;
    if (!store.handle) {
        result.error = systemError("the current user's certificate store", GetLastError());
        return result;
    }
    for (PCCERT_CONTEXT at = CertEnumCertificatesInStore(store.handle, nullptr); at;
         at = CertEnumCertificatesInStore(store.handle, at)) {
        if (hasPrivateKey(at))
            result.nicknames.push_back(nicknameOf(at));
    }
    std::sort(result.nicknames.begin(), result.nicknames.end());
    result.nicknames.erase(std::unique(result.nicknames.begin(), result.nicknames.end()), result.nicknames.end());
    return result;
}

}  // namespace velomark
