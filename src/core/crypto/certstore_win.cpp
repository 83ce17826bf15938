// The current user's certificates on Windows: the CryptoAPI "MY" store. crypt32.dll is
// loaded by name on first use and kept; each function is looked up once.
#include "crypto/certstore_backend.h"

#include "common/systemerror_win.h"

#include <windows.h>
#include <wincrypt.h>

namespace velomark {

namespace {

using CertOpenStoreFn = HCERTSTORE(WINAPI *)(LPCSTR, DWORD, HCRYPTPROV_LEGACY, DWORD, const void *);
using CertEnumFn = PCCERT_CONTEXT(WINAPI *)(HCERTSTORE, PCCERT_CONTEXT);
using CertDuplicateFn = PCCERT_CONTEXT(WINAPI *)(PCCERT_CONTEXT);
using CertFreeFn = BOOL(WINAPI *)(PCCERT_CONTEXT);
using CertCloseStoreFn = BOOL(WINAPI *)(HCERTSTORE, DWORD);

constexpr DWORD kSystemStoreProvider = 10;  // CERT_STORE_PROV_SYSTEM_W
constexpr DWORD kCurrentUser = 0x10000;
constexpr DWORD kCurrentUserReadOnly = 0x18000;
constexpr DWORD kCloseCheckFlag = 2;

HMODULE crypt32(bool *failedBefore)
{
    static HMODULE library = nullptr;
    static bool failed = false;
    if (!library && !failed) {
        library = LoadLibraryW(L"crypt32.dll");
        failed = library == nullptr;
    }
    *failedBefore = failed;
    return library;
}

template <typename Fn>
Fn lookUp(const char *name)
{
    bool failed = false;
    HMODULE library = crypt32(&failed);
    if (!library)
        return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(library, name)));
}

CertOpenStoreFn openStoreFn() { static CertOpenStoreFn f = lookUp<CertOpenStoreFn>("CertOpenStore"); return f; }
CertEnumFn enumFn() { static CertEnumFn f = lookUp<CertEnumFn>("CertEnumCertificatesInStore"); return f; }
CertDuplicateFn duplicateFn() { static CertDuplicateFn f = lookUp<CertDuplicateFn>("CertDuplicateCertificateContext"); return f; }
CertFreeFn freeFn() { static CertFreeFn f = lookUp<CertFreeFn>("CertFreeCertificateContext"); return f; }
CertCloseStoreFn closeStoreFn() { static CertCloseStoreFn f = lookUp<CertCloseStoreFn>("CertCloseStore"); return f; }

class CryptoApiStore : public CertificateStoreBackend
{
public:
    explicit CryptoApiStore(HCERTSTORE store) : m_store(store) {}
    ~CryptoApiStore() override
    {
        if (CertCloseStoreFn close = closeStoreFn())
            close(m_store, kCloseCheckFlag);
    }

    std::size_t count() override
    {
        CertEnumFn next = enumFn();
        if (!next)
            return 0;
        std::size_t seen = 0;
        for (PCCERT_CONTEXT context = next(m_store, nullptr); context; context = next(m_store, context))
            ++seen;
        return seen;
    }

    bool certificate(std::size_t index, std::vector<std::uint8_t> &der, std::shared_ptr<void> &owned,
                     std::string *error) override
    {
        CertEnumFn next = enumFn();
        CertDuplicateFn duplicate = duplicateFn();
        CertFreeFn release = freeFn();
        if (!next || !duplicate || !release)
            return false;
        PCCERT_CONTEXT context = next(m_store, nullptr);
        for (std::size_t i = 0; context && i < index; ++i)
            context = next(m_store, context);
        if (!context)
            return false;
        // The certificate owns a duplicate, so the enumeration can go on or end.
        PCCERT_CONTEXT copy = duplicate(context);
        release(context);
        if (!copy)
            return false;
        owned = std::shared_ptr<void>(const_cast<CERT_CONTEXT *>(copy),
                                      [release](void *c) { release(static_cast<PCCERT_CONTEXT>(c)); });
        if (!copy->pbCertEncoded || copy->cbCertEncoded == 0) {
            if (error)
                *error = "Certificate context holds no encoded certificate";
            return false;
        }
        der.assign(copy->pbCertEncoded, copy->pbCertEncoded + copy->cbCertEncoded);
        return true;
    }

    std::string location() const override { return "HKEY_CURRENT_USER"; }

private:
    HCERTSTORE m_store;
};

}  // namespace

std::unique_ptr<CertificateStoreBackend> openCurrentUserCertificateStore(bool readOnly, std::string *error)
{
    bool failed = false;
    if (!crypt32(&failed)) {
        if (error)
            *error = "Failed to load crypt32.dll";
        return nullptr;
    }
    CertOpenStoreFn open = openStoreFn();
    if (!open || !closeStoreFn()) {
        if (error)
            *error = "CertOpenStore is not available";
        return nullptr;
    }
    HCERTSTORE store = open(reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(kSystemStoreProvider)), 0, 0,
                            readOnly ? kCurrentUserReadOnly : kCurrentUser, L"MY");
    if (!store) {
        if (error)
            *error = win::codeAndSystemText(GetLastError());
        return nullptr;
    }
    return std::unique_ptr<CertificateStoreBackend>(new CryptoApiStore(store));
}

}  // namespace velomark
