#pragma once

// "avlt account create-local": creates a local account (a six-digit id with
// its first key pair in a new key-ring file) protected by a password, and
// prints the id on standard output.

#include "CliCommand.h"

class AccountCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;
    int run(const CliOptions& options) override;

private:
    bool ensureDataFolder();
};
