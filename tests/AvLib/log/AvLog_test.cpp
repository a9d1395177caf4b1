#include "log/AvLog.h"

#include "AvTempHome.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <regex>

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

namespace {

// The log is process-wide: every test starts and ends with it switched off.
class AvLogTest : public AvTempHome
{
protected:
    void SetUp() override
    {
        AvTempHome::SetUp();
        resetLog();
    }
    void TearDown() override
    {
        resetLog();
        AvTempHome::TearDown();
    }
    static void resetLog()
    {
        AvLog::setEnabled(false);
        AvLog::setLogPath("");
        AvLog::setLevel(4);
    }
    std::string enableLogIn(const std::string& folder)
    {
        const std::string path = folder + "/test.log";
        AvLog::setLogPath(path);
        EXPECT_TRUE(AvLog::setEnabled(true));
        return path;
    }
};

class ScopedUtcTimeZone
{
public:
    ScopedUtcTimeZone()
    {
        if (const char* tz = std::getenv("TZ"))
            m_saved = tz, m_had = true;
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    ~ScopedUtcTimeZone()
    {
        if (m_had)
            ::setenv("TZ", m_saved.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::string m_saved;
    bool m_had = false;
};

Clock::time_point at(int hours, int minutes, int seconds, int millis)
{
    return Clock::time_point(std::chrono::hours(hours) + std::chrono::minutes(minutes) + std::chrono::seconds(seconds)
        + std::chrono::milliseconds(millis));
}

TEST_F(AvLogTest, TimeStampIsTimeOfDayWithThreeDigitMilliseconds)
{
    ScopedUtcTimeZone utc;
    EXPECT_EQ(AvLog::timeStamp(at(9, 5, 3, 7)), "09:05:03.007");
    EXPECT_EQ(AvLog::timeStamp(at(23, 59, 59, 999)), "23:59:59.999");
}

TEST_F(AvLogTest, PrefixCarriesLevelNameAndIndentation)
{
    ScopedUtcTimeZone utc;
    struct Case
    {
        int level;
        const char* afterStamp;
    };
    const Case cases[] = {
        { AvLog::Critical, " CRITICAL" },
        { AvLog::Error, " ERROR   " },
        { AvLog::Warning, " Warning " },
        { AvLog::Info, " Info    " },
        { AvLog::Debug, " Debug   " },
        { AvLog::Debug1, " Debug1  \t" },
        { AvLog::Debug2, " Debug2  \t\t" },
        { AvLog::DebugGA, " DebugGA  \t\t\t\t\t" },
        { AvLog::DebugD, " DebugD  \t\t\t\t\t\t\t\t" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(AvLog::linePrefix(c.level, at(9, 5, 3, 7)), std::string("09:05:03.007") + c.afterStamp) << c.level;
    // Scope lines indent by the current depth, which starts at 1.
    EXPECT_EQ(AvLog::linePrefix(AvLog::Stack, at(9, 5, 3, 7)), "09:05:03.007 Stack   \t");
}

TEST_F(AvLogTest, ErrorMessageIsOneStampedLine)
{
    const std::string path = enableLogIn(home());
    AV_LOG(AvLog::Error) << "AvKeyring - - failed " << 42;
    AvLog::LogError("second");

    const std::string text = readWholeFile(path);
    EXPECT_TRUE(std::regex_match(text,
        std::regex("[0-9:]+\\.[0-9]{3} ERROR   AvKeyring - - failed 42\n"
                   "[0-9:]+\\.[0-9]{3} ERROR   second\n")))
        << text;
}

TEST_F(AvLogTest, LevelsAboveSettingAreNotComposed)
{
    const std::string path = enableLogIn(home());
    int evaluated = 0;
    auto sideEffect = [&] { return ++evaluated; };
    AV_LOG(AvLog::Debug) << sideEffect();
    EXPECT_EQ(evaluated, 0);
    AvLog::setLevel(0);
    AV_LOG(AvLog::Error) << sideEffect();
    EXPECT_EQ(evaluated, 0);
    AV_LOG(AvLog::Critical) << sideEffect();
    EXPECT_EQ(evaluated, 1);
    EXPECT_NE(readWholeFile(path).find("CRITICAL1\n"), std::string::npos);
}

TEST_F(AvLogTest, EmptyPathComposesNothingAndTouchesNoFile)
{
    int evaluated = 0;
    AV_LOG(AvLog::Error) << ++evaluated;
    EXPECT_EQ(evaluated, 0);
    EXPECT_FALSE(AvLog::isComposed(AvLog::Critical));
    EXPECT_TRUE(fs::is_empty(home()));
}

TEST_F(AvLogTest, ScopeTracingWritesEnterAndLeave)
{
    ScopedUtcTimeZone utc;
    const std::string path = enableLogIn(home());
    {
        AvLog scope(AvLog::Stack, "Unlock", "AvKeyring.cpp", 12);
        scope.setReturnValue("OK");
    }
    const std::string text = readWholeFile(path);
    EXPECT_TRUE(std::regex_match(text,
        std::regex("[0-9:.]+ Stack   \tENTER 0 \"Unlock\" within \"AvKeyring.cpp\":12\n"
                   "[0-9:.]+ Stack   \tLEAVE 0 \"Unlock\" returns: OK\n")))
        << text;
}

TEST_F(AvLogTest, StartBannerSeparatesRunsAndNamesVersionAndPlatform)
{
    dataFolder();
    ASSERT_TRUE(AvLog::writeStartBanner());
    ASSERT_TRUE(AvLog::writeStartBanner());
    const std::string text = readWholeFile(home() + "/Documents/Ardentvault/Ardentvault.log");
    const std::string rule(100, '-');
    const std::regex banner("\n\n\n" + rule
        + "\nArdentvault Start: [0-9:]+\\.[0-9]{3}\n"
          "Version          : 0\\.9\\.1737 OSX\n"
          "Platform         : [A-Za-z]+ [0-9]+\\.[0-9]+\\.[0-9]+\n"
        + rule + "\n\n");
    EXPECT_EQ(text.rfind("\n\n\n" + rule, 0), 0u) << text;
    const auto banners = std::distance(std::sregex_iterator(text.begin(), text.end(), banner), std::sregex_iterator());
    EXPECT_EQ(banners, 2) << text;
}

TEST_F(AvLogTest, UnwritableDataFolderDisablesLogForGood)
{
    // A file where the Documents folder should be makes the data folder
    // impossible to create, even for root.
    ASSERT_TRUE(writeWholeFile(home() + "/Documents", "not a folder"));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(AvLog::writeStartBanner());
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(AvLog::isEnabled());
    EXPECT_NE(AvLog::lastOpenError(), 0);

    AV_LOG(AvLog::Error) << "lost";
    EXPECT_FALSE(AvLog::isEnabled());
}

TEST_F(AvLogTest, FailedWriteDisablesAndKeepsError)
{
    const std::string folder = home() + "/logs";
    fs::create_directory(folder);
    enableLogIn(folder);
    fs::remove_all(folder);
    ASSERT_TRUE(writeWholeFile(folder, "now a file"));

    AV_LOG(AvLog::Error) << "lost";
    EXPECT_FALSE(AvLog::isEnabled());
    EXPECT_EQ(AvLog::lastOpenError(), ENOTDIR);
    EXPECT_EQ(readWholeFile(folder), "now a file");
}

} // namespace
