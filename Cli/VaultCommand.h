#pragma once

// "avlt vault" and "avlt unvault": collects the files (FileWalker), refuses
// targets that exist unless --overwrite, signs in and runs the file tools on
// each file with a progress bar, going on after a failed file and stopping at
// the first Ctrl-C. A failure is one line per file on standard error.

#include "CliCommand.h"
#include "FileWalker.h"

class VaultCommand : public CliCommand
{
public:
    VaultCommand(CliContext& context, FileWalker::Direction direction)
        : CliCommand(context)
        , m_direction(direction)
    {
    }
    int run(const CliOptions& options) override;

private:
    const char* operation() const;
    bool prepareTarget(const FileWalker::Job& job, const CliOptions& options);
    static std::string likelyCause(const FileWalker::Job& job, std::uint32_t code);

    FileWalker::Direction m_direction;
};
