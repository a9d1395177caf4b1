#include "CliReporter.h"

#include <cstdio>
#include <map>

std::string CliReporter::hex(std::uint32_t code)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", code);
    return text;
}

std::string CliReporter::describe(std::uint32_t code)
{
    static const std::map<std::uint32_t, const char*> texts = {
        { 0xA0000002, "shrinking is not supported" },
        { 0xA000000E, "the container's info packet is corrupt" },
        { 0xA0010001, "the file could not be opened" },
        { 0xA0010003, "the file is already shared with this key" },
        { 0xA0010005, "this account has no key to open the file" },
        { 0xA0010006, "no valid key (is anybody signed in?)" },
        { 0xA0010007, "the container ends unexpectedly or is empty" },
        { 0xA0010008, "not a container, or an unknown packet" },
        { 0xA0010009, "no public key for a recipient" },
        { 0xA001000C, "the container lacks necessary packets" },
        { 0xA001000D, "the file key is not in the key ring" },
        { 0xA001000E, "a container packet ends early" },
        { 0xA001000F, "the container has no owner share" },
        { 0xA0010010, "wrapping the file key failed" },
        { 0xA0010014, "the container has no shares" },
        { 0xA0010018, "out of memory" },
        { 0xA0010019, "the list of users is empty" },
        { 0xA001001A, "the container's segment size is invalid" },
        { 0xA001001B, "the container is open read-only" },
        { 0xA001001C, "the container was made by a newer version" },
        { 0xA001001D, "the container could not be written" },
        { 0xA001001E, "the container could not be read" },
        { 0xA0010021, "the container's headers could not be assembled" },
        { 0xA0010026, "the container's data size or a share is corrupt" },
        { 0xA0010029, "the container's headers could not be written" },
        { 0xA001002A, "the container's data could not be written" },
        { 0xA0050007, "the container ended before its recorded data size" },
        { 0xA005001D, "writing the unvaulted file failed" },
        { 0xA005001E, "reading the plain file failed" },
        { 0xA0050BB8, "the file could not be removed" },
        { 0xA0050BB9, "the file could not be opened (no access)" },
        { 0xA0050BBD, "the key server denied access" },
        { 0xA0050BBE, "the key server reported an error" },
        { 0xA0050BBF, "a user's public key could not be found" },
        { 0xA0050BC0, "the key server does not know the user" },
    };
    const auto found = texts.find(code);
    return found != texts.end() ? found->second : "failed";
}

std::string CliReporter::failureLine(
    const std::string& operation, const std::string& file, std::uint32_t code, const std::string& cause)
{
    return "avlt: " + operation + " failed for " + file + ": " + (cause.empty() ? describe(code) : cause) + " ("
        + hex(code) + ")";
}

void CliReporter::failure(
    const std::string& operation, const std::string& file, std::uint32_t code, const std::string& cause)
{
    ++m_failures;
    m_err << failureLine(operation, file, code, cause) << std::endl;
}

void CliReporter::problem(const std::string& operation, const std::string& file, const std::string& text)
{
    ++m_failures;
    m_err << "avlt: " << operation << " failed for " << file << ": " << text << std::endl;
}

void CliReporter::error(const std::string& text)
{
    ++m_failures;
    m_err << "avlt: " << text << std::endl;
}

void CliReporter::note(const std::string& text)
{
    m_err << "avlt: " << text << std::endl;
}
