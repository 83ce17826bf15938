// The record signer on the current user's "MY" store: a certificate that OpenSSL made, with its
// private key in a container of the RSA and AES provider, signs. The signature is checked by
// OpenSSL on Linux: tests/windows/program_checks.py signs a download record through
// velomark-cli.exe with the same certificate, and a changed record fails there (Wine's own check
// of a detached signature does not compare the content).
#include <windows.h>
#include <wincrypt.h>

#include "crypto/recordsigner.h"
#include "wintest.h"

#include <algorithm>

namespace velomark::wintest {

namespace {

const std::string kSigner = "Velomark Signer";

// Puts the certificate (DER) into the "MY" store, its key (a private-key blob) into the container
// that the certificate names. The key goes straight to the RSA and AES provider: under Wine that
// provider does not see the containers of the older one, where a PKCS #12 import puts a key.
bool importSigner(const std::string &certificateFile, const std::string &keyFile)
{
    const std::vector<std::uint8_t> der = readFile(certificateFile), key = readFile(keyFile);
    wchar_t container[] = L"velomark-signer";
    HCRYPTPROV provider = 0;
    HCRYPTKEY imported = 0;
    const bool keyIn =
        (CryptAcquireContextW(&provider, container, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_NEWKEYSET)
         || CryptAcquireContextW(&provider, container, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, 0))
        && CryptImportKey(provider, key.data(), DWORD(key.size()), 0, 0, &imported);
    check(keyIn, "signer", "the key imports: error " + std::to_string(keyIn ? 0 : GetLastError()));
    if (imported)
        CryptDestroyKey(imported);
    if (provider)
        CryptReleaseContext(provider, 0);

    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = container;
    info.pwszProvName = const_cast<wchar_t *>(MS_ENH_RSA_AES_PROV_W);
    info.dwProvType = PROV_RSA_AES;
    info.dwKeySpec = AT_KEYEXCHANGE;  // OpenSSL writes the key as an exchange key
    HCERTSTORE my = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
    PCCERT_CONTEXT inStore = nullptr;
    const bool added = keyIn && my
                       && CertAddEncodedCertificateToStore(my, X509_ASN_ENCODING, der.data(), DWORD(der.size()),
                                                           CERT_STORE_ADD_REPLACE_EXISTING, &inStore)
                       && CertSetCertificateContextProperty(inStore, CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
    if (inStore)
        CertFreeCertificateContext(inStore);
    if (my)
        CertCloseStore(my, 0);
    return check(added, "signer", "the certificate and its key go into the store");
}

}  // namespace

void testRecordSigner(const std::string &certificateFile, const std::string &keyFile)
{
    if (!importSigner(certificateFile, keyFile))
        return;
    const PinPrompt noPrompt = [](const std::string &, bool) { return std::optional<std::string>(); };
    const SigningNicknames names = signingNicknames(noPrompt);
    check(names.error.empty() && std::count(names.nicknames.begin(), names.nicknames.end(), kSigner) == 1,
          "signer", "the store lists " + show(kSigner) + " among " + show(names.nicknames) + " " + names.error);

    // Signing itself is checked end to end: program_checks.py signs a record with this certificate.
    const std::string record = "{\"lidar\": \"VZQ Sim 12345\"}\n";
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(record.data());
    const DetachedSignature unknown = signDetached(bytes, record.size(), "Nobody", noPrompt);
    check(unknown.der.empty() && unknown.error.find("\"Nobody\"") != std::string::npos, "signer",
          "an unknown name is refused: " + unknown.error);
}

}  // namespace velomark::wintest
