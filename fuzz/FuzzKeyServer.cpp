#include "FuzzKeyServer.h"

#include "FuzzEnvironment.h"

#include "VerifierHash.h"
#include "util/AvBase64.h"

#include <utility>

using namespace keyserver;

bool FuzzKeyServer::LastCodeMailer::send(const std::string&, const std::string&, const std::string& body)
{
    // The code is the line that consists of 6 to 9 digits only.
    std::size_t start = 0;
    while (start < body.size()) {
        std::size_t end = body.find('\n', start);
        if (end == std::string::npos)
            end = body.size();
        std::string line = body.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() >= 6 && line.size() <= 9 && line.find_first_not_of("0123456789") == std::string::npos) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_code = line;
        }
        start = end + 1;
    }
    return true;
}

std::string FuzzKeyServer::LastCodeMailer::code() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_code;
}

FuzzKeyServer::FuzzKeyServer()
    : password(base64Encode(std::string(16, '\x5a')))
{
    ServerPolicy policy;
    policy.verifierIterations = 1;
    policy.failuresPerAccount = { 1 << 30, std::chrono::minutes(15) };
    policy.failuresPerAddress = { 1 << 30, std::chrono::minutes(15) };
    policy.mailsPerAccount = { 1 << 30, std::chrono::hours(1) };
    policy.mailsPerAddress = { 1 << 30, std::chrono::hours(1) };
    std::string error;
    m_store = SqliteAccountStore::open(FuzzEnvironment::instance().folder() + "keyserver.db", error);
    FUZZ_CHECK(m_store != nullptr);
    m_dispatcher = std::make_unique<CommandDispatcher>(*m_store, m_mailer, m_clock, policy);
    createFixtureAccount();
}

CommandDispatcher::Outcome FuzzKeyServer::dispatch(const Json::Value& request)
{
    return m_dispatcher->dispatch(request, kClientAddress);
}

Json::Value FuzzKeyServer::send(const Json::Value& request)
{
    return dispatch(request).result.toAnswer();
}

std::vector<StoredKey> FuzzKeyServer::fixtureKeys()
{
    return { StoredKey{
        1234567890123ULL, base64Encode(std::string(650, '\x11')), base64Encode(std::string(132, '\x22')) } };
}

void FuzzKeyServer::restoreFixture()
{
    CredentialUpdate update;
    update.verifier = VerifierHash(1).make(password).value_or(Verifier{});
    update.passwordRecovery = true;
    update.partialPassword = base64Encode(std::string(32, '\x33'));
    update.activeKey = fixtureKeys().front().keyId;
    update.keys = fixtureKeys();
    update.markVerified = true;
    m_store->storeCredentials(std::stoll(loginId), update, nullptr);
}

void FuzzKeyServer::createFixtureAccount()
{
    Json::Value registration(Json::objectValue);
    registration["Command"] = "RegisterUser3";
    registration["EMail"] = email;
    registration["Firstname"] = "Fixture";
    registration["Lastname"] = "Account";
    registration["Language"] = "en_US";
    const Json::Value registered = send(registration);
    FUZZ_CHECK(registered["Result"].asString() == "OK");
    loginId = registered["LoginID"].asString();

    const StoredKey stored = fixtureKeys().front();
    Json::Value key(Json::objectValue);
    key["KeyID"] = std::to_string(stored.keyId);
    key["PrivateKey"] = stored.privateKey;
    key["PublicKey"] = stored.publicKey;
    Json::Value validation(Json::objectValue);
    validation["Command"] = "ValidateUser3";
    validation["User"] = email;
    validation["NewPassword"] = password;
    validation["Verifier"] = m_mailer.code();
    validation["ActiveKey"] = std::to_string(stored.keyId);
    validation["Userkeys"] = Json::Value(Json::arrayValue);
    validation["Userkeys"].append(key);
    validation["PasswordRecovery"] = 1;
    validation["PartialPassword"] = base64Encode(std::string(32, '\x33'));
    FUZZ_CHECK(send(validation)["Result"].asString() == "OK");
}

std::string FuzzKeyServer::withPlaceholders(std::string text) const
{
    const std::pair<const char*, std::string> values[] = { { "@user", loginId }, { "@pass", password },
        { "@mail", email }, { "@code", m_mailer.code() } };
    for (const auto& [name, value] : values) {
        for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + value.size()))
            text.replace(at, std::char_traits<char>::length(name), value);
    }
    return text;
}
