#pragma once

// The diagnostic log "Ardentvault.log" in the data folder. A message is
// composed in a short-lived AvLog on the caller's stack and appended to the
// file when that object is destroyed; the file is opened, appended to and
// closed for every message so the log survives crashes and can be read while
// the program runs. Compose through AV_LOG so disabled levels cost one
// comparison:
//
//     AV_LOG(AvLog::Error) << "AvKeyring - - LoadKeys failed: " << code;

#include <chrono>
#include <sstream>
#include <string>

class AvLog
{
public:
    enum Level {
        Critical = 0,
        Error = 1,
        Warning = 2,
        Info = 3,
        Raw = 4, // no time stamp, name or indentation (start banner)
        Stack = 5,
        Debug = 6,
        Debug1 = 7,
        Debug2 = 8,
        Debug3 = 9,
        Debug4 = 10,
        DebugGA = 11,
        DebugB = 12,
        DebugC = 13,
        DebugD = 14,
    };

    AvLog();
    // Scope tracing: writes an ENTER line now and a LEAVE line on destruction.
    AvLog(int level, const std::string& scopeName, const char* sourceFile, int line);
    ~AvLog();

    AvLog(const AvLog&) = delete;
    AvLog& operator=(const AvLog&) = delete;

    // Appends the line prefix of the level and returns the buffer to stream
    // the message into. Several lines may be composed in one object.
    std::ostream& lineStream(int level);

    // Text appended to the LEAVE line of a traced scope.
    void setReturnValue(const std::string& text);

    // Whether a message of this level is composed at all: the log path is set
    // and the level setting is at least `level`.
    static bool isComposed(int level);

    static void LogError(std::string text);

    static void setLogPath(const std::string& path);
    static std::string logPath();
    // Enabling tests the file with one append-mode open; on failure writing
    // stays off and the error number is kept.
    static bool setEnabled(bool enabled);
    static bool isEnabled();
    static int lastOpenError();
    static int level();
    static void setLevel(int level);

    // Points the log at the data folder, enables it and writes the start
    // banner. Returns whether writing is enabled.
    static bool writeStartBanner();

    // "%X" local time of day + ".mmm": the time stamp every prefixed line
    // starts with.
    static std::string timeStamp(std::chrono::system_clock::time_point when);
    // Time stamp, blank, level name and indentation for a level other than Raw.
    static std::string linePrefix(int level, std::chrono::system_clock::time_point when);

private:
    void appendPrefix(int level);
    void writeBuffer();

    std::ostringstream m_buffer;
    int m_level = Raw;
    std::string m_scopeName;
    std::string m_returnValue;
};

#define AV_LOG(level)                                                                                                  \
    if (!AvLog::isComposed(level)) {                                                                                   \
    } else                                                                                                             \
        AvLog().lineStream(level)
