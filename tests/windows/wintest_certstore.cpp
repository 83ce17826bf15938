// The CryptoAPI "MY" store behind CertificateStoreBackend, against certificates that OpenSSL
// made and this test adds to the current user's store through CryptoAPI.
#include <windows.h>
#include <wincrypt.h>

#include "crypto/certstore_backend.h"
#include "wintest.h"

#include <algorithm>

namespace velomark::wintest {

namespace {

using Der = std::vector<std::uint8_t>;

HCERTSTORE openMyStore(bool readOnly)
{
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                         CERT_SYSTEM_STORE_CURRENT_USER | (readOnly ? CERT_STORE_READONLY_FLAG : 0), L"MY");
}

Der derOf(const void *context)
{
    const auto *c = static_cast<PCCERT_CONTEXT>(context);
    return c ? Der(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded) : Der();
}

// The certificates of the store in the order any other reader of it meets them; those of
// `remove` are deleted from it on the way.
std::vector<Der> storeContents(const std::vector<Der> &remove = {})
{
    std::vector<Der> contents;
    HCERTSTORE store = openMyStore(remove.empty());
    if (!store)
        return contents;
    for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c;) {
        contents.push_back(derOf(c));
        PCCERT_CONTEXT next = CertEnumCertificatesInStore(store, CertDuplicateCertificateContext(c));
        if (std::find(remove.begin(), remove.end(), contents.back()) != remove.end())
            CertDeleteCertificateFromStore(c);
        else
            CertFreeCertificateContext(c);
        c = next;
    }
    CertCloseStore(store, 0);
    return contents;
}

}  // namespace

void testCertificateStore(const std::vector<std::string> &arguments)
{
    const std::string where = "certificate store";
    // A file that is missing or cannot be read fails below, where its certificate is added.
    std::vector<Der> files;
    for (std::size_t i = 0; i < 3; ++i)
        files.push_back(readFile(i < arguments.size() ? arguments[i] : std::string()));
    if (!check(storeContents().empty(), where, "the current user's store is empty at the start"))
        return;

    HCERTSTORE writable = openMyStore(false);
    if (!check(writable != nullptr, where, "the test opens the store for writing"))
        return;
    for (const Der &file : files) {
        check(CertAddEncodedCertificateToStore(writable, X509_ASN_ENCODING, file.data(),
                                               static_cast<DWORD>(file.size()), CERT_STORE_ADD_NEW, nullptr),
              where, "adding a certificate");
    }
    CertCloseStore(writable, 0);

    const std::vector<Der> expected = storeContents();
    check(std::is_permutation(expected.begin(), expected.end(), files.begin(), files.end()), where,
          "the store holds the three certificates added");

    std::string error;
    Der der;
    std::shared_ptr<void> context, survivor;
    {
        const std::string row = where + "/read-only";
        auto backend = openCurrentUserCertificateStore(true, &error);
        if (check(backend != nullptr, row, "opens: " + error)) {
            checkEqual(backend->count(), expected.size(), row, "count");
            checkEqual(backend->location(), std::string("HKEY_CURRENT_USER"), row, "location");
            for (std::size_t i = 0; i < expected.size(); ++i) {
                if (!check(backend->certificate(i, der, context, &error), row, "certificate " + std::to_string(i)))
                    continue;
                check(der == expected[i] && derOf(context.get()) == der, row,
                      "DER bytes of certificate " + std::to_string(i) + " in store order, and its context's");
                if (i == 1)
                    survivor = context;
            }
            check(!backend->certificate(expected.size(), der, context, &error), row, "no certificate past the end");
            // A store opened read-only refuses changes; the deletion frees the duplicate either way.
            if (survivor) {
                PCCERT_CONTEXT copy = CertDuplicateCertificateContext(static_cast<PCCERT_CONTEXT>(survivor.get()));
                check(!CertDeleteCertificateFromStore(copy), row, "deleting through it fails");
            }
        }
    }

    // The backend is gone; the certificate it handed out stays usable.
    check(survivor != nullptr && derOf(survivor.get()) == expected[1], where + "/outlives its store",
          "DER bytes of the certificate kept still readable");
    survivor.reset();

    {
        const std::string row = where + "/writable";
        auto backend = openCurrentUserCertificateStore(false, &error);
        if (check(backend != nullptr, row, "opens: " + error)
            && check(backend->certificate(0, der, context, &error), row, "certificate 0")) {
            PCCERT_CONTEXT copy = CertDuplicateCertificateContext(static_cast<PCCERT_CONTEXT>(context.get()));
            check(CertDeleteCertificateFromStore(copy), row, "deleting through it works");
            checkEqual(backend->count(), expected.size() - 1, row, "count afresh after the deletion");
        }
    }
    context.reset();
    storeContents(files);
}

}  // namespace velomark::wintest
