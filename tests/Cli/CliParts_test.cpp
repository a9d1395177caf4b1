// The pieces of avlt that need no account: the command line parser, path
// resolution against the start folder, the folder walk with its target names,
// the failure line, the progress bar line and the password file.

#include "AvTempHome.h"

#include "CliArgumentParser.h"
#include "CliReporter.h"
#include "FileWalker.h"
#include "PasswordSource.h"
#include "PathResolver.h"
#include "ProgressBar.h"
#include "TargetDiagnosis.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> words(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> result;
    for (std::string word; in >> word;)
        result.push_back(word);
    return result;
}

} // namespace

TEST(CliArgumentParser, ReadsGlobalOptionsBeforeAndAfterTheCommand)
{
    std::string error;
    auto options = CliArgumentParser::parse(
        words("--user 123456 vault --to out --remove-source --password-file=pw a b --overwrite --offline"), error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->command, "vault");
    EXPECT_EQ(options->user, "123456");
    EXPECT_EQ(options->passwordFile, "pw");
    EXPECT_EQ(options->toFolder, "out");
    EXPECT_TRUE(options->removeSource);
    EXPECT_TRUE(options->overwrite);
    EXPECT_TRUE(options->offline);
    EXPECT_EQ(options->paths, (std::vector<std::string>{ "a", "b" }));
}

TEST(CliArgumentParser, ReadsEachCommandsOwnArguments)
{
    std::string error;
    auto shares = CliArgumentParser::parse({ "shares", "f.avlt", "--set", "123456, Alice@Example.ORG,, ,bob" }, error);
    ASSERT_TRUE(shares) << error;
    ASSERT_TRUE(shares->setUsers);
    EXPECT_EQ(*shares->setUsers, (std::vector<std::string>{ "123456", "alice@example.org", "bob" }));

    auto shred = CliArgumentParser::parse(words("shred --passes 7 x"), error);
    ASSERT_TRUE(shred) << error;
    EXPECT_EQ(shred->passes, 7);

    auto account = CliArgumentParser::parse(words("account create-local"), error);
    ASSERT_TRUE(account) << error;
    EXPECT_EQ(account->subcommand, "create-local");

    // "--" lets a file be named like an option.
    auto dashed = CliArgumentParser::parse({ "shred", "--", "--passes" }, error);
    ASSERT_TRUE(dashed) << error;
    EXPECT_EQ(dashed->paths, std::vector<std::string>{ "--passes" });
}

TEST(CliArgumentParser, ReadsTheAccountSubcommandsAndTheirOptions)
{
    std::string error;
    auto reg = CliArgumentParser::parse(
        words("account register --email ann@example.org --first Ann --last=Lee --no-recovery"), error);
    ASSERT_TRUE(reg) << error;
    EXPECT_EQ(reg->subcommand, "register");
    EXPECT_EQ(reg->email, "ann@example.org");
    EXPECT_EQ(reg->firstName, "Ann");
    EXPECT_EQ(reg->lastName, "Lee");
    EXPECT_TRUE(reg->noRecovery);

    auto verify = CliArgumentParser::parse(
        words("--user x account verify --email a@b.c --code 123456 --new-password-file new.txt"), error);
    ASSERT_TRUE(verify) << error;
    EXPECT_EQ(verify->code, "123456");
    EXPECT_EQ(verify->newPasswordFile, "new.txt");
    EXPECT_FALSE(verify->noRecovery);

    for (const char* line : { "account signin", "account whoami", "--offline account signin",
             "account change-password --no-recovery", "account recover --email a@b.c",
             "account recover --email a@b.c --code 1", "account reset --email a@b.c --no-recovery" }) {
        auto options = CliArgumentParser::parse(words(line), error);
        EXPECT_TRUE(options) << line << ": " << error;
    }
}

TEST(CliArgumentParser, HelpNeedsNothingElse)
{
    std::string error;
    for (const char* line : { "--help", "-h", "vault --help", "shares -h" }) {
        auto options = CliArgumentParser::parse(words(line), error);
        ASSERT_TRUE(options) << line << ": " << error;
        EXPECT_TRUE(options->help) << line;
    }
}

struct BadLine
{
    const char* line;
    const char* errorPart;
};

class CliArgumentParserRefuses : public ::testing::TestWithParam<BadLine>
{
};

TEST_P(CliArgumentParserRefuses, WithAReason)
{
    std::string error;
    EXPECT_FALSE(CliArgumentParser::parse(words(GetParam().line), error));
    EXPECT_NE(error.find(GetParam().errorPart), std::string::npos) << "error was: " << error;
}

INSTANTIATE_TEST_SUITE_P(Lines, CliArgumentParserRefuses,
    ::testing::Values(BadLine{ "", "no command" }, BadLine{ "frobnicate x", "unknown command" },
        BadLine{ "vault", "at least one path" }, BadLine{ "vault --bogus x", "unknown option" },
        BadLine{ "info --to out f.avlt", "has no option --to" }, BadLine{ "shred --passes many x", "--passes" },
        BadLine{ "shred --passes -1 x", "--passes" }, BadLine{ "vault --to", "needs a value" },
        BadLine{ "vault --to= x", "needs a value" }, BadLine{ "vault --overwrite=yes x", "takes no value" },
        BadLine{ "shares a.avlt b.avlt", "exactly one file" }, BadLine{ "shares a.avlt --set ,", "--set" },
        BadLine{ "account", "create-local" }, BadLine{ "account delete", "unknown account" },
        BadLine{ "account register --first A --last B", "needs --email" },
        BadLine{ "account register --email a@b.c --last B", "--first NAME and --last NAME" },
        BadLine{ "account verify --email a@b.c", "needs --code" }, BadLine{ "account recover", "needs --email" },
        BadLine{ "account reset --code 1", "needs --email" },
        BadLine{ "account signin --email a@b.c", "account signin has no option --email" },
        BadLine{ "account recover --email a@b.c --no-recovery", "account recover has no option --no-recovery" },
        BadLine{ "account create-local --code 1", "has no option --code" },
        BadLine{ "account whoami extra", "takes no further arguments" },
        BadLine{ "vault --email a@b.c x", "has no option --email" }, BadLine{ "--to out", "needs a command" }));

class PathResolverTest : public AvTempHome
{
};

TEST_F(PathResolverTest, JoinsRelativePathsToTheStartFolder)
{
    const PathResolver resolver("/start/here");
    EXPECT_EQ(resolver.resolve("/abs/file"), "/abs/file");
    EXPECT_EQ(resolver.resolve(""), "");
    EXPECT_EQ(fs::path(resolver.resolve("file.txt")), fs::path("/start/here/file.txt"));
    EXPECT_EQ(fs::path(resolver.resolve("folder/")), fs::path("/start/here/folder"));
}

TEST_F(PathResolverTest, KeepsTheStartFolderAfterTheWorkingDirectoryChanges)
{
    const std::string start = home() + "/start";
    fs::create_directories(start);
    fs::current_path(start);
    const PathResolver resolver;
    fs::current_path(home());
    EXPECT_EQ(resolver.resolve("file.txt"), fs::canonical(start).string() + "/file.txt");
}

// "link/.." is the link target's parent for the kernel, not the link's folder.
TEST_F(PathResolverTest, ResolvesDotDotThroughSymbolicLinksAsTheKernelDoes)
{
    fs::create_directories(home() + "/a/deep/target");
    fs::create_directories(home() + "/b");
    fs::create_directory_symlink(home() + "/a/deep/target", home() + "/b/link");
    const PathResolver resolver(home() + "/b");
    EXPECT_EQ(resolver.resolve("link/../x"), fs::canonical(home() + "/a/deep").string() + "/x");
}

class FileWalkerTest : public AvTempHome
{
protected:
    void SetUp() override
    {
        AvTempHome::SetUp();
        root = home() + "/docs";
        for (const char* file : { "a.txt", "b.AVLT", "sub/c.txt", "sub/c.txt.avlt", "sub/deeper/d.bin" }) {
            fs::create_directories(fs::path(root + "/" + file).parent_path());
            writeWholeFile(root + "/" + file, "x");
        }
        fs::create_symlink(root + "/a.txt", root + "/link-to-a");
    }
    std::string root;
};

TEST_F(FileWalkerTest, VaultingWalksFoldersAndSkipsContainers)
{
    const auto result = FileWalker::collect({ root }, FileWalker::Direction::Vault, "");
    std::vector<std::pair<std::string, std::string>> jobs;
    for (const auto& job : result.jobs)
        jobs.emplace_back(job.source.substr(root.size()), job.target.substr(root.size()));
    EXPECT_EQ(jobs,
        (std::vector<std::pair<std::string, std::string>>{
            { "/a.txt", "/a.txt.avlt" },
            { "/sub/c.txt", "/sub/c.txt.avlt" },
            { "/sub/deeper/d.bin", "/sub/deeper/d.bin.avlt" },
        }));
    EXPECT_TRUE(result.missing.empty());
}

TEST_F(FileWalkerTest, UnvaultingTakesOnlyContainersAndATargetFolderKeepsTheStructure)
{
    const auto result = FileWalker::collect({ root }, FileWalker::Direction::Unvault, "/out");
    ASSERT_EQ(result.jobs.size(), 2u);
    EXPECT_EQ(result.jobs[0].source, root + "/b.AVLT");
    EXPECT_EQ(result.jobs[0].target, "/out/docs/b");
    EXPECT_EQ(result.jobs[1].target, "/out/docs/sub/c.txt");
}

TEST_F(FileWalkerTest, AFolderKeepsItsOwnNameHoweverItIsWritten)
{
    fs::current_path(root + "/sub");
    for (const std::string& spelling : { root + "/sub", root + "/sub/", root + "/sub/.", std::string("."),
             std::string("./"), std::string("deeper/..") }) {
        SCOPED_TRACE(spelling);
        const auto result = FileWalker::collect({ spelling }, FileWalker::Direction::Vault, "/out");
        ASSERT_EQ(result.jobs.size(), 2u);
        EXPECT_EQ(result.jobs[0].target, "/out/sub/c.txt.avlt");
        EXPECT_EQ(result.jobs[1].target, "/out/sub/deeper/d.bin.avlt");
    }
    fs::current_path(root + "/sub/deeper");
    const auto parent = FileWalker::collect({ ".." }, FileWalker::Direction::Vault, "/out");
    ASSERT_EQ(parent.jobs.size(), 2u);
    EXPECT_EQ(parent.jobs[0].target, "/out/sub/c.txt.avlt");
}

TEST_F(FileWalkerTest, NamedFilesGoStraightIntoTheTargetFolderAndMisfitsAreReported)
{
    const auto result = FileWalker::collect(
        { root + "/sub/c.txt", root + "/b.AVLT", root + "/missing" }, FileWalker::Direction::Vault, "/out");
    ASSERT_EQ(result.jobs.size(), 1u);
    EXPECT_EQ(result.jobs[0].target, "/out/c.txt.avlt");
    EXPECT_EQ(result.skipped, std::vector<std::string>{ root + "/b.AVLT" });
    EXPECT_EQ(result.missing, std::vector<std::string>{ root + "/missing" });
}

TEST(CliReporter, AFailureLineNamesOperationFileReasonAndHexCode)
{
    EXPECT_EQ(CliReporter::failureLine("unvault", "/w/x.avlt", 0xA0010008),
        "avlt: unvault failed for /w/x.avlt: not a container, or an unknown packet (0xA0010008)");
    EXPECT_EQ(CliReporter::hex(0x20050BBB), "0x20050BBB");
    std::ostringstream err;
    CliReporter reporter(err);
    reporter.note("skipping");
    EXPECT_EQ(reporter.failures(), 0);
    reporter.failure("vault", "/f", 0xA0050BB9);
    EXPECT_EQ(reporter.failures(), 1);
}

class TargetDiagnosisTest : public AvTempHome
{
};

TEST_F(TargetDiagnosisTest, NamesTheReasonATargetCouldNotBeWritten)
{
    const std::string folder = home() + "/out";
    fs::create_directories(folder);
    struct Case
    {
        std::string target;
        std::uint64_t bytesNeeded;
        std::string expected;
    };
    const Case cases[] = {
        { folder + "/" + std::string(255, 'n'), 10, "" },
        { folder + "/" + std::string(256, 'n'), 10,
            "the name " + std::string(256, 'n') + " is longer than the file system allows" },
        { folder + "/report.pdf.avlt", UINT64_MAX, "not enough free space for " + folder + "/report.pdf.avlt" },
        { folder + "/report.pdf.avlt", 4096, "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target.substr(folder.size()));
        EXPECT_EQ(TargetDiagnosis::explain(c.target, c.bytesNeeded), c.expected);
    }
    if (::geteuid() != 0) { // root writes anywhere
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_EQ(
            TargetDiagnosis::explain(folder + "/report.pdf.avlt", 10), "the folder " + folder + " cannot be written");
        fs::permissions(folder, fs::perms::owner_all);
    }
}

TEST(CliReporter, AKnownCauseReplacesTheGeneralExplanation)
{
    EXPECT_EQ(CliReporter::failureLine("vault", "/w/x", 0xA001002A, "not enough free space for /w/x.avlt"),
        "avlt: vault failed for /w/x: not enough free space for /w/x.avlt (0xA001002A)");
}

TEST(ProgressBar, RendersPercentAndKeepsTheEndOfLongNames)
{
    EXPECT_EQ(ProgressBar::render(0, "f", 10), "[..........]   0% f");
    EXPECT_EQ(ProgressBar::render(45, "f", 10), "[####......]  45% f");
    EXPECT_EQ(ProgressBar::render(130, "f", 10), "[##########] 100% f");
    const std::string line = ProgressBar::render(50, std::string(60, 'a') + "-the-end.txt", 10);
    EXPECT_NE(line.find("...a"), std::string::npos);
    EXPECT_EQ(line.substr(line.size() - 12), "-the-end.txt");
}

class PasswordSourceTest : public AvTempHome
{
protected:
    void TearDown() override
    {
        ::unsetenv(PasswordSource::EnvironmentVariable);
        AvTempHome::TearDown();
    }
};

TEST_F(PasswordSourceTest, TakesTheFirstLineOfTheFileWithoutItsEnding)
{
    const std::string path = home() + "/pw";
    std::string error;
    for (const char* content : { "s3cret\r\nsecond line\n", "s3cret\n", "s3cret" }) {
        writeWholeFile(path, content);
        const auto password = PasswordSource::readFirstLine(path, error);
        ASSERT_TRUE(password) << error;
        EXPECT_EQ(std::string(password->c_str()), "s3cret");
    }
}

TEST_F(PasswordSourceTest, TheFileWinsOverTheEnvironmentAndAnEmptyPasswordIsRefused)
{
    const std::string path = home() + "/pw";
    writeWholeFile(path, "from-file\n");
    ::setenv(PasswordSource::EnvironmentVariable, "from-env", 1);
    std::string error;
    auto password = PasswordSource(path).obtain("Password", false, error);
    ASSERT_TRUE(password) << error;
    EXPECT_EQ(std::string(password->c_str()), "from-file");

    password = PasswordSource("").obtain("Password", false, error);
    ASSERT_TRUE(password) << error;
    EXPECT_EQ(std::string(password->c_str()), "from-env");

    ::setenv(PasswordSource::EnvironmentVariable, "", 1);
    EXPECT_FALSE(PasswordSource("").obtain("Password", false, error));
    EXPECT_NE(error.find("empty"), std::string::npos);

    EXPECT_FALSE(PasswordSource(home() + "/missing").obtain("Password", false, error));
    EXPECT_NE(error.find("missing"), std::string::npos);
}
