// The real avlt against hostile names, folders and file systems. Every case
// ends with a clear message and the exit status, the source and any earlier
// container intact and no staging file left behind:
//  - non-ASCII names (NFC and NFD forms side by side, CJK, emoji) and names
//    that start with a dash vault and unvault to the same bytes and name;
//  - a name so long that its .avlt name exceeds the file system's limit fails
//    cleanly, one byte shorter works;
//  - a symbolic-link loop inside a folder being vaulted does not keep the walk going;
//  - a file larger than 4 GiB (sparse) comes back with its size and bytes;
//  - a full file system (a 1 MiB tmpfs, root only) refuses the new container
//    or plain file and keeps the old one;
//  - a source without read permission, a subfolder that cannot be listed
//    and a target folder without write permission (run as "nobody" when the
//    test runs as root, since root passes every permission check).

#include "AvltProcess.h"

#include "AvTempHome.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

namespace {

constexpr const char* kPassword = "robust password";

std::string randomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (auto& byte : bytes)
        byte = static_cast<char>(generator());
    return bytes;
}

class AvltHostileFiles : public AvTempHome
{
protected:
    void SetUp() override
    {
        AvTempHome::SetUp();
        m_work = home() + "/work";
        fs::create_directories(m_work);
        createDocumentsFolder();
        m_avlt = AvltProcess(home(), kPassword);
    }

    // Creates the local account the runs use.
    void createAccount()
    {
        const AvltOutcome created = m_avlt.run({ "account", "create-local" }, m_work);
        ASSERT_EQ(created.status, 0) << created.err;
    }

    std::string path(const std::string& name) const { return m_work + "/" + name; }
    AvltOutcome avlt(const std::vector<std::string>& args) const { return m_avlt.run(args, m_work); }

    // Names in `folder` that look like staging files.
    static std::vector<std::string> leftovers(const std::string& folder)
    {
        std::vector<std::string> found;
        std::error_code error;
        for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
            if (entry.path().filename().string().find(".avtmp-") != std::string::npos)
                found.push_back(entry.path().string());
        }
        return found;
    }

    std::string m_work;
    AvltProcess m_avlt{ std::string(), kPassword };
};

class AvltNames : public AvltHostileFiles, public ::testing::WithParamInterface<const char*>
{
protected:
    void SetUp() override
    {
        AvltHostileFiles::SetUp();
        createAccount();
    }
};

TEST_P(AvltNames, VaultAndUnvaultKeepNameAndBytes)
{
    const std::string name = GetParam();
    const std::string contents = randomBytes(5000, 7);
    ASSERT_TRUE(writeWholeFile(path(name), contents));

    // Given on the command line (after "--", as a dash name needs) and found by walking a folder.
    const AvltOutcome vaulted = avlt({ "vault", "--", name });
    ASSERT_EQ(vaulted.status, 0) << vaulted.err;
    ASSERT_TRUE(fs::exists(path(name + ".avlt")));
    fs::create_directories(path("folder"));
    ASSERT_TRUE(writeWholeFile(path("folder/" + name), contents));
    ASSERT_EQ(avlt({ "vault", "folder" }).status, 0);
    EXPECT_TRUE(fs::exists(path("folder/" + name + ".avlt")));

    const AvltOutcome unvaulted = avlt({ "unvault", "--to", "out", "--", name + ".avlt" });
    ASSERT_EQ(unvaulted.status, 0) << unvaulted.err;
    EXPECT_EQ(readWholeFile(path("out/" + name)), contents);
    EXPECT_TRUE(leftovers(m_work).empty());
}

INSTANTIATE_TEST_SUITE_P(Names, AvltNames,
    ::testing::Values("caf\xc3\xa9.txt", // NFC: e with acute as one code point
        "cafe\xcc\x81.txt", // NFD: e followed by the combining acute accent
        "\xe5\xa0\xb1\xe5\x91\x8a\xe6\x9b\xb8.txt", // CJK
        "\xf0\x9f\x98\x80\xf0\x9f\x93\x81.txt", // emoji
        "-rf.txt", "--overwrite", "-"));

TEST_F(AvltHostileFiles, NfcAndNfdNamesAreTwoFilesAndStayApart)
{
    createAccount();
    const std::string nfc = "caf\xc3\xa9.txt";
    const std::string nfd = "cafe\xcc\x81.txt";
    ASSERT_TRUE(writeWholeFile(path(nfc), "composed"));
    ASSERT_TRUE(writeWholeFile(path(nfd), "decomposed"));
    ASSERT_EQ(avlt({ "vault", "--remove-source", nfc, nfd }).status, 0);
    ASSERT_EQ(avlt({ "unvault", "--remove-source", nfc + ".avlt", nfd + ".avlt" }).status, 0);
    EXPECT_EQ(readWholeFile(path(nfc)), "composed");
    EXPECT_EQ(readWholeFile(path(nfd)), "decomposed");
}

TEST_F(AvltHostileFiles, NameTooLongForItsContainerFailsCleanly)
{
    createAccount();
    const std::string longest(255, 'n'); // the file system's limit: "<name>.avlt" cannot exist
    const std::string fitting(250, 'f'); // "<name>.avlt" has exactly 255 bytes
    ASSERT_TRUE(writeWholeFile(path(longest), "long"));
    ASSERT_TRUE(writeWholeFile(path(fitting), "fits"));

    const AvltOutcome tooLong = avlt({ "vault", longest });
    EXPECT_EQ(tooLong.status, 1);
    EXPECT_NE(tooLong.err.find(longest), std::string::npos) << tooLong.err;
    EXPECT_NE(tooLong.err.find("is longer than the file system allows (0x"), std::string::npos) << tooLong.err;
    EXPECT_EQ(readWholeFile(path(longest)), "long");

    const AvltOutcome fits = avlt({ "vault", fitting });
    EXPECT_EQ(fits.status, 0) << fits.err;
    EXPECT_TRUE(fs::exists(path(fitting + ".avlt")));
    EXPECT_TRUE(leftovers(m_work).empty());
}

TEST_F(AvltHostileFiles, SymbolicLinkLoopsDoNotKeepTheWalkGoing)
{
    m_avlt.setTimeLimit(std::chrono::seconds(120));
    createAccount();
    fs::create_directories(path("tree/inner"));
    ASSERT_TRUE(writeWholeFile(path("tree/inner/a.txt"), "a"));
    fs::create_directory_symlink("..", path("tree/inner/up")); // back to tree/
    fs::create_directory_symlink(path("tree"), path("tree/inner/self"));
    fs::create_symlink(path("tree/loop2"), path("tree/loop1"));
    fs::create_symlink(path("tree/loop1"), path("tree/loop2"));

    const AvltOutcome vaulted = avlt({ "vault", "tree" });
    ASSERT_FALSE(vaulted.timedOut);
    EXPECT_EQ(vaulted.status, 0) << vaulted.err;
    EXPECT_TRUE(fs::exists(path("tree/inner/a.txt.avlt")));
    EXPECT_FALSE(fs::exists(path("tree/loop1.avlt")));
}

TEST_F(AvltHostileFiles, FilesLargerThanFourGibibytesKeepSizeAndBytes)
{
    createAccount();
    const std::uint64_t size = (std::uint64_t(4) << 30) + 4097;
    const std::uint64_t probes[] = { 0, (std::uint64_t(1) << 32) - 3, std::uint64_t(1) << 32, size - 5 };
    {
        const int fd = ::open(path("big.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t(size)), 0); // sparse: no disk blocks for the zeros
        for (const std::uint64_t at : probes)
            ASSERT_EQ(::pwrite(fd, "PROBE", 5, off_t(at)), 5);
        ::close(fd);
    }

    ASSERT_EQ(avlt({ "vault", "big.bin" }).status, 0);
    const std::uint64_t padded = (size + 15) / 16 * 16;
    EXPECT_EQ(fs::file_size(path("big.bin.avlt")), 340 + padded);
    const AvltOutcome unvaulted = avlt({ "unvault", "--to", "out", "big.bin.avlt" });
    ASSERT_EQ(unvaulted.status, 0) << unvaulted.err;
    ASSERT_EQ(fs::file_size(path("out/big.bin")), size);

    // Every byte: the probes where they were written, zeros elsewhere.
    std::ifstream original(path("big.bin"), std::ios::binary);
    std::ifstream restored(path("out/big.bin"), std::ios::binary);
    std::string a(1 << 20, '\0');
    std::string b(1 << 20, '\0');
    std::uint64_t offset = 0;
    while (original.read(a.data(), std::streamsize(a.size())) || original.gcount() > 0) {
        const auto got = original.gcount();
        restored.read(b.data(), got);
        ASSERT_EQ(restored.gcount(), got);
        ASSERT_EQ(a.compare(0, std::size_t(got), b, 0, std::size_t(got)), 0) << "first difference near " << offset;
        offset += std::uint64_t(got);
    }
    EXPECT_EQ(offset, size);
}

// ---- full file system ----------------------------------------------------------

class AvltFullDisk : public AvltHostileFiles
{
protected:
    void SetUp() override
    {
        AvltHostileFiles::SetUp();
        if (::geteuid() != 0)
            GTEST_SKIP() << "mounting a small tmpfs needs root";
        createAccount();
        m_small = home() + "/small";
        fs::create_directories(m_small);
        if (::mount("tmpfs", m_small.c_str(), "tmpfs", 0, "size=1m") != 0)
            GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
        m_mounted = true;
    }
    void TearDown() override
    {
        if (m_mounted)
            ::umount2(m_small.c_str(), MNT_DETACH);
        AvltHostileFiles::TearDown();
    }

    std::string m_small;
    bool m_mounted = false;
};

TEST_F(AvltFullDisk, NewContainerIsRefusedAndLeavesNothing)
{
    const std::string contents = randomBytes(3 << 20, 1);
    ASSERT_TRUE(writeWholeFile(path("big.bin"), contents));
    const AvltOutcome vaulted = avlt({ "vault", "--to", m_small, "big.bin" });
    EXPECT_EQ(vaulted.status, 1);
    EXPECT_NE(vaulted.err.find("big.bin"), std::string::npos) << vaulted.err;
    EXPECT_NE(vaulted.err.find("not enough free space"), std::string::npos) << vaulted.err;
    EXPECT_EQ(readWholeFile(path("big.bin")), contents);
    EXPECT_FALSE(fs::exists(m_small + "/big.bin.avlt"));
    EXPECT_TRUE(leftovers(m_small).empty());
}

TEST_F(AvltFullDisk, ExistingContainerSurvivesAFailedReplacement)
{
    ASSERT_TRUE(writeWholeFile(path("doc.bin"), randomBytes(200000, 2)));
    ASSERT_EQ(avlt({ "vault", "--to", m_small, "doc.bin" }).status, 0);
    const std::string before = readWholeFile(m_small + "/doc.bin.avlt");

    const std::string bigger = randomBytes(3 << 20, 3);
    ASSERT_TRUE(writeWholeFile(path("doc.bin"), bigger));
    const AvltOutcome replaced = avlt({ "vault", "--overwrite", "--to", m_small, "doc.bin" });
    EXPECT_EQ(replaced.status, 1);
    EXPECT_NE(replaced.err.find("not enough free space"), std::string::npos) << replaced.err;
    EXPECT_EQ(readWholeFile(m_small + "/doc.bin.avlt"), before);
    EXPECT_EQ(readWholeFile(path("doc.bin")), bigger);
    EXPECT_TRUE(leftovers(m_small).empty());
}

TEST_F(AvltFullDisk, UnvaultingOntoAFullDiskKeepsTheContainerAndAnOldPlainFile)
{
    const std::string contents = randomBytes(3 << 20, 4);
    ASSERT_TRUE(writeWholeFile(path("data.bin"), contents));
    ASSERT_EQ(avlt({ "vault", "--remove-source", "data.bin" }).status, 0);
    const std::string container = readWholeFile(path("data.bin.avlt"));
    ASSERT_TRUE(writeWholeFile(m_small + "/data.bin", "old plain file"));

    const AvltOutcome unvaulted = avlt({ "unvault", "--overwrite", "--to", m_small, "data.bin.avlt" });
    EXPECT_EQ(unvaulted.status, 1);
    EXPECT_NE(unvaulted.err.find("not enough free space"), std::string::npos) << unvaulted.err;
    EXPECT_EQ(readWholeFile(m_small + "/data.bin"), "old plain file");
    EXPECT_EQ(readWholeFile(path("data.bin.avlt")), container);
    EXPECT_TRUE(leftovers(m_small).empty());
}

// ---- permissions ------------------------------------------------------------------

class AvltPermissions : public AvltHostileFiles
{
protected:
    void SetUp() override
    {
        AvltHostileFiles::SetUp();
        if (::geteuid() == 0) {
            // Root reads and writes everything: the runs go as "nobody", who owns the test folder.
            const passwd* nobody = ::getpwnam("nobody");
            if (!nobody)
                GTEST_SKIP() << "running as root and there is no user nobody to drop to";
            for (const auto& entry : fs::recursive_directory_iterator(home()))
                ASSERT_EQ(::lchown(entry.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
            ASSERT_EQ(::chown(home().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
            m_avlt.runAs(nobody->pw_uid, nobody->pw_gid);
        }
        createAccount();
    }
};

TEST_F(AvltPermissions, UnreadableSourceIsReportedAndNothingIsWritten)
{
    ASSERT_TRUE(writeWholeFile(path("secret.txt"), "cannot be read"));
    ASSERT_TRUE(writeWholeFile(path("open.txt"), "can be read"));
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        ASSERT_EQ(::chown(path("secret.txt").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        ASSERT_EQ(::chown(path("open.txt").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    ASSERT_EQ(::chmod(path("secret.txt").c_str(), 0), 0);

    const AvltOutcome vaulted = avlt({ "vault", "secret.txt", "open.txt" });
    EXPECT_EQ(vaulted.status, 1);
    EXPECT_NE(vaulted.err.find("secret.txt: the file could not be opened (no access) (0x"), std::string::npos)
        << vaulted.err;
    EXPECT_FALSE(fs::exists(path("secret.txt.avlt")));
    EXPECT_TRUE(fs::exists(path("open.txt.avlt"))) << "one failing file must not stop the others";
    ASSERT_EQ(::chmod(path("secret.txt").c_str(), 0600), 0);
    EXPECT_EQ(readWholeFile(path("secret.txt")), "cannot be read");
    EXPECT_TRUE(leftovers(m_work).empty());
}

TEST_F(AvltPermissions, TargetFolderWithoutWritePermissionKeepsSourceAndOldContainer)
{
    ASSERT_TRUE(writeWholeFile(path("doc.txt"), "first version"));
    fs::create_directories(path("locked"));
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        ASSERT_EQ(::chown(path("doc.txt").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        ASSERT_EQ(::chown(path("locked").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    ASSERT_EQ(avlt({ "vault", "--to", "locked", "doc.txt" }).status, 0);
    const std::string before = readWholeFile(path("locked/doc.txt.avlt"));
    ASSERT_TRUE(writeWholeFile(path("doc.txt"), "second version"));
    ASSERT_EQ(::chmod(path("locked").c_str(), 0555), 0);

    const AvltOutcome vaulted = avlt({ "vault", "--overwrite", "--to", "locked", "doc.txt" });
    EXPECT_EQ(vaulted.status, 1);
    EXPECT_NE(vaulted.err.find("locked cannot be written (0x"), std::string::npos) << vaulted.err;
    EXPECT_EQ(readWholeFile(path("locked/doc.txt.avlt")), before);
    EXPECT_EQ(readWholeFile(path("doc.txt")), "second version");
    ::chmod(path("locked").c_str(), 0755);
    EXPECT_TRUE(leftovers(m_work).empty());
}

TEST_F(AvltPermissions, UnreadableSubfolderIsReportedAndTheRestOfTheFolderIsVaulted)
{
    fs::create_directories(path("tree/sub"));
    for (const char* name : { "tree/a.txt", "tree/sub/b.txt", "tree/z.txt" })
        ASSERT_TRUE(writeWholeFile(path(name), name));
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        for (const auto& entry : fs::recursive_directory_iterator(path("tree")))
            ASSERT_EQ(::chown(entry.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        ASSERT_EQ(::chown(path("tree").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    ASSERT_EQ(::chmod(path("tree/sub").c_str(), 0), 0);

    const AvltOutcome vaulted = avlt({ "vault", "tree" });
    ::chmod(path("tree/sub").c_str(), 0755);
    EXPECT_EQ(vaulted.status, 1);
    EXPECT_NE(vaulted.err.find(path("tree/sub")), std::string::npos) << vaulted.err;
    EXPECT_TRUE(fs::exists(path("tree/a.txt.avlt")));
    EXPECT_TRUE(fs::exists(path("tree/z.txt.avlt")));
    EXPECT_FALSE(fs::exists(path("tree/sub/b.txt.avlt")));
}

} // namespace
