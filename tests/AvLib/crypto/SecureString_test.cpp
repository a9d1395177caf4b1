#include "crypto/SecureString.h"

#include <gtest/gtest.h>

#include <compare>
#include <string>
#include <type_traits>

// A plain byte string must not slip in where a password is expected.
static_assert(!std::is_convertible_v<std::string, SecureString>);
static_assert(!std::is_same_v<SecureString::allocator_type, std::string::allocator_type>);

TEST(SecureString, TakesBytesUpToTheFirstZero)
{
    const char typed[] = "p\xc3\xa4ss\0hidden";
    const SecureString password(typed);
    EXPECT_EQ(password.size(), 5u);
    EXPECT_EQ(std::string(password.data(), password.size()), "p\xc3\xa4ss");
}

TEST(SecureString, ComparesBytewiseThenShorterFirst)
{
    struct Case
    {
        const char* left;
        const char* right;
        std::strong_ordering expected;
    };
    const Case cases[] = {
        { "abc", "abd", std::strong_ordering::less }, { "ab", "abc", std::strong_ordering::less },
        { "abc", "abc", std::strong_ordering::equal }, { "b", "abc", std::strong_ordering::greater },
        { "\xff", "a", std::strong_ordering::greater }, // bytes compare unsigned
    };
    for (const Case& c : cases)
        EXPECT_EQ(SecureString(c.left) <=> SecureString(c.right), c.expected) << c.left << " vs " << c.right;
}

TEST(SecureString, CopiesAndGrowsLikeAString)
{
    SecureString password("short");
    SecureString copy = password;
    password.append(100, 'x'); // moves to the heap through the wiping allocator
    EXPECT_EQ(copy, SecureString("short"));
    EXPECT_EQ(password.size(), 105u);
    EXPECT_EQ(password.substr(0, 5), copy);
}

TEST(SecureWipe, ClearsEveryByte)
{
    char buffer[33];
    std::fill(std::begin(buffer), std::end(buffer), 'k');
    AvSecurity::secureWipe(buffer, sizeof buffer);
    for (char c : buffer)
        EXPECT_EQ(c, 0);
}
