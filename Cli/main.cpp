// avlt: the command-line tool. Everything but collecting the arguments lives
// in the AvCli library so that tests can drive it.

#include "CliApp.h"

#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    // The start folder is taken before anything can change the working directory.
    PathResolver resolver;
    const std::vector<std::string> words(argv + 1, argv + argc);
    CliApp app(std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1, std::move(resolver));
    return app.run(words);
}
