#include "settings/AvGlobalLibSettings.h"

#include "AvTempHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

class AvGlobalLibSettingsTest : public AvTempHome
{
};

TEST_F(AvGlobalLibSettingsTest, FirstCallCreatesFolderPrivatelyAndSecondEntersIt)
{
    createDocumentsFolder();
    const std::string expected = home() + "/Documents/Ardentvault/";

    testing::internal::CaptureStderr();
    EXPECT_EQ(AvGlobalLibSettings::instance().dataFolderPath(), expected);
    const std::string firstErr = testing::internal::GetCapturedStderr();
    EXPECT_EQ(firstErr.rfind("IO Exception in chdir: ", 0), 0u) << firstErr;
    EXPECT_EQ(firstErr.find("mkdir"), std::string::npos);

    struct stat info
    {
    };
    ASSERT_EQ(::stat(expected.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    testing::internal::CaptureStderr();
    EXPECT_EQ(AvGlobalLibSettings::instance().dataFolderPath(), expected);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(fs::equivalent(fs::current_path(), expected));
}

TEST_F(AvGlobalLibSettingsTest, MissingDocumentsFolderReportsBothAndStillReturnsPath)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(AvGlobalLibSettings::instance().dataFolderPath(), home() + "/Documents/Ardentvault/");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("IO Exception in chdir: "), std::string::npos);
    EXPECT_NE(err.find("IO Exception in mkdir: "), std::string::npos);
    EXPECT_FALSE(fs::exists(home() + "/Documents"));
}

TEST_F(AvGlobalLibSettingsTest, KeyRingFilePathUnderscoresName)
{
    dataFolder();
    EXPECT_EQ(
        AvGlobalLibSettings::instance().keyRingFilePath("a.b@c"), home() + "/Documents/Ardentvault/Keys/a_b_c.avltkey");
}

TEST(AvGlobalLibSettings, PlatformNameHasThreeNumbersAndIsStored)
{
    auto& settings = AvGlobalLibSettings::instance();
    const std::string name = settings.platformName();
#ifdef __APPLE__
    EXPECT_TRUE(std::regex_match(name, std::regex("OSX [0-9]+\\.[0-9]+\\.[0-9]+"))) << name;
#else
    EXPECT_TRUE(std::regex_match(name, std::regex("Linux [0-9]+\\.[0-9]+\\.[0-9]+"))) << name;
#endif
    EXPECT_EQ(settings.platform, name);
}

} // namespace
