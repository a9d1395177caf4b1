#include "KeyServerHarness.h"

#include "util/AvBase64.h"
#include "util/AvStrings.h"

#include <gtest/gtest.h>
#include <openssl/rand.h>

#include <sstream>

namespace keyserver {

ServerPolicy testPolicy()
{
    ServerPolicy policy;
    policy.verifierIterations = 1000;
    policy.failuresPerAccount = { 1000, std::chrono::minutes(15) };
    policy.failuresPerAddress = { 1000, std::chrono::minutes(15) };
    policy.mailsPerAccount = { 1000, std::chrono::hours(1) };
    policy.mailsPerAddress = { 1000, std::chrono::hours(1) };
    return policy;
}

std::string randomBase64(std::size_t bytes)
{
    std::string raw(bytes, '\0');
    RAND_bytes(reinterpret_cast<unsigned char*>(raw.data()), static_cast<int>(bytes));
    return base64Encode(raw);
}

Json::Value makeRequest(const char* command, std::initializer_list<std::pair<const char*, Json::Value>> members)
{
    Json::Value request(Json::objectValue);
    request["Command"] = command;
    request["Version"] = "0.9.1737 OSX";
    for (const auto& [name, value] : members)
        request[name] = value;
    return request;
}

Json::Value TestAccount::userkeys() const
{
    Json::Value entry(Json::objectValue);
    entry["KeyID"] = keyIdToText(keyId);
    entry["PrivateKey"] = privateKey;
    entry["PublicKey"] = publicKey;
    Json::Value list(Json::arrayValue);
    list.append(entry);
    return list;
}

void TestAccount::renew()
{
    password = randomBase64(16);
    partialPassword = randomBase64(32);
    unsigned char bytes[8];
    RAND_bytes(bytes, sizeof bytes);
    keyId = 1;
    for (unsigned char byte : bytes)
        keyId = (keyId << 8) | byte;
    keyId = (keyId & 0x7fffffffffffffffULL) | 1;
    privateKey = randomBase64(650);
    publicKey = randomBase64(132);
}

KeyServerHarness::KeyServerHarness(std::string folder, ServerPolicy policy)
    : m_databasePath(folder + "/keyserver.db")
    , m_policy(policy)
{
    restart();
}

void KeyServerHarness::restart()
{
    m_dispatcher.reset();
    m_store.reset();
    std::string error;
    m_store = SqliteAccountStore::open(m_databasePath, error);
    if (!m_store) {
        ADD_FAILURE() << error;
        return;
    }
    m_dispatcher = std::make_unique<CommandDispatcher>(*m_store, mailer, clock, m_policy);
}

Json::Value KeyServerHarness::send(const Json::Value& request, const std::string& clientAddress)
{
    return m_dispatcher->dispatch(request, clientAddress).result.toAnswer();
}

std::string KeyServerHarness::lastCodeFor(const std::string& email) const
{
    for (auto mail = mailer.mails.rbegin(); mail != mailer.mails.rend(); ++mail) {
        if (mail->to == email)
            return codeInMail(mail->body);
    }
    return {};
}

TestAccount KeyServerHarness::registerAccount(
    const std::string& email, const std::string& firstName, const std::string& lastName)
{
    TestAccount account;
    account.email = email;
    account.renew();
    const Json::Value answer = send(makeRequest("RegisterUser3",
        { { "EMail", email }, { "Firstname", firstName }, { "Lastname", lastName }, { "Language", "en_US" } }));
    EXPECT_EQ(answer["Result"].asString(), "OK") << answer.toStyledString();
    account.loginId = answer["LoginID"].asString();
    return account;
}

Json::Value KeyServerHarness::validateRequest(const TestAccount& account, const std::string& code, bool recovery)
{
    Json::Value request = makeRequest("ValidateUser3",
        { { "User", account.email }, { "NewPassword", account.password }, { "Verifier", code },
            { "ActiveKey", keyIdToText(account.keyId) }, { "Userkeys", account.userkeys() },
            { "PasswordRecovery", recovery ? 1 : 0 } });
    if (recovery)
        request["PartialPassword"] = account.partialPassword;
    return request;
}

TestAccount KeyServerHarness::createAccount(const std::string& email, bool recovery)
{
    TestAccount account = registerAccount(email);
    const Json::Value answer = send(validateRequest(account, lastCodeFor(email), recovery));
    EXPECT_EQ(answer["Result"].asString(), "OK") << answer.toStyledString();
    return account;
}

Json::Value KeyServerHarness::signedRequest(
    const char* command, const TestAccount& account, std::initializer_list<std::pair<const char*, Json::Value>> members)
{
    Json::Value request = makeRequest(command, members);
    request["User"] = account.loginId;
    request["Password"] = account.password;
    return request;
}

} // namespace keyserver
