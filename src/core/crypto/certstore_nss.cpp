// The current user's certificates on Linux: the NSS database that desktop programs share,
// opened read-only as a user database beside an NSS context without databases of its own, so
// only that database's own certificates are seen, never built-in roots from a module list.
#include "crypto/certstore_backend.h"

#include "crypto/nssuserdb_nss.h"

#include <cert.h>

#include <algorithm>

namespace velomark {

namespace {

struct StoredCertificate
{
    std::string nickname;
    std::vector<std::uint8_t> der;
};

class NssStore : public CertificateStoreBackend
{
public:
    NssStore(std::string folder, std::vector<StoredCertificate> certificates)
        : m_folder(std::move(folder)), m_certificates(std::move(certificates))
    {
    }
    std::size_t count() override { return m_certificates.size(); }
    bool certificate(std::size_t index, std::vector<std::uint8_t> &der, std::shared_ptr<void> &,
                     std::string *) override
    {
        if (index >= m_certificates.size())
            return false;
        der = m_certificates[index].der;
        return true;
    }
    std::string location() const override { return m_folder; }

private:
    std::string m_folder;
    std::vector<StoredCertificate> m_certificates;
};

}  // namespace

std::unique_ptr<CertificateStoreBackend> openCurrentUserCertificateStore(bool readOnly, std::string *error)
{
    std::lock_guard<std::mutex> lock(nssdb::lock());
    const nssdb::UserDatabase database(readOnly);
    // A user who never stored a certificate has no database: an empty store, not a failure.
    if (database.state() == nssdb::UserDatabase::State::Missing)
        return std::unique_ptr<CertificateStoreBackend>(new NssStore(database.folder(), {}));
    if (database.state() == nssdb::UserDatabase::State::Failed) {
        if (error)
            *error = database.error();
        return nullptr;
    }
    std::vector<StoredCertificate> certificates;
    if (CERTCertList *list = PK11_ListCertsInSlot(database.slot())) {
        for (CERTCertListNode *node = CERT_LIST_HEAD(list); !CERT_LIST_END(node, list); node = CERT_LIST_NEXT(node)) {
            StoredCertificate stored;
            stored.nickname = nssdb::bareNickname(database.slot(), node->cert->nickname);
            stored.der.assign(node->cert->derCert.data, node->cert->derCert.data + node->cert->derCert.len);
            certificates.push_back(std::move(stored));
        }
        CERT_DestroyCertList(list);
    }
    // NSS lists in insertion order, which it does not promise; sort for a stable order.
    std::sort(certificates.begin(), certificates.end(),
              [](const StoredCertificate &a, const StoredCertificate &b) {
                  return a.nickname != b.nickname ? a.nickname < b.nickname : a.der < b.der;
              });
    return std::unique_ptr<CertificateStoreBackend>(new NssStore(database.folder(), std::move(certificates)));
}

}  // namespace velomark
