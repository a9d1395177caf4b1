// Key server request handling: arbitrary bodies, parsed as the HTTPS frontend
// parses them and handed to the command dispatcher. The first byte picks the
// command the body is sent as (every command the server knows, the refused
// SQL test command and an unknown one); a first byte past that list leaves
// the body's own "Command" alone. In the body, @user, @pass, @mail and @code
// stand for the fixture account's login id, password value, address and the
// newest mailed code, so requests get past authentication. Every answer must
// be an object with a string "Result", and no request may make a handler fail
// with a server error.

#include "FuzzEnvironment.h"
#include "FuzzKeyServer.h"
#include "SeedExchange.h"

#include "JsonWire.h"

#include <json/value.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

namespace {

const char* const kCommands[] = { "RegisterUser3", "ValidateUser3", "GetLoginID3", "ConnectivityCheck", "Authenticate3",
    "GetUserkeys2", "ChangePassword2", "SetUserkeys", "UpdateAccount", "UpgradeAccount", "GetUserPublicKey2",
    "PasswordRecovery2", "PasswordReset2", "Unittest_DBExecuteScalar", "NoSuchCommand" };

FuzzKeyServer& server()
{
    static FuzzKeyServer instance;
    return instance;
}

bool changesCredentials(const std::string& command)
{
    return command == "ChangePassword2" || command == "PasswordReset2" || command == "SetUserkeys";
}

} // namespace

void fuzzOneInput(FuzzInput input)
{
    if (input.empty())
        return;
    FuzzKeyServer& keyServer = server();
    keyServer.step();
    const std::size_t choice = input[0];
    const std::string body =
        keyServer.withPlaceholders(std::string(reinterpret_cast<const char*>(input.data()) + 1, input.size() - 1));

    Json::Value request;
    if (!keyserver::JsonWire::parse(body, request))
        return; // answered "MalformedRequest" by the frontend before any command runs
    if (choice < std::size(kCommands) && request.isObject())
        request["Command"] = kCommands[choice];

    const keyserver::CommandDispatcher::Outcome outcome = keyServer.dispatch(request);
    FUZZ_CHECK(outcome.result.failure() != keyserver::Failure::ServerError);
    const Json::Value answer = outcome.result.toAnswer();
    FUZZ_CHECK(answer.isObject() && answer["Result"].isString());
    FUZZ_CHECK(!keyserver::JsonWire::write(answer).empty());
    if (outcome.result.isOk() && changesCredentials(outcome.command))
        keyServer.restoreFixture();
}

void fuzzMakeSeeds(const std::string& folder)
{
    int number = 0;
    for (const RecordedExchange& exchange : SeedExchange::record(server())) {
        const auto command = std::find(std::begin(kCommands), std::end(kCommands), exchange.command);
        std::ofstream file(folder + std::to_string(++number) + "-" + exchange.command + ".json", std::ios::binary);
        file << char(command - std::begin(kCommands)) << exchange.request;
    }
    // A body that names its own command, one that is not an object, one with a
    // command of the wrong type.
    std::ofstream(folder + "own-command.json", std::ios::binary) << '\xff' << R"({"Command":"ConnectivityCheck"})";
    std::ofstream(folder + "array.json", std::ios::binary) << '\xff' << R"([1,2,3])";
    std::ofstream(folder + "command-number.json", std::ios::binary) << '\xff' << R"({"Command":7})";
}
