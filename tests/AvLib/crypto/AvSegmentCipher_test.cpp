// The interleaved segment cipher against the one-segment-at-a-time reference
// (ResetAes + ProcessAes): equal bytes for every segment count and size, for
// counters in the IV and for the unchanged IV, in place and out of place; and
// its refusals.

#include "crypto/AvSegmentCipher.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes randomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    Bytes out(size);
    for (auto& byte : out)
        byte = std::uint8_t(generator());
    return out;
}

AvAesRecord newKey()
{
    AvAesRecord record;
    GenerateAesKey(record);
    return record;
}

// What the container's per-segment path produces. The counter goes into the
// IV by hand: ResetAes cannot take segment 0xFFFFFFFF as a counter.
Bytes referenceCrypt(AvAesRecord key, std::uint64_t first, std::size_t segmentSize, Bytes data, bool counterInIv)
{
    for (std::size_t at = 0, segment = first; at < data.size(); at += segmentSize, ++segment) {
        if (counterInIv) {
            for (int i = 0; i < 4; ++i)
                key.iv[6 + i] = std::uint8_t(segment >> (8 * i));
        }
        ResetAes(key, kAesKeepIv);
        EXPECT_TRUE(ProcessAes(key, data.data() + at, std::uint32_t(segmentSize)));
    }
    return data;
}

struct SegmentCase
{
    std::uint64_t first;
    std::size_t count;
    std::size_t segmentSize;
};

class AvSegmentCipherEquivalence : public ::testing::TestWithParam<SegmentCase>
{
};

TEST_P(AvSegmentCipherEquivalence, MatchesTheSegmentBySegmentKeystream)
{
    const auto [first, count, segmentSize] = GetParam();
    const AvAesRecord key = newKey();
    const Bytes plain = randomBytes(count * segmentSize, unsigned(count + segmentSize));

    for (const bool counterInIv : { true, false }) {
        SCOPED_TRACE(counterInIv ? "counter in IV" : "IV unchanged");
        AvSegmentCipher cipher;
        ASSERT_TRUE(cipher.setKey(key, counterInIv));
        const Bytes expected = referenceCrypt(key, first, segmentSize, plain, counterInIv);

        Bytes out(plain.size());
        ASSERT_TRUE(cipher.cryptSegments(first, count, segmentSize, plain.data(), out.data()));
        EXPECT_EQ(out, expected);

        Bytes inPlace = plain;
        ASSERT_TRUE(cipher.cryptSegments(first, count, segmentSize, inPlace.data(), inPlace.data()));
        EXPECT_EQ(inPlace, expected);

        // OFB is its own inverse.
        ASSERT_TRUE(cipher.cryptSegments(first, count, segmentSize, out.data(), out.data()));
        EXPECT_EQ(out, plain);
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, AvSegmentCipherEquivalence,
    ::testing::Values(SegmentCase{ 0, 1, 4096 }, SegmentCase{ 0, 31, 4096 }, SegmentCase{ 0, 32, 4096 },
        SegmentCase{ 5, 33, 4096 }, SegmentCase{ 3, 128, 4096 }, SegmentCase{ 0, 70, 512 }, SegmentCase{ 7, 3, 32768 },
        SegmentCase{ 0xFFFFFFF0u, 16, 4096 }, SegmentCase{ 254, 4, 4096 }, SegmentCase{ 65535, 3, 256 }));

TEST(AvSegmentCipher, RefusesWhatItCannotDo)
{
    AvSegmentCipher cipher;
    Bytes data(8192);
    EXPECT_FALSE(cipher.cryptSegments(0, 1, 4096, data.data(), data.data())); // no key

    AvAesRecord empty;
    EXPECT_FALSE(cipher.setKey(empty, true));
    EXPECT_FALSE(cipher.hasKey());

    ASSERT_TRUE(cipher.setKey(newKey(), true));
    EXPECT_FALSE(cipher.cryptSegments(0, 1, 0, data.data(), data.data()));
    EXPECT_FALSE(cipher.cryptSegments(0, 1, 4090, data.data(), data.data()));
    EXPECT_FALSE(cipher.cryptSegments(0, 1, 4096, nullptr, data.data()));
    EXPECT_TRUE(cipher.cryptSegments(0, 0, 4096, nullptr, nullptr));
    // The 32-bit counter must never wrap onto segment 0's keystream.
    EXPECT_TRUE(cipher.cryptSegments(AvSegmentCipher::MaxSegmentIndex, 1, 4096, data.data(), data.data()));
    EXPECT_FALSE(cipher.cryptSegments(AvSegmentCipher::MaxSegmentIndex, 2, 4096, data.data(), data.data()));
    EXPECT_FALSE(cipher.cryptSegments(AvSegmentCipher::MaxSegmentIndex + 1, 1, 4096, data.data(), data.data()));

    cipher.clear();
    EXPECT_FALSE(cipher.hasKey());
    EXPECT_FALSE(cipher.cryptSegments(0, 1, 4096, data.data(), data.data()));
}

} // namespace
