#pragma once
// The current user's NSS database as this program opens it: one process-wide NSS context
// without databases of its own, and the user's database added to it as a user token, so only
// that database's own certificates and keys are seen, never built-in roots from a module list.
#include <pk11pub.h>

#include <mutex>
#include <string>

namespace velomark::nssdb {

// $HOME/.pki/nssdb when it exists, else $XDG_DATA_HOME/pki/nssdb.
std::string databaseFolder();

// "what (NSS_ERROR_NAME)" for the thread's last NSS error.
std::string nssError(const char *what);

// Held around every use of NSS and of an open user token.
std::mutex &lock();

// The user's database, open as a token; it is closed with the object.
class UserDatabase
{
public:
    enum class State { Opened, Missing, Failed };

    // Call with lock() held. A folder without cert9.db or cert8.db is Missing, not a failure.
    UserDatabase(bool readOnly);
    ~UserDatabase();
    UserDatabase(const UserDatabase &) = delete;
    UserDatabase &operator=(const UserDatabase &) = delete;

    State state() const { return m_state; }
    const std::string &folder() const { return m_folder; }
    const std::string &error() const { return m_error; }  // set when Failed
    PK11SlotInfo *slot() const { return m_slot; }

private:
    State m_state = State::Failed;
    std::string m_folder;
    std::string m_error;
    PK11SlotInfo *m_slot = nullptr;
};

// A nickname as the user gave it to certutil: NSS names certificates of a token other than the
// internal one "TOKEN:nickname".
std::string bareNickname(PK11SlotInfo *slot, const char *nickname);

}  // namespace velomark::nssdb
