// The CryptoAPI "MY" store behind CertificateStoreBackend, against certificates that OpenSSL
// made and this test adds to the current user's store through CryptoAPI.
#include <windows.h>
#include <wincrypt.h>

#include "crypto/certstore_backend.h"
#include "wintest.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace velomark::wintest {

namespace {

using Der = std::vector<std::uint8_t>;

HCERTSTORE openMyStore(bool readOnly)
{
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                         CERT_SYSTEM_STORE_CURRENT_USER | (readOnly ? CERT_STORE_READONLY_FLAG : 0), L"MY");
}

// The certificates of the store in the order any other reader of it meets them.
std::vector<Der> storeContents()
{
    std::vector<Der> contents;
    HCERTSTORE store = openMyStore(true);
    if (!store)
        return contents;
    for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c; c = CertEnumCertificatesInStore(store, c))
        contents.emplace_back(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded);
    CertCloseStore(store, 0);
    return contents;
}

// Removes the given certificates from the store again.
void removeFromStore(const std::vector<Der> &added)
{
    HCERTSTORE store = openMyStore(false);
    if (!store)
        return;
    PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr);
    while (c) {
        const Der der(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded);
        PCCERT_CONTEXT next = CertEnumCertificatesInStore(store, CertDuplicateCertificateContext(c));
        if (std::find(added.begin(), added.end(), der) != added.end())
            CertDeleteCertificateFromStore(c);
        else
            CertFreeCertificateContext(c);
        c = next;
    }
    CertCloseStore(store, 0);
}

std::wstring displayName(PCCERT_CONTEXT c)
{
    wchar_t name[256] = {};
    CertGetNameStringW(c, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 256);
    return name;
}

}  // namespace

void testCertificateStore(const std::vector<std::string> &certificateFiles)
{
    const std::string where = "certificate store";
    std::vector<Der> files;
    for (const std::string &path : certificateFiles) {
        std::ifstream in(path, std::ios::binary);
        files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        check(!files.back().empty(), where, "reading " + path);
    }
    if (!check(files.size() == 3, where, "three certificate files as arguments"))
        return;
    if (!check(storeContents().empty(), where, "the current user's store is empty at the start"))
        return;

    std::string error;
    {
        const std::string row = where + "/empty store";
        auto backend = openCurrentUserCertificateStore(true, &error);
        if (check(backend != nullptr, row, "opens: " + error)) {
            checkEqual(backend->count(), std::size_t(0), row, "count");
            Der der;
            std::shared_ptr<void> context;
            check(!backend->certificate(0, der, context, &error), row, "no certificate 0");
            checkEqual(backend->location(), std::string("HKEY_CURRENT_USER"), row, "location");
        }
    }

    HCERTSTORE writable = openMyStore(false);
    if (!check(writable != nullptr, where, "the test opens the store for writing"))
        return;
    for (const Der &der : files) {
        check(CertAddEncodedCertificateToStore(writable, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                               CERT_STORE_ADD_NEW, nullptr),
              where, "adding a certificate");
    }
    CertCloseStore(writable, 0);

    const std::vector<Der> expected = storeContents();
    std::vector<Der> sortedExpected = expected, sortedFiles = files;
    std::sort(sortedExpected.begin(), sortedExpected.end());
    std::sort(sortedFiles.begin(), sortedFiles.end());
    check(sortedExpected == sortedFiles, where, "the store holds the three certificates added");

    std::shared_ptr<void> survivor;
    Der survivorDer;
    {
        const std::string row = where + "/read-only";
        auto backend = openCurrentUserCertificateStore(true, &error);
        if (check(backend != nullptr, row, "opens: " + error)) {
            checkEqual(backend->count(), expected.size(), row, "count");
            for (std::size_t i = 0; i < expected.size(); ++i) {
                Der der;
                std::shared_ptr<void> context;
                if (!check(backend->certificate(i, der, context, &error), row, "certificate " + std::to_string(i)))
                    continue;
                check(der == expected[i], row, "DER bytes of certificate " + std::to_string(i) + " in store order");
                const auto *c = static_cast<PCCERT_CONTEXT>(context.get());
                check(c != nullptr && Der(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded) == der, row,
                      "the context held is that certificate's");
                if (i == 1) {
                    survivor = context;
                    survivorDer = der;
                }
            }
            Der der;
            std::shared_ptr<void> context;
            check(!backend->certificate(expected.size(), der, context, &error), row, "no certificate past the end");

            // A store opened read-only refuses changes; the deletion frees the duplicate either way.
            if (survivor) {
                PCCERT_CONTEXT copy = CertDuplicateCertificateContext(static_cast<PCCERT_CONTEXT>(survivor.get()));
                check(!CertDeleteCertificateFromStore(copy), row, "deleting through it fails");
            }
            checkEqual(backend->count(), expected.size(), row, "count after the refused deletion");
        }
    }

    // The backend is gone; the certificate it handed out stays usable.
    if (check(survivor != nullptr, where + "/outlives its store", "a certificate was kept")) {
        const auto *c = static_cast<PCCERT_CONTEXT>(survivor.get());
        check(Der(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded) == survivorDer, where + "/outlives its store",
              "DER bytes still readable");
        PCCERT_CONTEXT fresh = CertCreateCertificateContext(X509_ASN_ENCODING, survivorDer.data(),
                                                            static_cast<DWORD>(survivorDer.size()));
        if (fresh) {
            check(!displayName(c).empty(), where + "/outlives its store", "a subject name");
            checkEqual(displayName(c), displayName(fresh), where + "/outlives its store", "subject name");
            CertFreeCertificateContext(fresh);
        }
        survivor.reset();
    }

    {
        const std::string row = where + "/writable";
        auto backend = openCurrentUserCertificateStore(false, &error);
        if (check(backend != nullptr, row, "opens: " + error)) {
            Der der;
            std::shared_ptr<void> context;
            if (check(backend->certificate(0, der, context, &error), row, "certificate 0")) {
                PCCERT_CONTEXT copy = CertDuplicateCertificateContext(static_cast<PCCERT_CONTEXT>(context.get()));
                check(CertDeleteCertificateFromStore(copy), row, "deleting through it works");
                checkEqual(backend->count(), expected.size() - 1, row, "count afresh after the deletion");
            }
        }
    }

    removeFromStore(files);
}

}  // namespace velomark::wintest
