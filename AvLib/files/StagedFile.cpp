#include "files/StagedFile.h"

#include "files/FileHandle.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <mutex>
#include <string_view>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace fs = std::filesystem;

namespace {

// Leaves room in a 255-byte name for the dot and the suffix.
constexpr std::size_t kMaxKeptName = 200;
constexpr int kNameAttempts = 100;
constexpr std::size_t kSuffixLength = 8;
constexpr std::string_view kSuffixAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789";

std::string randomSuffix()
{
    unsigned char bytes[kSuffixLength] = {};
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        // The name only has to differ from other staging files, and O_EXCL
        // catches a clash: the clock will do.
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        const auto mixed = std::uint64_t(now.tv_nsec) ^ (std::uint64_t(now.tv_sec) << 30) ^ std::uint64_t(::getpid());
        for (std::size_t i = 0; i < sizeof bytes; ++i)
            bytes[i] = static_cast<unsigned char>(mixed >> (i * 8));
    }
    std::string suffix;
    for (unsigned char byte : bytes)
        suffix += kSuffixAlphabet[byte % kSuffixAlphabet.size()];
    return suffix;
}

// The staging name's first part for `target`: "." + name (cut) + ".avtmp-".
std::string stagingPrefix(const fs::path& target)
{
    std::string name = target.filename().string();
    if (name.size() > kMaxKeptName)
        name.resize(kMaxKeptName);
    return "." + name + ".avtmp-";
}

fs::path folderOf(const fs::path& target)
{
    return target.has_parent_path() ? target.parent_path() : fs::path(".");
}

// ".NAME.avtmp-XXXXXXXX" with a suffix randomSuffix() could have made.
bool isStagingName(const std::string& entry)
{
    constexpr std::string_view marker = ".avtmp-";
    const std::size_t suffixAt = entry.size() - std::min(entry.size(), kSuffixLength);
    return entry.size() > 1 + marker.size() + kSuffixLength && entry[0] == '.'
        && entry.compare(suffixAt - marker.size(), marker.size(), marker) == 0
        && entry.find_first_not_of(kSuffixAlphabet, suffixAt) == std::string::npos;
}

// Tries random staging names beside `target` until `claim` takes one; a
// failure other than "the name is taken" ends the search.
template <class Claim>
bool claimStagingName(const std::string& target, Claim claim)
{
    const fs::path folder = folderOf(fs::path(target));
    const std::string prefix = stagingPrefix(fs::path(target));
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        if (claim((folder / (prefix + randomSuffix())).string()))
            return true;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

std::string resolveLink(const std::string& target)
{
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(target, error)))
        return target;
    const fs::path resolved = fs::weakly_canonical(target, error);
    return error ? target : resolved.string();
}

std::vector<std::string> abandonedStagingFilesIn(const fs::path& folder)
{
    std::vector<std::string> abandoned;
    std::error_code error;
    // Stepped with error codes: a folder that changes or vanishes meanwhile ends the walk, not the program.
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        if (!isStagingName(entry->path().filename().string()))
            continue;
        FileHandle file = FileHandle::open(entry->path().string(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
        if (!file.isOpen())
            continue;
        struct stat info = {};
        // Only a regular file nobody holds: a live writer keeps its lock.
        if (::fstat(file.fd(), &info) == 0 && S_ISREG(info.st_mode) && ::flock(file.fd(), LOCK_SH | LOCK_NB) == 0)
            abandoned.push_back(entry->path().string());
    }
    return abandoned;
}

} // namespace

StagedFile::~StagedFile()
{
    discard();
}

bool StagedFile::canReplace(const std::string& target)
{
    struct stat info = {};
    if (::stat(target.c_str(), &info) != 0)
        return errno == ENOENT;
    if (!S_ISREG(info.st_mode))
        return false;
    return FileHandle::open(target, O_WRONLY).isOpen();
}

std::vector<std::string> StagedFile::abandonedStagingFiles(const std::string& target)
{
    return abandonedStagingFilesIn(folderOf(fs::path(resolveLink(target))));
}

void StagedFile::removeAbandoned(const std::string& folder)
{
    for (const std::string& path : abandonedStagingFilesIn(folder)) {
        FileHandle file = FileHandle::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
        // Checked again under an exclusive lock, which a starting writer would hold.
        if (file.isOpen() && ::flock(file.fd(), LOCK_EX | LOCK_NB) == 0)
            ::unlink(path.c_str());
    }
}

void StagedFile::removeAbandonedOnceInAWhile(const std::string& folder)
{
    // Leftovers appear only when a writer dies, which is rare; listing a
    // folder of N files for each of N new files is not.
    static std::mutex mutex;
    static std::unordered_map<std::string, std::chrono::steady_clock::time_point> lastLooked;
    constexpr auto kLookAgainAfter = std::chrono::seconds(5);
    constexpr std::size_t kFoldersRemembered = 4096;

    struct stat info = {};
    if (::stat(folder.c_str(), &info) != 0)
        return;
    std::error_code error;
    // The inode tells a new folder from a removed one that had the same name.
    const std::string key =
        fs::absolute(folder, error).string() + '\0' + std::to_string(info.st_dev) + ':' + std::to_string(info.st_ino);
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::mutex> guard(mutex);
        const auto found = lastLooked.find(key);
        if (found != lastLooked.end() && now - found->second < kLookAgainAfter)
            return;
        if (lastLooked.size() >= kFoldersRemembered)
            lastLooked.clear();
        lastLooked[key] = now;
    }
    removeAbandoned(folder);
}

bool StagedFile::create(const std::string& target)
{
    discard();
    m_target = resolveLink(target);
    const std::string folder = folderOf(fs::path(m_target)).string();
    removeAbandonedOnceInAWhile(folder);
    if (!createUnnamed(folder) && !createNamed())
        return false;
    struct stat info = {};
    if (::stat(m_target.c_str(), &info) == 0 && S_ISREG(info.st_mode))
        ::fchmod(m_lock.fd(), info.st_mode & 07777);
    m_pending = true;
    return true;
}

bool StagedFile::createUnnamed(const std::string& folder)
{
    FileHandle file = FileHandle::open(folder, O_TMPFILE | O_RDWR, 0666);
    if (!file.isOpen())
        return false; // not supported here, or the folder takes no files: a named file will tell
    // Callers open the staging file again by its path; without /proc there is none.
    const std::string path = "/proc/self/fd/" + std::to_string(file.fd());
    struct stat opened = {};
    struct stat throughProc = {};
    if (::fstat(file.fd(), &opened) != 0 || ::stat(path.c_str(), &throughProc) != 0
        || opened.st_dev != throughProc.st_dev || opened.st_ino != throughProc.st_ino)
        return false;
    // Locked too, so that the short moment in commit() when it has a name in
    // the folder does not look like a leftover to someone else.
    adopt(std::move(file), path, true);
    return true;
}

bool StagedFile::createNamed()
{
    return claimStagingName(m_target, [this](const std::string& candidate) {
        FileHandle file = FileHandle::open(candidate, O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (!file.isOpen())
            return false;
        adopt(std::move(file), candidate, false);
        return true;
    });
}

// Keeps the new staging file open and locked for as long as this object has it.
void StagedFile::adopt(FileHandle file, const std::string& path, bool unnamed)
{
    ::flock(file.fd(), LOCK_EX);
    m_path = path;
    m_unnamed = unnamed;
    m_lock = std::move(file);
}

// Gives the unnamed staging file its hidden name beside the target, which a
// rename can then move over the target.
bool StagedFile::nameUnnamed()
{
    return claimStagingName(m_target, [this](const std::string& candidate) {
        if (::linkat(AT_FDCWD, m_path.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) != 0)
            return false;
        m_path = candidate;
        m_unnamed = false;
        return true;
    });
}

bool StagedFile::copyFrom(const std::string& source)
{
    FileHandle in = FileHandle::open(source, O_RDONLY);
    FileHandle out = FileHandle::open(m_path, O_WRONLY | O_TRUNC);
    if (!in.isOpen() || !out.isOpen())
        return false;
    // Block-sharing file systems clone in one step.
    if (::ioctl(out.fd(), FICLONE, in.fd()) == 0)
        return out.close();
    for (;;) {
        const ssize_t copied = ::copy_file_range(in.fd(), nullptr, out.fd(), nullptr, 1 << 30, 0);
        if (copied == 0)
            return out.close();
        if (copied > 0)
            continue;
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
            return false;
        break;
    }
    // The kernel cannot copy between these files: copy through a buffer.
    std::string buffer(1 << 20, '\0');
    for (;;) {
        const ssize_t count = in.readAll(buffer.data(), buffer.size());
        if (count < 0)
            return false;
        if (count == 0)
            return out.close();
        if (!out.writeAll(buffer.data(), static_cast<std::size_t>(count)))
            return false;
    }
}

void StagedFile::syncFolder() const
{
    FileHandle handle = FileHandle::open(folderOf(fs::path(m_target)).string(), O_RDONLY | O_DIRECTORY);
    if (handle.isOpen())
        ::fsync(handle.fd());
}

bool StagedFile::commit()
{
    if (!m_pending || ::fsync(m_lock.fd()) != 0)
        return false;
    if (m_unnamed && !nameUnnamed())
        return false;
    if (::rename(m_path.c_str(), m_target.c_str()) != 0)
        return false;
    m_pending = false;
    syncFolder();
    return true;
}

bool StagedFile::commitIfAbsent()
{
    if (!m_pending || ::fsync(m_lock.fd()) != 0)
        return false;
    if (m_unnamed) {
        // Linking fails when the target exists, which is the point.
        if (::linkat(AT_FDCWD, m_path.c_str(), AT_FDCWD, m_target.c_str(), AT_SYMLINK_FOLLOW) != 0)
            return false;
    } else if (::renameat2(AT_FDCWD, m_path.c_str(), AT_FDCWD, m_target.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno != EINVAL && errno != ENOSYS)
            return false;
        // File systems without the flag: a hard link fails when the target exists.
        if (::link(m_path.c_str(), m_target.c_str()) != 0)
            return false;
        ::unlink(m_path.c_str());
    }
    m_pending = false;
    syncFolder();
    return true;
}

bool StagedFile::discard()
{
    // An unnamed staging file disappears with its last descriptor.
    if (m_pending && !m_unnamed && ::unlink(m_path.c_str()) != 0 && errno != ENOENT)
        return false;
    m_pending = false;
    m_lock.close();
    return true;
}
