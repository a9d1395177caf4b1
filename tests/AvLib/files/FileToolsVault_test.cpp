// Vaulting and unvaulting single files: sizes on disk, round trips, the
// result codes of the edge cases, cancelling, and what is left on disk when
// an operation fails part-way over an existing target.

#include "FileToolsFixture.h"

#include "container/CCryptFileCodes.h"
#include "files/FileTools.h"
#include "files/FileToolsCodes.h"
#include "keyring/AvKeyring.h"

#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

std::uint32_t vault(const std::string& plain, const std::string& container, bool removeSource = false,
    FileTools::Progress* progress = nullptr, const FileTools::CancelFlag* cancel = nullptr)
{
    return FileTools::EncryptFile(plain, container, progress, cancel, removeSource);
}

std::uint32_t unvault(const std::string& container, const std::string& target, bool removeSource = false,
    FileTools::Progress* progress = nullptr, const FileTools::CancelFlag* cancel = nullptr)
{
    return FileTools::DecryptFile(container, target, progress, cancel, removeSource);
}

} // namespace

struct RoundTripCase
{
    const char* name;
    std::size_t size;
};

class FileToolsRoundTrip : public FileToolsTest, public ::testing::WithParamInterface<RoundTripCase>
{
};

TEST_P(FileToolsRoundTrip, GivesTheFormatsSizeAndTheSameBytesBack)
{
    const std::string bytes = randomBytes(GetParam().size);
    ASSERT_TRUE(writeWholeFile(workPath("plain"), bytes));

    FileTools::Progress progress{ -1 };
    EXPECT_EQ(vault(workPath("plain"), workPath("plain.avlt"), false, &progress), FileToolsCode::DoneKept);
    EXPECT_EQ(progress.load(), 100);
    EXPECT_EQ(fs::file_size(workPath("plain.avlt")), containerSize(bytes.size()));

    progress = -1;
    EXPECT_EQ(unvault(workPath("plain.avlt"), workPath("back"), false, &progress), FileToolsCode::DoneKept);
    EXPECT_EQ(progress.load(), 100);
    EXPECT_TRUE(fileHolds(workPath("back"), bytes));
    EXPECT_TRUE(fs::exists(workPath("plain")));
    EXPECT_TRUE(fs::exists(workPath("plain.avlt")));
    EXPECT_TRUE(stagingLeftovers().empty());
}

// Chunk (512 KiB) and segment (4096 bytes) boundaries and their neighbours.
INSTANTIATE_TEST_SUITE_P(Sizes, FileToolsRoundTrip,
    ::testing::Values(RoundTripCase{ "Empty", 0 }, RoundTripCase{ "OneByte", 1 }, RoundTripCase{ "OneSegment", 4096 },
        RoundTripCase{ "SegmentPlusOne", 4097 }, RoundTripCase{ "OneChunk", 512 * 1024 },
        RoundTripCase{ "ChunkPlusOne", 512 * 1024 + 1 }, RoundTripCase{ "ThreeChunksAndABit", 3 * 512 * 1024 + 777 }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileToolsTest, VaultingAnEmptyFileGivesTheBare340ByteContainer)
{
    ASSERT_TRUE(writeWholeFile(workPath("empty"), ""));
    EXPECT_EQ(vault(workPath("empty"), workPath("empty.avlt")), 0x20050BBBu);
    EXPECT_EQ(fs::file_size(workPath("empty.avlt")), 340u);
}

TEST_F(FileToolsTest, VaultingWhileNobodyIsSignedInLeavesNoContainer)
{
    ASSERT_TRUE(writeWholeFile(workPath("plain"), "secret"));
    AvKeyring::instance().Reset();
    EXPECT_EQ(vault(workPath("plain"), workPath("plain.avlt")), 0xA0010006u);
    EXPECT_FALSE(fs::exists(workPath("plain.avlt")));
    EXPECT_TRUE(stagingLeftovers().empty());
    EXPECT_TRUE(fileHolds(workPath("plain"), "secret"));
}

TEST_F(FileToolsTest, VaultingAMissingFileIsNoAccess)
{
    EXPECT_EQ(vault(workPath("missing"), workPath("missing.avlt")), FileToolsCode::NoAccess);
    EXPECT_FALSE(fs::exists(workPath("missing.avlt")));
}

TEST_F(FileToolsTest, VaultingIntoAMissingFolderFailsWithoutLeftovers)
{
    ASSERT_TRUE(writeWholeFile(workPath("plain"), "data"));
    EXPECT_EQ(vault(workPath("plain"), workPath("nowhere/plain.avlt")), CryptFileCode::OpenFailed);
    EXPECT_FALSE(fs::exists(workPath("nowhere")));
}

TEST_F(FileToolsTest, RemovingTheSourceShredsThePlainFileAfterVaulting)
{
    const std::string bytes = randomBytes(70000);
    ASSERT_TRUE(writeWholeFile(workPath("plain"), bytes));
    EXPECT_EQ(vault(workPath("plain"), workPath("plain.avlt"), true), 0x20050BBAu);
    EXPECT_FALSE(fs::exists(workPath("plain")));

    EXPECT_EQ(unvault(workPath("plain.avlt"), "", true), 0x20050BBAu);
    EXPECT_FALSE(fs::exists(workPath("plain.avlt")));
    EXPECT_TRUE(fileHolds(workPath("plain"), bytes));
}

TEST_F(FileToolsTest, AnEmptyTargetPathUnvaultsBesideTheContainer)
{
    ASSERT_TRUE(writeWholeFile(workPath("report.txt"), "quarterly"));
    ASSERT_EQ(vault(workPath("report.txt"), workPath("report.txt.avlt")), FileToolsCode::DoneKept);
    fs::remove(workPath("report.txt"));

    EXPECT_EQ(unvault(workPath("report.txt.avlt"), ""), FileToolsCode::DoneKept);
    EXPECT_TRUE(fileHolds(workPath("report.txt"), "quarterly"));
}

TEST_F(FileToolsTest, ATruncatedContainerReportsTheEarlyEndAndKeepsBothFiles)
{
    const std::string bytes = randomBytes(20000);
    ASSERT_TRUE(writeWholeFile(workPath("plain"), bytes));
    ASSERT_EQ(vault(workPath("plain"), workPath("plain.avlt")), FileToolsCode::DoneKept);
    fs::resize_file(workPath("plain.avlt"), 340 + 9000);
    const std::string truncated = readWholeFile(workPath("plain.avlt"));

    EXPECT_EQ(unvault(workPath("plain.avlt"), workPath("back")), FileToolsCode::UnexpectedEnd);
    EXPECT_TRUE(fileHolds(workPath("plain.avlt"), truncated));
    ASSERT_TRUE(fs::exists(workPath("back")));
    const std::string recovered = readWholeFile(workPath("back"));
    EXPECT_LT(recovered.size(), bytes.size());
    EXPECT_TRUE(recovered == bytes.substr(0, recovered.size())) << "the recovered part differs";
    EXPECT_TRUE(stagingLeftovers().empty());
}

TEST_F(FileToolsTest, ATruncatedContainerNeverReplacesAnExistingPlainFile)
{
    ASSERT_TRUE(writeWholeFile(workPath("plain"), randomBytes(20000)));
    ASSERT_EQ(vault(workPath("plain"), workPath("plain.avlt")), FileToolsCode::DoneKept);
    fs::resize_file(workPath("plain.avlt"), 340 + 9000);
    ASSERT_TRUE(writeWholeFile(workPath("back"), "the old file"));

    EXPECT_EQ(unvault(workPath("plain.avlt"), workPath("back")), FileToolsCode::UnexpectedEnd);
    EXPECT_TRUE(fileHolds(workPath("back"), "the old file"));
    EXPECT_TRUE(stagingLeftovers().empty());
}

TEST_F(FileToolsTest, AContainerOfAnotherAccountIsNotUnvaulted)
{
    ASSERT_TRUE(writeWholeFile(workPath("plain"), "mine"));
    ASSERT_EQ(vault(workPath("plain"), workPath("plain.avlt")), FileToolsCode::DoneKept);
    createAccount("another password");

    EXPECT_EQ(unvault(workPath("plain.avlt"), workPath("back")), CryptFileCode::NoFileKeyAccess);
    EXPECT_FALSE(fs::exists(workPath("back")));
    std::uint32_t code = 0;
    EXPECT_FALSE(FileTools::CanDecryptFile(workPath("plain.avlt"), code));
    EXPECT_EQ(code, CryptFileCode::NoFileKeyAccess);
}

TEST_F(FileToolsTest, CanDecryptFileAndUnvaultedNameAnswerForTheSignedInAccount)
{
    ASSERT_TRUE(writeWholeFile(workPath("notes.md"), "# notes"));
    ASSERT_EQ(vault(workPath("notes.md"), workPath("notes.md.avlt")), FileToolsCode::DoneKept);

    std::uint32_t code = 0xFFFFFFFF;
    EXPECT_TRUE(FileTools::CanDecryptFile(workPath("notes.md.avlt"), code));
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(FileTools::CanDecryptFile(workPath("missing.avlt"), code));
    EXPECT_EQ(FileTools::UnvaultedName(workPath("notes.md.avlt")), workPath("notes.md"));
    EXPECT_EQ(FileTools::UnvaultedName(workPath("missing.avlt")), "");
}

// Cancelling stops after the first 512 KiB chunk; what was written so far
// must go, and a file that was there before must stay as it was.
TEST_F(FileToolsTest, CancellingAnUnvaultRemovesThePartialTarget)
{
    ASSERT_TRUE(writeWholeFile(workPath("plain"), randomBytes(2 * 1024 * 1024)));
    ASSERT_EQ(vault(workPath("plain"), workPath("plain.avlt")), FileToolsCode::DoneKept);

    FileTools::CancelFlag cancel{ 1 };
    FileTools::Progress progress{ 0 };
    EXPECT_EQ(unvault(workPath("plain.avlt"), workPath("back"), false, &progress, &cancel), 0x20050BBAu);
    EXPECT_EQ(progress.load(), 25);
    EXPECT_FALSE(fs::exists(workPath("back")));

    ASSERT_TRUE(writeWholeFile(workPath("back"), "the old file"));
    EXPECT_EQ(unvault(workPath("plain.avlt"), workPath("back"), true, nullptr, &cancel), 0x20050BBAu);
    EXPECT_TRUE(fileHolds(workPath("back"), "the old file"));
    EXPECT_TRUE(fs::exists(workPath("plain.avlt"))) << "a cancelled unvault must not remove its source";
    EXPECT_TRUE(stagingLeftovers().empty());
}

TEST_F(FileToolsTest, CancellingAVaultKeepsTheOldContainerAndTheSource)
{
    ASSERT_TRUE(writeWholeFile(workPath("plain"), randomBytes(2 * 1024 * 1024)));
    ASSERT_EQ(vault(workPath("plain"), workPath("plain.avlt")), FileToolsCode::DoneKept);
    const std::string oldContainer = readWholeFile(workPath("plain.avlt"));

    FileTools::CancelFlag cancel{ 1 };
    const std::uint32_t code = vault(workPath("plain"), workPath("plain.avlt"), true, nullptr, &cancel);
    EXPECT_FALSE(FileToolsCode::isFailure(code));
    EXPECT_NE(code, 0x20050BBAu);
    EXPECT_TRUE(fileHolds(workPath("plain.avlt"), oldContainer));
    EXPECT_TRUE(fs::exists(workPath("plain")));
    EXPECT_TRUE(stagingLeftovers().empty());
}

TEST_F(FileToolsTest, VaultingOverAContainerReplacesItAndKeepsItsPermissions)
{
    ASSERT_TRUE(writeWholeFile(workPath("plain"), "first"));
    ASSERT_EQ(vault(workPath("plain"), workPath("plain.avlt")), FileToolsCode::DoneKept);
    fs::permissions(workPath("plain.avlt"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(writeWholeFile(workPath("plain"), "second version"));

    EXPECT_EQ(vault(workPath("plain"), workPath("plain.avlt")), FileToolsCode::DoneKept);
    EXPECT_EQ(fs::status(workPath("plain.avlt")).permissions(),
        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(unvault(workPath("plain.avlt"), workPath("back")), FileToolsCode::DoneKept);
    EXPECT_TRUE(fileHolds(workPath("back"), "second version"));
}

// A write that fails in the middle (here: the file-size limit, as a full disk
// would) must leave the file that was at the target byte for byte as it was.
TEST_F(FileToolsTest, AWriteFailureWhileVaultingLeavesTheOldContainerIntact)
{
    ASSERT_TRUE(writeWholeFile(workPath("plain"), randomBytes(100000)));
    ASSERT_EQ(vault(workPath("plain"), workPath("plain.avlt")), FileToolsCode::DoneKept);
    const std::string oldContainer = readWholeFile(workPath("plain.avlt"));
    ASSERT_TRUE(writeWholeFile(workPath("plain"), randomBytes(3 * 1024 * 1024)));

    const std::uint32_t code =
        runWithFileSizeLimit(1024 * 1024, [&] { return vault(workPath("plain"), workPath("plain.avlt"), true); });
    EXPECT_TRUE(FileToolsCode::isFailure(code)) << std::hex << code;
    EXPECT_TRUE(fileHolds(workPath("plain.avlt"), oldContainer));
    EXPECT_TRUE(fs::exists(workPath("plain"))) << "a failed vault must not remove its source";
    EXPECT_TRUE(stagingLeftovers().empty());
}

TEST_F(FileToolsTest, AWriteFailureWhileUnvaultingLeavesTheOldFileAndTheContainer)
{
    ASSERT_TRUE(writeWholeFile(workPath("plain"), randomBytes(3 * 1024 * 1024)));
    ASSERT_EQ(vault(workPath("plain"), workPath("plain.avlt")), FileToolsCode::DoneKept);
    ASSERT_TRUE(writeWholeFile(workPath("back"), "the old file"));

    const std::uint32_t code =
        runWithFileSizeLimit(1024 * 1024, [&] { return unvault(workPath("plain.avlt"), workPath("back"), true); });
    EXPECT_EQ(code, FileToolsCode::WriteFailed);
    EXPECT_TRUE(fileHolds(workPath("back"), "the old file"));
    EXPECT_TRUE(fs::exists(workPath("plain.avlt")));
    EXPECT_TRUE(stagingLeftovers().empty());
}

TEST_F(FileToolsTest, AVaultedSymbolicLinkTargetKeepsTheLink)
{
    ASSERT_TRUE(writeWholeFile(workPath("plain"), "v1"));
    fs::create_directories(workPath("store"));
    ASSERT_EQ(vault(workPath("plain"), workPath("store/real.avlt")), FileToolsCode::DoneKept);
    fs::create_symlink(workPath("store/real.avlt"), workPath("link.avlt"));
    ASSERT_TRUE(writeWholeFile(workPath("plain"), "v2"));

    EXPECT_EQ(vault(workPath("plain"), workPath("link.avlt")), FileToolsCode::DoneKept);
    EXPECT_TRUE(fs::is_symlink(workPath("link.avlt")));
    EXPECT_EQ(unvault(workPath("store/real.avlt"), workPath("back")), FileToolsCode::DoneKept);
    EXPECT_TRUE(fileHolds(workPath("back"), "v2"));
}
