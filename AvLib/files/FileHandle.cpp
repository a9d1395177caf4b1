#include "files/FileHandle.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

FileHandle::~FileHandle()
{
    close();
}

FileHandle::FileHandle(FileHandle&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
{
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept
{
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

FileHandle FileHandle::open(const std::string& path, int flags, mode_t mode)
{
    int fd = -1;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return FileHandle(fd);
}

ssize_t FileHandle::readAll(void* buffer, std::size_t length)
{
    auto* bytes = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t count = ::read(m_fd, bytes + done, length - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return -1;
        if (count == 0)
            break;
        done += static_cast<std::size_t>(count);
    }
    return static_cast<ssize_t>(done);
}

bool FileHandle::writeAll(const void* buffer, std::size_t length)
{
    const auto* bytes = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t count = ::write(m_fd, bytes + done, length - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        done += static_cast<std::size_t>(count);
    }
    return true;
}

bool FileHandle::writeAllAt(const void* buffer, std::size_t length, off_t offset)
{
    const auto* bytes = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t count = ::pwrite(m_fd, bytes + done, length - done, offset + static_cast<off_t>(done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        done += static_cast<std::size_t>(count);
    }
    return true;
}

bool FileHandle::close()
{
    if (m_fd < 0)
        return true;
    const int result = ::close(std::exchange(m_fd, -1));
    // EINTR leaves the descriptor closed on Linux; only real errors count.
    return result == 0 || errno == EINTR;
}
