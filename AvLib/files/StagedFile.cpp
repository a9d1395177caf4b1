#include "files/StagedFile.h"

#include "files/FileHandle.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Leaves room in a 255-byte name for the dot and the suffix.
constexpr std::size_t kMaxKeptName = 200;
constexpr int kNameAttempts = 100;

std::string randomSuffix()
{
    static constexpr char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[8] = {};
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
        suffix += alphabet[byte % (sizeof alphabet - 1)];
    return suffix;
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

bool StagedFile::create(const std::string& target)
{
    discard();
    m_target = resolveLink(target);
    const fs::path targetPath(m_target);
    std::string name = targetPath.filename().string();
    if (name.size() > kMaxKeptName)
        name.resize(kMaxKeptName);
    const fs::path folder = targetPath.has_parent_path() ? targetPath.parent_path() : fs::path(".");

    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string candidate = (folder / ("." + name + ".avtmp-" + randomSuffix())).string();
        FileHandle file = FileHandle::open(candidate, O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (!file.isOpen()) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        m_path = candidate;
        m_pending = true;
        struct stat info = {};
        if (::stat(m_target.c_str(), &info) == 0 && S_ISREG(info.st_mode))
            ::fchmod(file.fd(), info.st_mode & 07777);
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
    if (!m_pending)
        return true;
    if (::unlink(m_path.c_str()) != 0 && errno != ENOENT)
        return false;
    m_pending = false;
    return true;
}
