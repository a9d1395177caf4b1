#pragma once

// CryptFileStream: the open container file. A small owner of a POSIX file
// descriptor with one shared read/write position for the packet parser and
// positional calls (readAt, writeAt) that move many bytes in one system call,
// so whole runs of segments can be read or written without per-byte overhead.
// Reaching the end of the file is not an error: reads then return fewer bytes.
// Only real I/O failures (and short writes) put the stream into its failed
// state, which stays until clearState(). readAt and writeAt at disjoint
// ranges may run on two threads at once.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

class CryptFileStream
{
public:
    enum class Mode {
        Create, // read and write, created or truncated
        Update, // read and write, must exist
        ReadOnly, // read, must exist
    };

    CryptFileStream() = default;
    ~CryptFileStream();
    CryptFileStream(const CryptFileStream&) = delete;
    CryptFileStream& operator=(const CryptFileStream&) = delete;
    CryptFileStream(CryptFileStream&& other) noexcept;
    CryptFileStream& operator=(CryptFileStream&& other) noexcept;

    bool open(const std::string& path, Mode mode);
    bool isOpen() const { return m_fd >= 0; }
    void close();

    bool failed() const { return m_failed.load(std::memory_order_relaxed); }
    void clearState() { m_failed.store(false, std::memory_order_relaxed); }

    std::uint64_t position() const { return m_position; }
    void seek(std::uint64_t position) { m_position = position; }
    // Current size of the file; 0 (and failed state) when it cannot be asked.
    std::uint64_t size();
    // Cuts the file to `length` bytes; false (and failed state) when that fails.
    bool truncate(std::uint64_t length);

    // At the position, which moves on by the bytes transferred.
    std::size_t read(void* buffer, std::size_t length);
    bool write(const void* buffer, std::size_t length);

    // At an explicit offset; the shared position is left alone. readAt returns
    // the bytes read (fewer at the end of the file); writeAt writes all or fails.
    std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t length);
    bool writeAt(std::uint64_t offset, const void* buffer, std::size_t length);

private:
    int m_fd = -1;
    std::uint64_t m_position = 0;
    std::atomic<bool> m_failed = false;
};
