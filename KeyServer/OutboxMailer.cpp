#include "OutboxMailer.h"

#include "MailMessage.h"
#include "ServerLog.h"

#include <openssl/rand.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace keyserver {

namespace {

// Closes the descriptor on scope exit.
class FileDescriptor
{
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd)
    {
    }
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool writeAll(int fd, const std::string& bytes)
{
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

std::string fileStem(unsigned sequence)
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    unsigned char random[4] = {};
    RAND_bytes(random, sizeof random);
    char stem[96];
    std::snprintf(
        stem, sizeof stem, "%s-%06u-%02x%02x%02x%02x", stamp, sequence, random[0], random[1], random[2], random[3]);
    return stem;
}

} // namespace

OutboxMailer::OutboxMailer(std::string folder, std::string fromAddress, ServerLog* log)
    : m_folder(std::move(folder))
    , m_from(std::move(fromAddress))
    , m_log(log)
{
    ::mkdir(m_folder.c_str(), 0700);
}

bool OutboxMailer::send(const std::string& to, const std::string& subject, const std::string& body)
{
    const MailMessage message(m_from, to, subject, body, std::chrono::system_clock::now());
    const std::string stem = fileStem(++m_sequence);
    const std::string temporary = m_folder + "/." + stem + ".tmp";
    const std::string final = m_folder + "/" + stem + ".eml";

    FileDescriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    bool ok = file.get() >= 0 && writeAll(file.get(), message.toRfc5322()) && ::fsync(file.get()) == 0;
    ok = file.get() >= 0 && file.close() && ok;
    if (ok)
        ok = ::rename(temporary.c_str(), final.c_str()) == 0;
    if (!ok) {
        const int error = errno;
        ::unlink(temporary.c_str());
        if (m_log)
            m_log->write("mail to " + to + " could not be written to " + m_folder + ": " + std::strerror(error));
        return false;
    }
    if (m_log)
        m_log->write("mail to " + to + " written to " + final);
    return true;
}

} // namespace keyserver
