#pragma once

// "avlt shred [--passes N] PATH...": overwrites each file N times (1 by
// default, at most 32) with random bytes and deletes it. Folders and symbolic
// links are refused: shredding goes through a link to a file elsewhere.

#include "CliCommand.h"

class ShredCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;
    int run(const CliOptions& options) override;
};
