#pragma once

// Runs the command dispatcher over a real SQLite store in a test folder, with
// a hand-moved clock and a recording mailer, and builds the requests a client
// sends. TestAccount holds what a client would derive and upload for one
// account (password value, recovery half, one key pair as opaque Base64).

#include "AvTestEnvironment.h"
#include "CommandDispatcher.h"
#include "ManualClock.h"
#include "RecordingMailer.h"
#include "ServerPolicy.h"
#include "SqliteAccountStore.h"

#include <json/value.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

namespace keyserver {

// Cheap hashing and roomy limits; tests that check limits set their own.
ServerPolicy testPolicy();

// Random bytes as Base64 text.
std::string randomBase64(std::size_t bytes);
// A request object with "Command", the given members and a client "Version".
Json::Value makeRequest(const char* command, std::initializer_list<std::pair<const char*, Json::Value>> members = {});

struct TestAccount
{
    std::string email;
    std::string loginId;
    std::string password; // the value clients send as "Password"/"NewPassword"
    std::string partialPassword; // the half kept for recovery
    std::uint64_t keyId = 0;
    std::string privateKey;
    std::string publicKey;

    // A key list of this account's one key, as ValidateUser3 sends it.
    Json::Value userkeys() const;
    // Fresh password, recovery half and key pair, as a reset makes them.
    void renew();
};

class KeyServerHarness
{
public:
    static constexpr const char* kClientAddress = "198.51.100.7";

    explicit KeyServerHarness(std::string folder, ServerPolicy policy = testPolicy());

    // Dispatches and returns the answer object.
    Json::Value send(const Json::Value& request, const std::string& clientAddress = kClientAddress);
    // Closes and reopens store and dispatcher on the same file.
    void restart();

    // The code of the newest mail to `email`, "" when none came.
    std::string lastCodeFor(const std::string& email) const;

    // RegisterUser3 for a new account; the login id is filled in.
    TestAccount registerAccount(
        const std::string& email, const std::string& firstName = "Alice", const std::string& lastName = "Example");
    // ValidateUser3 as the client sends it for `account` with `code`.
    static Json::Value validateRequest(const TestAccount& account, const std::string& code, bool recovery = true);
    // Registered and verified, ready to sign in.
    TestAccount createAccount(const std::string& email, bool recovery = true);
    // A request in the name of a signed-in account ("User" = login id, "Password").
    static Json::Value signedRequest(const char* command, const TestAccount& account,
        std::initializer_list<std::pair<const char*, Json::Value>> members = {});

    SqliteAccountStore& store() { return *m_store; }
    CommandDispatcher& dispatcher() { return *m_dispatcher; }

    ManualClock clock;
    RecordingMailer mailer;

private:
    std::string m_databasePath;
    ServerPolicy m_policy;
    std::unique_ptr<SqliteAccountStore> m_store;
    std::unique_ptr<CommandDispatcher> m_dispatcher;
};

} // namespace keyserver
