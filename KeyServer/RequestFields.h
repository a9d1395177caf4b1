#pragma once

// Typed, checked reading of a request's members. Each reader returns the
// member's value and marks the whole request invalid when the member has the
// wrong JSON type, is too long, holds control characters (NUL included) or
// invalid UTF-8, or does not have its expected form; a handler reads all it
// needs and then asks isValid() once. Limits here bound what a request can
// make the server store.

#include "AccountStore.h"
#include "CommandResult.h"

#include <json/value.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace keyserver {

// The new credentials that ValidateUser3, ChangePassword2 and the complete
// PasswordReset2 carry.
struct UploadedCredentials
{
    std::string newPassword;
    bool passwordRecovery = false;
    std::string partialPassword;
    std::uint64_t activeKey = 0; // 0 when "ActiveKey" was not sent
    std::vector<StoredKey> keys;

    // The update to store for an account holding `stored`: a new verifier of
    // the password value, the recovery half and the key list with its active
    // key (KeyList::chooseActiveKey; public keys the upload omits are kept).
    // InvalidRequest when no active key qualifies, ServerError when hashing fails.
    Failure toUpdate(const Account& stored, const VerifierHash& hash, CredentialUpdate& update) const;
};

class RequestFields
{
public:
    explicit RequestFields(const Json::Value& request);

    bool isValid() const { return m_valid; }
    bool has(const char* member) const;

    // A string member; "" when missing.
    std::string optionalText(const char* member, std::size_t maxBytes);
    // A string member that must be present and not empty.
    std::string requiredText(const char* member, std::size_t maxBytes);
    // A required e-mail address, normalized (trimmed, lower case).
    std::string emailAddress(const char* member);
    // A first or last name, spaces trimmed at both ends; may be empty.
    std::string personName(const char* member);
    // A required Base64 text (password values, partial password).
    std::string base64Text(const char* member, std::size_t maxChars);
    // A mailed code as typed, with its spaces removed; "" when missing.
    std::string code(const char* member);
    // 0 or 1 (integer or boolean); false when missing.
    bool flag(const char* member);
    // A required key id in decimal text, neither 0 nor all ones.
    std::uint64_t keyId(const char* member);
    // A required key list ("Userkeys"): 1 to 256 objects with a unique
    // "KeyID", a Base64 "PrivateKey" and optionally a Base64 "PublicKey".
    std::vector<StoredKey> keyList(const char* member);

    // "NewPassword", "PasswordRecovery" (with "PartialPassword" when 1),
    // "Userkeys" and, when present, "ActiveKey".
    UploadedCredentials uploadedCredentials();

    // A string member read without judging it: "" for a missing member or one of another type.
    std::string looseText(const char* member) const;

    static bool isValidEmail(std::string_view address);
    // Valid UTF-8 without control characters.
    static bool isCleanText(std::string_view text);
    static bool isStrictBase64(std::string_view text);
    static bool parseKeyId(std::string_view text, std::uint64_t& keyId);

private:
    const Json::Value* member(const char* name) const;
    void invalidate() { m_valid = false; }

    const Json::Value& m_request;
    bool m_valid = true;
};

} // namespace keyserver
