#include "CliCommand.h"

#include "CliReporter.h"

int CliCommand::finalStatus() const
{
    return m_context.reporter.failures() > 0 ? Failed : Success;
}
