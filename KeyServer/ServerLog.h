#pragma once

// The server's log: one line per event, prefixed with a UTC time stamp,
// written whole under a lock so lines from concurrent requests never mix.
// Callers put only command names, results, durations, addresses and paths
// into it, never password values, keys or codes; printable() makes
// client-supplied texts safe to log.

#include <mutex>
#include <ostream>
#include <string>
#include <string_view>

namespace keyserver {

class ServerLog
{
public:
    explicit ServerLog(std::ostream& out);

    void write(std::string_view message);

    // The text cut to `maxBytes`, with every byte outside printable ASCII replaced by '?'.
    static std::string printable(std::string_view text, std::size_t maxBytes = 64);

private:
    std::ostream& m_out;
    std::mutex m_mutex;
};

} // namespace keyserver
