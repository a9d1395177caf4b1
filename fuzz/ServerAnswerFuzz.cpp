// Key server answers as the client parses them: the first byte picks a
// command, the rest is the answer body the server sends back (members of
// every type, missing members, huge numbers, key ids that are not decimal,
// hostile key lists). The exchange is replaced at the connector's PostRequest,
// so the real request building, answer parsing and key ring updates run. No
// answer may crash the client; SendRequest always yields an object with a
// string "Result", and the key ring keeps every private key's public half.

#include "FuzzEnvironment.h"
#include "FuzzKeyServer.h"
#include "SeedExchange.h"

#include "crypto/AvCredentials.h"
#include "crypto/SecureString.h"
#include "keyring/AvKeyring.h"
#include "server/AVServerConnector.h"
#include "util/AvBase64.h"

#include <fstream>
#include <map>
#include <memory>
#include <string>

namespace {

// A connector whose server answers every request with the same text.
class ScriptedConnector : public AVServerConnector
{
public:
    ScriptedConnector(AvKeyring* keyring, std::string answer)
        : AVServerConnector(keyring, true)
        , m_answer(std::move(answer))
    {
    }
    std::string PostRequest(const std::string&) override { return m_answer; }

private:
    std::string m_answer;
};

void checkKeyRing(const AvKeyring& ring)
{
    for (const auto& [keyId, key] : ring.privateKeys)
        FUZZ_CHECK(ring.FindPublicKey(keyId) != nullptr);
}

void runCommand(unsigned choice, const std::string& answer)
{
    AvKeyring& ring = AvKeyring::instance();
    ScriptedConnector connector(&ring, answer);
    const SecureString newPassword("new fuzzing password");
    const std::string keyText = base64Encode(std::string(40, 'k'));
    std::string loginId;
    bool validationRequired = false;
    std::string firstName = "  First ";
    std::string lastName = "Last";

    switch (choice % 18) {
    case 0: {
        Json::Value request(Json::objectValue);
        request["Command"] = "ConnectivityCheck";
        const Json::Value response = connector.SendRequest(request);
        FUZZ_CHECK(response.isObject() && response["Result"].isString());
        break;
    }
    case 1:
        connector.RegisterUser("someone@example.com", "Some", "One", loginId, validationRequired);
        break;
    case 2:
        connector.ValidateUser("someone@example.com", newPassword, "123456", true, 42, keyText, keyText);
        break;
    case 3:
        connector.Authenticate();
        break;
    case 4:
        // Without its own key the ring imports the one in the answer's list.
        ring.privateKeys.erase(FuzzEnvironment::kTestKeyId);
        ring.publicKeys.erase(FuzzEnvironment::kTestKeyId);
        connector.GetUserkeys();
        break;
    case 5:
        connector.ChangePassword(newPassword, true);
        break;
    case 6:
        connector.GetUserPublicKey("friend@example.com");
        break;
    case 7:
        connector.GetLoginID("someone@example.com", loginId);
        break;
    case 8:
        connector.PasswordRecovery("someone@example.com", "");
        break;
    case 9:
        connector.PasswordRecovery("someone@example.com", "12345678");
        break;
    case 10:
        connector.PasswordReset("someone@example.com", "12345678");
        break;
    case 11:
        connector.PasswordReset("someone@example.com", newPassword, "12345678", false, 42, keyText, keyText);
        break;
    case 12:
        connector.UpdateAccount(firstName, lastName);
        break;
    case 13:
        connector.ConnectivityCheck();
        break;
    case 14:
        connector.UpgradeAccount("someone@example.com", "Some", "One");
        break;
    case 15:
        connector.SetUserkeys();
        break;
    case 16:
        connector.DBExecuteScalar("SELECT 1");
        break;
    default: {
        // The whole sign-in of a server account: authentication, then the key
        // list when it differs. (A local account never asks the server.)
        static const AvCredentials serverAccount("server@example.com", SecureString("server password"), 0);
        ring.setConnectorFactory(
            [answer](AvKeyring& owner) { return std::make_unique<ScriptedConnector>(&owner, answer); });
        ring.Unlock(serverAccount);
        ring.setConnectorFactory({});
        break;
    }
    }
    checkKeyRing(ring);
}

} // namespace

void fuzzOneInput(FuzzInput input)
{
    if (input.empty())
        return;
    FuzzEnvironment::instance().resetKeyring();
    runCommand(input[0], std::string(reinterpret_cast<const char*>(input.data()) + 1, input.size() - 1));
}

void fuzzMakeSeeds(const std::string& folder)
{
    // The commands of runCommand() that read each answer.
    const std::multimap<std::string, int> readers = { { "ConnectivityCheck", 0 }, { "ConnectivityCheck", 13 },
        { "RegisterUser3", 1 }, { "ValidateUser3", 2 }, { "Authenticate3", 3 }, { "Authenticate3", 17 },
        { "GetUserkeys2", 4 }, { "GetUserkeys2", 17 }, { "ChangePassword2", 5 }, { "GetUserPublicKey2", 6 },
        { "GetLoginID3", 7 }, { "PasswordRecovery2", 8 }, { "PasswordRecovery2", 9 }, { "PasswordReset2", 10 },
        { "PasswordReset2", 11 }, { "UpdateAccount", 12 }, { "UpgradeAccount", 14 }, { "SetUserkeys", 15 },
        { "Unittest_DBExecuteScalar", 16 } };
    FuzzKeyServer server;
    int number = 0;
    for (const RecordedExchange& exchange : SeedExchange::record(server)) {
        const auto [first, last] = readers.equal_range(exchange.command);
        for (auto reader = first; reader != last; ++reader) {
            std::ofstream file(folder + std::to_string(++number) + "-" + exchange.command + ".json", std::ios::binary);
            file << char(reader->second) << exchange.answer;
        }
    }
    // What a broken or hostile server may send instead.
    const std::pair<int, const char*> hostile[] = { { 0, "{}" }, { 0, R"({"Result":1})" }, { 0, "NSURLErrorDomain" },
        { 3,
            R"({"Result":"OK","ActiveKey":"12x","Keylist":["1",2,null,"18446744073709551616"],"PasswordRecovery":"1"})" },
        { 4, R"({"Result":"OK","ActiveKey":"-1","Userkeys":[{"KeyID":1e30,"PrivateKey":[]},7]})" },
        { 6, R"({"Result":"OK","ActiveKey":"99999999999999999999999","PublicKey":"AAAA"})" },
        { 1, R"({"Result":"OK","LoginID":{"a":1},"Validation":true})" } };
    for (const auto& [choice, answer] : hostile) {
        std::ofstream file(folder + "hostile-" + std::to_string(++number) + ".json", std::ios::binary);
        file << char(choice) << answer;
    }
}
