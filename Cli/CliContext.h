#pragma once

// CliContext: what every avlt command writes to and how: standard output for
// results, standard error through the reporter for failures, and whether a
// progress bar may be drawn (standard error is a terminal).

#include <ostream>

class CliReporter;

struct CliContext
{
    std::ostream& out;
    CliReporter& reporter;
    bool showProgress = false;
};
