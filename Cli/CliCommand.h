#pragma once

// CliCommand: one avlt command. CliApp parses the command line, resolves its
// paths against the start folder and hands the options to the command's
// run(), whose result is the program's exit status.

#include "CliArgumentParser.h"
#include "CliContext.h"

class CliCommand
{
public:
    // Exit statuses.
    static constexpr int Success = 0;
    static constexpr int Failed = 1;
    static constexpr int UsageError = 2;
    static constexpr int Cancelled = 130; // as a shell reports an interrupted program

    explicit CliCommand(CliContext& context)
        : m_context(context)
    {
    }
    virtual ~CliCommand() = default;
    CliCommand(const CliCommand&) = delete;
    CliCommand& operator=(const CliCommand&) = delete;

    virtual int run(const CliOptions& options) = 0;

protected:
    // Failed when anything was reported, else Success.
    int finalStatus() const;

    CliContext& m_context;
};
