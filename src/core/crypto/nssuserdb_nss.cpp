#include "crypto/nssuserdb_nss.h"

#include <nss.h>
#include <prerror.h>
#include <secmod.h>
#include <secport.h>
// This header declares its functions without C linkage of their own.
extern "C" {
#include <utilpars.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace velomark::nssdb {

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

// A value for a module parameter in single quotes: NSS's own escaping, so a quote or
// backslash in a home folder's name reaches the database as it is.
std::string quotedParameter(const std::string &value)
{
    char *escaped = NSSUTIL_Escape(value.c_str(), '\'');
    const std::string text = escaped ? escaped : value;
    PORT_Free(escaped);
    return text;
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
    if (!context)
        *error = nssError("NSS cannot be initialised");
    return context != nullptr;
}

}  // namespace

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

std::mutex &lock()
{
    static std::mutex mutex;
    return mutex;
}

UserDatabase::UserDatabase(bool readOnly) : m_folder(databaseFolder())
{
    const bool sql = exists(m_folder + "/cert9.db");
    const bool legacy = !sql && exists(m_folder + "/cert8.db");
    if (!sql && !legacy) {
        m_state = State::Missing;
        return;
    }
    if (access((m_folder + (sql ? "/cert9.db" : "/cert8.db")).c_str(), R_OK) != 0) {
        m_error = "The certificate database " + m_folder + " cannot be read: " + std::strerror(errno);
        return;
    }
    if (!ensureNss(&m_error))
        return;
    // Each opening gets a token name of its own: NSS keeps a closed token's name in use.
    static unsigned opened = 0;
    const std::string moduleParams = "configdir='" + quotedParameter((sql ? "sql:" : "dbm:") + m_folder)
                                     + "' tokenDescription='Velomark user store " + std::to_string(++opened)
                                     + "'" + (readOnly ? " flags=readOnly" : "");
    m_slot = SECMOD_OpenUserDB(moduleParams.c_str());
    if (!m_slot) {
        m_error = nssError(("The certificate database " + m_folder + " cannot be opened").c_str());
        return;
    }
    if (!PK11_IsPresent(m_slot)) {
        m_error = nssError(("The certificate database " + m_folder + " cannot be read").c_str());
        return;
    }
    m_state = State::Opened;
}

UserDatabase::~UserDatabase()
{
    if (!m_slot)
        return;
    SECMOD_CloseUserDB(m_slot);
    PK11_FreeSlot(m_slot);
}

std::string bareNickname(PK11SlotInfo *slot, const char *nickname)
{
    if (!nickname)
        return std::string();
    const std::string prefix = std::string(PK11_GetTokenName(slot)) + ":";
    const std::string name = nickname;
    return name.compare(0, prefix.size(), prefix) == 0 ? name.substr(prefix.size()) : name;
}

}  // namespace velomark::nssdb
