#include "util/AvStrings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

struct TextCase
{
    const char* input;
    const char* expected;
};

TEST(AvStrings, NormalizeUserNameTrimsSpacesOnlyAndLowersBytes)
{
    const TextCase cases[] = {
        { "  Alice Smith ", "alice smith" }, { "A.B@C", "a.b@c" }, { "", "" }, { "   ", "" },
        { "\tTab\t", "\ttab\t" }, // only ' ' counts as space
        { "M\xC3\x9CLLER", "m\xC3\x9Cller" }, // UTF-8 bytes above 0x7F pass through
    };
    for (const auto& c : cases)
        EXPECT_EQ(normalizeUserName(c.input), c.expected) << c.input;
}

TEST(AvStrings, CapitalizeNameAfterSpaceAndHyphen)
{
    const TextCase cases[] = {
        { "anna-lena von berg", "Anna-Lena Von Berg" },
        { "o'neil", "O'neil" },
        { "", "" },
        { " x", " X" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(capitalizeName(c.input), c.expected) << c.input;
}

TEST(AvStrings, NumericIdsAreDigitsAndSpaces)
{
    EXPECT_TRUE(isNumericId("123456"));
    EXPECT_TRUE(isNumericId(" 123 456 "));
    EXPECT_FALSE(isNumericId(""));
    EXPECT_FALSE(isNumericId("   "));
    EXPECT_FALSE(isNumericId("12a456"));
    EXPECT_FALSE(isNumericId("a@b.c"));
}

TEST(AvStrings, CompactAndDisplayForms)
{
    const TextCase compact[] = { { " 123 456 ", "123456" }, { "a b@c", "a b@c" } };
    for (const auto& c : compact)
        EXPECT_EQ(compactNumericId(c.input), c.expected) << c.input;

    const TextCase display[] = {
        { "123456", "123 456" },
        { "1234567", "123 456 7" },
        { "12", "12" },
        { "bob@x.org", "bob@x.org" },
    };
    for (const auto& c : display)
        EXPECT_EQ(formatIdForDisplay(c.input), c.expected) << c.input;
}

TEST(AvStrings, UnderscoreNameMapsDotAndAt)
{
    EXPECT_EQ(underscoreName("a.b@c"), "a_b_c");
    EXPECT_EQ(underscoreName("123456"), "123456");
}

TEST(AvStrings, KeyIdTextRoundTripsFullUnsignedRange)
{
    const std::uint64_t ids[] = { 0, 1, 0x7FFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull };
    for (std::uint64_t id : ids) {
        std::uint64_t back = 42;
        ASSERT_TRUE(textToKeyId(keyIdToText(id), back));
        EXPECT_EQ(back, id);
    }
    EXPECT_EQ(keyIdToText(0xFFFFFFFFFFFFFFFFull), "18446744073709551615");

    std::uint64_t unchanged = 7;
    for (const char* bad : { "", "-1", "12x", "18446744073709551616", " 5" })
        EXPECT_FALSE(textToKeyId(bad, unchanged)) << bad;
    EXPECT_EQ(unchanged, 7u);
}

} // namespace
