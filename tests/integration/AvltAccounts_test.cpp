// avlt's account commands and sharing, run as real processes against the
// real key server on 127.0.0.1: each "computer" is its own HOME.

#include "AvltRunner.h"
#include "KeyServerProcess.h"

#include "AvTempHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr const char* kAlice = "alice@example.org";
constexpr const char* kBob = "bob@example.org";

class AvltAccountsTest : public AvTempHome
{
protected:
    void SetUp() override
    {
        AvTempHome::SetUp();
        m_server = std::make_unique<KeyServerProcess>(home() + "/keyserver");
        ASSERT_TRUE(m_server->start()) << m_server->output();
    }
    void TearDown() override
    {
        m_server.reset();
        AvTempHome::TearDown();
    }

    // avlt on a computer of its own, pointed at the key server.
    AvltRunner computer(const std::string& name) const
    {
        const std::string computerHome = home() + "/" + name;
        fs::create_directories(computerHome + "/work");
        AvltRunner runner(computerHome, computerHome + "/work");
        runner.setEnv("ARDENTVAULT_SERVER_URL", m_server->url());
        runner.setEnv("ARDENTVAULT_CA_FILE", m_server->caFile());
        return runner;
    }

    // register + verify with the mailed code; the new password from the environment.
    void createAccount(AvltRunner& avlt, const std::string& email, const std::string& password)
    {
        const AvltResult registered =
            avlt.run({ "account", "register", "--email", email, "--first", "ann", "--last", "example" });
        ASSERT_EQ(registered.status, 0) << registered.err;
        EXPECT_NE(registered.out.find_first_of("0123456789"), std::string::npos) << "prints the login id";
        EXPECT_NE(registered.err.find("avlt account verify --email " + email), std::string::npos) << registered.err;
        const std::string code = m_server->nextCodeFor(email);
        ASSERT_FALSE(code.empty());
        avlt.setEnv("AVLT_NEW_PASSWORD", password);
        const AvltResult verified = avlt.run({ "account", "verify", "--email", email, "--code", code });
        ASSERT_EQ(verified.status, 0) << verified.err;
        EXPECT_NE(verified.out.find("Signed in as " + email), std::string::npos) << verified.out;
        avlt.unsetEnv("AVLT_NEW_PASSWORD");
    }

    std::unique_ptr<KeyServerProcess> m_server;
};

} // namespace

TEST_F(AvltAccountsTest, RegisterShareAndOpenOnAFreshComputer)
{
    AvltRunner bob = computer("bob-pc");
    createAccount(bob, kBob, "bob's password");
    AvltRunner alice = computer("alice-pc");
    createAccount(alice, kAlice, "alice's password");

    const std::string aliceWork = home() + "/alice-pc/work/";
    ASSERT_TRUE(writeWholeFile(aliceWork + "plan.txt", "the plan, for Bob's eyes too"));
    alice.setEnv("AVLT_PASSWORD", "alice's password");
    AvltResult result = alice.run({ "vault", "plan.txt" });
    ASSERT_EQ(result.status, 0) << result.err;
    // Bob's key is unknown on Alice's computer: fetched from the key server.
    result = alice.run({ "shares", "plan.txt.avlt", "--set", std::string(kAlice) + "," + kBob });
    ASSERT_EQ(result.status, 0) << result.err;
    result = alice.run({ "shares", "plan.txt.avlt" });
    EXPECT_EQ(result.out, std::string(kAlice) + "\n" + kBob + "\n");
    result = alice.run({ "shares", "plan.txt.avlt", "--set", std::string(kAlice) + ",nobody@example.org" });
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("0xA0050BC0"), std::string::npos) << result.err;

    // Bob on a computer without any data folder.
    AvltRunner fresh = computer("bob-new");
    fs::copy_file(aliceWork + "plan.txt.avlt", home() + "/bob-new/work/plan.txt.avlt");
    fresh.setEnv("AVLT_PASSWORD", "bob's password");
    result = fresh.run({ "--user", kBob, "account", "signin" });
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("Signed in as bob@example.org (id "), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("Ann Example; 1 key"), std::string::npos) << result.out;
    result = fresh.run({ "unvault", "plan.txt.avlt" });
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readWholeFile(home() + "/bob-new/work/plan.txt"), "the plan, for Bob's eyes too");

    result = fresh.run({ "account", "whoami" });
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("user:    bob@example.org\nkind:    server account\nid:      "), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("recovery: on"), std::string::npos) << result.out;

    fresh.setEnv("AVLT_PASSWORD", "not bob's password");
    result = fresh.run({ "account", "signin" });
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("(Denied)"), std::string::npos) << result.err;
}

TEST_F(AvltAccountsTest, ChangeRecoverAndResetThePassword)
{
    AvltRunner alice = computer("alice-pc");
    createAccount(alice, kAlice, "first");
    const std::string aliceWork = home() + "/alice-pc/work/";
    ASSERT_TRUE(writeWholeFile(aliceWork + "a.txt", "kept through change and recovery"));
    alice.setEnv("AVLT_PASSWORD", "first");
    ASSERT_EQ(alice.run({ "vault", "--remove-source", "a.txt" }).status, 0);

    // Change.
    alice.setEnv("AVLT_NEW_PASSWORD", "second");
    AvltResult result = alice.run({ "account", "change-password" });
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(alice.run({ "unvault", "a.txt.avlt" }).status, 1) << "the old password no longer opens the keys";
    alice.setEnv("AVLT_PASSWORD", "second");
    ASSERT_EQ(alice.run({ "unvault", "--to", "changed", "a.txt.avlt" }).status, 0);
    EXPECT_EQ(readWholeFile(aliceWork + "changed/a.txt"), "kept through change and recovery");

    // Recovery: a code by mail, then the new password.
    alice.unsetEnv("AVLT_PASSWORD");
    result = alice.run({ "account", "recover", "--email", kAlice });
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string recoveryCode = m_server->nextCodeFor(kAlice);
    ASSERT_FALSE(recoveryCode.empty());
    alice.setEnv("AVLT_NEW_PASSWORD", "third");
    result = alice.run({ "account", "recover", "--email", kAlice, "--code", recoveryCode });
    ASSERT_EQ(result.status, 0) << result.err;
    alice.setEnv("AVLT_PASSWORD", "third");
    ASSERT_EQ(alice.run({ "unvault", "--to", "recovered", "a.txt.avlt" }).status, 0);
    EXPECT_EQ(readWholeFile(aliceWork + "recovered/a.txt"), "kept through change and recovery");

    // Recovery is only possible where the key-ring file is.
    AvltRunner elsewhere = computer("library-pc");
    result = elsewhere.run({ "account", "recover", "--email", kAlice });
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("account reset"), std::string::npos) << result.err;

    // Reset from there: new keys; the old file stays closed.
    result = elsewhere.run({ "account", "reset", "--email", kAlice });
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string resetCode = m_server->nextCodeFor(kAlice);
    ASSERT_FALSE(resetCode.empty());
    elsewhere.setEnv("AVLT_NEW_PASSWORD", "fourth");
    result = elsewhere.run({ "account", "reset", "--email", kAlice, "--code", resetCode });
    ASSERT_EQ(result.status, 0) << result.err;
    alice.setEnv("AVLT_PASSWORD", "fourth");
    result = alice.run({ "unvault", "--to", "after-reset", "a.txt.avlt" });
    EXPECT_EQ(result.status, 1) << "files of the old keys cannot be opened";
    EXPECT_NE(result.err.find("0xA0010005"), std::string::npos) << result.err;
    ASSERT_TRUE(writeWholeFile(aliceWork + "b.txt", "after the reset"));
    ASSERT_EQ(alice.run({ "vault", "b.txt" }).status, 0);
    ASSERT_EQ(alice.run({ "unvault", "--to", "after-reset", "b.txt.avlt" }).status, 0);
    EXPECT_EQ(readWholeFile(aliceWork + "after-reset/b.txt"), "after the reset");
}

TEST_F(AvltAccountsTest, OfflineSharingUsesOnlyTheCache)
{
    AvltRunner bob = computer("bob-pc");
    createAccount(bob, kBob, "bob's password");
    AvltRunner alice = computer("alice-pc");
    createAccount(alice, kAlice, "alice's password");
    const std::string aliceWork = home() + "/alice-pc/work/";
    ASSERT_TRUE(writeWholeFile(aliceWork + "x.txt", "x"));
    ASSERT_TRUE(writeWholeFile(aliceWork + "y.txt", "y"));
    alice.setEnv("AVLT_PASSWORD", "alice's password");
    ASSERT_EQ(alice.run({ "vault", "x.txt", "y.txt" }).status, 0);
    ASSERT_EQ(alice.run({ "shares", "x.txt.avlt", "--set", std::string(kAlice) + "," + kBob }).status, 0);

    const int requests = m_server->requestCount();
    AvltResult result = alice.run({ "--offline", "shares", "y.txt.avlt", "--set", std::string(kAlice) + "," + kBob });
    EXPECT_EQ(result.status, 0) << result.err;
    result = alice.run({ "--offline", "shares", "y.txt.avlt", "--set", std::string(kAlice) + ",carol@example.org" });
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(m_server->requestCount(), requests) << "offline mode sends nothing";
}
