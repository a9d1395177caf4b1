#pragma once

// What every harness runs in: a private temporary HOME (so the data folder,
// key-ring files and the public key cache never touch a real user's files),
// the log switched on but written to /dev/null (messages are composed, so
// their formatting is exercised), and the process-wide key ring signed in as
// a fixed local test account that holds one fixed RSA key pair. The seed
// containers in the corpus carry shares for that key, which is why it must
// never change. The folder is removed when the process ends normally.

#include "FuzzTarget.h"

#include <cstdint>
#include <string>

class AvKeyring;

class FuzzEnvironment
{
public:
    static constexpr const char* kTestUser = "424242";
    static constexpr std::uint64_t kTestKeyId = 0x0123456789abcdefULL;
    static constexpr const char* kTestPassword = "fuzzing password";
    // A second account whose public key only is known, as for any user a file
    // is shared with. Its key material is made per run; only the id is fixed.
    static constexpr std::uint64_t kOtherKeyId = 0x0fedcba987654321ULL;
    static constexpr const char* kOtherUser = "other@example.com";

    static FuzzEnvironment& instance();

    FuzzEnvironment(const FuzzEnvironment&) = delete;
    FuzzEnvironment& operator=(const FuzzEnvironment&) = delete;

    // The temporary HOME, ending with "/".
    const std::string& folder() const { return m_folder; }
    // Writes `bytes` to `name` in the folder (replacing it) and returns the path.
    std::string writeFile(const std::string& name, FuzzInput bytes) const;
    static std::string readFile(const std::string& path);

    // Back to the signed-in test account holding only its own key pair (active)
    // and no file keys, other users' keys or names.
    void resetKeyring() const;
    static AvKeyring& ring();
    // Puts the second account's public key into the key ring.
    static void addOtherAccount();

private:
    FuzzEnvironment();
    ~FuzzEnvironment();

    std::string m_folder;
};
