#include "FileWalker.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kExtension = ".avlt";

bool fits(const std::string& path, FileWalker::Direction direction)
{
    return FileWalker::hasContainerName(path) == (direction == FileWalker::Direction::Unvault);
}

bool isRegularFile(const fs::path& path)
{
    std::error_code error;
    return fs::is_regular_file(fs::symlink_status(path, error));
}

// A real folder (not a link to one) the walk cannot list.
bool isUnreadableFolder(const fs::path& path)
{
    std::error_code error;
    return fs::is_directory(fs::symlink_status(path, error)) && ::access(path.c_str(), R_OK | X_OK) != 0;
}

// "docs/" and "docs" are both named "docs"; "." and ".." are named after the
// folder they stand for.
fs::path ownName(const fs::path& folder)
{
    std::error_code error;
    fs::path normal = fs::absolute(folder, error).lexically_normal();
    if (!normal.has_filename())
        normal = normal.parent_path();
    return normal.filename();
}

} // namespace

bool FileWalker::hasContainerName(const std::string& path)
{
    if (path.size() < kExtension.size())
        return false;
    return std::equal(kExtension.begin(), kExtension.end(), path.end() - kExtension.size(),
        [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

std::string FileWalker::targetFor(
    const std::string& source, const std::string& relative, Direction direction, const std::string& toFolder)
{
    const std::string base = toFolder.empty() ? source : (fs::path(toFolder) / relative).string();
    if (direction == Direction::Vault)
        return base + std::string(kExtension);
    return base.substr(0, base.size() - kExtension.size());
}

FileWalker::Result FileWalker::collect(
    const std::vector<std::string>& paths, Direction direction, const std::string& toFolder)
{
    Result result;
    for (const std::string& path : paths) {
        std::error_code error;
        const fs::file_status status = fs::status(path, error);
        if (error || !fs::exists(status)) {
            result.missing.push_back(path);
            continue;
        }
        if (!fs::is_directory(status)) {
            if (!fits(path, direction)) {
                result.skipped.push_back(path);
                continue;
            }
            const std::string name = fs::path(path).filename().string();
            result.jobs.push_back({ path, targetFor(path, name, direction, toFolder) });
            continue;
        }

        // A walked folder keeps its own name below the target folder, also
        // when given as "docs/", "." or "..", and never adds a ".." to a target.
        const fs::path folder(path);
        const fs::path folderName = ownName(folder);
        std::vector<fs::path> files;
        // A subfolder that cannot be read is reported on its own; the walk
        // goes on with everything else.
        fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
        if (error) {
            result.missing.push_back(path);
            continue;
        }
        for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
            if (error) {
                result.missing.push_back(path); // what was found so far is still vaulted
                break;
            }
            if (isUnreadableFolder(it->path()))
                result.missing.push_back(it->path().string());
            else if (isRegularFile(it->path()) && fits(it->path().string(), direction))
                files.push_back(it->path());
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            const fs::path relative = folderName / file.lexically_relative(folder);
            result.jobs.push_back({ file.string(), targetFor(file.string(), relative.string(), direction, toFolder) });
        }
    }
    return result;
}
