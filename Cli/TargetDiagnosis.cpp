#include "TargetDiagnosis.h"

#include <filesystem>
#include <sys/statvfs.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string folderOf(const std::string& target)
{
    const fs::path parent = fs::path(target).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

bool nameTooLong(const std::string& target)
{
    const long limit = ::pathconf(folderOf(target).c_str(), _PC_NAME_MAX);
    return limit > 0 && fs::path(target).filename().string().size() > std::size_t(limit);
}

bool folderNotWritable(const std::string& target)
{
    return ::access(folderOf(target).c_str(), W_OK | X_OK) != 0;
}

bool tooLittleSpace(const std::string& target, std::uint64_t bytesNeeded)
{
    struct statvfs info = {};
    if (::statvfs(folderOf(target).c_str(), &info) != 0)
        return false;
    return std::uint64_t(info.f_bavail) * info.f_frsize < bytesNeeded;
}

} // namespace

std::string TargetDiagnosis::explain(const std::string& target, std::uint64_t bytesNeeded)
{
    if (nameTooLong(target))
        return "the name " + fs::path(target).filename().string() + " is longer than the file system allows";
    if (folderNotWritable(target))
        return "the folder " + folderOf(target) + " cannot be written";
    if (tooLittleSpace(target, bytesNeeded))
        return "not enough free space for " + target;
    return {};
}
