// AvCredentials: everything derived from an account's user name and password.
// PBKDF2-HMAC-SHA-512 (1000 iterations, salted with the user id) gives a
// 64-byte derived key; from it come the 16-byte server password (sent to the
// key server instead of the password) and the AES key that seals the account's
// private keys. The derived key can be rebuilt without the password from its two
// 32-byte halves (one kept in the key-ring file, one by the key server), which
// is how password recovery works. Credentials are immutable after construction
// and wipe their key material when destroyed.
#pragma once

#include "crypto/AvEncrypt.h"
#include "crypto/SecureString.h"

#include <cryptopp/secblock.h>

#include <array>
#include <functional>
#include <string>

class AvCredentials
{
public:
    static constexpr uint32_t kDerivedKeySize = 64;
    static constexpr uint32_t kHalfSize = 32;
    static constexpr uint32_t kServerPasswordSize = 16;

    // Asks the key server for the numeric id of a normalized user name; returns
    // an empty text when the server does not know it or cannot be reached.
    using UserIdLookup = std::function<std::string(const std::string& userName)>;

    // Empty credentials: no key, empty names.
    AvCredentials();
    // From user name and password (signing in, creating accounts, changing passwords).
    AvCredentials(const std::string& userName, const SecureString& password, int autoLogin);
    // From the Base64 texts of the two halves of the derived key (password
    // recovery). Halves that do not decode to 32 bytes each give credentials
    // without a key (isValid() false).
    AvCredentials(const std::string& userName, const std::string& firstHalfBase64, const std::string& secondHalfBase64,
        int autoLogin);
    // Copy of other credentials with a new auto-login flag.
    AvCredentials(const AvCredentials& other, int autoLogin);
    // From a 64-byte derived key; any other size gives credentials without a key.
    AvCredentials(const std::string& userName, const CryptoPP::SecByteBlock& derivedKey, int autoLogin);

    AvCredentials(const AvCredentials& other) = default;
    AvCredentials& operator=(const AvCredentials& other) = default;
    ~AvCredentials() = default; // wiping buffers clear the key material

    // True when a 64-byte derived key (and hence every derived value) is present.
    bool isValid() const { return derivedKey_.size() == kDerivedKeySize; }

    // Base64 of the server password (24 characters), sent as "Password"/"NewPassword".
    std::string serverPasswordText() const;
    // Base64 of derived key bytes 0-31 (44 characters), kept in the key-ring file.
    std::string partialPasswordText() const;
    // Base64 of derived key bytes 32-63 (44 characters), held by the key server.
    std::string secondHalfText() const;

    const std::string& userName() const { return userName_; }
    const std::string& userId() const { return userId_; }
    int autoLogin() const { return autoLogin_; }
    // Auto-login flag, encrypted-file count, has-database flag, has-Outlook flag.
    const std::array<int, 4>& loginStats() const { return loginStats_; }

    // The key that seals and opens private keys (SealBlock / OpenBlock). Not
    // const: sealing restarts its keystream.
    AvAesRecord& aesKey() { return aesKey_; }
    const AvAesRecord& aesKey() const { return aesKey_; }

    // Numeric user id for a normalized user name: a numeric name is its own id;
    // otherwise the last successful answer, the user's key-ring file, or the key
    // server lookup (if one is installed). Empty when none knows it.
    static std::string ResolveUserId(const std::string& userName);
    // Partial password text stored in the user's key-ring file, or empty.
    static std::string StoredPartialPassword(const std::string& userName);
    // Installs (or, with an empty function, removes) the key server lookup used
    // by ResolveUserId when the key-ring file does not know the id.
    static void setServerUserIdLookup(UserIdLookup lookup);
    // Forgets the remembered user id answer.
    static void clearUserIdCache();

private:
    void setFlag(int autoLogin);
    void DeriveSubkeys();

    AvAesRecord aesKey_;
    CryptoPP::SecByteBlock derivedKey_;
    int autoLogin_ = 0;
    std::array<int, 4> loginStats_{};
    CryptoPP::SecByteBlock serverPassword_;
    std::string userName_;
    std::string userId_;
};
