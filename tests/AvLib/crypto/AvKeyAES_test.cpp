#include "crypto/AvKeyAES.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes keystream(AvKeyAES& key, size_t size)
{
    Bytes out(size, 0);
    EXPECT_TRUE(ProcessAes(key.aes, out.data(), static_cast<uint32_t>(out.size())));
    return out;
}

Bytes counterBytes(const AvKeyAES& key)
{
    return Bytes(key.aes.iv.begin() + 6, key.aes.iv.begin() + 10);
}

} // namespace

TEST(AvKeyAES, CopyKeepsTheCounterAndRestartsTheKeystream)
{
    AvKeyAES original(42);
    original.generate();
    ResetAes(original.aes, 7);
    const Bytes fromStart = keystream(original, 48);

    ResetAes(original.aes, 7);
    keystream(original, 16); // the original is mid-stream when copied

    AvKeyAES copy(original);
    EXPECT_EQ(copy.keyId, 42u);
    EXPECT_EQ(counterBytes(copy), (Bytes{ 7, 0, 0, 0 }));
    EXPECT_EQ(keystream(copy, 48), fromStart);
    // The copy has its own cipher: the original continues where it stood.
    EXPECT_EQ(keystream(original, 32), Bytes(fromStart.begin() + 16, fromStart.end()));

    AvKeyAES assigned;
    assigned = original;
    EXPECT_EQ(keystream(assigned, 48), fromStart);
}

TEST(AvKeyAES, CopyOfAnEmptyKeyHasNoKeyAndNoCipher)
{
    AvKeyAES empty(5);
    const AvKeyAES copy(empty);
    EXPECT_EQ(copy.keyId, 5u);
    EXPECT_TRUE(copy.aes.key.empty());
    EXPECT_TRUE(copy.aes.iv.empty());
    EXPECT_FALSE(copy.aes.cipher);
}

TEST(AvKeyAES, RawFormRoundTripsIntoAnEqualKey)
{
    AvKeyAES key;
    key.generate();
    ResetAes(key.aes, 3);
    Bytes raw(48);
    uint32_t length = 48;
    ASSERT_TRUE(key.toRaw(raw.data(), length));

    AvKeyAES restored;
    ASSERT_TRUE(restored.fromRaw(raw.data(), length));
    ResetAes(key.aes, 3);
    EXPECT_EQ(keystream(restored, 64), keystream(key, 64));
    EXPECT_FALSE(restored.fromRaw(raw.data(), 47));
}

TEST(AvKeyAES, MovedFromKeyIsEmptyAndTargetWorks)
{
    AvKeyAES key;
    key.generate();
    const Bytes expected = keystream(key, 16);
    ResetAes(key.aes, kAesKeepIv);

    AvKeyAES moved(std::move(key));
    EXPECT_EQ(keystream(moved, 16), expected);
    EXPECT_FALSE(key.aes.hasKey());
    EXPECT_FALSE(key.aes.cipher);
}
