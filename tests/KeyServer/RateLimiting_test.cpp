// Failure counting per account and per client address, and the mail limit,
// with a hand-moved clock.

#include "KeyServerHarness.h"
#include "RateLimiter.h"

#include "AvTempHome.h"

#include <gtest/gtest.h>

using namespace keyserver;

namespace {

TEST(RateLimiter, BlocksAtTheLimitUntilTheOldestEventLeavesTheWindow)
{
    ManualClock clock;
    RateLimiter limiter({ 3, std::chrono::seconds(60) }, clock);
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(limiter.isBlocked("k")) << i;
        limiter.record("k");
        clock.advance(std::chrono::seconds(10));
    }
    EXPECT_TRUE(limiter.isBlocked("k"));
    EXPECT_FALSE(limiter.isBlocked("other"));
    clock.advance(std::chrono::seconds(29)); // the first event is 59 s old
    EXPECT_TRUE(limiter.isBlocked("k"));
    clock.advance(std::chrono::seconds(1));
    EXPECT_FALSE(limiter.isBlocked("k"));
    limiter.record("k");
    EXPECT_TRUE(limiter.isBlocked("k"));
    limiter.clear("k");
    EXPECT_FALSE(limiter.isBlocked("k"));
}

class RateLimiting : public AvTempHome
{
protected:
    void start(ServerPolicy policy) { server = std::make_unique<KeyServerHarness>(home(), policy); }
    void TearDown() override
    {
        server.reset();
        AvTempHome::TearDown();
    }
    std::string signIn(const TestAccount& account, const std::string& address = KeyServerHarness::kClientAddress)
    {
        return server->send(KeyServerHarness::signedRequest("Authenticate3", account), address)["Result"].asString();
    }

    std::unique_ptr<KeyServerHarness> server;
};

TEST_F(RateLimiting, WrongPasswordsBlockTheAccountForAWhile)
{
    ServerPolicy policy = testPolicy();
    policy.failuresPerAccount = { 3, std::chrono::minutes(15) };
    start(policy);
    const TestAccount account = server->createAccount("ann@example.org");
    TestAccount guess = account;
    for (int i = 0; i < 3; ++i) {
        guess.password = randomBase64(16);
        EXPECT_EQ(signIn(guess, "203.0.113." + std::to_string(i)), "Denied");
    }
    // Even the right password is refused now, from any address, with the same result text.
    const Json::Value blocked = server->send(KeyServerHarness::signedRequest("Authenticate3", account));
    EXPECT_EQ(blocked["Result"].asString(), "Denied");
    EXPECT_EQ(blocked["Error"].asString(), "TooManyAttempts");
    server->clock.advance(std::chrono::minutes(15));
    EXPECT_EQ(signIn(account), "OK");
}

TEST_F(RateLimiting, UnknownAccountsAreLimitedLikeKnownOnes)
{
    ServerPolicy policy = testPolicy();
    policy.failuresPerAccount = { 2, std::chrono::minutes(15) };
    start(policy);
    const TestAccount known = server->createAccount("bea@example.org");
    TestAccount unknown = known;
    unknown.loginId = "nobody@example.org";
    TestAccount wrong = known;
    wrong.password = randomBase64(16);

    for (TestAccount* account : { &wrong, &unknown }) {
        std::vector<std::string> answers;
        for (int i = 0; i < 3; ++i)
            answers.push_back(
                server->send(KeyServerHarness::signedRequest("Authenticate3", *account)).toStyledString());
        EXPECT_EQ(answers[0], answers[1]);
        EXPECT_NE(answers[1], answers[2]) << "the third attempt is blocked";
    }
}

TEST_F(RateLimiting, OneAddressTryingManyAccountsIsBlocked)
{
    ServerPolicy policy = testPolicy();
    policy.failuresPerAddress = { 4, std::chrono::minutes(15) };
    start(policy);
    const TestAccount account = server->createAccount("cid@example.org");
    for (int i = 0; i < 4; ++i) {
        TestAccount probe = account;
        probe.loginId = "probe" + std::to_string(i) + "@example.org";
        EXPECT_EQ(signIn(probe, "203.0.113.9"), "Denied");
    }
    EXPECT_EQ(
        server->send(KeyServerHarness::signedRequest("Authenticate3", account), "203.0.113.9")["Error"].asString(),
        "TooManyAttempts");
    EXPECT_EQ(signIn(account, "203.0.113.10"), "OK");
}

TEST_F(RateLimiting, WrongCodesCountAgainstTheAccount)
{
    ServerPolicy policy = testPolicy();
    policy.failuresPerAccount = { 3, std::chrono::minutes(15) };
    policy.maxWrongCodeAttempts = 100;
    start(policy);
    const TestAccount account = server->createAccount("dan@example.org");
    ASSERT_EQ(server->send(makeRequest("PasswordRecovery2", { { "User", account.email } }))["Result"].asString(), "OK");
    const std::string code = server->lastCodeFor(account.email);
    for (int i = 0; i < 3; ++i) {
        const std::string wrong = code == "11111111" ? "22222222" : "11111111";
        EXPECT_EQ(server
                      ->send(makeRequest("PasswordRecovery2", { { "User", account.email }, { "RecoveryCode", wrong } }),
                          "203.0.113." + std::to_string(i))["Result"]
                      .asString(),
            "Denied");
    }
    const Json::Value blocked =
        server->send(makeRequest("PasswordRecovery2", { { "User", account.email }, { "RecoveryCode", code } }));
    EXPECT_EQ(blocked["Error"].asString(), "TooManyAttempts");
    EXPECT_FALSE(blocked.isMember("PartialPassword"));
}

TEST_F(RateLimiting, MailsToOneAccountAreLimited)
{
    ServerPolicy policy = testPolicy();
    policy.mailsPerAccount = { 2, std::chrono::hours(1) };
    start(policy);
    const Json::Value request = makeRequest("RegisterUser3", { { "EMail", "eve@example.org" } });
    EXPECT_EQ(server->send(request)["Result"].asString(), "OK");
    EXPECT_EQ(server->send(request)["Result"].asString(), "OK");
    EXPECT_EQ(server->send(request)["Error"].asString(), "TooManyRequests");
    EXPECT_EQ(server->mailer.mails.size(), 2u);
    server->clock.advance(std::chrono::hours(1));
    EXPECT_EQ(server->send(request)["Result"].asString(), "OK");
}

} // namespace
