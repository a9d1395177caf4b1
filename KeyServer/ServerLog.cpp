#include "ServerLog.h"

#include <chrono>
#include <ctime>

namespace keyserver {

ServerLog::ServerLog(std::ostream& out)
    : m_out(out)
{
}

void ServerLog::write(std::string_view message)
{
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::lock_guard lock(m_mutex);
    m_out << stamp << ' ' << message << '\n';
    m_out.flush();
}

std::string ServerLog::printable(std::string_view text, std::size_t maxBytes)
{
    std::string out(text.substr(0, maxBytes));
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7e)
            c = '?';
    }
    if (text.size() > maxBytes)
        out += "...";
    return out;
}

} // namespace keyserver
