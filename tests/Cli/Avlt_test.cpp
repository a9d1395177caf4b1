// The avlt program end to end, run as a child process with HOME in a
// temporary folder: account creation, round trips through vault and unvault,
// what info and shares show, the failure line and exit statuses, refusing to
// overwrite, choosing the account and finding the password.

#include "AvTempHome.h"
#include "AvltRunner.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <regex>

namespace fs = std::filesystem;

namespace {

std::string randomBytes(std::size_t size)
{
    std::mt19937_64 generator(size * 7 + 1);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator());
    return bytes;
}

std::uint64_t containerSize(std::uint64_t plainSize)
{
    return 340 + plainSize + (16 - plainSize % 16) % 16;
}

int lineCount(const std::string& text)
{
    return int(std::count(text.begin(), text.end(), '\n'));
}

} // namespace

class AvltTest : public AvTempHome
{
protected:
    void SetUp() override
    {
        AvTempHome::SetUp();
        work = home() + "/work";
        fs::create_directories(work);
        avlt = std::make_unique<AvltRunner>(home(), work);
        avlt->setEnv("AVLT_PASSWORD", kPassword);
        user = createAccount();
    }

    std::string createAccount()
    {
        const AvltResult created = avlt->run({ "account", "create-local" });
        EXPECT_EQ(created.status, 0) << created.err;
        EXPECT_TRUE(std::regex_match(created.out, std::regex("[1-9][0-9]{5}\n"))) << created.out;
        return created.out.substr(0, 6);
    }

    std::string path(const std::string& name) const { return work + "/" + name; }

    // Exactly one line on standard error, naming the operation and the file.
    static ::testing::AssertionResult isFailureLine(
        const AvltResult& result, const std::string& operation, const std::string& file)
    {
        if (result.status == 0)
            return ::testing::AssertionFailure() << "exit status 0";
        if (lineCount(result.err) != 1)
            return ::testing::AssertionFailure() << "not one line: " << result.err;
        const std::string start = "avlt: " + operation + " failed for " + file + ": ";
        if (result.err.rfind(start, 0) != 0)
            return ::testing::AssertionFailure() << "line does not start with \"" << start << "\": " << result.err;
        return ::testing::AssertionSuccess();
    }

    static constexpr const char* kPassword = "a long enough password";
    std::string work;
    std::string user;
    std::unique_ptr<AvltRunner> avlt;
};

TEST_F(AvltTest, CreatingALocalAccountMakesItsKeyRingFile)
{
    EXPECT_TRUE(fs::exists(home() + "/Documents/Ardentvault/Keys/" + user + ".avltkey"));
}

// Relative paths must be taken from the start folder although the library
// moves the working directory into the data folder.
TEST_F(AvltTest, RoundTripGivesTheSameBytesAndTheFormatsSizes)
{
    const std::vector<std::pair<std::string, std::string>> files = { { "empty", "" }, { "one", "x" },
        { "five-mib", randomBytes(5 * 1024 * 1024) } };
    for (const auto& [name, bytes] : files)
        ASSERT_TRUE(writeWholeFile(path(name), bytes));

    AvltResult vaulted = avlt->run({ "vault", "empty", "one", "five-mib" });
    ASSERT_EQ(vaulted.status, 0) << vaulted.err;
    EXPECT_EQ(vaulted.err, "");
    EXPECT_EQ(fs::file_size(path("empty.avlt")), 340u);
    EXPECT_EQ(fs::file_size(path("one.avlt")), 356u);
    for (const auto& [name, bytes] : files)
        EXPECT_EQ(fs::file_size(path(name + ".avlt")), containerSize(bytes.size())) << name;

    AvltResult unvaulted = avlt->run({ "unvault", "--to", "back", "empty.avlt", "one.avlt", "five-mib.avlt" });
    ASSERT_EQ(unvaulted.status, 0) << unvaulted.err;
    for (const auto& [name, bytes] : files)
        EXPECT_TRUE(readWholeFile(path("back/" + name)) == bytes) << name << " came back different";
}

TEST_F(AvltTest, FoldersAreWalkedAndRemoveSourceLeavesOnlyTheOtherForm)
{
    fs::create_directories(path("docs/sub"));
    ASSERT_TRUE(writeWholeFile(path("docs/a.txt"), "alpha"));
    ASSERT_TRUE(writeWholeFile(path("docs/sub/b.txt"), "beta"));

    AvltResult vaulted = avlt->run({ "vault", "--remove-source", "docs" });
    ASSERT_EQ(vaulted.status, 0) << vaulted.err;
    EXPECT_FALSE(fs::exists(path("docs/a.txt")));
    EXPECT_TRUE(fs::exists(path("docs/sub/b.txt.avlt")));

    // Vaulting again finds only containers, which are skipped.
    AvltResult again = avlt->run({ "vault", "docs" });
    EXPECT_EQ(again.status, 0) << again.err;

    AvltResult unvaulted = avlt->run({ "unvault", "--remove-source", "docs" });
    ASSERT_EQ(unvaulted.status, 0) << unvaulted.err;
    EXPECT_EQ(readWholeFile(path("docs/a.txt")), "alpha");
    EXPECT_EQ(readWholeFile(path("docs/sub/b.txt")), "beta");
    EXPECT_FALSE(fs::exists(path("docs/sub/b.txt.avlt")));
}

TEST_F(AvltTest, AnExistingTargetIsRefusedUnlessOverwriteIsGiven)
{
    ASSERT_TRUE(writeWholeFile(path("f"), "first"));
    ASSERT_EQ(avlt->run({ "vault", "f" }).status, 0);
    const std::string firstContainer = readWholeFile(path("f.avlt"));
    ASSERT_TRUE(writeWholeFile(path("f"), "second"));

    AvltResult refused = avlt->run({ "vault", "f" });
    EXPECT_TRUE(isFailureLine(refused, "vault", path("f")));
    EXPECT_NE(refused.err.find("--overwrite"), std::string::npos);
    EXPECT_EQ(readWholeFile(path("f.avlt")), firstContainer);

    AvltResult replaced = avlt->run({ "vault", "--overwrite", "f" });
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_NE(readWholeFile(path("f.avlt")), firstContainer);

    AvltResult unvaultRefused = avlt->run({ "unvault", "f.avlt" });
    EXPECT_TRUE(isFailureLine(unvaultRefused, "unvault", path("f.avlt")));
    EXPECT_EQ(readWholeFile(path("f")), "second");
}

TEST_F(AvltTest, ALibraryFailureIsOneLineWithTheHexCode)
{
    ASSERT_TRUE(writeWholeFile(path("bogus.avlt"), "hello, not a container"));
    AvltResult result = avlt->run({ "unvault", "bogus.avlt" });
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(isFailureLine(result, "unvault", path("bogus.avlt")));
    EXPECT_TRUE(std::regex_search(result.err, std::regex(R"(\(0xA0010008\)\n$)"))) << result.err;
    EXPECT_FALSE(fs::exists(path("bogus")));
}

TEST_F(AvltTest, OneFailingFileDoesNotStopTheOthers)
{
    ASSERT_TRUE(writeWholeFile(path("good"), "good"));
    AvltResult result = avlt->run({ "vault", "missing", "good" });
    EXPECT_TRUE(isFailureLine(result, "vault", path("missing")));
    EXPECT_TRUE(fs::exists(path("good.avlt")));
}

TEST_F(AvltTest, InfoAndSharesNeedNoPassword)
{
    ASSERT_TRUE(writeWholeFile(path("one"), "x"));
    ASSERT_EQ(avlt->run({ "vault", "one" }).status, 0);
    avlt->unsetEnv("AVLT_PASSWORD");

    AvltResult info = avlt->run({ "info", "one.avlt" });
    ASSERT_EQ(info.status, 0) << info.err;
    for (const char* part : { "format version: 2\n", "data size:      1 bytes\n", "segment size:   4096 bytes\n",
             "pad count:      15\n", "file key id:    " })
        EXPECT_NE(info.out.find(part), std::string::npos) << part << " missing in\n" << info.out;
    EXPECT_TRUE(std::regex_search(info.out, std::regex("1\\. " + user + "  key id [0-9]+  \\[owner slot\\]")))
        << info.out;

    AvltResult shares = avlt->run({ "shares", "one.avlt" });
    ASSERT_EQ(shares.status, 0) << shares.err;
    EXPECT_EQ(shares.out, user + "\n");

    AvltResult broken = avlt->run({ "info", "one" });
    EXPECT_TRUE(isFailureLine(broken, "info", path("one")));
}

TEST_F(AvltTest, SettingSharesToAnUnknownUserFailsAndChangesNothing)
{
    ASSERT_TRUE(writeWholeFile(path("one"), "x"));
    ASSERT_EQ(avlt->run({ "vault", "one" }).status, 0);
    const std::string before = readWholeFile(path("one.avlt"));

    AvltResult result = avlt->run({ "shares", "one.avlt", "--set", user + ",stranger@example.org" });
    EXPECT_TRUE(isFailureLine(result, "shares --set", path("one.avlt")));
    EXPECT_NE(result.err.find("(0xA0050BBF)"), std::string::npos) << result.err;
    EXPECT_EQ(readWholeFile(path("one.avlt")), before);

    AvltResult same = avlt->run({ "shares", "one.avlt", "--set", user });
    EXPECT_EQ(same.status, 0) << same.err;
}

TEST_F(AvltTest, AnotherAccountsKeyIsNotFoundWithoutAKeyServerSoItCannotUnvault)
{
    ASSERT_TRUE(writeWholeFile(path("doc"), "for both of us"));
    const std::string other = createAccount();
    avlt->setEnv("AVLT_USER", user);
    ASSERT_EQ(avlt->run({ "vault", "doc" }).status, 0);

    // The other account's key is in this computer's key-ring files, not in the
    // signed-in ring: without a key server it cannot be found.
    AvltResult result = avlt->run({ "shares", "doc.avlt", "--set", user + "," + other });
    EXPECT_NE(result.status, 0);
    AvltResult asOther = avlt->run({ "--user", other, "unvault", "--to", "other", "doc.avlt" });
    EXPECT_TRUE(isFailureLine(asOther, "unvault", path("doc.avlt")));
    EXPECT_NE(asOther.err.find("(0xA0010005)"), std::string::npos) << asOther.err;
}

TEST_F(AvltTest, TheAccountComesFromUserOptionEnvironmentOrTheOnlyKeyRing)
{
    ASSERT_TRUE(writeWholeFile(path("f"), "data"));
    const std::string other = createAccount();

    AvltResult ambiguous = avlt->run({ "vault", "f" });
    EXPECT_EQ(ambiguous.status, 1);
    EXPECT_EQ(lineCount(ambiguous.err), 1);
    EXPECT_NE(ambiguous.err.find("several accounts"), std::string::npos) << ambiguous.err;
    EXPECT_NE(ambiguous.err.find(other), std::string::npos) << ambiguous.err;

    avlt->setEnv("AVLT_USER", other);
    ASSERT_EQ(avlt->run({ "vault", "f" }).status, 0);
    AvltResult shares = avlt->run({ "shares", "f.avlt" });
    EXPECT_EQ(shares.out, other + "\n");

    // --user wins over the environment.
    AvltResult chosen = avlt->run({ "--user", user, "vault", "--overwrite", "f" });
    ASSERT_EQ(chosen.status, 0) << chosen.err;
    EXPECT_EQ(avlt->run({ "shares", "f.avlt" }).out, user + "\n");
}

TEST_F(AvltTest, ThePasswordComesFromAFileRelativeToTheStartFolder)
{
    ASSERT_TRUE(writeWholeFile(path("f"), "data"));
    ASSERT_TRUE(writeWholeFile(path("pw.txt"), std::string(kPassword) + "\n"));
    avlt->setEnv("AVLT_PASSWORD", "wrong");

    AvltResult result = avlt->run({ "--password-file", "pw.txt", "vault", "f" });
    EXPECT_EQ(result.status, 0) << result.err;

    AvltResult wrong = avlt->run({ "unvault", "--to", "out", "f.avlt" });
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(lineCount(wrong.err), 1);
    EXPECT_NE(wrong.err.find("Denied"), std::string::npos) << wrong.err;

    avlt->unsetEnv("AVLT_PASSWORD");
    AvltResult none = avlt->run({ "unvault", "--to", "out", "f.avlt" });
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("--password-file"), std::string::npos) << none.err;
}

TEST_F(AvltTest, WithoutAnyAccountVaultingSaysHowToMakeOne)
{
    fs::remove_all(home() + "/Documents");
    ASSERT_TRUE(writeWholeFile(path("f"), "data"));
    AvltResult result = avlt->run({ "vault", "f" });
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(lineCount(result.err), 1);
    EXPECT_NE(result.err.find("account create-local"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(path("f.avlt")));
}

TEST_F(AvltTest, ShredRemovesFilesAndRefusesLinks)
{
    ASSERT_TRUE(writeWholeFile(path("secret"), randomBytes(10000)));
    ASSERT_TRUE(writeWholeFile(path("kept"), "kept"));
    fs::create_symlink(path("kept"), path("link"));

    AvltResult shred = avlt->run({ "shred", "--passes", "3", "secret" });
    EXPECT_EQ(shred.status, 0) << shred.err;
    EXPECT_FALSE(fs::exists(path("secret")));

    AvltResult link = avlt->run({ "shred", "link" });
    EXPECT_TRUE(isFailureLine(link, "shred", path("link")));
    EXPECT_EQ(readWholeFile(path("kept")), "kept");
}

TEST_F(AvltTest, UsageErrorsExitWithTwoAndHelpWithZero)
{
    for (const std::vector<std::string>& args :
        { std::vector<std::string>{ "frobnicate" }, { "vault" }, { "info", "--to", "x", "f" }, {} }) {
        AvltResult result = avlt->run(args);
        EXPECT_EQ(result.status, 2) << (args.empty() ? "" : args[0]);
        EXPECT_NE(result.err.find("avlt --help"), std::string::npos) << result.err;
    }
    AvltResult help = avlt->run({ "--help" });
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: avlt"), std::string::npos);
    AvltResult vaultHelp = avlt->run({ "vault", "--help" });
    EXPECT_EQ(vaultHelp.status, 0);
    EXPECT_NE(vaultHelp.out.find("--remove-source"), std::string::npos);
}
