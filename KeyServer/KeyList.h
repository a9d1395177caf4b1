#pragma once

// Rules for an account's key list ("Userkeys") as clients upload it and as
// the server hands it back. The uploaded list replaces the stored one, but
// only when an active key can be named whose public half is known, so a
// malformed upload can never leave an account without a usable public key.

#include "AccountStore.h"

#include <json/value.h>

#include <cstdint>
#include <vector>

namespace keyserver {

class KeyList
{
public:
    // The active key for an upload: `requested` when given (it must be in the
    // list), else the one entry carrying a public key, else the stored active
    // key when the list holds it. 0 when none qualifies or the chosen entry
    // has no public key (from the upload or from the stored list).
    static std::uint64_t chooseActiveKey(
        const std::vector<StoredKey>& uploaded, std::uint64_t requested, const Account& stored);
    // Fills public keys missing from the upload from stored entries with the same id.
    static void keepKnownPublicKeys(std::vector<StoredKey>& uploaded, const std::vector<StoredKey>& stored);

    static const StoredKey* find(const std::vector<StoredKey>& keys, std::uint64_t keyId);

    // "Userkeys" as GetUserkeys2 answers it: "KeyID", "PrivateKey", and
    // "PublicKey" in the active key's object only.
    static Json::Value toUserkeys(const std::vector<StoredKey>& keys, std::uint64_t activeKey);
    // "Keylist" as Authenticate3 answers it: the ids as decimal texts.
    static Json::Value toKeylist(const std::vector<StoredKey>& keys);
};

} // namespace keyserver
