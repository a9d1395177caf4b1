#pragma once

// CliApp: the avlt program without its main(): parses the words of the
// command line, makes every path absolute against the start folder before the
// library is called (finding the data folder changes the working directory),
// shows help, and runs the command. run() returns the exit status.

#include "PathResolver.h"

#include <ostream>
#include <string>
#include <vector>

struct CliOptions;

class CliApp
{
public:
    // `showProgress`: draw progress bars on standard error (it is a terminal).
    CliApp(std::ostream& out, std::ostream& err, bool showProgress, PathResolver resolver = PathResolver());

    // The words after the program name.
    int run(const std::vector<std::string>& words);

private:
    void resolvePaths(CliOptions& options) const;
    int dispatch(const CliOptions& options);

    std::ostream& m_out;
    std::ostream& m_err;
    bool m_showProgress;
    PathResolver m_resolver;
};
