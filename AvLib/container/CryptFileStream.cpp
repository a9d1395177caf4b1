#include "container/CryptFileStream.h"

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

int openFlags(CryptFileStream::Mode mode)
{
    switch (mode) {
    case CryptFileStream::Mode::Create:
        return O_RDWR | O_CREAT | O_TRUNC;
    case CryptFileStream::Mode::Update:
        return O_RDWR;
    case CryptFileStream::Mode::ReadOnly:
        break;
    }
    return O_RDONLY;
}

// Offsets beyond what off_t can hold can never be reached in a real file.
bool fitsOffset(std::uint64_t offset, std::size_t length)
{
    const auto limit = std::uint64_t(std::numeric_limits<off_t>::max());
    return offset <= limit && length <= limit - offset;
}

} // namespace

CryptFileStream::~CryptFileStream()
{
    close();
}

CryptFileStream::CryptFileStream(CryptFileStream&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_position(other.m_position)
    , m_failed(other.m_failed.load())
{
}

CryptFileStream& CryptFileStream::operator=(CryptFileStream&& other) noexcept
{
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
        m_position = other.m_position;
        m_failed = other.m_failed.load();
    }
    return *this;
}

bool CryptFileStream::open(const std::string& path, Mode mode)
{
    close();
    do {
        m_fd = ::open(path.c_str(), openFlags(mode) | O_CLOEXEC, 0666);
    } while (m_fd < 0 && errno == EINTR);
    m_position = 0;
    m_failed = false;
    return m_fd >= 0;
}

void CryptFileStream::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

std::uint64_t CryptFileStream::size()
{
    struct stat info
    {
    };
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0) {
        m_failed = true;
        return 0;
    }
    return std::uint64_t(info.st_size);
}

bool CryptFileStream::truncate(std::uint64_t length)
{
    if (m_fd < 0 || !fitsOffset(length, 0) || ::ftruncate(m_fd, off_t(length)) != 0) {
        m_failed = true;
        return false;
    }
    return true;
}

std::size_t CryptFileStream::read(void* buffer, std::size_t length)
{
    const std::size_t count = readAt(m_position, buffer, length);
    m_position += count;
    return count;
}

bool CryptFileStream::write(const void* buffer, std::size_t length)
{
    if (!writeAt(m_position, buffer, length))
        return false;
    m_position += length;
    return true;
}

std::size_t CryptFileStream::readAt(std::uint64_t offset, void* buffer, std::size_t length)
{
    if (m_fd < 0) {
        m_failed = true;
        return 0;
    }
    if (!fitsOffset(offset, 0))
        return 0; // far beyond any end of file
    if (!fitsOffset(offset, length))
        length = std::size_t(std::uint64_t(std::numeric_limits<off_t>::max()) - offset);
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(m_fd, bytes + done, length - done, off_t(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            m_failed = true;
            break;
        }
        if (n == 0)
            break; // end of file
        done += std::size_t(n);
    }
    return done;
}

bool CryptFileStream::writeAt(std::uint64_t offset, const void* buffer, std::size_t length)
{
    if (m_fd < 0 || !fitsOffset(offset, length)) {
        m_failed = true;
        return false;
    }
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pwrite(m_fd, bytes + done, length - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_failed = true;
            return false;
        }
        done += std::size_t(n);
    }
    return true;
}
