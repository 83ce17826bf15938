#include "crypto/certstore.h"

namespace velomark {

CertificateStore::CertificateStore() = default;
CertificateStore::~CertificateStore() = default;

bool CertificateStore::OpenCurrentUserStore(bool readOnly)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return guardedCall("OpenCurrentUserStore", [&] {
        m_log.value("readOnly", readOnly ? "1" : "0");
        std::unique_ptr<CertificateStoreBackend> store;
        {
            CallLog::Scope scope(m_log, "openCertStore");
            std::string error;
            store = openCurrentUserCertificateStore(readOnly, &error);
            if (!store) {
                m_log.error(error);
                return false;
            }
            m_log.value("location", store->location());
        }
        m_store = std::move(store);
        return true;
    });
}

int CertificateStore::CertificateCount()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (!m_store)
        return 0;
    const std::size_t count = m_store->count();
    return count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(count);
}

std::unique_ptr<Certificate> CertificateStore::GetCertificate(int index)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (!m_store)
        return nullptr;
    std::unique_ptr<Certificate> certificate;
    guardedCall("GetCertificate", [&] {
        m_log.value("index", std::to_string(index));
        if (index < 0) {
            m_log.error("Index out of range");
            return false;
        }
        std::vector<std::uint8_t> der;
        std::shared_ptr<void> context;
        std::string error;
        if (!m_store->certificate(static_cast<std::size_t>(index), der, context, &error)) {
            m_log.error(error.empty() ? "Index out of range" : error);
            return false;
        }
        std::shared_ptr<CertificateData> data = CertificateData::fromDer(der, &error, std::move(context));
        if (!data) {
            m_log.error(error);
            return false;
        }
        certificate.reset(new Certificate(std::move(data)));
        return true;
    });
    return certificate;
}

std::string CertificateStore::Location() const
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_store ? m_store->location() : std::string();
}

}  // namespace velomark
