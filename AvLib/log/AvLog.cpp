#include "log/AvLog.h"

#include "settings/AvGlobalLibSettings.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace {

// Process-wide log state. The path and flags are set once at start-up; the
// mutex only guards the path string against a torn read while it is set.
struct LogState
{
    std::mutex pathMutex;
    std::string path;
    std::atomic<bool> enabled{ false };
    std::atomic<int> lastOpenError{ 0 };
    std::atomic<int> level{ 4 };
    std::atomic<int> depth{ 1 };
};

LogState& state()
{
    static LogState s;
    return s;
}

const char* const kLevelNames[] = {
    "CRITICAL",
    "ERROR   ",
    "Warning ",
    "Info    ",
    "        ",
    "Stack   ",
    "Debug   ",
    "Debug1  ",
    "Debug2  ",
    "Debug3  ",
    "Debug4  ",
    "DebugGA  ",
    "DebugB  ",
    "DebugC  ",
    "DebugD  ",
};
constexpr int kLevelCount = sizeof(kLevelNames) / sizeof(kLevelNames[0]);

int tabsFor(int level)
{
    if (level == AvLog::Stack)
        return state().depth.load();
    if (level >= AvLog::Debug1 && level <= AvLog::DebugD)
        return level - AvLog::Debug;
    return 0;
}

// One append-mode open, write and close per message; returns the error
// number of a failed open, 0 on success.
int appendToFile(const std::string& path, const std::string& text)
{
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (!file)
        return errno ? errno : EIO;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fflush(file);
    std::fclose(file);
    return 0;
}

} // namespace

AvLog::AvLog() = default;

AvLog::AvLog(int level, const std::string& scopeName, const char* sourceFile, int line)
{
    if (scopeName.empty())
        return;
    m_level = level;
    m_scopeName = scopeName;
    appendPrefix(level);
    m_buffer << "ENTER " << static_cast<unsigned>(state().depth.load() - 1) << " \"" << scopeName << "\" within \""
             << (sourceFile ? sourceFile : "") << "\":" << line;
    if (isEnabled())
        writeBuffer();
    m_buffer.str(std::string());
    ++state().depth;
}

AvLog::~AvLog()
{
    if (!m_scopeName.empty()) {
        int depth = state().depth.load() - 1;
        if (depth < 0)
            depth = 0;
        state().depth = depth;
        appendPrefix(m_level);
        m_buffer << "LEAVE " << static_cast<unsigned>(depth - 1) << " \"" << m_scopeName << "\"";
        if (!m_returnValue.empty())
            m_buffer << " returns: " << m_returnValue;
    }
    if (isEnabled())
        writeBuffer();
}

std::ostream& AvLog::lineStream(int level)
{
    appendPrefix(level);
    return m_buffer;
}

void AvLog::setReturnValue(const std::string& text)
{
    m_returnValue = text;
}

void AvLog::appendPrefix(int level)
{
    if (level != Raw)
        m_buffer << linePrefix(level, std::chrono::system_clock::now());
}

void AvLog::writeBuffer()
{
    m_buffer << '\n';
    const int error = appendToFile(logPath(), m_buffer.str());
    if (error != 0) {
        state().enabled = false;
        state().lastOpenError = error;
    }
}

bool AvLog::isComposed(int level)
{
    if (state().level.load() < level)
        return false;
    std::lock_guard<std::mutex> lock(state().pathMutex);
    return !state().path.empty();
}

void AvLog::LogError(std::string text)
{
    AV_LOG(Error) << text;
}

void AvLog::setLogPath(const std::string& path)
{
    std::lock_guard<std::mutex> lock(state().pathMutex);
    state().path = path;
}

std::string AvLog::logPath()
{
    std::lock_guard<std::mutex> lock(state().pathMutex);
    return state().path;
}

bool AvLog::setEnabled(bool enabled)
{
    if (!enabled) {
        state().enabled = false;
        return false;
    }
    const int error = appendToFile(logPath(), std::string());
    state().enabled = (error == 0);
    if (error != 0)
        state().lastOpenError = error;
    return error == 0;
}

bool AvLog::isEnabled()
{
    return state().enabled.load();
}

int AvLog::lastOpenError()
{
    return state().lastOpenError.load();
}

int AvLog::level()
{
    return state().level.load();
}

void AvLog::setLevel(int level)
{
    state().level = level;
}

bool AvLog::writeStartBanner()
{
    AvGlobalLibSettings& settings = AvGlobalLibSettings::instance();
    setLogPath(settings.dataFolderPath() + "Ardentvault.log");
    setEnabled(true);
    {
        const std::string rule(100, '-');
        AvLog banner;
        banner.lineStream(Raw) << "\n\n\n"
                               << rule << '\n'
                               << "Ardentvault Start: " << timeStamp(std::chrono::system_clock::now()) << '\n'
                               << "Version          : "
                               << "0.9.1737 OSX" << '\n'
                               << "Platform         : " << settings.platformName() << '\n'
                               << rule << '\n';
    }
    return isEnabled();
}

std::string AvLog::timeStamp(std::chrono::system_clock::time_point when)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const long millis = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char timeText[16] = { 0 };
    std::strftime(timeText, sizeof timeText, "%X", &local);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%s.%03ld", timeText, millis < 0 ? millis + 1000 : millis);
    return stamp;
}

std::string AvLog::linePrefix(int level, std::chrono::system_clock::time_point when)
{
    std::string prefix = timeStamp(when) + " ";
    if (level >= 0 && level < kLevelCount)
        prefix += kLevelNames[level];
    prefix.append(static_cast<std::size_t>(tabsFor(level)), '\t');
    return prefix;
}
