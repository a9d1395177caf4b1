#pragma once

// PathResolver makes the paths of a command line absolute against the folder
// the command was started in. It must be made before anything calls the
// library, because finding the data folder changes the working directory;
// after that a relative path would silently point into the data folder.

#include <string>

class PathResolver
{
public:
    // Remembers the current working directory as the start folder.
    PathResolver();
    explicit PathResolver(std::string startFolder);

    const std::string& startFolder() const { return m_startFolder; }

    // A relative path is joined to the start folder. The folder part is
    // resolved on disk (so ".." follows symbolic links as the kernel would);
    // the last name is kept, a trailing '/' dropped. Empty stays empty.
    std::string resolve(const std::string& path) const;

private:
    std::string m_startFolder;
};
