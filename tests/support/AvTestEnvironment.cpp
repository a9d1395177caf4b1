#include "AvTestEnvironment.h"

#include <cstdlib>
#include <sstream>

std::optional<std::string> readVariable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

void restoreVariable(const char* name, const std::optional<std::string>& value)
{
    if (value)
        ::setenv(name, value->c_str(), 1);
    else
        ::unsetenv(name);
}

std::string codeInMail(const std::string& mail)
{
    std::istringstream lines(mail);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() >= 6 && line.size() <= 9 && line.find_first_not_of("0123456789") == std::string::npos)
            return line;
    }
    return {};
}
