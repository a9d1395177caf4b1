#pragma once

// "avlt shares FILE.avlt" lists the users a container is shared with, one per
// line, without signing in. With "--set A,B,..." it signs in and replaces the
// users by exactly that list; every user's public key must be known.

#include "CliCommand.h"

class SharesCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;
    int run(const CliOptions& options) override;

private:
    int list(const std::string& path);
    int replace(const std::string& path, const CliOptions& options);
};
