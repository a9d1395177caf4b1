#include "files/StagedFile.h"

#include "files/FileHandle.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <string_view>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool isStagingNameOf(const std::string& entry, const std::string& prefix)
{
    return entry.size() == prefix.size() + kSuffixLength && entry.compare(0, prefix.size(), prefix) == 0
        && entry.find_first_not_of(kSuffixAlphabet, prefix.size()) == std::string::npos;
}

std::string resolveLink(const std::string& target)
{
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(target, error)))
        return target;
    const fs::path resolved = fs::weakly_canonical(target, error);
    return error ? target : resolved.string();
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
    const fs::path targetPath(resolveLink(target));
    const std::string prefix = stagingPrefix(targetPath);
    std::vector<std::string> abandoned;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folderOf(targetPath), error)) {
        if (!isStagingNameOf(entry.path().filename().string(), prefix))
            continue;
        FileHandle file = FileHandle::open(entry.path().string(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
        if (!file.isOpen())
            continue;
        struct stat info = {};
        // Only a regular file nobody holds: a live writer keeps its lock.
        if (::fstat(file.fd(), &info) == 0 && S_ISREG(info.st_mode) && ::flock(file.fd(), LOCK_SH | LOCK_NB) == 0)
            abandoned.push_back(entry.path().string());
    }
    return abandoned;
}

void StagedFile::removeAbandoned(const std::string& target)
{
    for (const std::string& path : abandonedStagingFiles(target)) {
        FileHandle file = FileHandle::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
        // Checked again under an exclusive lock, which a starting writer would hold.
        if (file.isOpen() && ::flock(file.fd(), LOCK_EX | LOCK_NB) == 0)
            ::unlink(path.c_str());
    }
}

bool StagedFile::create(const std::string& target)
{
    discard();
    m_target = resolveLink(target);
    const fs::path targetPath(m_target);
    const fs::path folder = folderOf(targetPath);
    removeAbandoned(m_target);

    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string candidate = (folder / (stagingPrefix(targetPath) + randomSuffix())).string();
        FileHandle file = FileHandle::open(candidate, O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (!file.isOpen()) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        ::flock(file.fd(), LOCK_EX);
        m_path = candidate;
        m_pending = true;
        struct stat info = {};
        if (::stat(m_target.c_str(), &info) == 0 && S_ISREG(info.st_mode))
            ::fchmod(file.fd(), info.st_mode & 07777);
        m_lock = std::move(file);
        return true;
    }
    return false;
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

bool StagedFile::syncStaging() const
{
    FileHandle file = FileHandle::open(m_path, O_RDONLY);
    return file.isOpen() && ::fsync(file.fd()) == 0 && file.close();
}

void StagedFile::syncFolder() const
{
    const fs::path folder = fs::path(m_target).has_parent_path() ? fs::path(m_target).parent_path() : fs::path(".");
    FileHandle handle = FileHandle::open(folder.string(), O_RDONLY | O_DIRECTORY);
    if (handle.isOpen())
        ::fsync(handle.fd());
}

bool StagedFile::commit()
{
    if (!m_pending || !syncStaging())
        return false;
    if (::rename(m_path.c_str(), m_target.c_str()) != 0)
        return false;
    m_pending = false;
    syncFolder();
    return true;
}

bool StagedFile::commitIfAbsent()
{
    if (!m_pending || !syncStaging())
        return false;
    if (::renameat2(AT_FDCWD, m_path.c_str(), AT_FDCWD, m_target.c_str(), RENAME_NOREPLACE) != 0) {
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
    if (!m_pending) {
        m_lock.close();
        return true;
    }
    if (::unlink(m_path.c_str()) != 0 && errno != ENOENT)
        return false;
    m_pending = false;
    m_lock.close();
    return true;
}
