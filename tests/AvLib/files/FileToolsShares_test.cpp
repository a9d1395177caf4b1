// Listing and replacing a container's users, the key-server answers that
// stop a share change, a change that fails half-way, and shredding.

#include "FileToolsFixture.h"

#include "container/CCryptFileCodes.h"
#include "files/FileTools.h"
#include "files/FileToolsCodes.h"
#include "keyring/AvKeyring.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace {

// A key server that answers every public key request with one fixed text.
class FixedAnswerConnector : public AvKeyringConnector
{
public:
    explicit FixedAnswerConnector(std::string answer)
        : m_answer(std::move(answer))
    {
    }
    void setReportConnectionFailure(bool on) override { m_report = on; }
    bool reportConnectionFailure() const override { return m_report; }
    std::string Authenticate() override { return "Error"; }
    std::string GetUserkeys() override { return "Error"; }
    std::string ChangePassword(const SecureString&, bool) override { return "Error"; }
    std::string GetUserPublicKey(const std::string&) override { return m_answer; }

private:
    std::string m_answer;
    bool m_report = true;
};

} // namespace

class FileToolsSharesTest : public FileToolsTest
{
protected:
    void SetUp() override
    {
        FileToolsTest::SetUp();
        // A second local account whose public key the first one knows.
        m_other = createAccount("other password");
        m_otherKey = ownPublicKey();
        signIn(m_user, kPassword);
        ASSERT_TRUE(AvKeyring::instance().ImportPublicKey(m_otherKey.first, m_other, m_otherKey.second));

        ASSERT_TRUE(writeWholeFile(workPath("plain"), randomBytes(10000)));
        ASSERT_EQ(FileTools::EncryptFile(workPath("plain"), workPath("c.avlt"), nullptr, nullptr, false),
            FileToolsCode::DoneKept);
    }

    std::string m_other;
    std::pair<std::uint64_t, std::string> m_otherKey;
};

TEST_F(FileToolsSharesTest, ANewContainerIsSharedWithTheSignedInAccountOnly)
{
    EXPECT_EQ(FileTools::GetFileShares(workPath("c.avlt")), std::vector<std::string>{ m_user });
    EXPECT_TRUE(FileTools::GetFileShares(workPath("missing.avlt")).empty());
}

TEST_F(FileToolsSharesTest, SharingWithAnotherAccountLetsItUnvault)
{
    EXPECT_EQ(FileTools::SetFileShares(workPath("c.avlt"), { m_user, m_other }), 0u);
    EXPECT_EQ(FileTools::GetFileShares(workPath("c.avlt")), (std::vector<std::string>{ m_user, m_other }));
    EXPECT_EQ(fs::file_size(workPath("c.avlt")), containerSize(10000) + 270);
    EXPECT_TRUE(stagingLeftovers().empty());

    signIn(m_other, "other password");
    EXPECT_EQ(
        FileTools::DecryptFile(workPath("c.avlt"), workPath("back"), nullptr, nullptr, false), FileToolsCode::DoneKept);
    EXPECT_TRUE(fileHolds(workPath("back"), readWholeFile(workPath("plain"))));
}

TEST_F(FileToolsSharesTest, TheSameUsersInAnotherOrderLeaveTheFileUntouched)
{
    ASSERT_EQ(FileTools::SetFileShares(workPath("c.avlt"), { m_user, m_other }), 0u);
    const std::string before = readWholeFile(workPath("c.avlt"));
    EXPECT_EQ(FileTools::SetFileShares(workPath("c.avlt"), { m_other, m_user }), 0u);
    EXPECT_TRUE(fileHolds(workPath("c.avlt"), before));
}

struct ServerAnswerCase
{
    const char* answer;
    std::uint32_t code;
};

class FileToolsServerAnswer : public FileToolsSharesTest, public ::testing::WithParamInterface<ServerAnswerCase>
{
};

// A user the key ring does not know is asked for at the key server; every
// answer but a key stops the change before the container is touched.
TEST_P(FileToolsServerAnswer, StopsTheChangeWithItsCode)
{
    AvKeyring::instance().setConnectorFactory([answer = std::string(GetParam().answer)](AvKeyring&) {
        return std::make_unique<FixedAnswerConnector>(answer);
    });
    const std::string before = readWholeFile(workPath("c.avlt"));

    EXPECT_EQ(FileTools::SetFileShares(workPath("c.avlt"), { m_user, "stranger@example.org" }), GetParam().code);
    EXPECT_TRUE(fileHolds(workPath("c.avlt"), before));
    EXPECT_TRUE(stagingLeftovers().empty());
}

INSTANTIATE_TEST_SUITE_P(Answers, FileToolsServerAnswer,
    ::testing::Values(ServerAnswerCase{ "Err_NOID", 0xA0050BC0 }, ServerAnswerCase{ "Denied", 0xA0050BBD },
        ServerAnswerCase{ "Error", 0xA0050BBE },
        // "OK" without the key actually arriving.
        ServerAnswerCase{ "OK", 0xA0050BBF }, ServerAnswerCase{ "UnknownHostException", 0xA0050BBF }));

TEST_F(FileToolsSharesTest, WithoutAKeyServerAnUnknownUserFailsAndChangesNothing)
{
    const std::string before = readWholeFile(workPath("c.avlt"));
    const std::uint32_t code = FileTools::SetFileShares(workPath("c.avlt"), { m_user, "stranger@example.org" });
    EXPECT_EQ(code, FileToolsCode::KeyMissing);
    EXPECT_TRUE(fileHolds(workPath("c.avlt"), before));
}

TEST_F(FileToolsSharesTest, AMissingFileIsAFailureNotSuccess)
{
    EXPECT_EQ(FileTools::SetFileShares(workPath("missing.avlt"), { m_user }), FileToolsCode::NoAccess);
}

TEST_F(FileToolsSharesTest, AnEmptyUserListIsRefused)
{
    const std::string before = readWholeFile(workPath("c.avlt"));
    EXPECT_EQ(FileTools::SetFileShares(workPath("c.avlt"), {}), CryptFileCode::EmptyShareList);
    EXPECT_TRUE(fileHolds(workPath("c.avlt"), before));
}

TEST_F(FileToolsSharesTest, AnAccountWithoutAccessCannotChangeTheShares)
{
    signIn(m_other, "other password");
    const std::string before = readWholeFile(workPath("c.avlt"));
    EXPECT_EQ(FileTools::SetFileShares(workPath("c.avlt"), { m_other }), CryptFileCode::NoFileKeyAccess);
    EXPECT_TRUE(fileHolds(workPath("c.avlt"), before));
}

// The new share list is written while the file grows by one trailing share;
// stopping that write (file-size limit) must leave the old list readable.
TEST_F(FileToolsSharesTest, AFailureWhileWritingSharesLeavesTheOldContainer)
{
    const std::string before = readWholeFile(workPath("c.avlt"));
    const std::uint32_t code = runWithFileSizeLimit(before.size() + 100, [&] {
        return FileTools::SetFileShares(workPath("c.avlt"), { m_user, m_other });
    });
    EXPECT_TRUE(FileToolsCode::isFailure(code)) << std::hex << code;
    EXPECT_TRUE(fileHolds(workPath("c.avlt"), before));
    EXPECT_TRUE(stagingLeftovers().empty());
    EXPECT_EQ(FileTools::GetFileShares(workPath("c.avlt")), std::vector<std::string>{ m_user });
}

TEST_F(FileToolsSharesTest, SetSharesOfFilesChangesEveryFile)
{
    ASSERT_EQ(FileTools::EncryptFile(workPath("plain"), workPath("d.avlt"), nullptr, nullptr, false),
        FileToolsCode::DoneKept);
    EXPECT_EQ(FileTools::SetSharesOfFiles({ workPath("c.avlt"), workPath("d.avlt") }, { m_user, m_other }), 0u);
    for (const char* name : { "c.avlt", "d.avlt" })
        EXPECT_EQ(FileTools::GetFileShares(workPath(name)), (std::vector<std::string>{ m_user, m_other })) << name;
}

struct ShredCase
{
    int passes;
    int expectedPasses;
};

class FileToolsShred : public FileToolsTest, public ::testing::WithParamInterface<ShredCase>
{
};

// Every pass writes fresh random bytes over the whole file; passes are
// capped at 32.
TEST_P(FileToolsShred, OverwritesTheFileOncePerPassThenDeletesIt)
{
    const std::string path = workPath("secret");
    const std::string original = randomBytes(700 * 1024);
    ASSERT_TRUE(writeWholeFile(path, original));

    std::vector<std::string> seen{ original };
    const std::uint32_t code = FileTools::ShredFile(path, GetParam().passes, [&](int pass) {
        EXPECT_EQ(pass, int(seen.size()));
        const std::string now = readWholeFile(path);
        EXPECT_EQ(now.size(), original.size());
        EXPECT_TRUE(now != seen.back()) << "pass " << pass << " did not change the file";
        // The 512 KiB random block repeats; the tail must not be left as it was.
        EXPECT_TRUE(now.substr(600 * 1024) != original.substr(600 * 1024)) << "the tail was not overwritten";
        seen.push_back(now);
    });
    EXPECT_EQ(code, 0x20050BBAu);
    EXPECT_EQ(int(seen.size()) - 1, GetParam().expectedPasses);
    EXPECT_FALSE(fs::exists(path));
}

INSTANTIATE_TEST_SUITE_P(Passes, FileToolsShred,
    ::testing::Values(
        ShredCase{ 0, 0 }, ShredCase{ 1, 1 }, ShredCase{ 3, 3 }, ShredCase{ 40, 32 }, ShredCase{ -5, 0 }));

TEST_F(FileToolsTest, ShreddingAMissingFileIsNoAccessAndAnEmptyFileIsJustRemoved)
{
    EXPECT_EQ(FileTools::ShredFile(workPath("missing"), 1), FileToolsCode::NoAccess);
    ASSERT_TRUE(writeWholeFile(workPath("empty"), ""));
    int passes = 0;
    EXPECT_EQ(FileTools::ShredFile(workPath("empty"), 5, [&](int) { ++passes; }), FileToolsCode::DoneRemoved);
    EXPECT_EQ(passes, 0);
    EXPECT_FALSE(fs::exists(workPath("empty")));
}

TEST_F(FileToolsTest, ShredFilesRemovesEveryFile)
{
    ASSERT_TRUE(writeWholeFile(workPath("a"), "a"));
    ASSERT_TRUE(writeWholeFile(workPath("b"), "b"));
    EXPECT_EQ(FileTools::ShredFiles({ workPath("a"), workPath("b") }), FileToolsCode::DoneRemoved);
    EXPECT_FALSE(fs::exists(workPath("a")));
    EXPECT_FALSE(fs::exists(workPath("b")));
}
