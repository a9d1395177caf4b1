#pragma once

// "avlt info FILE.avlt...": shows what a container's headers say without
// opening its contents, so it needs no account and no password: format
// version, file key id, data size, segment size, pad count and every share
// slot in file order (user name and key id, or a deleted slot).

#include "CliCommand.h"

#include <string>

class CCryptFile;

class InfoCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;
    int run(const CliOptions& options) override;

    // The description of one opened container, as printed.
    static std::string describe(const CCryptFile& container);
};
