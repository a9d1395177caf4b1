#pragma once

// FileWalker turns the paths given to "avlt vault" and "avlt unvault" into
// the list of (source, target) pairs to work on. Folders are walked
// recursively in name order without following symbolic links; files that do
// not fit the direction are left out: containers (names ending in ".avlt",
// any case) when vaulting, everything else when unvaulting. A container's
// target is its path plus ".avlt"; a plain file's is the container path
// without ".avlt". With a target folder, a named file lands directly in it and
// a walked folder keeps its own name and inner structure below it.

#include <string>
#include <vector>

class FileWalker
{
public:
    enum class Direction { Vault, Unvault };

    struct Job
    {
        std::string source;
        std::string target;
    };

    struct Result
    {
        std::vector<Job> jobs;
        std::vector<std::string> missing; // paths that do not exist or cannot be walked
        std::vector<std::string> skipped; // files named on the command line that do not fit the direction
    };

    // `paths` and `toFolder` must already be absolute; `toFolder` may be empty.
    static Result collect(const std::vector<std::string>& paths, Direction direction, const std::string& toFolder);

    static bool hasContainerName(const std::string& path);
    // The target of one file, relative to `toFolder` when that is set.
    static std::string targetFor(
        const std::string& source, const std::string& relative, Direction direction, const std::string& toFolder);
};
