#pragma once

// CliHelp: the texts of "avlt --help" and "avlt COMMAND --help".

#include <string>

class CliHelp
{
public:
    // The overview without a command, else the command's own page.
    static std::string text(const std::string& command);
};
