// Detached CMS signatures made by NSS with a certificate of the user's NSS database, so the
// private key never leaves its token and a token's PIN is asked through NSS's own login.
#include "crypto/recordsigner.h"

#include "crypto/nssuserdb_nss.h"

#include <cert.h>
#include <cms.h>
#include <keyhi.h>
#include <prtime.h>
#include <secerr.h>
#include <secoidt.h>
#include <secport.h>

#include <algorithm>

namespace velomark {

namespace {

// What NSS's password callback gets as its argument during one call of ours.
struct PromptContext
{
    const PinPrompt *prompt = nullptr;
    const nssdb::UserDatabase *database = nullptr;
};

char *askPin(PK11SlotInfo *slot, PRBool retry, void *arg)
{
    const auto *context = static_cast<const PromptContext *>(arg);
    if (!context || !context->prompt || !*context->prompt)
        return nullptr;
    // Our own token's name is made up here; the user knows the database by its folder.
    const std::string token = context->database && slot == context->database->slot()
                                  ? "the certificate database " + context->database->folder()
                                  : std::string(PK11_GetTokenName(slot));
    const std::optional<std::string> pin = (*context->prompt)(token, retry != PR_FALSE);
    return pin ? PORT_Strdup(pin->c_str()) : nullptr;
}

// NSS keeps one password callback per process; ours reads the caller's prompt from its argument.
void installPinCallback()
{
    static const bool installed = [] {
        PK11_SetPasswordFunc(askPin);
        return true;
    }();
    (void)installed;
}

// The database's certificate with that nickname, or null.
CERTCertificate *findCertificate(PK11SlotInfo *slot, const std::string &nickname)
{
    CERTCertificate *found = nullptr;
    if (CERTCertList *list = PK11_ListCertsInSlot(slot)) {
        for (CERTCertListNode *node = CERT_LIST_HEAD(list); !CERT_LIST_END(node, list); node = CERT_LIST_NEXT(node)) {
            if (nssdb::bareNickname(slot, node->cert->nickname) == nickname) {
                found = CERT_DupCertificate(node->cert);
                break;
            }
        }
        CERT_DestroyCertList(list);
    }
    return found;
}

// The database's own keys are hidden until it is unlocked: once, before any key is looked for.
std::string unlock(const nssdb::UserDatabase &database, PromptContext *context)
{
    if (!PK11_NeedLogin(database.slot()) || PK11_IsLoggedIn(database.slot(), context))
        return std::string();
    if (PK11_Authenticate(database.slot(), PR_TRUE, context) == SECSuccess)
        return std::string();
    return "The certificate database " + database.folder() + " was not unlocked: no right password was given";
}

// The database ready to sign with: opened, the PIN callback in place and its key storage
// unlocked through the caller's prompt; the reason when it is not.
std::string openForSigning(const nssdb::UserDatabase &database, PromptContext *context)
{
    if (database.state() == nssdb::UserDatabase::State::Missing)
        return "There is no certificate database in " + database.folder();
    if (database.state() != nssdb::UserDatabase::State::Opened)
        return database.error();
    installPinCallback();
    return unlock(database, context);
}

bool hasPrivateKey(CERTCertificate *certificate, PromptContext *context)
{
    SECKEYPrivateKey *key = PK11_FindKeyByAnyCert(certificate, context);
    SECKEY_DestroyPrivateKey(key);
    return key != nullptr;
}

// The message around the signer: SignedData of detached data, one signer, SHA-256.
std::string encodeSignature(CERTCertificate *certificate, const std::uint8_t *content, std::size_t size,
                            PromptContext *context, std::vector<std::uint8_t> &der)
{
    NSSCMSMessage *message = NSS_CMSMessage_Create(nullptr);
    if (!message)
        return nssdb::nssError("The signature cannot be made");
    std::string error;
    const auto failed = [&error](const char *what) {
        error = nssdb::nssError(what);
        return false;
    };
    PLArenaPool *arena = PORT_NewArena(4096);
    SECItem output{siBuffer, nullptr, 0};
    // The signer finds its key again without a prompt of its own: hasPrivateKey logged the token in.
    NSSCMSSignedData *signedData = NSS_CMSSignedData_Create(message);
    NSSCMSSignerInfo *signer = nullptr;
    bool signerAdded = false;
    const bool built =
        (signedData || failed("The signed data cannot be made"))
        && (NSS_CMSContentInfo_SetContent_SignedData(message, NSS_CMSMessage_GetContentInfo(message), signedData)
                == SECSuccess
            || failed("The signed data cannot be made"))
        && (NSS_CMSContentInfo_SetContent_Data(message, NSS_CMSSignedData_GetContentInfo(signedData), nullptr, PR_TRUE)
                == SECSuccess
            || failed("The signed content cannot be set"))
        && ((signer = NSS_CMSSignerInfo_Create(message, certificate, SEC_OID_SHA256)) != nullptr
            || failed("The signer cannot be made"))
        && (NSS_CMSSignerInfo_IncludeCerts(signer, NSSCMSCM_CertChain, certUsageEmailSigner) == SECSuccess
            || failed("The signer's certificates cannot be added"))
        && (NSS_CMSSignerInfo_AddSigningTime(signer, PR_Now()) == SECSuccess
            || failed("The signing time cannot be added"))
        && ((signerAdded = NSS_CMSSignedData_AddSignerInfo(signedData, signer) == SECSuccess)
            || failed("The signer cannot be added"));
    if (built) {
        // The content goes through the encoder only to be digested: the message is detached.
        NSSCMSEncoderContext *encoder = NSS_CMSEncoder_Start(message, nullptr, nullptr, &output, arena, askPin,
                                                             context, nullptr, nullptr, nullptr, nullptr);
        if (!encoder) {
            failed("The signature cannot be started");
        } else {
            constexpr std::size_t kPiece = 1 << 20;
            bool fed = true;
            for (std::size_t at = 0; fed && at < size; at += kPiece)
                fed = NSS_CMSEncoder_Update(encoder, reinterpret_cast<const char *>(content) + at,
                                            std::min(kPiece, size - at)) == SECSuccess;
            if (!fed) {
                failed("The record cannot be digested");
                NSS_CMSEncoder_Cancel(encoder);
            } else if (NSS_CMSEncoder_Finish(encoder) != SECSuccess) {
                failed("The private key did not sign");
            } else {
                der.assign(output.data, output.data + output.len);
            }
        }
    } else if (signer && !signerAdded) {
        // A signer the message does not hold yet is not destroyed with it.
        NSS_CMSSignerInfo_Destroy(signer);
    }
    NSS_CMSMessage_Destroy(message);
    PORT_FreeArena(arena, PR_FALSE);
    return error;
}

}  // namespace

DetachedSignature signDetached(const std::uint8_t *content, std::size_t size, const std::string &nickname,
                               const PinPrompt &prompt)
{
    DetachedSignature result;
    std::lock_guard<std::mutex> lock(nssdb::lock());
    const nssdb::UserDatabase database(true);
    PromptContext context{&prompt, &database};
    result.error = openForSigning(database, &context);
    if (!result.error.empty())
        return result;
    CERTCertificate *certificate = findCertificate(database.slot(), nickname);
    if (!certificate) {
        result.error = "No certificate '" + nickname + "' in the certificate database " + database.folder();
        return result;
    }
    if (!hasPrivateKey(certificate, &context))
        result.error = "The certificate '" + nickname + "' has no private key in " + database.folder()
                       + " (nor on a token that asked for a PIN and got none)";
    else
        result.error = encodeSignature(certificate, content, size, &context, result.der);
    CERT_DestroyCertificate(certificate);
    return result;
}

SigningNicknames signingNicknames(const PinPrompt &prompt)
{
    SigningNicknames result;
    std::lock_guard<std::mutex> lock(nssdb::lock());
    const nssdb::UserDatabase database(true);
    // Without a database there is nobody to sign with, which is no error here.
    if (database.state() == nssdb::UserDatabase::State::Missing)
        return result;
    PromptContext context{&prompt, &database};
    result.error = openForSigning(database, &context);
    if (!result.error.empty())
        return result;
    if (CERTCertList *list = PK11_ListCertsInSlot(database.slot())) {
        for (CERTCertListNode *node = CERT_LIST_HEAD(list); !CERT_LIST_END(node, list); node = CERT_LIST_NEXT(node)) {
            if (hasPrivateKey(node->cert, &context))
                result.nicknames.push_back(nssdb::bareNickname(database.slot(), node->cert->nickname));
        }
        CERT_DestroyCertList(list);
    }
    std::sort(result.nicknames.begin(), result.nicknames.end());
    return result;
}

}  // namespace velomark
