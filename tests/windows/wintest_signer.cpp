// The record signer on the current user's "MY" store: a certificate with its private key,
// imported from a PKCS #12 file that OpenSSL made, signs; the signature checks out with
// CryptoAPI here and with OpenSSL on Linux (tests/windows/program_checks.py signs a download
// record through velomark-cli.exe with the same certificate, and a changed record fails there;
// Wine's own check of a detached signature does not compare the content).
#include <windows.h>
#include <wincrypt.h>

#include "crypto/recordsigner.h"
#include "wintest.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace velomark::wintest {

namespace {

const std::string kSigner = "Velomark Signer";

// Moves the imported key into a container of the RSA and AES provider: under Wine that provider
// does not see the containers of the older one, where an import puts the key.
bool moveKeyToAesProvider(const CRYPT_KEY_PROV_INFO &from, CRYPT_KEY_PROV_INFO *to)
{
    HCRYPTPROV full = 0, aes = 0;
    HCRYPTKEY key = 0, moved = 0;
    std::vector<BYTE> blob;
    DWORD size = 0;
    const auto step = [](bool done, const char *what) {
        return check(done, "signer", std::string(what) + ": error " + std::to_string(done ? 0 : GetLastError()));
    };
    bool ok = step(CryptAcquireContextW(&full, from.pwszContainerName, from.pwszProvName, from.dwProvType, 0),
                   "the imported key's container opens")
              // Wine's import does not name the key pair in the certificate's property.
              && step(CryptGetUserKey(full, AT_KEYEXCHANGE, &key) || CryptGetUserKey(full, AT_SIGNATURE, &key),
                      "the imported key opens")
              && step(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size), "the imported key exports");
    if (ok) {
        blob.resize(size);
        ok = CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, blob.data(), &size);
    }
    ok = ok
         && step(CryptAcquireContextW(&aes, L"velomark-signer", MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_NEWKEYSET)
                     || CryptAcquireContextW(&aes, L"velomark-signer", MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, 0),
                 "a container of the RSA and AES provider")
         && step(CryptImportKey(aes, blob.data(), size, 0, 0, &moved), "the key imports there");
    for (HCRYPTKEY k : {key, moved})
        if (k)
            CryptDestroyKey(k);
    for (HCRYPTPROV p : {full, aes})
        if (p)
            CryptReleaseContext(p, 0);
    *to = from;
    to->pwszContainerName = const_cast<wchar_t *>(L"velomark-signer");
    to->pwszProvName = const_cast<wchar_t *>(MS_ENH_RSA_AES_PROV_W);
    to->dwProvType = PROV_RSA_AES;
    // The key pair the key went into follows its algorithm.
    to->dwKeySpec = ok && reinterpret_cast<const BLOBHEADER *>(blob.data())->aiKeyAlg == CALG_RSA_SIGN ? AT_SIGNATURE
                                                                                                        : AT_KEYEXCHANGE;
    return ok;
}

// Imports the certificate and key of the PKCS #12 file (no password) into the "MY" store.
bool importSigner(const std::string &pfxFile)
{
    std::ifstream in(pfxFile, std::ios::binary);
    std::vector<BYTE> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    CRYPT_DATA_BLOB blob{DWORD(bytes.size()), bytes.data()};
    HCERTSTORE imported = PFXImportCertStore(&blob, L"", CRYPT_USER_KEYSET | CRYPT_EXPORTABLE);
    if (!check(imported != nullptr, "signer", "the PKCS #12 file imports: error " + std::to_string(GetLastError())))
        return false;
    HCERTSTORE my = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
    bool added = false;
    for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(imported, nullptr); c && my;
         c = CertEnumCertificatesInStore(imported, c)) {
        DWORD size = 0;
        CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size);
        std::vector<BYTE> info(std::max<DWORD>(size, sizeof(CRYPT_KEY_PROV_INFO)));
        CRYPT_KEY_PROV_INFO aes{};
        PCCERT_CONTEXT inStore = nullptr;
        added = CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, info.data(), &size)
                && moveKeyToAesProvider(*reinterpret_cast<CRYPT_KEY_PROV_INFO *>(info.data()), &aes)
                && CertAddCertificateContextToStore(my, c, CERT_STORE_ADD_REPLACE_EXISTING, &inStore)
                && CertSetCertificateContextProperty(inStore, CERT_KEY_PROV_INFO_PROP_ID, 0, &aes);
        if (inStore)
            CertFreeCertificateContext(inStore);
    }
    if (my)
        CertCloseStore(my, 0);
    CertCloseStore(imported, 0);
    return check(added, "signer", "the certificate and its key go into the store");
}

bool verifies(const std::vector<std::uint8_t> &der, const std::string &content)
{
    CRYPT_VERIFY_MESSAGE_PARA parameters{};
    parameters.cbSize = sizeof parameters;
    parameters.dwMsgAndCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    const BYTE *parts[] = {reinterpret_cast<const BYTE *>(content.data())};
    DWORD sizes[] = {DWORD(content.size())};
    return CryptVerifyDetachedMessageSignature(&parameters, 0, der.data(), DWORD(der.size()), 1, parts, sizes,
                                               nullptr) != FALSE;
}

}  // namespace

void testRecordSigner(const std::string &pfxFile)
{
    if (!importSigner(pfxFile))
        return;
    const PinPrompt noPrompt = [](const std::string &, bool) { return std::optional<std::string>(); };
    const SigningNicknames names = signingNicknames(noPrompt);
    check(names.error.empty() && std::count(names.nicknames.begin(), names.nicknames.end(), kSigner) == 1,
          "signer", "the store lists " + show(kSigner) + " among " + show(names.nicknames) + " " + names.error);

    const std::string record = "{\"lidar\": \"VZQ Sim 12345\"}\n";
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(record.data());
    const DetachedSignature signature = signDetached(bytes, record.size(), kSigner, noPrompt);
    check(signature.error.empty() && !signature.der.empty(), "signer", "signs: " + signature.error);
    check(verifies(signature.der, record), "signer", "the signature checks out");

    const DetachedSignature unknown = signDetached(bytes, record.size(), "Nobody", noPrompt);
    check(unknown.der.empty() && unknown.error.find("\"Nobody\"") != std::string::npos, "signer",
          "an unknown name is refused: " + unknown.error);
}

}  // namespace velomark::wintest
