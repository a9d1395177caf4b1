// Writing containers: pieces and segments, rewriting in place, growth with
// trailing shares, seeking and resizing, header writes and their failures.

#include "CryptFileTest.h"

#include "container/CCryptFileCodes.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <unistd.h>

namespace {

class CCryptFileWrite : public CryptFileTest
{
protected:
    // Creates a container whose file key is a copy of `model`'s, so that equal
    // contents give equal ciphertext.
    std::unique_ptr<CCryptFile> createWithKeyOf(const std::string& file, std::uint64_t modelKeyId)
    {
        std::uint32_t code = 0;
        auto container = std::make_unique<CCryptFile>(file, CCryptFile::Create, 0, code);
        EXPECT_EQ(code, 0u);
        ring().fileKeys.at(container->fileKeyIdentifier()).aes = ring().fileKeys.at(modelKeyId).aes;
        EXPECT_EQ(container->AddShare(m_ownerKey, OwnerName), 0u);
        return container;
    }
};

TEST_F(CCryptFileWrite, OneWriteAndManyPiecesGiveTheSameFile)
{
    const std::string plain = pattern(5000);
    const std::string whole = makeContainer(path("whole.avlt"), plain);
    const std::uint64_t keyId = read64(whole, 42);

    for (const std::size_t pieceSize : { 1u, 7u, 16u, 100u, 4095u, 4096u, 4097u }) {
        SCOPED_TRACE(pieceSize);
        const std::string file = path("pieces.avlt");
        {
            auto container = createWithKeyOf(file, keyId);
            for (std::size_t at = 0; at < plain.size(); at += pieceSize) {
                const std::size_t length = std::min(pieceSize, plain.size() - at);
                std::size_t written = 0;
                ASSERT_EQ(container->Write(plain.data() + at, length, written), 0u);
                ASSERT_EQ(written, length);
            }
        }
        const std::string bytes = readWholeFile(file);
        ASSERT_EQ(bytes.size(), whole.size());
        // Everything from the data header on; before it the share differs (random padding).
        EXPECT_EQ(bytes.substr(DataHeaderOffset), whole.substr(DataHeaderOffset));
    }
}

TEST_F(CCryptFileWrite, WriteLeavesTheCallersBufferAlone)
{
    std::string plain = pattern(8192);
    const std::string copy = plain;
    std::uint32_t code = 0;
    CCryptFile container(path("buffer.avlt"), CCryptFile::Create, 0, code);
    ASSERT_EQ(container.AddShare(m_ownerKey, OwnerName), 0u);
    std::size_t written = 0;
    ASSERT_EQ(container.Write(plain.data(), plain.size(), written), 0u);
    EXPECT_EQ(plain, copy);
}

TEST_F(CCryptFileWrite, TenThenSixBytesFillOneBlock)
{
    const std::string file = path("ten.avlt");
    {
        std::uint32_t code = 0;
        CCryptFile container(file, CCryptFile::Create, 0, code);
        ASSERT_EQ(container.AddShare(m_ownerKey, OwnerName), 0u);
        std::size_t written = 0;
        ASSERT_EQ(container.Write("0123456789", 10, written), 0u);
        EXPECT_EQ(container.padCount(), 6);
        ASSERT_EQ(container.Write("abcdef", 6, written), 0u);
        EXPECT_EQ(container.padCount(), 0);
    }
    const std::string bytes = readWholeFile(file);
    EXPECT_EQ(bytes.size(), 356u);
    EXPECT_EQ(read64(bytes, 330), 27u);
    EXPECT_EQ(bytes[339], 0);
    forgetFileKeys();
    EXPECT_EQ(readContents(file), "0123456789abcdef");
}

TEST_F(CCryptFileWrite, ChangeAtOffset5000RewritesOnlySegmentOne)
{
    const std::string file = path("change.avlt");
    std::string plain = pattern(3 * 4096 + 100);
    const std::string before = makeContainer(file, plain);
    forgetFileKeys();
    {
        std::uint32_t code = 0;
        CCryptFile container(file, CCryptFile::Update, 0, code);
        ASSERT_EQ(code, 0u);
        ASSERT_EQ(container.Seek(5000, CCryptFile::FromStart), 0u);
        std::size_t written = 0;
        const char changed = char(plain[5000] ^ 0xFF);
        ASSERT_EQ(container.Write(&changed, 1, written), 0u);
        plain[5000] = changed;
        EXPECT_EQ(container.dirtyFlags(), 0u); // the size did not change: no header write
    }
    const std::string after = readWholeFile(file);
    ASSERT_EQ(after.size(), before.size());
    const std::size_t segmentStart = DataStart + 4096;
    const std::size_t segmentEnd = DataStart + 2 * 4096;
    EXPECT_EQ(after.substr(0, segmentStart), before.substr(0, segmentStart));
    EXPECT_EQ(after.substr(segmentEnd), before.substr(segmentEnd));
    // OFB: only the changed byte's ciphertext differs within the segment.
    for (std::size_t i = segmentStart; i < segmentEnd; ++i)
        EXPECT_EQ(after[i] != before[i], i == DataStart + 5000) << i;
    forgetFileKeys();
    EXPECT_EQ(readContents(file), plain);
}

TEST_F(CCryptFileWrite, GrowingAFileKeepsItsTrailingShares)
{
    const std::uint64_t bob = newAccount();
    const std::string file = path("grow.avlt");
    std::string plain = pattern(100);
    makeContainer(file, plain, { { bob, "bob" } });
    forgetFileKeys();
    {
        std::uint32_t code = 0;
        CCryptFile container(file, CCryptFile::Update, 0, code);
        ASSERT_EQ(code, 0u);
        ASSERT_EQ(container.Seek(0, CCryptFile::FromEnd), 0u);
        const std::string more = pattern(6000, 2);
        std::size_t written = 0;
        ASSERT_EQ(container.Write(more.data(), more.size(), written), 0u);
        plain += more;
    }
    const std::string bytes = readWholeFile(file);
    EXPECT_EQ(bytes.size(), DataStart + 6112 + ShareLength);
    EXPECT_EQ(read64(bytes, bytes.size() - ShareLength + 4), bob);
    forgetFileKeys();
    ring().privateKeys.erase(m_ownerKey); // bob's share must open it
    EXPECT_EQ(readContents(file), plain);
}

TEST_F(CCryptFileWrite, EmptyWriteBeforeCloseKeepsLaterShares)
{
    const std::uint64_t bob = newAccount();
    const std::string file = path("emptywrite.avlt");
    {
        std::uint32_t code = 0;
        CCryptFile container(file, CCryptFile::Create, 0, code);
        ASSERT_EQ(container.AddShare(m_ownerKey, OwnerName), 0u);
        ASSERT_EQ(container.AddShare(bob, "bob"), 0u);
        std::size_t written = 0;
        ASSERT_EQ(container.Write("", 0, written), 0u); // writes the header area only
    }
    EXPECT_EQ(readWholeFile(file).size(), 340u + ShareLength);
    std::uint32_t code = 0;
    CCryptFile container(file, CCryptFile::ReadOnly, 0, code);
    ShareNameList names;
    container.GetShares(names);
    EXPECT_EQ(names, (ShareNameList{ { OwnerName, m_ownerKey }, { "bob", bob } }));
}

TEST_F(CCryptFileWrite, SeekPastTheEndFillsTheGapWithZeros)
{
    const std::string file = path("gap.avlt");
    {
        std::uint32_t code = 0;
        CCryptFile container(file, CCryptFile::Create, 0, code);
        ASSERT_EQ(container.AddShare(m_ownerKey, OwnerName), 0u);
        EXPECT_EQ(container.Seek(0, CCryptFile::FromStart), CryptFileCode::SeekBeforeDataStart);
        std::size_t written = 0;
        ASSERT_EQ(container.Write("head", 4, written), 0u);
        ASSERT_EQ(container.Seek(9000, CCryptFile::FromStart), 0u);
        std::uint64_t position = 0;
        EXPECT_EQ(container.Tell(position), 0u);
        EXPECT_EQ(position, 9000u);
        ASSERT_EQ(container.Write("tail", 4, written), 0u);
        EXPECT_EQ(container.Seek(5, CCryptFile::FromEnd), 0u);
        EXPECT_EQ(container.Seek(-9005, CCryptFile::FromCurrent), 0u);
        EXPECT_EQ(container.Tell(position), 0u);
        EXPECT_EQ(position, 4u);
        EXPECT_EQ(container.Seek(-5, CCryptFile::FromStart), CryptFileCode::BadArgument);
        EXPECT_EQ(container.Seek(0, 7), CryptFileCode::BadArgument);
    }
    forgetFileKeys();
    EXPECT_EQ(readContents(file), "head" + std::string(8996, '\0') + "tail");
}

TEST_F(CCryptFileWrite, SetSizeGrowsWithZerosAndRefusesToShrink)
{
    const std::string file = path("size.avlt");
    {
        std::uint32_t code = 0;
        CCryptFile container(file, CCryptFile::Create, 0, code);
        ASSERT_EQ(container.AddShare(m_ownerKey, OwnerName), 0u);
        ASSERT_EQ(container.SetSize(5000), 0u);
        std::uint64_t size = 0;
        EXPECT_EQ(container.GetDataSize(size), 0u);
        EXPECT_EQ(size, 5000u);
        std::uint64_t position = 1;
        EXPECT_EQ(container.Tell(position), 0u);
        EXPECT_EQ(position, 0u); // the position stays where it was
        std::size_t written = 0;
        ASSERT_EQ(container.Write("ab", 2, written), 0u);
        EXPECT_EQ(container.SetSize(10), CryptFileCode::ShrinkNotSupported);
        EXPECT_EQ(container.SetSize(5000), 0u);
    }
    forgetFileKeys();
    EXPECT_EQ(readContents(file), "ab" + std::string(4998, '\0'));

    std::uint32_t code = 0;
    CCryptFile container(file, CCryptFile::ReadOnly, 0, code);
    EXPECT_EQ(container.SetSize(6000), CryptFileCode::ReadOnly);
    EXPECT_EQ(container.Seek(7000, CCryptFile::FromStart), 0u);
    std::uint64_t position = 0;
    container.Tell(position);
    EXPECT_EQ(position, 5000u); // a read-only container stops at the end
}

TEST_F(CCryptFileWrite, ReadOnlyContainerRefusesWritesAndNeverFlushes)
{
    const std::string file = path("ro.avlt");
    const std::string bytes = makeContainer(file, "abc");
    {
        std::uint32_t code = 0;
        CCryptFile container(file, CCryptFile::ReadOnly, 0, code);
        std::size_t written = 1;
        EXPECT_EQ(container.Write("x", 1, written), CryptFileCode::ReadOnly);
        EXPECT_EQ(written, 0u);
        EXPECT_EQ(container.Flush(CCryptFile::DirtyAll), CryptFileCode::FlushReadOnly);
        EXPECT_EQ(container.Close(true), CryptFileCode::FlushReadOnly);
    }
    EXPECT_EQ(readWholeFile(file), bytes);
}

TEST_F(CCryptFileWrite, SecondFlushHasNothingToDo)
{
    std::uint32_t code = 0;
    CCryptFile container(path("flush.avlt"), CCryptFile::Create, 0, code);
    ASSERT_EQ(container.AddShare(m_ownerKey, OwnerName), 0u);
    EXPECT_EQ(container.Flush(CCryptFile::DirtyAll), 0u);
    EXPECT_EQ(container.Flush(CCryptFile::DirtyAll), CryptFileCode::NothingDirty);
    EXPECT_EQ(container.Truncate(0), CryptFileCode::ShrinkNotSupported);
}

TEST_F(CCryptFileWrite, ClosingWithoutOwnerShareLogsAndLeavesAnEmptyFile)
{
    const std::string file = path("noowner.avlt");
    {
        std::uint32_t code = 0;
        CCryptFile container(file, CCryptFile::Create, 0, code);
        ASSERT_EQ(code, 0u);
        std::size_t written = 0;
        EXPECT_EQ(container.Write("x", 1, written), CryptFileCode::NoShares);
    }
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(readWholeFile(file), "");
    const std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "ERROR   An attempt was made to write encrypted data without setting the owner of the file.");
}

TEST_F(CCryptFileWrite, HeaderWriteFailureIsReported)
{
    if (::access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "/dev/full is not writable here";
    std::uint32_t code = 0;
    CCryptFile container("/dev/full", CCryptFile::Create, 0, code);
    ASSERT_EQ(code, 0u);
    ASSERT_EQ(container.AddShare(m_ownerKey, OwnerName), 0u);
    std::size_t written = 0;
    EXPECT_EQ(container.Write("x", 1, written), CryptFileCode::HeaderWrite);
    EXPECT_EQ(written, 0u);
    const std::vector<std::string> lines = logLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "ERROR   A stream error occurred while writing headers for /dev/full");
}

TEST_F(CCryptFileWrite, WritingNeedsTheFileKey)
{
    const std::string file = path("nokey.avlt");
    makeContainer(file, "abc", { { foreignAccount(), "bob" } });
    ring().privateKeys.erase(m_ownerKey);
    forgetFileKeys();
    std::uint32_t code = 0;
    CCryptFile container(file, CCryptFile::Update, 0, code);
    ASSERT_EQ(code, 0u);
    std::size_t written = 0;
    EXPECT_EQ(container.Write("x", 1, written), CryptFileCode::NoFileKeyAccess);
    EXPECT_EQ(container.RemoveShare(m_ownerKey), 0u);
    EXPECT_EQ(container.Close(false), CryptFileCode::NoFileKeyAccess);
}

// A header area that cannot be rewritten at its old length (here: two shares
// before the data) must never be rewritten, or the data would be misplaced.
TEST_F(CCryptFileWrite, HeaderAreaOfOtherLengthIsNeverRewritten)
{
    const std::uint64_t bob = newAccount();
    const std::string file = path("twoinheader.avlt");
    std::string bytes = makeContainer(file, "abc", { { bob, "bob" } });
    const std::string bobShare = bytes.substr(bytes.size() - ShareLength);
    bytes.resize(bytes.size() - ShareLength);
    bytes.insert(DataHeaderOffset, bobShare);
    ASSERT_TRUE(writeWholeFile(file, bytes));
    forgetFileKeys();
    {
        std::uint32_t code = 0;
        CCryptFile container(file, CCryptFile::Update, 0, code);
        ASSERT_EQ(code, 0u);
        EXPECT_EQ(container.dataStartOffset(), DataStart + ShareLength);
        std::size_t written = 0;
        EXPECT_EQ(container.Write("x", 1, written), CryptFileCode::HeaderAssembly);
        EXPECT_EQ(container.RemoveShare(bob), 0u);
        EXPECT_EQ(container.Close(false), CryptFileCode::HeaderAssembly);
    }
    EXPECT_EQ(readWholeFile(file), bytes);
    EXPECT_EQ(readContents(file), "abc");
}

// The info packet is written back as it was read, whatever its banner.
TEST_F(CCryptFileWrite, LongerBannerIsKeptOnRewrite)
{
    const std::string file = path("banner.avlt");
    std::string bytes = makeContainer(file, pattern(5000));
    bytes.insert(37, " v2.0");
    bytes[1] = 42;
    ASSERT_TRUE(writeWholeFile(file, bytes));
    forgetFileKeys();
    const std::uint64_t bob = newAccount();
    {
        std::uint32_t code = 0;
        CCryptFile container(file, CCryptFile::Update, 0, code);
        ASSERT_EQ(code, 0u);
        ASSERT_EQ(container.AddShare(bob, "bob"), 0u);
        ASSERT_EQ(container.Seek(0, CCryptFile::FromEnd), 0u);
        std::size_t written = 0;
        ASSERT_EQ(container.Write("!", 1, written), 0u);
    }
    const std::string after = readWholeFile(file);
    EXPECT_EQ(after.substr(0, 42), bytes.substr(0, 42));
    forgetFileKeys();
    EXPECT_EQ(readContents(file), pattern(5000) + "!");
}

// A file name packet found in a file is written back with the headers; one
// without a name cannot be written, and the file is then left as it was.
TEST_F(CCryptFileWrite, FileNamePacketIsKeptOrRefused)
{
    struct Case
    {
        const char* name;
        std::string packet;
        std::uint32_t closeCode;
        const char* logLine;
    };
    const Case cases[] = {
        { "named", std::string("\x02\x08\x00", 3) + "a.txt", 0, "" },
        { "empty", std::string("\x02\x03\x00", 3), CryptFileCode::HeaderAssembly,
            "ERROR   The file %s could not be written because filename(1,2) was written incorrectly." },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = path(std::string(c.name) + ".avlt");
        std::string bytes = makeContainer(file, pattern(50));
        bytes[58] = 0; // flags as written; reading the packet sets them
        bytes.insert(OwnerShareOffset, c.packet);
        ASSERT_TRUE(writeWholeFile(file, bytes));
        forgetFileKeys();
        clearLog();
        {
            std::uint32_t code = 0;
            CCryptFile container(file, CCryptFile::Update, 0, code);
            ASSERT_EQ(code, 0u);
            EXPECT_EQ(container.parsedFlags() & CCryptFile::ParsedFileName, CCryptFile::ParsedFileName);
            ASSERT_EQ(container.AddShare(newAccount(), "bob"), 0u);
            EXPECT_EQ(container.Close(false), c.closeCode);
        }
        const std::string after = readWholeFile(file);
        if (c.closeCode == 0) {
            EXPECT_EQ(after.substr(OwnerShareOffset, c.packet.size()), c.packet);
            EXPECT_EQ(after[58], 1);
            EXPECT_EQ(after.size(), bytes.size() + ShareLength);
            forgetFileKeys();
            EXPECT_EQ(readContents(file), pattern(50));
        } else {
            EXPECT_EQ(after, bytes);
            const std::vector<std::string> lines = logLines();
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines[0], withPath(c.logLine, file));
        }
    }
}

} // namespace
