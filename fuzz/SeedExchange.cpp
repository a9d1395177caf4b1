#include "SeedExchange.h"

#include "FuzzEnvironment.h"
#include "FuzzKeyServer.h"

#include "JsonWire.h"
#include "crypto/AvCredentials.h"
#include "crypto/SecureString.h"
#include "keyring/AvKeyring.h"
#include "server/AVServerConnector.h"
#include "util/AvBase64.h"

namespace {

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    if (from.empty())
        return text;
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// Sends through the in-process server and keeps what went back and forth. The
// key ring's account stands in for the fixture account on the wire.
class RecordingConnector : public AVServerConnector
{
public:
    RecordingConnector(FuzzKeyServer& server, AvKeyring* keyring, std::vector<RecordedExchange>& log)
        : AVServerConnector(keyring, true)
        , m_server(server)
        , m_log(log)
    {
    }

    std::string PostRequest(const std::string& requestText) override
    {
        std::string generic = requestText;
        if (AvKeyring& ring = AvKeyring::instance(); ring.credentials) {
            generic = replaceAll(generic, "\"" + ring.userId() + "\"", "\"@user\"");
            generic = replaceAll(generic, ring.credentials->serverPasswordText(), "@pass");
        }
        Json::Value request;
        FUZZ_CHECK(keyserver::JsonWire::parse(m_server.withPlaceholders(generic), request));
        m_server.step();
        const std::string answer = keyserver::JsonWire::write(m_server.dispatch(request).result.toAnswer());
        m_log.push_back({ request["Command"].asString(), generic, answer });
        return answer;
    }

private:
    FuzzKeyServer& m_server;
    std::vector<RecordedExchange>& m_log;
};

} // namespace

std::vector<RecordedExchange> SeedExchange::record(FuzzKeyServer& server)
{
    std::vector<RecordedExchange> log;
    FuzzEnvironment::instance().resetKeyring();
    AvKeyring& ring = AvKeyring::instance();
    const std::string sealedKey = base64Encode(ring.ExportPrivateKey(FuzzEnvironment::kTestKeyId));
    const std::string publicKey = base64Encode(ring.ExportPublicKey(FuzzEnvironment::kTestKeyId));
    const SecureString password("seed password");
    const std::string newcomer = "newcomer@example.com";

    RecordingConnector anonymous(server, nullptr, log);
    std::string loginId;
    bool validationRequired = false;
    anonymous.ConnectivityCheck();
    anonymous.RegisterUser(newcomer, "New", "Comer", loginId, validationRequired);
    // New passwords are salted with the account's id, which a client learns from the server.
    const std::string newcomerId = loginId;
    AvCredentials::setServerUserIdLookup([&](const std::string& name) {
        return name == newcomer ? newcomerId : name == server.email ? server.loginId : std::string();
    });
    anonymous.ValidateUser(newcomer, password, "@code", true, FuzzEnvironment::kTestKeyId, sealedKey, publicKey);
    anonymous.GetLoginID(server.email, loginId);
    anonymous.PasswordRecovery(server.email, "");
    anonymous.PasswordRecovery(server.email, "@code");
    anonymous.PasswordReset(server.email, "");
    anonymous.PasswordReset(server.email, "@code");

    RecordingConnector signedIn(server, &ring, log);
    signedIn.SetUserkeys();
    signedIn.Authenticate();
    signedIn.GetUserkeys();
    signedIn.GetUserPublicKey(server.email);
    signedIn.GetUserPublicKey("nobody@example.com");
    std::string firstName = " Fixture ";
    std::string lastName = "Account";
    signedIn.UpdateAccount(firstName, lastName);
    signedIn.UpgradeAccount(server.email, "Fixture", "Account");
    signedIn.DBExecuteScalar("SELECT 1");
    // Both change the fixture's password value: last.
    signedIn.ChangePassword(SecureString("changed password"), true);
    anonymous.PasswordReset(server.email, "");
    anonymous.PasswordReset(server.email, password, "@code", false, FuzzEnvironment::kTestKeyId, sealedKey, publicKey);
    server.restoreFixture();
    AvCredentials::setServerUserIdLookup({});
    AvCredentials::clearUserIdCache();
    return log;
}
