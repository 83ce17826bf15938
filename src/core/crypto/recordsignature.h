#pragma once
// A download record's signature: RECORD.json.p7s beside it, a detached CMS SignedData over the
// record's bytes exactly as they are on disk, made with a key of the current user's store and
// checked with OpenSSL, so a record can be checked where no store or key is at hand.
#include <QString>

#include <optional>

#include "crypto/recordsigner.h"

namespace velomark {

// RECORD.json -> RECORD.json.p7s
QString signatureFileOf(const QString &recordPath);

// Signs the file's bytes with the store's certificate of that nickname and replaces its
// signature file whole; the error text, empty when it succeeded.
QString signRecordFile(const QString &recordPath, const QString &nickname, const PinPrompt &prompt);

struct SignatureCheck
{
    enum Status { Unsigned, Ok, Mismatch };
    Status status = Unsigned;
    QString file;    // the signature file's name, without folder
    QString signer;  // the signer certificate's subject, when the signature holds it
    QString reason;  // why it is a mismatch
};

// Checks the signature file beside the record, if there is one: one signer, SHA-256, a valid
// signature over exactly the record's bytes. Whether the signer's certificate is trusted is
// not checked here.
SignatureCheck checkRecordSignature(const QString &recordPath);

// The nickname of the store's only certificate with a private key; nothing with the reason
// when there is none, or more than one to choose from.
struct OnlySigner
{
    std::optional<QString> nickname;
    QString reason;
};
OnlySigner onlySigningNickname(const PinPrompt &prompt);

}  // namespace velomark
