// Member checks that every command relies on.

#include "RequestFields.h"

#include <gtest/gtest.h>

using namespace keyserver;

namespace {

TEST(RequestFields, EmailAddressesOfAPlainForm)
{
    struct Row
    {
        std::string address;
        bool valid;
    };
    const Row rows[] = {
        { "alice@example.org", true },
        { "a.b+tag_1%x-y@mail.example.co.uk", true },
        { "a@b.cd", true },
        { "", false },
        { "alice", false },
        { "alice@", false },
        { "@example.org", false },
        { "alice@@example.org", false },
        { "alice@example", false },
        { "alice@-example.org", false },
        { "alice@example..org", false },
        { ".alice@example.org", false },
        { "al..ice@example.org", false },
        { "al ice@example.org", false },
        { "o'brien@example.org", false },
        { "\"alice\"@example.org", false },
        { "alice/..@example.org", false },
        { "Alice@example.org", false }, // callers normalize first
        { std::string("al\0ice@example.org", 18), false },
        { "alice@example.org\n", false },
        { std::string(65, 'a') + "@example.org", false },
    };
    for (const Row& row : rows)
        EXPECT_EQ(RequestFields::isValidEmail(row.address), row.valid) << row.address;
}

TEST(RequestFields, CleanTextIsUtf8WithoutControlCharacters)
{
    EXPECT_TRUE(RequestFields::isCleanText("J\xc3\xbcrgen O'Brien \"JJ\""));
    EXPECT_TRUE(RequestFields::isCleanText("\xe2\x82\xac \xf0\x9f\x94\x91"));
    EXPECT_FALSE(RequestFields::isCleanText(std::string("a\0b", 3)));
    EXPECT_FALSE(RequestFields::isCleanText("a\tb"));
    EXPECT_FALSE(RequestFields::isCleanText("a\x7f"));
    EXPECT_FALSE(RequestFields::isCleanText("\xc3")); // cut sequence
    EXPECT_FALSE(RequestFields::isCleanText("\xc0\xaf")); // overlong
    EXPECT_FALSE(RequestFields::isCleanText("\xed\xa0\x80")); // surrogate
    EXPECT_FALSE(RequestFields::isCleanText("\xf4\x90\x80\x80")); // beyond U+10FFFF
}

TEST(RequestFields, StrictBase64)
{
    EXPECT_TRUE(RequestFields::isStrictBase64("AAAA"));
    EXPECT_TRUE(RequestFields::isStrictBase64("q80+/w=="));
    EXPECT_TRUE(RequestFields::isStrictBase64("q80+/ww="));
    EXPECT_FALSE(RequestFields::isStrictBase64(""));
    EXPECT_FALSE(RequestFields::isStrictBase64("AAA"));
    EXPECT_FALSE(RequestFields::isStrictBase64("A==="));
    EXPECT_FALSE(RequestFields::isStrictBase64("AA=A"));
    EXPECT_FALSE(RequestFields::isStrictBase64("AA'A"));
    EXPECT_FALSE(RequestFields::isStrictBase64("AA A"));
}

TEST(RequestFields, KeyIdsAreDecimalWithoutTheReservedValues)
{
    std::uint64_t id = 0;
    EXPECT_TRUE(RequestFields::parseKeyId("9223372036854775807", id));
    EXPECT_EQ(id, 9223372036854775807ULL);
    for (const char* text : { "0", "18446744073709551615", "18446744073709551616", "-1", "+5", " 5", "5a", "" })
        EXPECT_FALSE(RequestFields::parseKeyId(text, id)) << text;
}

TEST(RequestFields, RecoveryFlagAcceptsZeroOneAndBooleans)
{
    Json::Value request(Json::objectValue);
    struct Row
    {
        Json::Value value;
        bool flag;
        bool valid;
    };
    const Row rows[] = { { 1, true, true }, { 0, false, true }, { true, true, true }, { false, false, true },
        { 2, false, false }, { "1", false, false }, { 1.5, false, false }, { Json::Value(), false, true } };
    for (const Row& row : rows) {
        request["PasswordRecovery"] = row.value;
        RequestFields fields(request);
        EXPECT_EQ(fields.flag("PasswordRecovery"), row.flag) << row.value.toStyledString();
        EXPECT_EQ(fields.isValid(), row.valid) << row.value.toStyledString();
    }
}

} // namespace
