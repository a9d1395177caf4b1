#include "PathResolver.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Without a readable working directory relative paths cannot mean anything;
// "/" keeps absolute paths working.
std::string currentFolder()
{
    std::error_code error;
    fs::path folder = fs::current_path(error);
    if (error || folder.empty())
        folder = fs::path("/");
    return folder.string();
}

} // namespace

PathResolver::PathResolver()
    : m_startFolder(currentFolder())
{
}

PathResolver::PathResolver(std::string startFolder)
    : m_startFolder(std::move(startFolder))
{
}

std::string PathResolver::resolve(const std::string& path) const
{
    if (path.empty())
        return path;
    std::string text = path;
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    const fs::path joined = fs::path(text).is_absolute() ? fs::path(text) : fs::path(m_startFolder) / text;

    // ".." must mean what the kernel makes of it, which depends on symbolic
    // links, so the folder part is resolved on disk; the last name is kept as
    // written so that a link itself is what gets vaulted or shredded.
    std::error_code error;
    const fs::path name = joined.filename();
    if (name == "." || name == ".." || name.empty()) {
        const fs::path folder = fs::weakly_canonical(joined, error);
        return error ? joined.lexically_normal().string() : folder.string();
    }
    const fs::path folder = fs::weakly_canonical(joined.parent_path(), error);
    if (error)
        return joined.lexically_normal().string();
    return (folder / name).string();
}
