#pragma once
// The current user's personal certificate store. Certificates handed out stay valid after the
// store object is gone.
#include "crypto/certificate.h"
#include "crypto/certstore_backend.h"
#include "crypto/component.h"

#include <memory>

namespace velomark {

class CertificateStore : public ComponentObject
{
public:
    CertificateStore();
    ~CertificateStore() override;

    // Opens the store (read-only when asked); a failure leaves an open store open.
    bool OpenCurrentUserStore(bool readOnly);
    // Number of certificates; 0 without an open store.
    int CertificateCount();
    // A new certificate owned by the caller, or null (index out of range, no store open).
    std::unique_ptr<Certificate> GetCertificate(int index);
    // Where the open store lives, or empty text.
    std::string Location() const;

private:
    std::unique_ptr<CertificateStoreBackend> m_store;
};

}  // namespace velomark
