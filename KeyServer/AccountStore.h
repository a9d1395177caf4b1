#pragma once

// Storage of the key server's accounts, their key lists and their pending
// codes. The command handlers see only this interface; SqliteAccountStore is
// the one-file implementation, and a shared database can stand behind the
// same interface where several server processes serve one user base. Every
// operation reports through Status and never throws.

#include "VerifierHash.h"

#include <cstdint>
#include <string>
#include <vector>

namespace keyserver {

// One entry of an account's key list, as clients upload it: the sealed
// private key and (for the active key at least) the raw public key, both as
// Base64 text. The server cannot open either; it stores and hands them out.
struct StoredKey
{
    std::uint64_t keyId = 0;
    std::string privateKey;
    std::string publicKey;
};

struct Account
{
    std::int64_t loginId = 0;
    std::string email; // normalized: trimmed, lower case
    std::string firstName;
    std::string lastName;
    std::string language;
    bool verified = false; // address proven with a mailed code
    Verifier verifier;
    bool passwordRecovery = false;
    std::string partialPassword; // Base64 text, only while recovery is on
    std::uint64_t activeKey = 0;
    std::vector<StoredKey> keys; // in upload order
    std::int64_t createdAt = 0; // seconds since the epoch
};

enum class CodePurpose { Verification, Recovery, Reset };

// A pending code: only a salted hash is kept.
struct StoredCode
{
    std::string salt;
    std::string hash;
    std::int64_t expiresAt = 0; // seconds since the epoch
    int wrongAttempts = 0;
};

// What ValidateUser3, ChangePassword2 and PasswordReset2 write in one go.
struct CredentialUpdate
{
    Verifier verifier;
    bool passwordRecovery = false;
    std::string partialPassword;
    std::uint64_t activeKey = 0;
    std::vector<StoredKey> keys;
    bool markVerified = false;
};

class AccountStore
{
public:
    enum class Status {
        Ok,
        NotFound, // no such account or code
        Conflict, // address or login id taken; code already used
        Failed // the storage itself failed
    };

    virtual ~AccountStore() = default;

    virtual Status findByEmail(const std::string& email, Account& account) = 0;
    virtual Status findByLoginId(std::int64_t loginId, Account& account) = 0;
    // Inserts a new account (without keys); Conflict when the address or the login id is taken.
    virtual Status insertAccount(const Account& account) = 0;
    virtual Status updateProfile(std::int64_t loginId, const std::string& firstName, const std::string& lastName,
        const std::string& language) = 0;
    // Replaces verifier, recovery data and key list. With consumeCode, the
    // pending code of that purpose is deleted in the same transaction, and the
    // update happens only if that code was still there (else Conflict): a code
    // can complete at most one update.
    virtual Status storeCredentials(
        std::int64_t loginId, const CredentialUpdate& update, const CodePurpose* consumeCode) = 0;
    // Replaces the key list and the active key, leaving the verifier alone.
    virtual Status storeKeys(std::int64_t loginId, std::uint64_t activeKey, const std::vector<StoredKey>& keys) = 0;

    // Stores a pending code, replacing one of the same purpose.
    virtual Status saveCode(std::int64_t loginId, CodePurpose purpose, const StoredCode& code) = 0;
    virtual Status findCode(std::int64_t loginId, CodePurpose purpose, StoredCode& code) = 0;
    // Counts a wrong entry; at `limit` wrong entries the code is deleted.
    virtual Status countWrongCode(std::int64_t loginId, CodePurpose purpose, int limit) = 0;
    // Deletes the code; NotFound when there was none (it was used meanwhile).
    virtual Status deleteCode(std::int64_t loginId, CodePurpose purpose) = 0;
};

} // namespace keyserver
