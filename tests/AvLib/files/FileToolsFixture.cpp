#include "FileToolsFixture.h"

#include "keyring/AvKeyring.h"

#include <filesystem>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

void FileToolsTest::SetUp()
{
    AvTempHome::SetUp();
    dataFolder();
    AvKeyring::instance().Reset();
    m_work = home() + "/work";
    fs::create_directories(m_work);
    m_user = createAccount(kPassword);
    ASSERT_EQ(m_user.size(), 6u);
}

void FileToolsTest::TearDown()
{
    AvKeyring::instance().Reset();
    AvKeyring::instance().setConnectorFactory({});
    AvTempHome::TearDown();
}

std::string FileToolsTest::createAccount(const char* password)
{
    return AvKeyring::instance().CreateLocalAccount(SecureString(password));
}

void FileToolsTest::signIn(const std::string& user, const char* password)
{
    ASSERT_EQ(AvKeyring::instance().UnlockWithPassword(user, SecureString(password)), "OK");
}

std::pair<std::uint64_t, std::string> FileToolsTest::ownPublicKey()
{
    AvKeyring& keyring = AvKeyring::instance();
    return { keyring.activeCryptKeyID, keyring.ExportPublicKey(keyring.activeCryptKeyID) };
}

std::string FileToolsTest::randomBytes(std::size_t size)
{
    std::mt19937_64 generator(size);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator());
    return bytes;
}

std::vector<std::string> FileToolsTest::stagingLeftovers() const
{
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(m_work)) {
        const std::string name = entry.path().filename().string();
        if (name.find(".avtmp-") != std::string::npos)
            names.push_back(name);
    }
    return names;
}

::testing::AssertionResult FileToolsTest::fileHolds(const std::string& path, const std::string& bytes)
{
    if (!fs::exists(path))
        return ::testing::AssertionFailure() << path << " does not exist";
    const std::string actual = readWholeFile(path);
    if (actual == bytes)
        return ::testing::AssertionSuccess();
    std::size_t offset = 0;
    while (offset < actual.size() && offset < bytes.size() && actual[offset] == bytes[offset])
        ++offset;
    return ::testing::AssertionFailure() << path << " holds " << actual.size() << " bytes, expected " << bytes.size()
                                         << "; first difference at offset " << offset;
}

std::uint64_t FileToolsTest::containerSize(std::uint64_t plainSize)
{
    return 340 + plainSize + (16 - plainSize % 16) % 16;
}

std::uint32_t FileToolsTest::runWithFileSizeLimit(
    std::uint64_t maxFileSize, const std::function<std::uint32_t()>& operation)
{
    int channel[2];
    if (::pipe(channel) != 0)
        return 0;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        // Past the limit writes fail with EFBIG instead of killing the process.
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{ maxFileSize, maxFileSize };
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const std::uint32_t code = operation();
        const ssize_t sent = ::write(channel[1], &code, sizeof code);
        ::_exit(sent == sizeof code ? 0 : 1);
    }
    ::close(channel[1]);
    std::uint32_t code = 0;
    const ssize_t received = ::read(channel[0], &code, sizeof code);
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(received, ssize_t(sizeof code)) << "the child did not report a result";
    return code;
}
