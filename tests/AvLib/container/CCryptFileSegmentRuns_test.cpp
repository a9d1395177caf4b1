// Runs of whole segments are encrypted together and moved in one read or
// write (on two threads when long). Whatever path a write takes, the file must
// hold exactly what the one-segment-at-a-time algorithm gives: every segment
// encrypted on its own with the file key's IV carrying the segment index
// (format 2) or the IV unchanged (format 1). Random writes and reads of random
// sizes at random offsets are checked against a plain model and against that
// reference ciphertext.

#include "CryptFileTest.h"

#include "container/CCryptFileCodes.h"
#include "crypto/AvEncrypt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <random>

#include <sys/resource.h>

namespace {

constexpr std::size_t SegmentSize = 4096;

struct RunsCase
{
    int version;
    bool writeBehind;
};

class CCryptFileSegmentRuns : public CryptFileTest, public ::testing::WithParamInterface<RunsCase>
{
protected:
    int version() const { return GetParam().version; }

    // A container of the parameter's format version holding `plain`. A
    // version 1 file is made from a version 2 file: version byte patched,
    // owner name rotated back, every segment re-encrypted on the IV as stored.
    std::string makeContainerOfVersion(const std::string& file, const std::string& plain)
    {
        std::string bytes = makeContainer(file, plain);
        if (version() == 1) {
            AvAesRecord key = ring().fileKeys.at(read64(bytes, 42)).aes;
            // Version 1 uses the IV as the share holds it: counter 0, as made.
            for (int i = 0; i < 4; ++i)
                key.iv[6 + i] = 0;
            bytes[VersionOffset] = 1;
            RotateBitsLeft(reinterpret_cast<std::uint8_t*>(&bytes[OwnerShareOffset + NameFieldOffset]), 129);
            const std::string plainAgain = referenceCipherText(key, 2, bytes.substr(DataStart));
            bytes.replace(DataStart, std::string::npos, referenceCipherText(key, 1, plainAgain));
            EXPECT_TRUE(writeWholeFile(file, bytes));
        }
        forgetFileKeys();
        return bytes;
    }

    // The one-segment-at-a-time algorithm over `padded` (a multiple of 16).
    static std::string referenceCipherText(AvAesRecord key, int version, std::string padded)
    {
        for (std::size_t at = 0, segment = 0; at < padded.size(); at += SegmentSize, ++segment) {
            if (version > 1) {
                for (int i = 0; i < 4; ++i)
                    key.iv[6 + i] = std::uint8_t(segment >> (8 * i));
            }
            ResetAes(key, kAesKeepIv);
            const std::size_t length = std::min(SegmentSize, padded.size() - at);
            EXPECT_TRUE(ProcessAes(key, reinterpret_cast<std::uint8_t*>(&padded[at]), std::uint32_t(length)));
        }
        return padded;
    }

    // The whole file, checked against the model: data header fields and the
    // reference ciphertext of the plain text padded with zeros.
    void expectFileHolds(const std::string& file, const std::string& plain)
    {
        const std::string bytes = readWholeFile(file);
        ASSERT_GT(bytes.size(), DataStart);
        const std::size_t pad = (16 - plain.size() % 16) % 16;
        EXPECT_EQ(read64(bytes, DataHeaderOffset + 1), 11 + plain.size() + pad);
        EXPECT_EQ(std::size_t(std::uint8_t(bytes[DataHeaderOffset + 10])), pad);
        ASSERT_EQ(bytes.size(), DataStart + plain.size() + pad);

        forgetFileKeys();
        std::uint32_t code = 0;
        CCryptFile container(file, CCryptFile::ReadOnly, 0, code); // imports the file key from the share
        ASSERT_EQ(code, 0u);
        const AvAesRecord& key = ring().fileKeys.at(container.fileKeyIdentifier()).aes;
        const std::string expected = referenceCipherText(key, version(), plain + std::string(pad, '\0'));
        EXPECT_TRUE(bytes.substr(DataStart) == expected) << "ciphertext differs from the one-segment algorithm";
    }
};

// Sizes that take every path: pieces inside a segment, runs of whole segments
// short and long (the long ones shared with the helper thread), and mixtures
// starting or ending inside a segment.
std::size_t randomLength(std::mt19937& random)
{
    switch (random() % 5) {
    case 0:
        return 1 + random() % 200;
    case 1:
        return 1 + random() % 9000;
    case 2:
        return SegmentSize * (1 + random() % 200);
    case 3:
        return SegmentSize * (60 + random() % 140) + random() % SegmentSize;
    default:
        return 1 + random() % 900000;
    }
}

TEST_P(CCryptFileSegmentRuns, RandomWritesGiveTheOneSegmentCipherText)
{
    const std::string file = path("runs.avlt");
    std::string plain = pattern(10000, 3);
    makeContainerOfVersion(file, plain);
    std::mt19937 random(20261211u + unsigned(version()));
    {
        std::uint32_t code = 0;
        CCryptFile container(file, CCryptFile::Update, 0, code);
        ASSERT_EQ(code, 0u);
        ASSERT_EQ(container.formatVersion(), version());
        container.setWriteBehind(GetParam().writeBehind);
        for (int step = 0; step < 40; ++step) {
            SCOPED_TRACE(step);
            // Mostly aligned offsets, some inside segments, some past the end.
            std::size_t offset = random() % (plain.size() + 1);
            if (random() % 3 == 0)
                offset -= offset % SegmentSize;
            if (random() % 10 == 0)
                offset = plain.size() + random() % 20000;
            const std::size_t length = randomLength(random);
            const std::string piece = pattern(length, unsigned(step) + 100);

            ASSERT_EQ(container.Seek(std::int64_t(offset), CCryptFile::FromStart), 0u);
            std::size_t written = 0;
            ASSERT_EQ(container.Write(piece.data(), piece.size(), written), 0u);
            ASSERT_EQ(written, piece.size());
            if (offset > plain.size())
                plain.resize(offset, '\0');
            plain.replace(offset, std::min(length, plain.size() - offset), piece);
            if (plain.size() > 3'000'000)
                break;
        }
    }
    expectFileHolds(file, plain);
}

TEST_P(CCryptFileSegmentRuns, RandomReadsDeliverThePlainText)
{
    const std::string file = path("reads.avlt");
    // Not a multiple of 16, so the last segment carries padding.
    const std::string plain = pattern(2'500'003, 5);
    makeContainerOfVersion(file, plain);
    std::mt19937 random(4242u + unsigned(version()));

    std::uint32_t code = 0;
    CCryptFile container(file, CCryptFile::ReadOnly, 0, code);
    ASSERT_EQ(code, 0u);
    for (int step = 0; step < 60; ++step) {
        SCOPED_TRACE(step);
        std::size_t offset = random() % plain.size();
        if (random() % 2 == 0)
            offset -= offset % SegmentSize;
        const std::size_t length = randomLength(random);
        ASSERT_EQ(container.Seek(std::int64_t(offset), CCryptFile::FromStart), 0u);
        std::string buffer(length, '\0');
        std::size_t count = 0;
        const std::uint32_t result = container.Read(buffer.data(), length, count);
        const std::size_t expected = std::min(length, plain.size() - offset);
        ASSERT_EQ(count, expected);
        EXPECT_EQ(result, offset + count == plain.size() ? CryptFileCode::EndOfData : 0u);
        ASSERT_TRUE(buffer.compare(0, count, plain, offset, count) == 0);
    }
}

// One write of everything, pieces smaller than a segment and pieces of many
// segments give the same file.
TEST_P(CCryptFileSegmentRuns, PieceSizesDoNotChangeTheFile)
{
    const std::string plain = pattern(1'300'000, 9);
    for (const std::size_t pieceSize : { std::size_t(1000), SegmentSize, 3 * SegmentSize + 5, std::size_t(700000) }) {
        SCOPED_TRACE(pieceSize);
        const std::string file = path("pieces.avlt");
        makeContainerOfVersion(file, std::string());
        {
            std::uint32_t code = 0;
            CCryptFile container(file, CCryptFile::Update, 0, code);
            ASSERT_EQ(code, 0u);
            container.setWriteBehind(GetParam().writeBehind);
            for (std::size_t at = 0; at < plain.size(); at += pieceSize) {
                const std::size_t length = std::min(pieceSize, plain.size() - at);
                std::size_t written = 0;
                ASSERT_EQ(container.Write(plain.data() + at, length, written), 0u);
                ASSERT_EQ(written, length);
            }
        }
        expectFileHolds(file, plain);
        EXPECT_EQ(readContents(file), plain);
    }
}

INSTANTIATE_TEST_SUITE_P(FormatVersions, CCryptFileSegmentRuns,
    ::testing::Values(RunsCase{ 1, false }, RunsCase{ 2, false }, RunsCase{ 1, true }, RunsCase{ 2, true }),
    [](const auto& info) {
        return "Version" + std::to_string(info.param.version) + (info.param.writeBehind ? "WriteBehind" : "");
    });

// A file cut short inside a run of whole segments delivers the whole segments
// it still holds and then what is left of the cut one, as the one-segment
// reader would.
using CCryptFileCutShort = CryptFileTest;

TEST_F(CCryptFileCutShort, RunCutShortDeliversWhatTheFileHolds)
{
    const std::string file = path("cut.avlt");
    const std::string plain = pattern(600000, 11);
    std::string bytes = makeContainer(file, plain);
    const std::size_t kept = 300000 + 100; // inside segment 73
    bytes.resize(DataStart + kept);
    ASSERT_TRUE(writeWholeFile(file, bytes));
    forgetFileKeys();

    std::uint32_t code = 0;
    const std::string read = readContents(file, &code);
    EXPECT_EQ(code, CryptFileCode::EndOfData);
    ASSERT_EQ(read.size(), kept);
    EXPECT_TRUE(read == plain.substr(0, kept));
}

// Writing behind, a write that fails in the file (here: past the file size
// limit) is reported by a later call and by every call after it, and the
// headers are never written over data that is missing.
TEST_F(CCryptFileCutShort, FailedWriteBehindIsReportedByLaterCalls)
{
    const std::string file = path("limited.avlt");
    const std::string plain = pattern(512 * 1024, 13);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto savedSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);

    std::uint32_t first = 0;
    std::uint32_t close = 0;
    std::uint32_t afterClose = 0;
    {
        std::uint32_t code = 0;
        CCryptFile container(file, CCryptFile::Create, 0, code);
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(container.AddShare(m_ownerKey, OwnerName), 0u);
        container.setWriteBehind(true);
        std::size_t written = 0;
        first = container.Write(plain.data(), plain.size(), written);
        close = container.Close(false);
        afterClose = container.Write(plain.data(), plain.size(), written);
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedSignal);

    EXPECT_EQ(first, 0u); // handed over; the failure comes later
    EXPECT_EQ(close, CryptFileCode::SegmentWrite);
    EXPECT_EQ(afterClose, CryptFileCode::SegmentWrite);
    const std::string bytes = readWholeFile(file);
    ASSERT_GE(bytes.size(), DataStart);
    EXPECT_EQ(read64(bytes, DataHeaderOffset + 1), 11u); // the headers of the empty start
}

} // namespace
