// Every command through the dispatcher, over a real SQLite store: main paths
// and the failures a client can provoke.

#include "KeyServerHarness.h"

#include "AvTempHome.h"
#include "util/AvStrings.h"

#include <functional>
#include <gtest/gtest.h>

using namespace keyserver;

namespace {

std::string resultOf(const Json::Value& answer)
{
    return answer["Result"].asString();
}

// A change to an otherwise good request and the answer it must get.
struct RequestCase
{
    const char* name;
    std::function<void(Json::Value&)> change;
    const char* result;
    const char* error; // "" when the answer has no "Error"
};

void expectAnswer(const Json::Value& answer, const RequestCase& row)
{
    EXPECT_EQ(answer["Result"].asString(), row.result) << row.name << ": " << answer.toStyledString();
    EXPECT_EQ(answer["Error"].asString(), row.error) << row.name;
}

class CommandHandlers : public AvTempHome
{
protected:
    void SetUp() override
    {
        AvTempHome::SetUp();
        server = std::make_unique<KeyServerHarness>(home());
    }
    void TearDown() override
    {
        server.reset();
        AvTempHome::TearDown();
    }

    std::unique_ptr<KeyServerHarness> server;
};

TEST_F(CommandHandlers, RegisterUser3GivesANewAddressALoginIdAndMailsACode)
{
    const Json::Value answer = server->send(makeRequest(
        "RegisterUser3", { { "EMail", "  Alice@Example.ORG " }, { "Firstname", "Alice" }, { "Lastname", "Example" } }));

    EXPECT_EQ(resultOf(answer), "OK");
    EXPECT_TRUE(answer["Validation"].isString());
    const std::string loginId = answer["LoginID"].asString();
    EXPECT_EQ(loginId.size(), 9u);
    EXPECT_TRUE(isNumericId(loginId));
    ASSERT_EQ(server->mailer.mails.size(), 1u);
    EXPECT_EQ(server->mailer.mails[0].to, "alice@example.org");
    EXPECT_EQ(server->lastCodeFor("alice@example.org").size(), 8u);
}

TEST_F(CommandHandlers, RegisterUser3AnswersDuplicateOnceTheAddressIsVerified)
{
    server->createAccount("bob@example.org");
    const Json::Value answer = server->send(makeRequest("RegisterUser3", { { "EMail", "BOB@example.org" } }));
    EXPECT_EQ(resultOf(answer), "Duplicate");
    EXPECT_FALSE(answer.isMember("LoginID"));
}

TEST_F(CommandHandlers, RegisterUser3AgainBeforeVerificationKeepsTheIdAndReplacesTheCode)
{
    const TestAccount first = server->registerAccount("carol@example.org");
    const std::string firstCode = server->lastCodeFor("carol@example.org");
    const TestAccount second = server->registerAccount("carol@example.org", "Carol", "Again");

    EXPECT_EQ(second.loginId, first.loginId);
    EXPECT_EQ(server->mailer.mails.size(), 2u);
    const std::string secondCode = server->lastCodeFor("carol@example.org");
    if (firstCode != secondCode) {
        EXPECT_EQ(resultOf(server->send(KeyServerHarness::validateRequest(first, firstCode))), "Denied");
    }
    EXPECT_EQ(resultOf(server->send(KeyServerHarness::validateRequest(first, secondCode))), "OK");
}

TEST_F(CommandHandlers, RegisterUser3RefusesMalformedMembers)
{
    const RequestCase rows[] = {
        { "missing address", [](Json::Value& r) { r.removeMember("EMail"); }, "Error", "InvalidRequest" },
        { "address is a number", [](Json::Value& r) { r["EMail"] = 42; }, "Error", "InvalidRequest" },
        { "address without @", [](Json::Value& r) { r["EMail"] = "dave.example.org"; }, "Error", "InvalidRequest" },
        { "address with a quote", [](Json::Value& r) { r["EMail"] = "d'--@example.org"; }, "Error", "InvalidRequest" },
        { "address with a double quote", [](Json::Value& r) { r["EMail"] = "\"d\"@example.org"; }, "Error",
            "InvalidRequest" },
        { "address with NUL", [](Json::Value& r) { r["EMail"] = std::string("dave\0x@example.org", 18); }, "Error",
            "InvalidRequest" },
        { "address with a line break", [](Json::Value& r) { r["EMail"] = "dave@example.org\r\nBcc: x@y.org"; }, "Error",
            "InvalidRequest" },
        { "address with a slash", [](Json::Value& r) { r["EMail"] = "../dave@example.org"; }, "Error",
            "InvalidRequest" },
        { "address without domain dot", [](Json::Value& r) { r["EMail"] = "dave@localhost"; }, "Error",
            "InvalidRequest" },
        { "overlong address", [](Json::Value& r) { r["EMail"] = std::string(250, 'a') + "@example.org"; }, "Error",
            "InvalidRequest" },
        { "first name with NUL", [](Json::Value& r) { r["Firstname"] = std::string("Da\0ve", 5); }, "Error",
            "InvalidRequest" },
        { "first name with invalid UTF-8", [](Json::Value& r) { r["Firstname"] = "Da\xc3ve"; }, "Error",
            "InvalidRequest" },
        { "last name is an object", [](Json::Value& r) { r["Lastname"] = Json::Value(Json::objectValue); }, "Error",
            "InvalidRequest" },
        { "overlong name", [](Json::Value& r) { r["Lastname"] = std::string(200, 'x'); }, "Error", "InvalidRequest" },
    };
    for (const RequestCase& row : rows) {
        Json::Value request = makeRequest(
            "RegisterUser3", { { "EMail", "dave@example.org" }, { "Firstname", "Dave" }, { "Lastname", "X" } });
        row.change(request);
        expectAnswer(server->send(request), row);
    }
    EXPECT_TRUE(server->mailer.mails.empty());
}

TEST_F(CommandHandlers, NamesWithQuotesAreStoredAsGiven)
{
    const TestAccount account = server->registerAccount("erin@example.org", "Erin \"E\"", "O'Hara'); DROP TABLE x;--");
    ASSERT_EQ(
        resultOf(server->send(KeyServerHarness::validateRequest(account, server->lastCodeFor(account.email)))), "OK");
    const Json::Value answer = server->send(KeyServerHarness::signedRequest("Authenticate3", account));
    EXPECT_EQ(answer["Firstname"].asString(), "Erin \"E\"");
    EXPECT_EQ(answer["Lastname"].asString(), "O'Hara'); DROP TABLE x;--");
}

TEST_F(CommandHandlers, RegisterUser3ReportsAMailThatCouldNotBeSent)
{
    server->mailer.failing = true;
    const Json::Value answer = server->send(makeRequest("RegisterUser3", { { "EMail", "frank@example.org" } }));
    EXPECT_EQ(resultOf(answer), "Error");
    EXPECT_EQ(answer["Error"].asString(), "MailDeliveryFailed");
}

TEST_F(CommandHandlers, ValidateUser3ChecksCodeAndUpload)
{
    const RequestCase rows[] = {
        { "right code", [](Json::Value&) {}, "OK", "" },
        { "code typed with spaces",
            [](Json::Value& r) { r["Verifier"] = " " + r["Verifier"].asString().insert(4, " "); }, "OK", "" },
        { "wrong code", [](Json::Value& r) { r["Verifier"] = "00000000x"; }, "Denied", "" },
        { "empty code", [](Json::Value& r) { r["Verifier"] = ""; }, "Denied", "" },
        { "unknown address", [](Json::Value& r) { r["User"] = "nobody@example.org"; }, "Denied", "" },
        { "address with a quote", [](Json::Value& r) { r["User"] = "x' OR '1'='1"; }, "Denied", "" },
        { "no active key", [](Json::Value& r) { r.removeMember("ActiveKey"); }, "Error", "InvalidRequest" },
        { "active key not in the list", [](Json::Value& r) { r["ActiveKey"] = "12345"; }, "Error", "InvalidRequest" },
        { "active key without public key", [](Json::Value& r) { r["Userkeys"][0].removeMember("PublicKey"); }, "Error",
            "InvalidRequest" },
        { "key id not a number", [](Json::Value& r) { r["Userkeys"][0]["KeyID"] = "12ab"; }, "Error",
            "InvalidRequest" },
        { "key id as JSON number", [](Json::Value& r) { r["Userkeys"][0]["KeyID"] = 12; }, "Error", "InvalidRequest" },
        { "private key not Base64", [](Json::Value& r) { r["Userkeys"][0]["PrivateKey"] = "not base64!"; }, "Error",
            "InvalidRequest" },
        { "key list not an array", [](Json::Value& r) { r["Userkeys"] = "[]"; }, "Error", "InvalidRequest" },
        { "empty key list", [](Json::Value& r) { r["Userkeys"] = Json::Value(Json::arrayValue); }, "Error",
            "InvalidRequest" },
        { "recovery flag as text", [](Json::Value& r) { r["PasswordRecovery"] = "1"; }, "Error", "InvalidRequest" },
        { "recovery flag 2", [](Json::Value& r) { r["PasswordRecovery"] = 2; }, "Error", "InvalidRequest" },
        { "recovery without its half", [](Json::Value& r) { r.removeMember("PartialPassword"); }, "Error",
            "InvalidRequest" },
        { "password value missing", [](Json::Value& r) { r.removeMember("NewPassword"); }, "Error", "InvalidRequest" },
        { "password value is a number", [](Json::Value& r) { r["NewPassword"] = 7; }, "Error", "InvalidRequest" },
    };
    int n = 0;
    for (const RequestCase& row : rows) {
        const TestAccount account = server->registerAccount("user" + std::to_string(++n) + "@example.org");
        Json::Value request = KeyServerHarness::validateRequest(account, server->lastCodeFor(account.email));
        row.change(request);
        expectAnswer(server->send(request), row);
        const std::string signIn = resultOf(server->send(KeyServerHarness::signedRequest("Authenticate3", account)));
        EXPECT_EQ(signIn, std::string(row.result) == "OK" ? "OK" : "CheckEmailValCode") << row.name;
    }
}

TEST_F(CommandHandlers, ValidateUser3CodeCompletesOnlyOnce)
{
    const TestAccount account = server->registerAccount("gina@example.org");
    const Json::Value request = KeyServerHarness::validateRequest(account, server->lastCodeFor(account.email));
    EXPECT_EQ(resultOf(server->send(request)), "OK");
    TestAccount intruder = account;
    intruder.renew();
    EXPECT_EQ(resultOf(server->send(KeyServerHarness::validateRequest(intruder, server->lastCodeFor(account.email)))),
        "Denied");
    EXPECT_EQ(resultOf(server->send(KeyServerHarness::signedRequest("Authenticate3", account))), "OK");
    EXPECT_EQ(resultOf(server->send(KeyServerHarness::signedRequest("Authenticate3", intruder))), "Denied");
}

TEST_F(CommandHandlers, ValidateUser3CodeExpires)
{
    const TestAccount account = server->registerAccount("hank@example.org");
    server->clock.advance(std::chrono::hours(24));
    EXPECT_EQ(resultOf(server->send(KeyServerHarness::validateRequest(account, server->lastCodeFor(account.email)))),
        "Denied");
}

TEST_F(CommandHandlers, Authenticate3AnswersNamesRecoveryFlagAndKeys)
{
    const TestAccount account = server->createAccount("ida@example.org");
    const Json::Value answer = server->send(KeyServerHarness::signedRequest("Authenticate3", account,
        { { "EncryptedFilesCount", "0" }, { "ManualLogin", true }, { "HasDB", 0 }, { "HasOutlook", 0 } }));

    EXPECT_EQ(resultOf(answer), "OK");
    EXPECT_EQ(answer["Firstname"].asString(), "Alice");
    EXPECT_EQ(answer["Lastname"].asString(), "Example");
    ASSERT_TRUE(answer["PasswordRecovery"].isInt());
    EXPECT_EQ(answer["PasswordRecovery"].asInt(), 1);
    ASSERT_TRUE(answer["ActiveKey"].isString());
    EXPECT_EQ(answer["ActiveKey"].asString(), keyIdToText(account.keyId));
    ASSERT_TRUE(answer["Keylist"].isArray());
    ASSERT_EQ(answer["Keylist"].size(), 1u);
    EXPECT_EQ(answer["Keylist"][0].asString(), keyIdToText(account.keyId));
}

TEST_F(CommandHandlers, Authenticate3AcceptsTheAddressOrTheIdWithSpaces)
{
    TestAccount account = server->createAccount("jack@example.org");
    const std::string id = account.loginId;
    for (const std::string& user : { std::string("JACK@example.org "), formatIdForDisplay(id), id }) {
        account.loginId = user;
        EXPECT_EQ(resultOf(server->send(KeyServerHarness::signedRequest("Authenticate3", account))), "OK") << user;
    }
}

TEST_F(CommandHandlers, Authenticate3FailuresLookAlikeWhetherOrNotTheAccountExists)
{
    const TestAccount account = server->createAccount("kate@example.org");
    const RequestCase rows[] = {
        { "wrong password", [](Json::Value& r) { r["Password"] = randomBase64(16); }, "Denied", "" },
        { "unknown address", [](Json::Value& r) { r["User"] = "nobody@example.org"; }, "Denied", "" },
        { "unknown id", [](Json::Value& r) { r["User"] = "100000001"; }, "Denied", "" },
        { "id with quote", [](Json::Value& r) { r["User"] = "1' OR '1'='1"; }, "Denied", "" },
        { "password is a number", [](Json::Value& r) { r["Password"] = 5; }, "Denied", "" },
        { "no password", [](Json::Value& r) { r.removeMember("Password"); }, "Denied", "" },
        { "no user", [](Json::Value& r) { r.removeMember("User"); }, "Denied", "" },
        { "user is an array", [](Json::Value& r) { r["User"] = Json::Value(Json::arrayValue); }, "Denied", "" },
    };
    for (const RequestCase& row : rows) {
        Json::Value request = KeyServerHarness::signedRequest("Authenticate3", account);
        row.change(request);
        const Json::Value answer = server->send(request);
        expectAnswer(answer, row);
        EXPECT_EQ(answer.getMemberNames().size(), 1u) << row.name;
    }
}

TEST_F(CommandHandlers, Authenticate3TellsAnUnverifiedAddress)
{
    const TestAccount account = server->registerAccount("leo@example.org");
    EXPECT_EQ(resultOf(server->send(KeyServerHarness::signedRequest("Authenticate3", account))), "CheckEmailValCode");
}

TEST_F(CommandHandlers, GetUserkeys2ReturnsTheUploadedList)
{
    const TestAccount account = server->createAccount("mia@example.org");
    const Json::Value answer = server->send(KeyServerHarness::signedRequest("GetUserkeys2", account));
    EXPECT_EQ(resultOf(answer), "OK");
    EXPECT_EQ(answer["ActiveKey"].asString(), keyIdToText(account.keyId));
    EXPECT_EQ(answer["Userkeys"], account.userkeys());

    TestAccount wrong = account;
    wrong.password = randomBase64(16);
    const Json::Value denied = server->send(KeyServerHarness::signedRequest("GetUserkeys2", wrong));
    EXPECT_EQ(resultOf(denied), "Denied");
    EXPECT_FALSE(denied.isMember("Userkeys"));
}

TEST_F(CommandHandlers, ChangePassword2ReplacesVerifierKeysAndRecoveryHalf)
{
    TestAccount account = server->createAccount("nina@example.org");
    const TestAccount before = account;
    TestAccount after = account;
    after.password = randomBase64(16);
    after.privateKey = randomBase64(650); // the same key sealed anew

    // As the client exports it: every key, "PublicKey" only with the active one.
    Json::Value keys = after.userkeys();
    Json::Value second(Json::objectValue);
    second["KeyID"] = "77";
    second["PrivateKey"] = randomBase64(650);
    keys.append(second);
    const Json::Value answer = server->send(KeyServerHarness::signedRequest("ChangePassword2", before,
        { { "NewPassword", after.password }, { "Userkeys", keys }, { "PasswordRecovery", 0 } }));
    EXPECT_EQ(resultOf(answer), "OK");

    EXPECT_EQ(resultOf(server->send(KeyServerHarness::signedRequest("Authenticate3", before))), "Denied");
    const Json::Value signIn = server->send(KeyServerHarness::signedRequest("Authenticate3", after));
    EXPECT_EQ(resultOf(signIn), "OK");
    EXPECT_EQ(signIn["PasswordRecovery"].asInt(), 0);
    EXPECT_EQ(signIn["Keylist"].size(), 2u);
    const Json::Value fetched = server->send(KeyServerHarness::signedRequest("GetUserkeys2", after));
    EXPECT_EQ(fetched["Userkeys"], keys);
    EXPECT_EQ(resultOf(server->send(makeRequest("PasswordRecovery2", { { "User", account.email } }))), "Unavailable");
}

TEST_F(CommandHandlers, ChangePassword2WithAListThatNamesNoActiveKeyChangesNothing)
{
    const TestAccount account = server->createAccount("olga@example.org");
    const std::string newPassword = randomBase64(16);
    const RequestCase rows[] = {
        { "list without the active key",
            [](Json::Value& r) {
                r["Userkeys"][0]["KeyID"] = "99";
                r["Userkeys"][0].removeMember("PublicKey");
            },
            "Error", "InvalidRequest" },
        { "two public keys",
            [](Json::Value& r) {
                Json::Value other = r["Userkeys"][0];
                other["KeyID"] = "98";
                r["Userkeys"].append(other);
            },
            "Error", "InvalidRequest" },
        { "duplicate key ids", [](Json::Value& r) { r["Userkeys"].append(r["Userkeys"][0]); }, "Error",
            "InvalidRequest" },
        { "no key list", [](Json::Value& r) { r.removeMember("Userkeys"); }, "Error", "InvalidRequest" },
        { "wrong old password", [](Json::Value& r) { r["Password"] = randomBase64(16); }, "Denied", "" },
    };
    for (const RequestCase& row : rows) {
        Json::Value request = KeyServerHarness::signedRequest("ChangePassword2", account,
            { { "NewPassword", newPassword }, { "Userkeys", account.userkeys() }, { "PasswordRecovery", 0 } });
        row.change(request);
        expectAnswer(server->send(request), row);
        EXPECT_EQ(resultOf(server->send(KeyServerHarness::signedRequest("Authenticate3", account))), "OK") << row.name;
    }
}

TEST_F(CommandHandlers, GetUserPublicKey2FindsUsersByAddressOrId)
{
    const TestAccount caller = server->createAccount("paul@example.org");
    const TestAccount target = server->createAccount("quinn@example.org");
    server->registerAccount("rita@example.org"); // never verified, so no key

    struct Row
    {
        std::string invoked;
        const char* result;
        const char* error;
    };
    const Row rows[] = {
        { "quinn@example.org", "OK", "" },
        { " Quinn@Example.org", "OK", "" },
        { target.loginId, "OK", "" },
        { formatIdForDisplay(target.loginId), "OK", "" },
        { "nobody@example.org", "Error", "GetUserPublicKey2.NoUserwithIDfound" },
        { "100000002", "Error", "GetUserPublicKey2.NoUserwithIDfound" },
        { "rita@example.org", "Error", "GetUserPublicKey2.NoUserwithIDfound" },
        { "q' OR ''='", "Error", "GetUserPublicKey2.NoUserwithIDfound" },
    };
    for (const Row& row : rows) {
        const Json::Value answer = server->send(
            KeyServerHarness::signedRequest("GetUserPublicKey2", caller, { { "InvokedUser", row.invoked } }));
        EXPECT_EQ(resultOf(answer), row.result) << row.invoked;
        EXPECT_EQ(answer["Error"].asString(), row.error) << row.invoked;
        if (std::string(row.result) == "OK") {
            EXPECT_EQ(answer["PublicKey"].asString(), target.publicKey);
            EXPECT_EQ(answer["ActiveKey"].asString(), keyIdToText(target.keyId));
        }
    }
    TestAccount stranger = caller;
    stranger.password = randomBase64(16);
    EXPECT_EQ(resultOf(server->send(
                  KeyServerHarness::signedRequest("GetUserPublicKey2", stranger, { { "InvokedUser", target.email } }))),
        "Denied");
}

TEST_F(CommandHandlers, GetLoginID3AnswersForRegisteredAddressesOnly)
{
    const TestAccount pending = server->registerAccount("sam@example.org");
    const Json::Value answer = server->send(makeRequest("GetLoginID3", { { "EMail", "sam@example.org" } }));
    EXPECT_EQ(resultOf(answer), "OK");
    EXPECT_EQ(answer["LoginID"].asString(), pending.loginId);

    for (const Json::Value& address : { Json::Value("nobody@example.org"), Json::Value(5), Json::Value("x'@y.org") })
        EXPECT_EQ(resultOf(server->send(makeRequest("GetLoginID3", { { "EMail", address } }))), "Denied");
}

TEST_F(CommandHandlers, PasswordRecovery2MailsACodeThatBuysThePartialPasswordOnce)
{
    const TestAccount account = server->createAccount("tina@example.org");
    EXPECT_EQ(resultOf(server->send(makeRequest("PasswordRecovery2", { { "User", account.email } }))), "OK");
    ASSERT_EQ(server->mailer.mails.size(), 2u);
    EXPECT_EQ(server->mailer.mails.back().subject, "Your Ardentvault password recovery code");
    const std::string code = server->lastCodeFor(account.email);

    EXPECT_EQ(resultOf(server->send(
                  makeRequest("PasswordRecovery2", { { "User", account.email }, { "RecoveryCode", "12345678" } }))),
        code == "12345678" ? "OK" : "Denied");
    const Json::Value answer =
        server->send(makeRequest("PasswordRecovery2", { { "User", account.email }, { "RecoveryCode", code } }));
    EXPECT_EQ(resultOf(answer), "OK");
    EXPECT_EQ(answer["PartialPassword"].asString(), account.partialPassword);
    EXPECT_EQ(resultOf(server->send(
                  makeRequest("PasswordRecovery2", { { "User", account.email }, { "RecoveryCode", code } }))),
        "Denied");
}

TEST_F(CommandHandlers, PasswordRecovery2WithoutARecoveryHalfIsUnavailable)
{
    const TestAccount withoutRecovery = server->createAccount("ulla@example.org", false);
    const TestAccount unverified = server->registerAccount("vic@example.org");
    const std::size_t mailsBefore = server->mailer.mails.size();
    EXPECT_EQ(
        resultOf(server->send(makeRequest("PasswordRecovery2", { { "User", withoutRecovery.email } }))), "Unavailable");
    EXPECT_EQ(
        resultOf(server->send(makeRequest("PasswordRecovery2", { { "User", unverified.email } }))), "Unavailable");
    EXPECT_EQ(resultOf(server->send(makeRequest("PasswordRecovery2", { { "User", "nobody@example.org" } }))), "Denied");
    EXPECT_EQ(server->mailer.mails.size(), mailsBefore);
}

TEST_F(CommandHandlers, PasswordReset2ChecksTheCodeThenReplacesPasswordAndKeys)
{
    const TestAccount old = server->createAccount("walt@example.org", false);
    EXPECT_EQ(resultOf(server->send(makeRequest("PasswordReset2", { { "User", "nobody@example.org" } }))), "Denied");
    EXPECT_EQ(resultOf(server->send(makeRequest("PasswordReset2", { { "User", old.email } }))), "OK");
    EXPECT_EQ(server->mailer.mails.back().subject, "Your Ardentvault password reset code");
    const std::string code = server->lastCodeFor(old.email);

    // The request form only checks; the code stays good for the complete form.
    EXPECT_EQ(resultOf(server->send(makeRequest("PasswordReset2", { { "User", old.email }, { "ResetCode", "9" } }))),
        "Denied");
    EXPECT_EQ(
        resultOf(server->send(makeRequest("PasswordReset2", { { "User", old.email }, { "ResetCode", code } }))), "OK");

    TestAccount renewed = old;
    renewed.renew();
    auto completeForm = [&](const std::string& resetCode) {
        return makeRequest("PasswordReset2",
            { { "User", renewed.email }, { "NewPassword", renewed.password }, { "ResetCode", resetCode },
                { "ActiveKey", keyIdToText(renewed.keyId) }, { "Userkeys", renewed.userkeys() },
                { "PasswordRecovery", 1 }, { "PartialPassword", renewed.partialPassword } });
    };
    EXPECT_EQ(resultOf(server->send(completeForm("000000"))), "Denied");
    EXPECT_EQ(resultOf(server->send(completeForm(code))), "OK");
    EXPECT_EQ(resultOf(server->send(completeForm(code))), "Denied");

    EXPECT_EQ(resultOf(server->send(KeyServerHarness::signedRequest("Authenticate3", old))), "Denied");
    const Json::Value keys = server->send(KeyServerHarness::signedRequest("GetUserkeys2", renewed));
    EXPECT_EQ(keys["Userkeys"], renewed.userkeys());
    EXPECT_EQ(keys["ActiveKey"].asString(), keyIdToText(renewed.keyId));
}

TEST_F(CommandHandlers, UpdateAccountStoresTrimmedNames)
{
    const TestAccount account = server->createAccount("xena@example.org");
    EXPECT_EQ(resultOf(server->send(KeyServerHarness::signedRequest("UpdateAccount", account,
                  { { "Firstname", " Xena " }, { "Lastname", "Warrior" }, { "Language", "de_DE" } }))),
        "OK");
    const Json::Value answer = server->send(KeyServerHarness::signedRequest("Authenticate3", account));
    EXPECT_EQ(answer["Firstname"].asString(), "Xena");
    EXPECT_EQ(answer["Lastname"].asString(), "Warrior");

    const Json::Value refused = server->send(
        KeyServerHarness::signedRequest("UpdateAccount", account, { { "Firstname", std::string("X\0", 2) } }));
    EXPECT_EQ(refused["Error"].asString(), "InvalidRequest");
}

TEST_F(CommandHandlers, UpgradeAccountConfirmsButNeverMovesTheAddress)
{
    const TestAccount account = server->createAccount("yara@example.org");
    EXPECT_EQ(resultOf(server->send(KeyServerHarness::signedRequest("UpgradeAccount", account,
                  { { "EMailAddress", "Yara@example.org" }, { "Firstname", "Yara" }, { "Lastname", "Y" },
                      { "HasOutlook", 0 } }))),
        "OK");
    EXPECT_EQ(resultOf(server->send(KeyServerHarness::signedRequest(
                  "UpgradeAccount", account, { { "EMailAddress", "other@example.org" } }))),
        "Denied");
    EXPECT_EQ(server->send(KeyServerHarness::signedRequest("Authenticate3", account))["Firstname"].asString(), "Yara");
}

TEST_F(CommandHandlers, SetUserkeysReplacesTheListAndActiveKey)
{
    const TestAccount account = server->createAccount("zoe@example.org");
    TestAccount next = account;
    next.renew();
    Json::Value keys = account.userkeys();
    keys[0].removeMember("PublicKey");
    keys.append(next.userkeys()[0]);

    EXPECT_EQ(server
                  ->send(KeyServerHarness::signedRequest(
                      "SetUserkeys", account, { { "Userkeys", keys }, { "ActiveKey", "5" } }))["Error"]
                  .asString(),
        "InvalidRequest");
    EXPECT_EQ(resultOf(server->send(KeyServerHarness::signedRequest(
                  "SetUserkeys", account, { { "Userkeys", keys }, { "ActiveKey", keyIdToText(next.keyId) } }))),
        "OK");
    const Json::Value signIn = server->send(KeyServerHarness::signedRequest("Authenticate3", account));
    EXPECT_EQ(signIn["ActiveKey"].asString(), keyIdToText(next.keyId));
    EXPECT_EQ(signIn["Keylist"].size(), 2u);
}

TEST_F(CommandHandlers, DispatcherRefusesWhatItDoesNotServe)
{
    const TestAccount account = server->createAccount("amy@example.org");
    struct Row
    {
        const char* name;
        Json::Value request;
        const char* error;
    };
    Json::Value numericCommand(Json::objectValue);
    numericCommand["Command"] = 3;
    Json::Value commandWithNul(Json::objectValue);
    commandWithNul["Command"] = std::string("Authenticate3\0", 14);
    const Row rows[] = {
        { "SQL test command",
            makeRequest("Unittest_DBExecuteScalar", { { "Sql", "DELETE FROM accounts" }, { "User", account.loginId } }),
            "CommandNotAvailable" },
        { "unknown command", makeRequest("DropEverything"), "UnknownCommand" },
        { "command with NUL", commandWithNul, "UnknownCommand" },
        { "command not a string", numericCommand, "InvalidRequest" },
        { "array instead of object", Json::Value(Json::arrayValue), "InvalidRequest" },
        { "no command", Json::Value(Json::objectValue), "InvalidRequest" },
    };
    for (const Row& row : rows) {
        const Json::Value answer = server->send(row.request);
        EXPECT_EQ(resultOf(answer), "Error") << row.name;
        EXPECT_EQ(answer["Error"].asString(), row.error) << row.name;
    }
    EXPECT_EQ(resultOf(server->send(KeyServerHarness::signedRequest("Authenticate3", account))), "OK");
    EXPECT_EQ(resultOf(server->send(makeRequest("ConnectivityCheck"))), "OK");
}

TEST_F(CommandHandlers, AccountsSurviveARestart)
{
    const TestAccount account = server->createAccount("ben@example.org");
    const TestAccount pending = server->registerAccount("cleo@example.org");
    server->restart();
    EXPECT_EQ(resultOf(server->send(KeyServerHarness::signedRequest("Authenticate3", account))), "OK");
    EXPECT_EQ(server->send(KeyServerHarness::signedRequest("GetUserkeys2", account))["Userkeys"], account.userkeys());
    EXPECT_EQ(
        resultOf(server->send(KeyServerHarness::validateRequest(pending, server->lastCodeFor(pending.email)))), "OK");
}

} // namespace
