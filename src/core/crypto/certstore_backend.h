#pragma once
// The platform's current-user certificate store behind the CertificateStore object: the NSS
// database on Linux, the CryptoAPI "MY" store on Windows. Qt-free.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velomark {

class CertificateStoreBackend
{
public:
    virtual ~CertificateStoreBackend() = default;
    // Number of certificates, taken afresh at every call where the platform allows.
    virtual std::size_t count() = 0;
    // The DER bytes of the certificate at `index` in store order, and a platform handle the
    // certificate should own (may stay null). False when the index is beyond the end; then
    // *error may say more.
    virtual bool certificate(std::size_t index, std::vector<std::uint8_t> &der,
                             std::shared_ptr<void> &context, std::string *error) = 0;
    // Where the store lives ("HKEY_CURRENT_USER", a database folder).
    virtual std::string location() const = 0;
};

// Opens the current user's store; null with the platform's reason in *error on failure.
std::unique_ptr<CertificateStoreBackend> openCurrentUserCertificateStore(bool readOnly, std::string *error);

}  // namespace velomark
