// Mailed codes: their form, single use, expiry and the wrong-attempt limit.

#include "CodeGenerator.h"
#include "KeyServerHarness.h"
#include "OneTimeCodes.h"

#include "AvTempHome.h"

#include <gtest/gtest.h>
#include <set>

using namespace keyserver;

namespace {

TEST(CodeGenerator, DrawsCodesOfSixToNineDigits)
{
    struct Row
    {
        int asked;
        std::size_t length;
    };
    for (const Row row : { Row{ 6, 6 }, Row{ 8, 8 }, Row{ 9, 9 }, Row{ 3, 6 }, Row{ 12, 9 } }) {
        std::set<std::string> seen;
        for (int i = 0; i < 200; ++i) {
            const std::string code = CodeGenerator::generate(row.asked);
            ASSERT_EQ(code.size(), row.length) << row.asked;
            ASSERT_EQ(code.find_first_not_of("0123456789"), std::string::npos) << code;
            seen.insert(code);
        }
        // 200 draws from a million or more values hardly ever repeat.
        EXPECT_GT(seen.size(), 195u) << row.asked;
    }
}

class OneTimeCodesTest : public AvTempHome
{
protected:
    void SetUp() override
    {
        AvTempHome::SetUp();
        policy.maxWrongCodeAttempts = 3;
        policy.verificationCodeLifetime = std::chrono::hours(24);
        policy.recoveryCodeLifetime = std::chrono::minutes(30);
        std::string error;
        store = SqliteAccountStore::open(home() + "/codes.db", error);
        ASSERT_TRUE(store) << error;
        Account account;
        account.loginId = 123456789;
        account.email = "codes@example.org";
        ASSERT_EQ(store->insertAccount(account), AccountStore::Status::Ok);
        codes = std::make_unique<OneTimeCodes>(*store, clock, policy);
    }
    void TearDown() override
    {
        codes.reset();
        store.reset();
        AvTempHome::TearDown();
    }

    static constexpr std::int64_t kId = 123456789;
    ServerPolicy policy;
    ManualClock clock;
    std::unique_ptr<SqliteAccountStore> store;
    std::unique_ptr<OneTimeCodes> codes;
};

TEST_F(OneTimeCodesTest, AMatchingCodeWorksUntilConsumed)
{
    const std::string code = codes->issue(kId, CodePurpose::Recovery);
    ASSERT_EQ(code.size(), 8u);
    EXPECT_EQ(codes->check(kId, CodePurpose::Recovery, code), OneTimeCodes::Check::Match);
    EXPECT_EQ(codes->check(kId, CodePurpose::Recovery, code), OneTimeCodes::Check::Match);
    EXPECT_EQ(codes->check(kId, CodePurpose::Reset, code), OneTimeCodes::Check::Missing);
    EXPECT_TRUE(codes->consume(kId, CodePurpose::Recovery));
    EXPECT_FALSE(codes->consume(kId, CodePurpose::Recovery));
    EXPECT_EQ(codes->check(kId, CodePurpose::Recovery, code), OneTimeCodes::Check::Missing);
}

TEST_F(OneTimeCodesTest, CodesExpireAfterTheirLifetime)
{
    const std::string verification = codes->issue(kId, CodePurpose::Verification);
    const std::string recovery = codes->issue(kId, CodePurpose::Recovery);
    clock.advance(std::chrono::minutes(30) - std::chrono::seconds(1));
    EXPECT_EQ(codes->check(kId, CodePurpose::Recovery, recovery), OneTimeCodes::Check::Match);
    clock.advance(std::chrono::seconds(1));
    EXPECT_EQ(codes->check(kId, CodePurpose::Recovery, recovery), OneTimeCodes::Check::Missing);
    EXPECT_EQ(codes->check(kId, CodePurpose::Verification, verification), OneTimeCodes::Check::Match);
    clock.advance(std::chrono::hours(24));
    EXPECT_EQ(codes->check(kId, CodePurpose::Verification, verification), OneTimeCodes::Check::Missing);
}

TEST_F(OneTimeCodesTest, TooManyWrongEntriesVoidTheCode)
{
    const std::string code = codes->issue(kId, CodePurpose::Reset);
    const std::string wrong = code == "00000000" ? "00000001" : "00000000";
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(codes->check(kId, CodePurpose::Reset, wrong), OneTimeCodes::Check::Mismatch) << i;
    EXPECT_EQ(codes->check(kId, CodePurpose::Reset, code), OneTimeCodes::Check::Missing);
}

TEST_F(OneTimeCodesTest, ANewCodeReplacesThePendingOne)
{
    std::string first = codes->issue(kId, CodePurpose::Verification);
    std::string second = codes->issue(kId, CodePurpose::Verification);
    while (second == first)
        second = codes->issue(kId, CodePurpose::Verification);
    EXPECT_EQ(codes->check(kId, CodePurpose::Verification, first), OneTimeCodes::Check::Mismatch);
    EXPECT_EQ(codes->check(kId, CodePurpose::Verification, second), OneTimeCodes::Check::Match);
}

TEST_F(OneTimeCodesTest, OnlyAHashOfTheCodeIsStored)
{
    const std::string code = codes->issue(kId, CodePurpose::Verification);
    StoredCode stored;
    ASSERT_EQ(store->findCode(kId, CodePurpose::Verification, stored), AccountStore::Status::Ok);
    EXPECT_EQ(stored.hash.size(), 32u);
    EXPECT_EQ(stored.hash.find(code), std::string::npos);
    EXPECT_EQ(stored.salt.size(), 16u);
}

} // namespace
