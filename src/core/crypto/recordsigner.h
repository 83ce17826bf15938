#pragma once
// Detached signatures made with a certificate and its private key in the current user's store
// (the NSS database on Linux), so a key on a token the store knows signs as well as a key in
// the database. Qt-free, one implementation per platform.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velomark {

// Asks for the password or PIN of the token named; nothing when none is given. `retry` is
// true when the last one given was wrong.
using PinPrompt = std::function<std::optional<std::string>(const std::string &token, bool retry)>;

struct DetachedSignature
{
    std::vector<std::uint8_t> der;  // empty on failure
    std::string error;
};

// A CMS SignedData (DER) over `content`, which it does not carry: SHA-256, the signing time
// and the signer's certificate (with the chain the store holds).
DetachedSignature signDetached(const std::uint8_t *content, std::size_t size, const std::string &nickname,
                               const PinPrompt &prompt);

struct SigningNicknames
{
    std::vector<std::string> nicknames;  // in nickname order
    std::string error;
};

// The nicknames of the certificates that have a private key in the store.
SigningNicknames signingNicknames(const PinPrompt &prompt);

}  // namespace velomark
