// The current user's certificates on Linux: the NSS database that desktop programs share,
// opened read-only as a user database beside an NSS context without databases of its own, so
// only that database's own certificates are seen, never built-in roots from a module list.
#include "crypto/certstore_backend.h"

#include <cert.h>
#include <nss.h>
#include <pk11pub.h>
#include <prerror.h>
#include <secmod.h>
#include <secport.h>
// This header declares its functions without C linkage of their own.
extern "C" {
#include <utilpars.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace velomark {

namespace {

bool isDirectory(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool exists(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

std::string environment(const char *name)
{
    const char *value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// $HOME/.pki/nssdb when it exists, else $XDG_DATA_HOME/pki/nssdb.
std::string databaseFolder()
{
    const std::string home = environment("HOME");
    const std::string legacy = home + "/.pki/nssdb";
    if (!home.empty() && isDirectory(legacy))
        return legacy;
    std::string data = environment("XDG_DATA_HOME");
    // The XDG rules ignore a relative value.
    if (data.empty() || data[0] != '/')
        data = home + "/.local/share";
    return data + "/pki/nssdb";
}

std::string nssError(const char *what)
{
    const PRErrorCode code = PR_GetError();
    const char *name = PR_ErrorToName(code);
    return std::string(what) + " (" + (name ? name : std::to_string(code)) + ")";
}

// A value for a module parameter in single quotes: NSS's own escaping, so a quote or
// backslash in a home folder's name reaches the database as it is.
std::string quotedParameter(const std::string &value)
{
    char *escaped = NSSUTIL_Escape(value.c_str(), '\'');
    const std::string text = escaped ? escaped : value;
    PORT_Free(escaped);
    return text;
}

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

std::mutex &nssLock()
{
    static std::mutex lock;
    return lock;
}

// One NSS context for the process, without certificate or module database.
bool ensureNss(std::string *error)
{
    static NSSInitContext *context = nullptr;
    if (context)
        return true;
    context = NSS_InitContext("", "", "", "", nullptr,
                              NSS_INIT_READONLY | NSS_INIT_NOCERTDB | NSS_INIT_NOMODDB
                                  | NSS_INIT_FORCEOPEN | NSS_INIT_NOROOTINIT | NSS_INIT_OPTIMIZESPACE);
    if (!context && error)
        *error = nssError("NSS cannot be initialised");
    return context != nullptr;
}

}  // namespace

std::unique_ptr<CertificateStoreBackend> openCurrentUserCertificateStore(bool readOnly, std::string *error)
{
    const std::string folder = databaseFolder();
    const bool sql = exists(folder + "/cert9.db");
    const bool legacy = !sql && exists(folder + "/cert8.db");
    // A user who never stored a certificate has no database: an empty store, not a failure.
    if (!sql && !legacy)
        return std::unique_ptr<CertificateStoreBackend>(new NssStore(folder, {}));
    if (access((folder + (sql ? "/cert9.db" : "/cert8.db")).c_str(), R_OK) != 0) {
        if (error)
            *error = "The certificate database " + folder + " cannot be read: " + std::strerror(errno);
        return nullptr;
    }

    std::lock_guard<std::mutex> lock(nssLock());
    if (!ensureNss(error))
        return nullptr;
    static unsigned opened = 0;
    const std::string moduleParams = "configdir='" + quotedParameter((sql ? "sql:" : "dbm:") + folder)
                             + "' tokenDescription='Velomark user store " + std::to_string(++opened)
                             + "'" + (readOnly ? " flags=readOnly" : "");
    PK11SlotInfo *slot = SECMOD_OpenUserDB(moduleParams.c_str());
    if (!slot) {
        if (error)
            *error = nssError(("The certificate database " + folder + " cannot be opened").c_str());
        return nullptr;
    }
    std::vector<StoredCertificate> certificates;
    bool ok = PK11_IsPresent(slot);
    if (ok) {
        CERTCertList *list = PK11_ListCertsInSlot(slot);
        if (list) {
            for (CERTCertListNode *node = CERT_LIST_HEAD(list); !CERT_LIST_END(node, list);
                 node = CERT_LIST_NEXT(node)) {
                StoredCertificate stored;
                stored.nickname = node->cert->nickname ? node->cert->nickname : "";
                stored.der.assign(node->cert->derCert.data, node->cert->derCert.data + node->cert->derCert.len);
                certificates.push_back(std::move(stored));
            }
            CERT_DestroyCertList(list);
        }
    } else if (error) {
        *error = nssError(("The certificate database " + folder + " cannot be read").c_str());
    }
    SECMOD_CloseUserDB(slot);
    PK11_FreeSlot(slot);
    if (!ok)
        return nullptr;
    // NSS lists in insertion order, which it does not promise; sort for a stable order.
    std::sort(certificates.begin(), certificates.end(),
              [](const StoredCertificate &a, const StoredCertificate &b) {
                  return a.nickname != b.nickname ? a.nickname < b.nickname : a.der < b.der;
              });
    return std::unique_ptr<CertificateStoreBackend>(new NssStore(folder, std::move(certificates)));
}

}  // namespace velomark
