// The stored byte layout: sizes, fixed fields, segment keys, name scrambling
// and the older format version 1.

#include "CryptFileTest.h"

#include "container/CCryptFileCodes.h"
#include "crypto/AvEncrypt.h"

#include <gtest/gtest.h>

namespace {

class CCryptFileLayout : public CryptFileTest
{
};

TEST_F(CCryptFileLayout, EmptyContainerIs340BytesWithEveryFixedField)
{
    const std::string file = path("empty.avlt");
    std::uint64_t fileKeyId = 0;
    {
        std::uint32_t code = 1;
        CCryptFile container(file, CCryptFile::Create, 0, code);
        ASSERT_EQ(code, 0u);
        fileKeyId = container.fileKeyIdentifier();
        ASSERT_EQ(container.AddShare(m_ownerKey, OwnerName), 0u);
    }
    const std::string bytes = readWholeFile(file);
    ASSERT_EQ(bytes.size(), 340u);

    EXPECT_EQ(bytes[0], 0x20);
    EXPECT_EQ(bytes[1], 37);
    EXPECT_EQ(bytes.substr(2, 35), "File encrypted with ardentvault.org");

    EXPECT_EQ(bytes[37], 0x01);
    EXPECT_EQ(read16(bytes, 38), 22u);
    EXPECT_EQ(bytes[40], 2); // format version
    EXPECT_EQ(bytes[41], 1); // reserved byte
    EXPECT_EQ(read64(bytes, 42), fileKeyId);
    EXPECT_EQ(read64(bytes, 50), 0u); // reserved
    EXPECT_EQ(bytes[58], 0); // flags: no file name packet

    EXPECT_EQ(bytes[59], 0x03);
    EXPECT_EQ(read16(bytes, 60), 270u);
    EXPECT_EQ(bytes[62], 1); // share version
    EXPECT_EQ(read64(bytes, 63), m_ownerKey);
    EXPECT_EQ(static_cast<unsigned char>(bytes[71]), 130u);

    EXPECT_EQ(bytes[329], 0x0A);
    EXPECT_EQ(read64(bytes, 330), 11u);
    EXPECT_EQ(bytes[338], 16); // 4096-byte segments
    EXPECT_EQ(bytes[339], 0);
}

struct SizeCase
{
    std::size_t plain;
    std::size_t fileSize;
    std::uint64_t dataLength;
    int pad;
};

class CCryptFileSizes : public CryptFileTest, public ::testing::WithParamInterface<SizeCase>
{
};

TEST_P(CCryptFileSizes, DataPacketLengthAndPaddingFollowThePlainSize)
{
    const SizeCase& c = GetParam();
    const std::string file = path("sized.avlt");
    const std::string plain = pattern(c.plain);
    const std::string bytes = makeContainer(file, plain);

    EXPECT_EQ(bytes.size(), c.fileSize);
    EXPECT_EQ(read64(bytes, 330), c.dataLength);
    EXPECT_EQ(bytes[339], c.pad);

    forgetFileKeys();
    std::uint32_t last = 0;
    EXPECT_EQ(readContents(file, &last), plain);
    EXPECT_EQ(last, CryptFileCode::EndOfData);
}

INSTANTIATE_TEST_SUITE_P(Sizes, CCryptFileSizes,
    ::testing::Values(SizeCase{ 0, 340, 11, 0 }, SizeCase{ 1, 356, 27, 15 }, SizeCase{ 4096, 340 + 4096, 4107, 0 },
        SizeCase{ 4097, 340 + 4112, 4123, 15 }, SizeCase{ 5000, 340 + 5008, 5019, 8 }));

TEST_F(CCryptFileLayout, EachSegmentHasItsOwnKeystream)
{
    // Equal plain segments must not give equal ciphertext.
    const std::string plain(2 * 4096, 'x');
    const std::string bytes = makeContainer(path("segments.avlt"), plain);
    EXPECT_NE(bytes.substr(DataStart, 4096), bytes.substr(DataStart + 4096, 4096));
}

TEST_F(CCryptFileLayout, ShareNameIsNormalizedZeroTerminatedAndRotatedRightByOneBit)
{
    const std::uint64_t alice = newAccount();
    const std::string file = path("alice.avlt");
    std::string bytes = makeContainer(file, "x", { { alice, "  Alice Smith " } });
    const std::size_t share = 356; // after 16 bytes of ciphertext
    ASSERT_EQ(bytes.size(), share + ShareLength);
    ASSERT_EQ(read64(bytes, share + 4), alice);

    std::string field = bytes.substr(share + NameFieldOffset, 129);
    const std::string stored = field;
    RotateBitsLeft(reinterpret_cast<std::uint8_t*>(field.data()), 129);
    EXPECT_EQ(field.substr(0, 12), std::string("alice smith") + '\0');
    // One bit to the right: the lowest bit of the last byte wraps to the top of the first.
    const auto u = [](char c) { return static_cast<unsigned char>(c); };
    EXPECT_EQ(u(stored[0]), ((u(field[128]) & 1) << 7) | (u(field[0]) >> 1));
    EXPECT_EQ(u(stored[1]), ((u(field[0]) & 1) << 7) | (u(field[1]) >> 1));

    std::uint32_t code = 0;
    CCryptFile container(file, CCryptFile::ReadOnly, 0, code);
    ASSERT_EQ(code, 0u);
    ShareNameList names;
    ASSERT_EQ(container.GetShares(names), 0u);
    EXPECT_EQ(names, (ShareNameList{ { OwnerName, m_ownerKey }, { "alice smith", alice } }));
}

TEST_F(CCryptFileLayout, NameFieldEdgeLengths)
{
    const std::string exact(128, 'a'); // the zero byte fills the field
    const std::string longer(140, 'b'); // cut to 129 bytes, no zero
    const std::uint64_t a = newAccount();
    const std::uint64_t b = newAccount();
    const std::string file = path("names.avlt");
    makeContainer(file, "", { { a, exact }, { b, longer } });

    std::uint32_t code = 0;
    CCryptFile container(file, CCryptFile::ReadOnly, 0, code);
    ASSERT_EQ(code, 0u);
    ShareNameList names;
    ASSERT_EQ(container.GetShares(names), 0u);
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[1].first, exact);
    EXPECT_EQ(names[2].first, longer.substr(0, 129));
}

TEST_F(CCryptFileLayout, NewerFormatVersionIsRefusedWithoutLogLine)
{
    const std::string file = path("v3.avlt");
    std::string bytes = makeContainer(file, "abc");
    bytes[VersionOffset] = 3;
    ASSERT_TRUE(writeWholeFile(file, bytes));
    clearLog();

    std::uint32_t code = 0;
    CCryptFile container(file, CCryptFile::ReadOnly, 0, code);
    EXPECT_EQ(code, CryptFileCode::NewerVersion);
    EXPECT_EQ(logText(), "");
}

// Version 1 keys every segment with the IV as stored and keeps share names
// unscrambled. Such a file is made here from a version 2 file: the version
// byte patched, the names rotated back and every segment re-encrypted with
// the keystream of counter 0.
class CCryptFileVersion1 : public CryptFileTest
{
protected:
    std::string makeVersion1(const std::string& file, const std::string& plain)
    {
        std::string bytes = makeContainer(file, plain);
        const std::uint64_t fileKeyId = read64(bytes, 42);
        AvAesRecord key = ring().fileKeys.at(fileKeyId).aes;

        bytes[VersionOffset] = 1;
        RotateBitsLeft(reinterpret_cast<std::uint8_t*>(&bytes[OwnerShareOffset + NameFieldOffset]), 129);
        for (std::size_t k = 0; DataStart + k * 4096 < bytes.size(); ++k) {
            auto* segment = reinterpret_cast<std::uint8_t*>(&bytes[DataStart + k * 4096]);
            const auto length = std::uint32_t(std::min<std::size_t>(4096, bytes.size() - DataStart - k * 4096));
            ResetAes(key, std::int32_t(k));
            ProcessAes(key, segment, length); // plain again
            ResetAes(key, 0); // the IV as generated
            ProcessAes(key, segment, length);
        }
        EXPECT_TRUE(writeWholeFile(file, bytes));
        forgetFileKeys();
        return bytes;
    }
};

TEST_F(CCryptFileVersion1, IsReadAndRewrittenInItsOwnFormat)
{
    const std::string file = path("v1.avlt");
    std::string plain = pattern(9000);
    const std::string before = makeVersion1(file, plain);
    {
        std::uint32_t code = 0;
        CCryptFile container(file, CCryptFile::ReadOnly, 0, code);
        ASSERT_EQ(code, 0u);
        EXPECT_EQ(container.formatVersion(), 1);
        ShareNameList names;
        ASSERT_EQ(container.GetShares(names), 0u);
        EXPECT_EQ(names, (ShareNameList{ { OwnerName, m_ownerKey } }));
    }
    EXPECT_EQ(readContents(file), plain);

    forgetFileKeys();
    const std::uint64_t bob = newAccount();
    {
        std::uint32_t code = 0;
        CCryptFile container(file, CCryptFile::Update, 0, code);
        ASSERT_EQ(code, 0u);
        ASSERT_EQ(container.Seek(5000, CCryptFile::FromStart), 0u);
        const std::string patch = "patched in version 1";
        std::size_t written = 0;
        ASSERT_EQ(container.Write(patch.data(), patch.size(), written), 0u);
        plain.replace(5000, patch.size(), patch);
        const std::string tail = pattern(100, 7);
        ASSERT_EQ(container.Seek(0, CCryptFile::FromEnd), 0u);
        ASSERT_EQ(container.Write(tail.data(), tail.size(), written), 0u);
        plain += tail;
        ASSERT_EQ(container.AddShare(bob, "Bob"), 0u);
    }
    const std::string after = readWholeFile(file);
    EXPECT_EQ(after[VersionOffset], 1);
    EXPECT_EQ(after.substr(OwnerShareOffset + NameFieldOffset, 18), std::string(OwnerName) + '\0');
    EXPECT_EQ(after.substr(after.size() - ShareLength + NameFieldOffset, 4), std::string("bob") + '\0');
    // Segment 0 was not touched.
    EXPECT_EQ(after.substr(DataStart, 4096), before.substr(DataStart, 4096));
    forgetFileKeys();
    EXPECT_EQ(readContents(file), plain);
}

// Readers accept segments of 2 to 128 times 256 bytes. Such files are made
// here by re-encrypting a written file's data in segments of the other size.
class CCryptFileMultiplicand : public CryptFileTest, public ::testing::WithParamInterface<int>
{
};

TEST_P(CCryptFileMultiplicand, OtherSegmentSizesAreReadAndRewritten)
{
    const int multiplicand = GetParam();
    const std::size_t segment = std::size_t(multiplicand) * 256;
    const std::string file = path("segments.avlt");
    std::string plain = pattern(9000);
    std::string bytes = makeContainer(file, plain);
    AvAesRecord key = ring().fileKeys.at(read64(bytes, 42)).aes;

    // OFB: applying a segment's keystream encrypts and decrypts alike.
    const auto applyKeystreams = [&](std::size_t size) {
        for (std::size_t k = 0; DataStart + k * size < bytes.size(); ++k) {
            const auto length = std::uint32_t(std::min(size, bytes.size() - DataStart - k * size));
            ResetAes(key, std::int32_t(k));
            ProcessAes(key, reinterpret_cast<std::uint8_t*>(&bytes[DataStart + k * size]), length);
        }
    };
    applyKeystreams(4096); // plain again
    applyKeystreams(segment); // encrypted in the other segment size
    bytes[338] = char(multiplicand);
    ASSERT_TRUE(writeWholeFile(file, bytes));
    forgetFileKeys();

    {
        std::uint32_t code = 0;
        CCryptFile container(file, CCryptFile::Update, 0, code);
        ASSERT_EQ(code, 0u);
        EXPECT_EQ(container.segmentSize(), segment);
        ASSERT_EQ(container.Seek(700, CCryptFile::FromStart), 0u);
        const std::string patch = pattern(8400, 3);
        std::size_t written = 0;
        ASSERT_EQ(container.Write(patch.data(), patch.size(), written), 0u);
        plain.replace(700, 8300, patch);
    }
    forgetFileKeys();
    EXPECT_EQ(readContents(file), plain);
}

INSTANTIATE_TEST_SUITE_P(Multiplicands, CCryptFileMultiplicand, ::testing::Values(2, 3, 128));

} // namespace
