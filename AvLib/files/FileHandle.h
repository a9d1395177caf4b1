#pragma once

// FileHandle owns one POSIX file descriptor and closes it when it goes away.
// The file tools move whole 512 KiB chunks with single system calls, so they
// use descriptors directly instead of buffered streams; readAll and writeAll
// hide short transfers and interrupted calls.

#include <cstddef>
#include <string>
#include <sys/types.h>

class FileHandle
{
public:
    FileHandle() = default;
    explicit FileHandle(int fd)
        : m_fd(fd)
    {
    }
    ~FileHandle();
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    // open(2) with O_CLOEXEC, retried when interrupted.
    static FileHandle open(const std::string& path, int flags, mode_t mode = 0666);

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

    // Reads until `length` bytes or the end of the file; -1 on an error.
    ssize_t readAll(void* buffer, std::size_t length);
    // Writes all bytes; false on an error (including no space left).
    bool writeAll(const void* buffer, std::size_t length);
    bool writeAllAt(const void* buffer, std::size_t length, off_t offset);
    // Closes now; false when the kernel reported a delayed write error.
    bool close();

private:
    int m_fd = -1;
};
