#pragma once

// CliReporter writes avlt's messages: one line on standard error per thing
// that failed, in the form
//     avlt: vault failed for /path/file: the file key is not available (0xA0010005)
// naming the operation, the file and the library's result code in
// hexadecimal, and counts them so the command knows its exit status.

#include <cstdint>
#include <ostream>
#include <string>

class CliReporter
{
public:
    explicit CliReporter(std::ostream& err)
        : m_err(err)
    {
    }

    // A library call that failed for a file; a known `cause` replaces the
    // code's general explanation.
    void failure(const std::string& operation, const std::string& file, std::uint32_t code,
        const std::string& cause = std::string());
    // A refusal or problem found before the library was asked.
    void problem(const std::string& operation, const std::string& file, const std::string& text);
    // A failure not tied to a file (sign-in, account selection, usage).
    void error(const std::string& text);
    // A note that is not a failure (skipped files).
    void note(const std::string& text);

    int failures() const { return m_failures; }

    // "0xA0010005".
    static std::string hex(std::uint32_t code);
    // A short explanation of a library result code.
    static std::string describe(std::uint32_t code);
    static std::string failureLine(const std::string& operation, const std::string& file, std::uint32_t code,
        const std::string& cause = std::string());

private:
    std::ostream& m_err;
    int m_failures = 0;
};
